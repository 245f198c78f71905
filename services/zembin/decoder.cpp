// The Zembin decoder in codec mode (see decoder.h).
#include "services/zembin/decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/calendar.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error_value.h"
#include "datatypes/fixed_words.h"
#include "datatypes/function.h"
#include "datatypes/hash.h"
#include "datatypes/image.h"
#include "datatypes/map.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/vector.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "services/image/image_store.h"
#include "services/lz77.h"
#include "services/zembin/encoder.h"

namespace zem::zembin {

namespace {

constexpr uint32_t kMaxCodePoint = 0x10FFFF;

bool valid_utf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const uint8_t b = static_cast<uint8_t>(s[i]);
    size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || n > s.size() - i) return false;
    uint32_t cp = n == 1 ? b : b & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
      const uint8_t c = static_cast<uint8_t>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = cp << 6 | (c & 0x3F);
    }
    static constexpr uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[n] || cp > kMaxCodePoint || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

Cell int_cell(int32_t n) {
  Cell c{};
  c.set_header(TYPE_INTEGER);
  c.set_int_value(n);
  return c;
}

uint32_t cell_count(NodeId node) { return series_buffer(node)->length(); }

Cell* cell_at(NodeId node, uint32_t i) { return block_head(node) + i; }

Cell* append(NodeId into, const Cell& v) { return block::append_cell(into, v); }

// The capacity of a series in its own units: a head index of a shared value may point anywhere in
// it (the series may still be filling), never beyond.
uint32_t capacity_units(NodeId node) {
  const SeriesBuffer* b = series_buffer(node);
  return b->capacity / b->unit();
}

// An empty block for records decoded only to be moved elsewhere, rooted on the argument stack.
struct Scratch {
  Scratch() : node(block::push_only(2)->node()) {}
  ~Scratch() = default;
  NodeId node;
};

}  // namespace

// ---- Entry --------------------------------------------------------------------------------------

void decode(const uint8_t* data, size_t size, const Cell& dest, const Cell* payload) {
  Decoder d(Decoder::Mode::codec);
  d.run(data, size, dest.node(), payload);
}

void Decoder::run(const uint8_t* data, size_t size, NodeId dest, const Cell* payload) {
  const Cell none_cell = shared_cells.none;
  auto invalid_data = [&]() {
    const Cell arg = payload ? *payload : none_cell;
    fire(Err::script_invalid_data, &arg);
  };
  if (!has_magic(data, size) || size < kHeaderSize) invalid_data();
  const uint8_t flags = data[7];
  // A copy: the bytes of a binary! may move, the decoder's own never do.
  if (flags & kFlagPacked) {
    std::vector<uint8_t> unpacked;
    if (!lz77::unpack(data + kHeaderSize, size - kHeaderSize, unpacked)) invalid_data();
    data_.reserve(kHeaderSize + unpacked.size());
    data_.assign(data, data + kHeaderSize);
    data_.insert(data_.end(), unpacked.begin(), unpacked.end());
  } else {
    data_.assign(data, data + size);
  }
  compact_ = (flags & kFlagCompact) != 0;
  dest_ = dest;
  Reader r(data_.data(), data_.size());
  r.skip(kHeaderSize);
  Preamble pre;
  if (!read_preamble(r, compact_, (flags & kFlagSymbols) != 0, pre)) fault(r.offset());
  symbols_ = pre.symbols;
  symbol_ids_.assign(symbols_.count, 0);
  if (mode_ == Mode::boot) {
    // In table order, before any record: the writer put the runtime's symbols in id order.
    for (uint32_t i = 0; i < symbols_.count; ++i) symbol_id(i, r.offset());
  }
  Reader records(data_.data(), data_.data(), data_.data());
  r.sub(pre.payload, records);
  while (!records.at_end()) value(records, dest);
}

// ---- Hooks --------------------------------------------------------------------------------------

void Decoder::definition(Reader& r, const Head& h, NodeId) { fault(h.at); }

NodeId Decoder::root_context(Reader&, const Head& h, uint32_t) {
  fault(h.at);
  return 0;
}

Cell Decoder::global_word(uint32_t sym) { return context::add_global_word(sym); }

Cell Decoder::issue(uint32_t sym) { return context::word_cell(TYPE_ISSUE, context::global(), sym, -1); }

void Decoder::fault(size_t offset) {
  const Cell at = int_cell(static_cast<int32_t>(offset + 1));
  fire(Err::script_zb_invalid_record, &at);
}

// ---- Fields -------------------------------------------------------------------------------------

uint32_t Decoder::count(Reader& r) {
  uint32_t v;
  if (!(compact_ ? r.varint(v) : r.u32(v))) fault(r.offset());
  return v;
}

int32_t Decoder::sfield(Reader& r) {
  if (compact_) {
    int32_t n;
    if (!r.zz(n)) fault(r.offset());
    return n;
  }
  return static_cast<int32_t>(u32(r));
}

uint32_t Decoder::u32(Reader& r) {
  uint32_t v;
  if (!r.u32(v)) fault(r.offset());
  return v;
}

uint32_t Decoder::bounded(Reader& r, size_t unit) {
  const size_t at = r.offset();
  const uint32_t n = count(r);
  if (n > r.left() / unit) fault(at);
  return n;
}

const uint8_t* Decoder::bytes(Reader& r, size_t n) {
  const uint8_t* p;
  if (!r.bytes(n, p)) fault(r.offset());
  return p;
}

double Decoder::real(Reader& r) {
  double d;
  if (!(compact_ ? r.double_compact(d) : r.double_plain(d))) fault(r.offset());
  return d;
}

uint32_t Decoder::symbol(Reader& r) {
  const size_t at = r.offset();
  return symbol_id(count(r), at);
}

uint32_t Decoder::symbol_id(uint32_t i, size_t at) {
  // An entry interned once was checked then.
  if (i < symbol_ids_.size() && symbol_ids_[i]) return symbol_ids_[i];
  std::string_view name;
  if (!symbols_.name(i, name) || name.empty() || !valid_utf8(name)) fault(at);
  symbol_ids_[i] = symbol::intern(name);
  return symbol_ids_[i];
}

// The head index of a series record: compact V=1, or the plain head field.
uint32_t Decoder::series_head(Reader& r, const Head& h) {
  if (compact_) return h.variant ? count(r) : 0;
  return u32(r);
}

// ---- Records ------------------------------------------------------------------------------------

void Decoder::head(Reader& r, Head& h) {
  h = Head{};
  h.at = r.offset();
  if (compact_) {
    RecordHead rh;
    if (!read_compact_head(r, mode_ == Mode::boot, rh)) fault(r.offset());
    h.kind = rh.kind;
    h.type = rh.type;
    h.variant = rh.variant;
    h.new_line = rh.new_line;
    h.reference = rh.reference;
    h.definition = rh.definition;
    h.small = rh.small;
    return;
  }
  if (!read_plain_head(r, h.word)) fault(r.offset());
  h.at = r.offset() - 4;  // padding words skipped
  h.type = h.word & kTypeMask;
  h.new_line = (h.word & kPlainNewLine) != 0;
  if (h.type == kPlainReferenceType) {
    h.kind = HeadKind::path;
    return;
  }
  const Body b = body_of(h.type, false);
  h.reference = (h.word & kPlainReference) != 0;
  h.definition = b == Body::word && (h.word & kPlainDefinition) != 0;
  if (b == Body::invalid || (h.reference && !may_reference(b)) || (h.definition && mode_ != Mode::boot))
    fault(h.at);
}

void Decoder::value(Reader& r, NodeId into) {
  Head h;
  head(r, h);
  if (depth_ >= kMaxDepth) fault(h.at);
  struct Depth {
    uint32_t& d;
    explicit Depth(uint32_t& depth) : d(depth) { ++d; }
    ~Depth() { --d; }
  } depth(depth_);
  if (h.definition) return definition(r, h, into);
  const uint32_t slot = cell_count(into);
  switch (h.kind) {
    case HeadKind::small_int: append(into, int_cell(h.small)); break;
    case HeadKind::logic_true:
    case HeadKind::logic_false: {
      Cell c{};
      c.set_header(TYPE_LOGIC);
      c.set_logic_value(h.kind == HeadKind::logic_true);
      append(into, c);
      break;
    }
    case HeadKind::path: {
      Cell c = resolve(r);
      c.set_new_line(false);
      append(into, c);
      break;
    }
    case HeadKind::typed:
      if (h.reference && body_of(h.type, compact_) != Body::word) shared(r, h, into);
      else typed(r, h, into);
      break;
  }
  if (h.new_line && cell_count(into) > slot) cell_at(into, slot)->set_new_line(true);
}

void Decoder::typed(Reader& r, const Head& h, NodeId into) {
  if (mode_ == Mode::boot && boot_record(r, h, into)) return;
  const TypeId t = static_cast<TypeId>(h.type);
  Cell c{};
  c.set_header(t);
  switch (body_of(t, compact_)) {
    case Body::empty: break;
    case Body::logic: {
      const size_t at = r.offset();
      const uint32_t v = u32(r);
      if (v > 1) fault(at);
      c.set_logic_value(v == 1);
      break;
    }
    case Body::datatype: {
      const size_t at = r.offset();
      const uint32_t id = count(r);
      if (id < 1 || id > kLastType) fault(at);
      c = datatype_cell(static_cast<TypeId>(id));
      break;
    }
    case Body::character: {
      const size_t at = r.offset();
      const uint32_t cp = count(r);
      if (cp > kMaxCodePoint) fault(at);
      c.set_char_value(cp);
      break;
    }
    case Body::integer: c.set_int_value(sfield(r)); break;
    case Body::number: return number(r, h, into);
    case Body::pair: {
      const int32_t x = sfield(r);
      c.set_pair_xy(x, sfield(r));
      break;
    }
    case Body::point2d:
    case Body::point3d: {
      const uint32_t x = u32(r), y = u32(r);
      const uint32_t z = t == TYPE_POINT3D ? u32(r) : 0;
      c.set_raw_words(x, y, z);
      break;
    }
    case Body::date: return date(r, h, into);
    case Body::typeset: {
      uint32_t n = 12;
      if (compact_) {
        const uint8_t* p = bytes(r, 1);
        if (*p > 12) fault(r.offset() - 1);
        n = *p;
      }
      const uint8_t* p = bytes(r, n);
      c = make_typeset();
      for (uint32_t i = 0; i < n; ++i) c.set_payload_byte(i, p[i]);
      break;
    }
    case Body::tuple: {
      uint32_t n = 3;
      if (compact_ && h.variant) {
        const uint8_t* p = bytes(r, 1);
        n = *p;
      } else if (!compact_) {
        n = (h.word & kPlainUnitMask) >> kPlainUnitShift;
      }
      if (n < 1 || n > 12) fault(compact_ ? r.offset() - 1 : h.at);
      const uint8_t* p = bytes(r, compact_ ? n : 12);
      c = tuple::make(n, p);
      break;
    }
    case Body::money: {
      const size_t at = r.offset();
      const uint8_t* p = bytes(r, 12);
      for (uint32_t i = 1; i < 12; ++i)
        if ((p[i] >> 4) > 9 || (p[i] & 15) > 9) fault(at + i);
      for (uint32_t i = 0; i < 12; ++i) c.set_payload_byte(i, p[i]);
      c.set_money_negative(compact_ ? h.variant : (h.word & kPlainMoneyNegative) != 0);
      break;
    }
    case Body::issue: c = issue(symbol(r)); break;
    case Body::word: return word(r, h, into);
    case Body::context:
    case Body::object: return object(r, h, into);
    case Body::function: return function(r, h, into);
    case Body::block:
    case Body::hash: return block(r, h, into);
    case Body::map: return map(r, h, into);
    case Body::text: return text(r, h, into);
    case Body::binary: {
      const uint32_t head = series_head(r, h);
      const size_t at = r.offset();
      const uint32_t n = bounded(r, 1);
      if (head > n) fault(at);
      const uint8_t* p = bytes(r, n);
      c = binary::load(p, n);
      c.set_head_index(head);
      if (!compact_) r.skip((4 - n % 4) % 4);
      break;
    }
    case Body::bitset: {
      const uint32_t n = bounded(r, 1);
      const bool complemented = compact_ ? h.variant : (h.word & kPlainComplement) != 0;
      const uint8_t* p = bytes(r, n);
      c = make_bitset(n, 0, complemented);
      if (n) std::memcpy(series_buffer(c.node())->head_ptr(), p, n);
      if (!compact_) r.skip((4 - n % 4) % 4);
      break;
    }
    case Body::vector: return vector(r, h, into);
    case Body::image: return image(r, h, into);
    case Body::entry: return entry(r, h, into);
    case Body::op: return op(r, h, into);
    case Body::error: return error(r, h, into);
    case Body::no_codec: {
      const Cell type = datatype_cell(t);
      zembin::reset();  // the encoder's state
      fire(Err::access_no_codec, &type);
    }
    case Body::invalid: fault(h.at);
  }
  append(into, c);
}

void Decoder::number(Reader& r, const Head& h, NodeId into) {
  const TypeId t = static_cast<TypeId>(h.type);
  double d;
  if (compact_ && h.variant) {
    const int32_t n = sfield(r);
    d = t == TYPE_PERCENT ? n / 100.0 : n;
  } else {
    d = real(r);
  }
  Cell c{};
  c.set_header(t);
  c.set_float_payload(d);
  append(into, c);
}

// Month, day and time are checked: the calendar code indexes tables by them.
void Decoder::date(Reader& r, const Head& h, NodeId into) {
  const size_t at = r.offset();
  const uint32_t w = u32(r);
  const bool timed = dates::has_time(w);
  double time = 0;
  if (compact_) {
    if (timed != h.variant) fault(at);
    if (timed) time = real(r);
  } else {
    time = real(r);
    if (!timed) time = 0;
  }
  const int32_t month = dates::month_of(w), day = dates::day_of(w);
  if (month < 1 || month > 12 || day < 1 || day > calendar::month_length(dates::year_of(w), month)) fault(at);
  if (timed) {
    const double local = time + calendar::zone_seconds(dates::zone_of(w));
    if (!(local >= 0 && local < 86400)) fault(at);
  }
  append(into, dates::make(w, time));
}

// ---- Words and contexts -------------------------------------------------------------------------

int32_t Decoder::checked_index(NodeId ctx, uint32_t sym, int32_t index, size_t at) {
  if (index == -1) {
    index = context::find_symbol_index(ctx, sym, true);
    if (index < 0) fault(at);
    return index;
  }
  if (index < 0 || static_cast<uint32_t>(index) >= context::word_count(ctx) ||
      symbol::canonical_id(context::word_at(ctx, static_cast<uint32_t>(index))->word_symbol()) !=
          symbol::canonical_id(sym))
    fault(at);
  return index;
}

NodeId Decoder::owner_context(const Cell& reached, size_t at) {
  NodeId ctx = 0;
  switch (reached.type()) {
    case TYPE_OBJECT: ctx = reached.object_context(); break;
    case TYPE_FUNCTION: ctx = reached.fn_context(); break;
    case TYPE_OP:
      if (reached.op_source() == TYPE_FUNCTION) ctx = reached.fn_context();
      break;
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT: ctx = reached.word_context(); break;
    default: break;
  }
  if (!ctx || ctx == context::global()) fault(at);
  const TypeId owner = context::owner(ctx).type();
  if (owner != TYPE_OBJECT && owner != TYPE_FUNCTION) fault(at);
  return ctx;
}

void Decoder::word(Reader& r, const Head& h, NodeId into) {
  const TypeId t = static_cast<TypeId>(h.type);
  const uint32_t sym = symbol(r);
  const size_t index_at = r.offset();
  bool global;
  int32_t index = -1;
  if (compact_) {
    global = !h.variant;
    if (!global) index = sfield(r);
    if (!global && mode_ == Mode::boot) {
      const NodeId ctx = root_context(r, h, count(r));
      append(into, context::word_cell(t, ctx, sym, checked_index(ctx, sym, index, index_at)));
      return;
    }
  } else {
    const uint32_t root = u32(r);
    index = static_cast<int32_t>(u32(r));
    global = root == kPlainGlobalRoot;
    if (!global && mode_ == Mode::boot) {
      const NodeId ctx = root_context(r, h, root);
      append(into, context::word_cell(t, ctx, sym, checked_index(ctx, sym, index, index_at)));
      return;
    }
  }
  if (global) {
    Cell w = global_word(sym);
    w.set_type(t);
    append(into, w);
    return;
  }
  if (h.reference) {
    if (!compact_ && u32(r) != kPlainReferenceType) fault(r.offset() - 4);
    const size_t at = r.offset();
    const NodeId ctx = owner_context(resolve(r), at);
    append(into, context::word_cell(t, ctx, sym, checked_index(ctx, sym, index, index_at)));
    return;
  }
  // The owner follows inline: the word is bound as soon as its context exists, so that paths
  // inside the owner can pass through the word. The owner's own cell stays only until it is done.
  const uint32_t slot = cell_count(into);
  append(into, context::word_cell(t, 0, sym, -1));
  Head oh;
  const size_t owner_at = r.offset();
  Reader peek = r;
  head(peek, oh);
  const Body ob = body_of(oh.type, compact_);
  if (oh.kind != HeadKind::typed || oh.reference || (ob != Body::object && ob != Body::function))
    fault(owner_at);
  binding_ = Binding{true, into, slot, sym, index, index_at};
  value(r, into);
  if (binding_.pending) fault(owner_at);
  block::truncate_at(into, slot + 1);
}

void Decoder::bind_pending(NodeId ctx) {
  if (!binding_.pending) return;
  const Binding b = binding_;
  binding_.pending = false;
  const int32_t index = checked_index(ctx, b.symbol, b.index, b.at);
  Cell* w = cell_at(b.into, b.slot);
  w->set_word_context(ctx);
  w->set_word_index(static_cast<uint32_t>(index));
}

// A context's flags, words and (for objects) values. The context is made before its words are
// read; values come later, once the caller has placed the owner.
NodeId Decoder::context_part(Reader& r, uint8_t flags, size_t at, bool function, bool) {
  const uint32_t kind = flags & kContextKindBits;
  const bool on_stack = (flags & kContextFunction) != 0;
  if (function ? !(on_stack && kind == CONTEXT_FUNCTION && !(flags & kContextValues))
               : (on_stack || kind != CONTEXT_OBJECT))
    fault(at);
  const uint32_t m = bounded(r, compact_ ? 1 : 4);
  const NodeId ctx = context::allocate(m, on_stack, (flags & kContextSelfBound) != 0, 0,
                                       static_cast<ContextKind>(kind));
  for (uint32_t i = 0; i < m; ++i) {
    const size_t sym_at = r.offset();
    const uint32_t sym = symbol(r);
    if (context::find_symbol_index(ctx, sym, true) >= 0) fault(sym_at);  // a word twice
    context::add_symbol(ctx, sym);
  }
  return ctx;
}

// The head of an object's or function's context record: its flags, in the compact form's bits.
uint8_t Decoder::context_head(Reader& r) {
  const size_t at = r.offset();
  if (compact_) {
    if (*bytes(r, 1) != typed_head(TYPE_CONTEXT, false)) fault(at);
    return *bytes(r, 1);
  }
  const uint32_t w = u32(r);
  if ((w & kTypeMask) != TYPE_CONTEXT) fault(at);
  return compact_context_flags(w);
}

// object! (and a context! record on its own, which gives an object as well).
void Decoder::object(Reader& r, const Head& h, NodeId into) {
  const bool standalone = h.type == TYPE_CONTEXT;
  uint8_t flags;
  size_t ctx_at = h.at;
  int32_t class_id = -1;
  bool changes = false;
  if (standalone) {
    flags = compact_ ? *bytes(r, 1) : compact_context_flags(h.word);
  } else {
    class_id = sfield(r);
    changes = compact_ ? h.variant : (h.word & kPlainChangeRecord) != 0;
    if (changes) {
      sfield(r);  // the handlers' places come from the fields themselves
      sfield(r);
    }
    ctx_at = r.offset();
    flags = context_head(r);
  }
  const NodeId ctx = context_part(r, flags, ctx_at, false, true);
  const Cell obj = object::from_context(ctx, object_class(class_id));
  const uint32_t slot = cell_count(into);
  append(into, obj);
  bind_pending(ctx);
  const uint32_t m = context::word_count(ctx);
  if (flags & kContextValues) {
    const NodeId values = context::values_block(ctx);
    block::truncate_at(values, 0);
    for (uint32_t i = 0; i < m; ++i) value(r, values);
  }
  if (changes) {
    // Handlers must be functions, as when the object was made.
    for (const Cell* w : {&fixed.word.on_change_star, &fixed.word.on_deep_change_star}) {
      const int32_t i = object::field_index(obj, w->word_symbol());
      if (i >= 0 && !context::values(ctx)[i].is(TYPE_FUNCTION)) fault(h.at);
    }
    Cell built = obj;
    object::build_change_record(built);
    *cell_at(into, slot) = built;
  }
}

void Decoder::function(Reader& r, const Head& h, NodeId into) {
  const uint32_t spec_len = bounded(r, 1);
  const uint32_t body_len = bounded(r, 1);
  const size_t ctx_at = r.offset();
  const uint8_t flags = context_head(r);
  const NodeId ctx = context_part(r, flags, ctx_at, true, false);
  bind_pending(ctx);
  // The spec first, held in the function's own slot; then the function over it and the body.
  NodeId spec = alloc::make_cells(std::max<uint32_t>(spec_len, 1));
  const uint32_t slot = cell_count(into);
  append(into, block::value_of(spec));
  spec_or_body(r, spec, &spec);
  const NodeId body = alloc::make_cells(std::max<uint32_t>(body_len, 1));
  const Cell fn = function::assemble(ctx, spec, block::value_of(body), 0);
  *cell_at(into, slot) = fn;
  NodeId shared_body = body;
  spec_or_body(r, body, &shared_body);
  if (shared_body != body) block_head(fn.fn_more())[MORE_BODY] = block::value_of(shared_body);
  // The context must hold the spec's arguments and refinements, in order and nothing else: calls
  // fill its slots by the spec.
  uint32_t fn_flags = 0;
  if (!function::spec_valid(block::value_of(spec), fn_flags)) fault(h.at);
  const uint32_t m = context::word_count(ctx);
  uint32_t k = 0;
  const uint32_t n = cell_count(spec);
  for (uint32_t i = 0; i < n; ++i) {
    const Cell e = *cell_at(spec, i);
    const TypeId et = e.type();
    if (et != TYPE_WORD && et != TYPE_GET_WORD && et != TYPE_LIT_WORD && et != TYPE_REFINEMENT) continue;
    if (k >= m || symbol::canonical_id(context::word_at(ctx, k)->word_symbol()) !=
                      symbol::canonical_id(e.word_symbol()))
      fault(h.at);
    ++k;
  }
  if (k != m) fault(h.at);
  if (fn_flags) {
    Cell flagged = fn;
    flagged.set_flag(fn_flags, true);
    context::owner(ctx) = flagged;
    *cell_at(into, slot) = flagged;
  }
}

// The spec or body record of a function: a block! record filled into `node`, or a reference to a
// block whose node then replaces it.
void Decoder::spec_or_body(Reader& r, NodeId node, NodeId* shared_node) {
  Head h;
  head(r, h);
  if (h.kind != HeadKind::typed || h.type != TYPE_BLOCK || h.definition) fault(h.at);
  if (depth_ >= kMaxDepth) fault(h.at);
  ++depth_;
  series_head(r, h);  // a head index of a spec or body is not kept
  if (h.reference) {
    if (!compact_ && u32(r) != kPlainReferenceType) fault(r.offset() - 4);
    const size_t at = r.offset();
    const Cell reached = resolve(r);
    const TypeId rt = reached.type();
    // A spec written in place of its native, action, routine or op is reached through it.
    if (rt == TYPE_NATIVE || rt == TYPE_ACTION || rt == TYPE_OP || (rt == TYPE_ROUTINE && mode_ == Mode::boot)) {
      *shared_node = reached.fn_spec();
      return void(--depth_);
    }
    if (!block::is_block_kind(rt) || reached.is(TYPE_HASH)) fault(at);
    *shared_node = reached.node();
  } else {
    const uint32_t n = bounded(r, 1);
    for (uint32_t i = 0; i < n; ++i) value(r, node);
  }
  --depth_;
}

// ---- Series -------------------------------------------------------------------------------------

void Decoder::block(Reader& r, const Head& h, NodeId into) {
  const TypeId t = static_cast<TypeId>(h.type);
  const uint32_t head = series_head(r, h);
  const size_t at = r.offset();
  const uint32_t n = bounded(r, 1);
  if (head > n) fault(at);
  const NodeId node = alloc::make_cells(std::max<uint32_t>(n, 1));
  Cell c = block::value_of(node, t, head);
  if (t == TYPE_HASH) hashes::new_index(c);
  const uint32_t slot = cell_count(into);
  append(into, c);
  for (uint32_t i = 0; i < n; ++i) value(r, node);
  if (t == TYPE_HASH) hashes::spliced(*cell_at(into, slot), 0, 0, n);
}

void Decoder::map(Reader& r, const Head& h, NodeId into) {
  const size_t at = r.offset();
  const uint32_t n = bounded(r, 1);
  if (n % 2) fault(at);
  const Cell m = map::make_empty(n / 2);
  append(into, m);
  Scratch scratch;
  for (uint32_t i = 0; i < n; i += 2) {
    const size_t key_at = r.offset();
    value(r, scratch.node);
    value(r, scratch.node);
    if (cell_count(scratch.node) != 2) fault(key_at);
    const Cell key = *cell_at(scratch.node, 0), val = *cell_at(scratch.node, 1);
    if (!map::valid_key(key.type())) fault(key_at);
    block::truncate_at(scratch.node, 0);
    map::put(m, key, val, true);
  }
  stack::drop_values(1);
}

void Decoder::text(Reader& r, const Head& h, NodeId into) {
  const TypeId t = static_cast<TypeId>(h.type);
  const uint32_t head = series_head(r, h);
  const size_t at = r.offset();
  uint32_t unit, len;
  if (compact_) {
    const uint32_t e = count(r);
    unit = 1u << (e & 3);
    len = e >> 2;
  } else {
    unit = (h.word & kPlainUnitMask) >> kPlainUnitShift;
    len = u32(r);
  }
  if ((unit != 1 && unit != 2 && unit != 4) || len > r.left() / unit || head > len) fault(at);
  const uint8_t* p = bytes(r, size_t{len} * unit);
  if (!compact_) r.skip((4 - (size_t{len} * unit) % 4) % 4);
  // Stored at the narrowest unit that holds every code point, as the runtime keeps strings.
  uint32_t widest = 0;
  auto unit_at = [&](uint32_t i) {
    const uint8_t* q = p + size_t{i} * unit;
    return unit == 1 ? q[0] : unit == 2 ? uint32_t(q[0] | q[1] << 8)
                                        : uint32_t(q[0] | q[1] << 8 | q[2] << 16 | uint32_t(q[3]) << 24);
  };
  for (uint32_t i = 0; i < len; ++i) {
    const uint32_t cp = unit_at(i);
    if (cp > kMaxCodePoint) fault(at);
    widest = std::max(widest, cp);
  }
  const uint32_t store = widest < 0x100 ? 1 : widest < 0x10000 ? 2 : 4;
  Cell s{};
  str::init_with_unit(s, std::max<uint32_t>(len, 1), store);
  s.set_type(t);
  SeriesBuffer* b = series_buffer(s.node());
  for (uint32_t i = 0; i < len; ++i) str::put_char(b->head_ptr() + size_t{i} * store, store, unit_at(i));
  b->set_length(len);
  s.set_head_index(head);
  append(into, s);
}

void Decoder::vector(Reader& r, const Head& h, NodeId into) {
  const uint32_t head = series_head(r, h);
  const size_t at = r.offset();
  uint32_t unit, type, n;
  if (compact_) {
    const uint8_t k = *bytes(r, 1);
    unit = 1u << (k & 3);
    type = k >> 2;
    n = bounded(r, unit);
  } else {
    unit = (h.word & kPlainUnitMask) >> kPlainUnitShift;
    n = u32(r);
    type = u32(r);
  }
  bool ok = false;
  switch (type) {
    case TYPE_INTEGER:
    case TYPE_CHAR: ok = unit == 1 || unit == 2 || unit == 4; break;
    case TYPE_FLOAT: ok = unit == 4 || unit == 8; break;
    case TYPE_PERCENT: ok = unit == 8; break;
    default: break;
  }
  if (!ok || n > r.left() / unit || head > n) fault(at);
  const uint8_t* p = bytes(r, size_t{n} * unit);
  if (!compact_) r.skip((4 - (size_t{n} * unit) % 4) % 4);
  if (type == TYPE_CHAR && unit == 4)
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t cp;
      std::memcpy(&cp, p + size_t{i} * 4, 4);
      if (cp > kMaxCodePoint) fault(at);
    }
  Cell v = vector::make_sized(std::max<uint32_t>(n, 1), static_cast<TypeId>(type), unit);
  SeriesBuffer* b = series_buffer(v.node());
  if (n) std::memcpy(b->head_ptr(), p, size_t{n} * unit);
  b->set_length(n);
  v.set_head_index(head);
  append(into, v);
}

void Decoder::image(Reader& r, const Head& h, NodeId into) {
  const uint32_t head = series_head(r, h);
  const size_t at = r.offset();
  uint32_t width, height;
  if (compact_) {
    width = count(r);
    height = count(r);
  } else {
    const uint32_t w = u32(r);
    width = w & 0xFFFF;
    height = w >> 16;
  }
  // The pixels are checked against the bytes left before anything is allocated.
  const uint64_t pixels = uint64_t{width} * height;
  if (width > 0xFFFF || height > 0xFFFF || pixels * 4 > r.left() || head > pixels) fault(at);
  const uint8_t* p = bytes(r, static_cast<size_t>(pixels) * 4);
  imaging::ImageId id = 0;
  if (pixels) {
    std::vector<uint32_t> words(static_cast<size_t>(pixels));
    std::memcpy(words.data(), p, static_cast<size_t>(pixels) * 4);
    id = imaging::adopt_pixels(width, height, std::move(words));
  }
  Cell img = image::make_cell(id, width, height);
  img.set_head_index(head);
  append(into, img);
}

// ---- Functions of the runtime -------------------------------------------------------------------

// The runtime's own native or action of the entry number; the buffer's spec is read and dropped.
void Decoder::entry(Reader& r, const Head& h, NodeId into) {
  const TypeId t = static_cast<TypeId>(h.type);
  const size_t at = r.offset();
  const uint32_t n = count(r);
  NodeId spec = 0;
  if (t == TYPE_NATIVE) {
    if (natives::entry(n)) spec = natives::spec_block(n);
  } else if (n >= 1 && n <= static_cast<uint32_t>(kActionCount) && actions::entry(n)) {
    spec = natives::action_spec_block(n);
  }
  if (!spec) fault(at);
  const NodeId ctx = context::make_from_spec(block::value_of(spec), true, false, CONTEXT_FUNCTION);
  append(into, native::make_value(t, n - 1, spec, ctx));
  Scratch scratch;
  const size_t spec_at = r.offset();
  value(r, scratch.node);
  if (cell_count(scratch.node) != 1 || !cell_at(scratch.node, 0)->is(TYPE_BLOCK)) fault(spec_at);
  stack::drop_values(1);
}

void Decoder::op(Reader& r, const Head& h, NodeId into) {
  const size_t at = r.offset();
  const uint32_t slot = cell_count(into);
  value(r, into);
  if (cell_count(into) != slot + 1) fault(at);
  Cell* c = cell_at(into, slot);
  const TypeId source = c->type();
  const bool routine = mode_ == Mode::boot && source == TYPE_ROUTINE;
  if ((source != TYPE_FUNCTION && source != TYPE_NATIVE && source != TYPE_ACTION && !routine) ||
      (!compact_ && source != ((h.word & kPlainOpMask) >> kPlainOpShift)) || !native::op_spec_ok(c->fn_spec()))
    fault(at);
  Cell o = *c;
  o.set_type(TYPE_OP);
  o.set_new_line(false);
  o.set_op_source(source);
  if (source == TYPE_FUNCTION || routine) block_head(o.fn_more())[MORE_OP] = o;
  *cell_at(into, slot) = o;
}

void Decoder::error(Reader& r, const Head& h, NodeId into) {
  const size_t at = r.offset();
  const uint32_t code = count(r);
  if (code / 100 >= kErrCategoryCount || error_id_word(code).empty()) fault(at);
  const uint32_t slot = cell_count(into);
  append(into, error_value::create(static_cast<Err>(code)));
  Scratch scratch;
  for (uint32_t i = 0; i < 6; ++i) {
    const size_t field_at = r.offset();
    value(r, scratch.node);
    if (cell_count(scratch.node) != 1) fault(field_at);
    const Cell v = *cell_at(scratch.node, 0);
    block::truncate_at(scratch.node, 0);
    *error_value::field(*cell_at(into, slot), static_cast<ErrorField>(ERR_ARG1 + i)) = v;
  }
  stack::drop_values(1);
}

// ---- References ---------------------------------------------------------------------------------

// Walks a reference path from the destination block; every index is checked against what it
// selects. Answers a copy of the cell reached.
Cell Decoder::resolve(Reader& r) {
  const size_t start = r.offset();
  if (!read_path(r, compact_, path_)) fault(r.offset());
  // The offset of index k, for a fault there.
  auto index_at = [&](size_t k) {
    Reader q(data_.data(), data_.data() + start, data_.data() + data_.size());
    uint32_t v;
    compact_ ? q.varint(v) : q.u32(v);
    for (size_t i = 0; i < k; ++i) compact_ ? q.varint(v) : q.u32(v);
    return q.offset();
  };
  if (path_[0] >= cell_count(dest_) - path_base_) fault(index_at(0));
  Cell cur = *cell_at(dest_, path_base_ + path_[0]);
  for (size_t k = 1; k < path_.size(); ++k) {
    const uint32_t i = path_[k];
    const Cell* next = nullptr;
    auto in_block = [&](NodeId node, uint32_t index) {
      if (node && index < cell_count(node)) next = cell_at(node, index);
    };
    Cell part;
    switch (step_of(cur.type())) {
      case Step::cells: in_block(cur.node(), i); break;
      case Step::context_values:
      case Step::error_values: {
        const NodeId ctx = cur.object_context();
        const uint32_t at = i + (cur.is(TYPE_ERROR) ? kErrorFixedFields : 0);
        if (at >= i && at < context::word_count(ctx)) in_block(context::values_block(ctx), at);
        break;
      }
      case Step::word_context: {
        const NodeId ctx = cur.word_context();
        if (!ctx || ctx == context::global()) break;
        if (context::on_stack(ctx)) {
          // A function's context continues as the function.
          cur = context::owner(ctx);
          if (!cur.is(TYPE_FUNCTION)) break;
          --k;
          continue;
        }
        if (i < context::word_count(ctx)) in_block(context::values_block(ctx), i);
        break;
      }
      case Step::spec_cells: in_block(cur.fn_spec(), i); break;
      case Step::function_parts: {
        const bool fn = cur.is(TYPE_FUNCTION) || (cur.is(TYPE_OP) && cur.op_source() == TYPE_FUNCTION);
        if (i == 0 && fn) {
          part = block::value_of(cur.fn_spec());
          next = &part;
        } else if (i == 0 && cur.is(TYPE_OP)) {
          part = block::value_of(cur.fn_spec());
          next = &part;
        } else if (i == 1 && fn && block_head(cur.fn_more())[MORE_BODY].is(TYPE_BLOCK)) {
          part = block_head(cur.fn_more())[MORE_BODY];
          next = &part;
        }
        break;
      }
      case Step::none: break;
    }
    if (!next) fault(index_at(k));
    cur = *next;
  }
  return cur;
}

// A series, object or function record with the reference prefix: it shares what the path reaches,
// with its own type and head index.
void Decoder::shared(Reader& r, const Head& h, NodeId into) {
  const TypeId t = static_cast<TypeId>(h.type);
  const Body b = body_of(t, compact_);
  const uint32_t head = has_head(b) ? series_head(r, h) : 0;
  if (!compact_ && u32(r) != kPlainReferenceType) fault(r.offset() - 4);
  const size_t at = r.offset();
  Cell c = resolve(r);
  const TypeId rt = c.type();
  bool ok = false;
  uint32_t room = 0;
  switch (b) {
    case Body::block:
      if (rt == TYPE_NATIVE || rt == TYPE_ACTION || rt == TYPE_FUNCTION || rt == TYPE_OP) {
        c = block::value_of(c.fn_spec());
        ok = true;
      } else {
        ok = block::is_block_kind(rt) && rt != TYPE_HASH;
      }
      if (ok) room = capacity_units(c.node());
      break;
    case Body::hash:
    case Body::map:
    case Body::binary:
    case Body::bitset:
    case Body::vector:
      ok = rt == t;
      if (ok) room = capacity_units(c.node());
      break;
    case Body::text:
      ok = str::is_text_type(rt);
      if (ok) room = capacity_units(c.node());
      break;
    case Body::image:
      ok = rt == TYPE_IMAGE;
      if (ok) room = image::pixel_count(c);
      break;
    case Body::object:
    case Body::function: {
      if (rt != t) {
        if (block::is_word_kind(rt) && rt != TYPE_ISSUE && c.word_context() && c.word_context() != context::global())
          c = context::owner(c.word_context());
        else if (rt == TYPE_OP && c.op_source() == TYPE_FUNCTION)
          c.set_type(TYPE_FUNCTION), c.set_op_source(TYPE_NONE_ID);
      }
      ok = c.type() == t;
      break;
    }
    default: break;
  }
  if (!ok || head > room) fault(at);
  c.set_type(t);
  c.set_new_line(false);
  if (has_head(b)) c.set_head_index(head);
  append(into, c);
}

}  // namespace zem::zembin
