// The Zembin encoder (see encoder.h): both forms from one walk, the form choosing the field widths.
#include "services/zembin/encoder.h"

#include <cmath>
#include <cstring>
#include <new>
#include <unordered_map>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/native.h"
#include "datatypes/symbol.h"
#include "evaluator/natives.h"
#include "evaluator/interpreter.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "services/image/image_store.h"
#include "services/zembin/format.h"

namespace zem::zembin {

namespace {

// Where a tracked node was first written: its path in the path store, and a copy of the value that
// owns it, which the collector marks while the entry lives.
struct Seen {
  uint32_t at;
  uint32_t length;
  Cell owner;
};

struct EncoderState {
  std::vector<uint8_t> records;
  std::vector<uint32_t> symbols;  // symbol ids in order of first use
  std::unordered_map<uint32_t, uint32_t> symbol_index;
  std::vector<uint8_t> names;     // each name's UTF-8 text and a NUL
  std::vector<uint32_t> name_offsets;
  std::vector<uint32_t> path;     // the current indexes of the enclosing values
  std::vector<uint32_t> store;    // the paths of tracked nodes
  std::unordered_map<uint64_t, Seen> nodes;  // keyed by node index (images: by ImageId, tagged)
  uint32_t current = 0;
  uint32_t depth = 0;
  bool compact = true;
  // Boot image: words, objects and functions name their contexts by root index.
  bool boot = false;
  std::unordered_map<NodeId, uint32_t> context_roots;
  std::vector<NodeId> contexts;  // in order of meeting
};
EncoderState es;

void mark_nodes(void*) {
  for (auto& [key, seen] : es.nodes)
    if (gc::MarkFn mark = gc::mark_handler(seen.owner.type())) mark(seen.owner);
}

// Releases the memory of grown buffers too, so one big encode does not keep it.
template <typename T>
void drop(T& container) {
  T().swap(container);
}

void clear_state() {
  drop(es.records);
  drop(es.symbols);
  drop(es.symbol_index);
  drop(es.names);
  drop(es.name_offsets);
  drop(es.path);
  drop(es.store);
  es.nodes.clear();
  es.current = 0;
  es.depth = 0;
  es.boot = false;
  drop(es.context_roots);
  drop(es.contexts);
}

// Resets on entry and on every exit, error included; the node table is a root meanwhile.
struct Session {
  explicit Session(bool compact) : root(&mark_nodes, nullptr) {
    clear_state();
    es.compact = compact;
  }
  ~Session() { clear_state(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  gc::ScopedRoot root;
};

[[noreturn]] void no_codec(const Cell& value) {
  const Cell v = value;
  clear_state();
  fire(Err::access_no_codec, &v);
}

// ---- Choices of the number records --------------------------------------------------------------

// float! and time!: the integer n when the double is exactly n and not -0.0.
bool whole_number(double d, int32_t& n) {
  if (!(d >= -2147483000.0 && d <= 2147483000.0) || (d == 0 && std::signbit(d))) return false;
  double t = std::trunc(d);
  if (t != d) return false;
  n = static_cast<int32_t>(t);
  return true;
}

// percent!: n when n / 100.0 gives the double back, n being d * 100 rounded half away from zero.
bool whole_hundredths(double d, int32_t& n) {
  if (!(d >= -21474836.0 && d <= 21474836.0) || (d == 0 && std::signbit(d))) return false;
  double r = std::round(d * 100.0);
  if (static_cast<double>(static_cast<int32_t>(r)) / 100.0 != d) return false;
  n = static_cast<int32_t>(r);
  return true;
}

uint32_t log2_unit(uint32_t unit) { return unit == 8 ? 3 : unit == 4 ? 2 : unit == 2 ? 1 : 0; }

// The owner of a word's context, or none when the word counts as globally bound.
const Cell* word_owner(const Cell& word) {
  NodeId ctx = word.word_context();
  if (ctx == 0 || ctx == context::global()) return nullptr;
  const Cell& owner = context::owner(ctx);
  switch (owner.type()) {
    case TYPE_NONE:
    case TYPE_UNSET:
    case TYPE_BLOCK: return nullptr;
    case TYPE_OBJECT:
    case TYPE_FUNCTION: return &owner;
    default: no_codec(word);
  }
}

// The node-table key of a value that owns a series, context or image; 0 for the others.
uint64_t node_key(const Cell& v) {
  switch (v.type()) {
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT: return !es.boot && word_owner(v) ? v.word_context() : 0;
    case TYPE_OBJECT:
    case TYPE_FUNCTION: return v.fn_context();  // object_context() is the same word
    case TYPE_IMAGE: return v.image_id() ? (uint64_t{1} << 32 | v.image_id()) : 0;
    default: return series_body(body_of(v.type())) ? v.node() : 0;
  }
}

// ---- Writing ------------------------------------------------------------------------------------

class Out {
 public:
  Out() : w_(es.records) {}
  Writer& w() { return w_; }
  // A count or small field: varint in the compact form, u32 in the plain.
  void field(uint32_t v) { es.compact ? w_.varint(v) : w_.u32(v); }
  void signed_field(int32_t v) { es.compact ? w_.zz(v) : w_.u32(static_cast<uint32_t>(v)); }
  // Data bytes; the plain form pads them to 4.
  void data(const void* p, size_t n) {
    w_.bytes(p, n);
    if (!es.compact) w_.pad4();
  }

 private:
  Writer w_;
};

uint32_t symbol_ref(uint32_t sym) {
  auto [it, added] = es.symbol_index.try_emplace(sym, static_cast<uint32_t>(es.symbols.size()));
  if (added) {
    es.symbols.push_back(sym);
    es.name_offsets.push_back(static_cast<uint32_t>(es.names.size()));
    std::string_view name = symbol::name(sym);
    es.names.insert(es.names.end(), name.begin(), name.end());
    es.names.push_back(0);
  }
  return it->second;
}

void write_value(const Cell& v);
void write_record(const Cell& v, bool new_line, bool repeat);

// A nested value written at the enclosing value's own index (an op!'s function, a native's spec).
void write_in_place(const Cell& v) {
  uint32_t saved = es.current;
  write_value(v);
  es.current = saved;
}

void push_level() {
  es.path.push_back(es.current);
  es.current = 0;
}
void pop_level() {
  es.current = es.path.back();
  es.path.pop_back();
}

// Opens a typed record: the compact prefixes and header byte, or the plain header word.
void head(TypeId t, bool variant, bool new_line, bool repeat, uint32_t plain_bits = 0) {
  Writer w(es.records);
  if (es.compact) {
    if (new_line) w.u8(kPrefixNewLine);
    if (repeat) w.u8(kPrefixReference);
    if (t >= kTypeEscape) {
      w.u8(typed_head(kTypeEscape, variant));
      w.varint(t);
    } else {
      w.u8(typed_head(t, variant));
    }
  } else {
    // Floats start on a multiple of 8 bytes from the start of the records.
    if ((t == TYPE_FLOAT || t == TYPE_PERCENT || t == TYPE_TIME) && es.records.size() % 8)
      w.u32(kPlainPadding);
    w.u32(t | plain_bits | (new_line ? kPlainNewLine : 0) | (repeat ? kPlainReference : 0));
  }
}

void write_context(NodeId ctx) {
  Out o;
  const Cell& c = context::cell(ctx);
  const uint32_t m = context::word_count(ctx);
  uint8_t flags = static_cast<uint8_t>(c.context_kind() & kContextKindBits);
  const bool on_stack = context::on_stack(ctx);
  if (on_stack) flags |= kContextFunction;
  if (context::has_self(ctx)) flags |= kContextSelfBound;
  if (!on_stack) {
    const Cell* values = context::values(ctx);
    for (uint32_t i = 0; i < m; ++i)
      if (!values[i].is(TYPE_UNSET)) {
        flags |= kContextValues;
        break;
      }
  }
  if (es.compact) {
    o.w().u8(typed_head(TYPE_CONTEXT, false));
    o.w().u8(flags);
  } else {
    o.w().u32(TYPE_CONTEXT | plain_context_bits(flags));
  }
  o.field(m);
  for (uint32_t i = 0; i < m; ++i) o.field(symbol_ref(context::word_at(ctx, i)->word_symbol()));
  if (flags & kContextValues) {
    // Each value is re-read through the context: writing may grow the records, never the context.
    for (uint32_t i = 0; i < m; ++i) {
      const Cell value = context::values(ctx)[i];
      write_value(value);
    }
  }
}

void write_block_cells(NodeId node) {
  const uint32_t n = series_length(node);
  Out().field(n);
  for (uint32_t i = 0; i < n; ++i) {
    const Cell value = block_head(node)[i];
    write_value(value);
  }
}

void write_map(const Cell& v) {
  // The pair count is taken from the pairs written (tombstones skipped), never from the index.
  const NodeId node = v.node();
  const uint32_t cells = series_length(node) & ~1u;
  uint32_t live = 0;
  for (uint32_t i = 0; i < cells; i += 2)
    if (!block_head(node)[i + 1].is(TYPE_NONE_ID)) ++live;
  Out().field(2 * live);
  for (uint32_t i = 0; i < cells; i += 2) {
    if (block_head(node)[i + 1].is(TYPE_NONE_ID)) continue;
    const Cell key = block_head(node)[i];
    const Cell value = block_head(node)[i + 1];
    write_value(key);
    write_value(value);
  }
}

// The header bits a function, routine, native or action carries besides its type (the library
// flag among them).
uint32_t function_flags(const Cell& v) { return v.header & ~(kTypeMask | kNewLineFlag | kOpSourceMask); }

// The root index of a context met by the boot walk; a context it missed cannot be written.
uint32_t context_root(NodeId ctx, const Cell& user) {
  auto it = es.context_roots.find(ctx);
  if (it == es.context_roots.end()) no_codec(user);
  return it->second;
}

// The context part of a boot object or function: the reference prefix, the context! header and
// the root index + 1 of the context (0: the global context).
void context_ref(NodeId ctx, const Cell& user) {
  Writer w(es.records);
  w.u8(kPrefixReference);
  w.u8(typed_head(TYPE_CONTEXT, false));
  w.varint(ctx == context::global() ? 0 : context_root(ctx, user) + 1);
}

void write_function(const Cell& fn) {
  Out o;
  const Cell spec = block::value_of(fn.fn_spec());
  Cell body = block_head(fn.fn_more())[MORE_BODY];
  const bool has_body = body.is(TYPE_BLOCK);
  o.field(series_length(spec.node()));
  o.field(has_body ? series_length(body.node()) : 0);
  if (es.boot) {
    // The flags (the library flag among them), then the context by root index.
    o.w().varint(function_flags(fn));
    context_ref(fn.fn_context(), fn);
  } else {
    write_context(fn.fn_context());
  }
  es.current = 0;
  write_value(spec);
  if (has_body) {
    body.set_new_line(false);
    write_value(body);
  } else {
    // A function without a body (none) gets an empty one.
    head(TYPE_BLOCK, false, false, false);
    if (!es.compact) o.w().u32(0);
    o.field(0);
    ++es.current;
  }
}

void write_object(const Cell& obj) {
  Out o;
  const NodeId record = obj.object_record();
  o.signed_field(static_cast<int32_t>(obj.object_class()));
  if (record) {
    o.signed_field(block_head(record)[0].pair_x());
    o.signed_field(block_head(record)[1].pair_x());
  }
  write_context(obj.object_context());
}

void write_image(const Cell& v) {
  Out o;
  // The hold brings the store up to date with anything drawn on the image's surface.
  imaging::PixelHold hold(v.image_id());
  const imaging::ImageRecord* rec = hold.record();
  const uint32_t width = rec ? rec->width : 0, height = rec ? rec->height : 0;
  if (es.compact) {
    o.field(width);
    o.field(height);
  } else {
    o.w().u32((width & 0xFFFF) | height << 16);
  }
  if (rec) o.w().bytes(reinterpret_cast<const uint8_t*>(hold.pixels()), size_t{width} * height * 4);
}

// Series owners: header, the head index when V is set (always in the plain form), the contents.
void write_series(const Cell& v, Body b, bool new_line, bool repeat) {
  Out o;
  Writer& w = o.w();
  const bool compact = es.compact;
  const TypeId t = v.type();
  const NodeId node = b == Body::image ? 0 : v.node();
  const uint32_t unit = node ? series_buffer(node)->unit() : 1;
  uint32_t bits = 0;
  if (b == Body::text || b == Body::binary || b == Body::vector) bits = unit << kPlainUnitShift;
  bool variant = has_head(b) && v.head_index() != 0;
  if (b == Body::bitset) {
    variant = (series_buffer(node)->flags & kBitsetComplement) != 0;
    if (variant) bits |= kPlainComplement;
  }
  head(t, compact && variant, new_line, repeat, bits);
  if (has_head(b) && (variant || !compact)) o.field(v.head_index());
  if (repeat) return;
  switch (b) {
    case Body::block:
    case Body::hash: write_block_cells(node); break;
    case Body::map: write_map(v); break;
    case Body::text: {
      const uint32_t n = series_length(node);
      if (compact) w.varint(n << 2 | log2_unit(unit));
      else w.u32(n);
      o.data(series_head(node), size_t{n} * unit);
      break;
    }
    case Body::binary:
    case Body::bitset: {
      const uint32_t n = series_length(node);
      o.field(n);
      o.data(series_head(node), n);
      break;
    }
    case Body::vector: {
      const uint32_t n = series_length(node);
      if (compact) {
        w.u8(static_cast<uint8_t>(v.vector_type() << 2 | log2_unit(unit)));
        w.varint(n);
      } else {
        w.u32(n);
        w.u32(v.vector_type());
      }
      o.data(series_head(node), size_t{n} * unit);
      break;
    }
    default: write_image(v); break;
  }
}


// ---- Boot-image records -------------------------------------------------------------------------

// A context root: its flags and words (each symbol shifted left once, bit 0 the word's set mark);
// the values come with the object that owns it.
void write_context_root(NodeId ctx) {
  Writer w(es.records);
  const Cell& c = context::cell(ctx);
  uint8_t flags = static_cast<uint8_t>(c.context_kind() & kContextKindBits);
  if (context::on_stack(ctx)) flags |= kContextFunction;
  if (context::has_self(ctx)) flags |= kContextSelfBound;
  w.u8(typed_head(TYPE_CONTEXT, false));
  w.u8(flags);
  const uint32_t m = context::word_count(ctx);
  w.varint(m);
  for (uint32_t i = 0; i < m; ++i) {
    const Cell* word = context::word_at(ctx, i);
    w.varint(symbol_ref(word->word_symbol()) << 1 | (word->has_flag(kWordSetMark) ? 1 : 0));
  }
  ++es.current;
}

void write_object_boot(const Cell& obj) {
  Writer w(es.records);
  const NodeId record = obj.object_record();
  w.zz(static_cast<int32_t>(obj.object_class()));
  if (record) {
    w.zz(block_head(record)[0].pair_x());
    w.zz(block_head(record)[1].pair_x());
  }
  const NodeId ctx = obj.object_context();
  context_ref(ctx, obj);
  if (ctx == context::global()) return;  // its values are the global words' definitions
  const uint32_t m = context::word_count(ctx);
  for (uint32_t i = 0; i < m; ++i) {
    const Cell value = context::values(ctx)[i];
    write_value(value);
  }
}

// A routine: its flags, the name of its registry entry, its result kind + 1, its spec.
void write_routine_boot(const Cell& v, bool new_line) {
  const Cell* more = block_head(v.fn_more());
  const Cell entry = more[MORE_ENTRY];
  const char* name = entry.is(TYPE_INTEGER) && entry.int_value() >= 0 &&
                             static_cast<uint32_t>(entry.int_value()) < RoutineRegistry::kCapacity
                         ? routine_registry.names[entry.int_value()]
                         : nullptr;
  if (!name) no_codec(v);
  const Cell result = more[MORE_CONTEXT];
  head(TYPE_ROUTINE, false, new_line, false);
  Writer w(es.records);
  w.varint(function_flags(v));
  w.varint(symbol_ref(symbol::intern(name)));
  w.varint(result.is(TYPE_INTEGER) ? static_cast<uint32_t>(result.int_value() + 1) : 0);
  write_in_place(block::value_of(v.fn_spec()));
}

// A native or action: entry number, flags, then 0 when its spec is the runtime's own, else 1 and
// the spec.
void write_entry_boot(const Cell& v) {
  Writer w(es.records);
  const uint32_t n = v.fn_entry() + 1;
  w.varint(n);
  w.varint(function_flags(v));
  const NodeId own = v.is(TYPE_NATIVE) ? natives::spec_block(n) : natives::action_spec_block(n);
  w.u8(own == v.fn_spec() ? 0 : 1);
  if (own != v.fn_spec()) write_in_place(block::value_of(v.fn_spec()));
}

// The record of one value; for a repeat only its fixed fields (the path follows).
void write_record(const Cell& v, bool new_line, bool repeat) {
  Out o;
  Writer& w = o.w();
  const TypeId t = v.type();
  const bool compact = es.compact;
  if (t == TYPE_LOGIC && compact) {
    if (new_line) w.u8(kPrefixNewLine);
    w.u8(v.logic_value() ? kHeadTrue : kHeadFalse);
    return;
  }
  if (es.boot && t == TYPE_ROUTINE) return write_routine_boot(v, new_line);
  if (es.boot && t == TYPE_HANDLE) {
    // Only the null handle: any other names something of the process that wrote it.
    if (v.handle_index() != 0) no_codec(v);
    return head(t, false, new_line, false);
  }
  const Body body = body_of(t, compact);
  if (series_body(body)) return write_series(v, body, new_line, repeat);
  switch (body) {
    case Body::empty: head(t, false, new_line, false); break;
    case Body::logic: head(t, false, new_line, false); w.u32(v.logic_value() ? 1 : 0); break;
    case Body::datatype: head(t, false, new_line, false); o.field(v.datatype_id()); break;
    case Body::character: head(t, false, new_line, false); o.field(v.char_value()); break;
    case Body::integer: {
      const int32_t n = v.int_value();
      if (compact && n >= 0 && n <= 63) {
        if (new_line) w.u8(kPrefixNewLine);
        w.u8(static_cast<uint8_t>(kHeadSmallInt + n));
      } else {
        head(t, false, new_line, false);
        o.signed_field(n);
      }
      break;
    }
    case Body::number: {
      const double d = v.float_value();
      int32_t n = 0;
      if (!compact) {
        head(t, false, new_line, false);
        w.double_plain(d);
      } else if (t == TYPE_PERCENT ? whole_hundredths(d, n) : whole_number(d, n)) {
        head(t, true, new_line, false);
        w.zz(n);
      } else {
        head(t, false, new_line, false);
        w.double_compact(d);
      }
      break;
    }
    case Body::pair:
      head(t, false, new_line, false);
      o.signed_field(v.pair_x());
      o.signed_field(v.pair_y());
      break;
    case Body::point2d:
    case Body::point3d: {
      head(t, false, new_line, false);
      const auto words = v.raw_words();
      w.u32(words[0]);
      w.u32(words[1]);
      if (t == TYPE_POINT3D) w.u32(words[2]);
      break;
    }
    case Body::date: {
      const bool timed = dates::has_time(v.date_word());
      if (compact) {
        head(t, timed, new_line, false);
        w.u32(v.date_word());
        if (timed) w.double_compact(v.float_value());
      } else {
        head(t, false, new_line, false);
        w.u32(v.date_word());
        w.double_plain(v.float_value());
      }
      break;
    }
    case Body::typeset: {
      if (compact) {
        uint8_t n = 12;
        while (n > 0 && v.payload_byte(n - 1u) == 0) --n;
        head(t, false, new_line, false);
        w.u8(n);
        for (uint32_t i = 0; i < n; ++i) w.u8(v.payload_byte(i));
      } else {
        head(t, false, new_line, false);
        for (uint32_t i = 0; i < 12; ++i) w.u8(v.payload_byte(i));
      }
      break;
    }
    case Body::tuple: {
      const uint32_t n = v.tuple_count();
      if (compact) {
        head(t, n != 3, new_line, false);
        if (n != 3) w.u8(static_cast<uint8_t>(n));
        for (uint32_t i = 0; i < n; ++i) w.u8(v.tuple_at(i));
      } else {
        head(t, false, new_line, false, n << kPlainUnitShift);
        for (uint32_t i = 0; i < 12; ++i) w.u8(v.payload_byte(i));
      }
      break;
    }
    case Body::money:
      head(t, compact && v.money_negative(), new_line, false,
           v.money_negative() ? kPlainMoneyNegative : 0);
      for (uint32_t i = 0; i < 12; ++i) w.u8(v.payload_byte(i));
      break;
    case Body::issue:
      head(t, false, new_line, false);
      o.field(symbol_ref(v.word_symbol()));
      break;
    case Body::word: {
      if (es.boot) {
        // Bound by root index; -2: bound to no context; -3: global, no slot.
        const NodeId ctx = v.word_context();
        const bool fresh = ctx == context::global() && static_cast<int32_t>(v.word_index()) < 0;
        const bool bound = ctx != context::global();
        head(t, bound || fresh, new_line, false);
        w.varint(symbol_ref(v.word_symbol()));
        if (fresh) {
          w.zz(kFreshGlobalWordIndex);
        } else if (bound && !ctx) {
          w.zz(kUnboundWordIndex);
        } else if (bound) {
          w.zz(static_cast<int32_t>(v.word_index()));
          w.varint(context_root(ctx, v));
        }
        break;
      }
      const Cell* owner = word_owner(v);
      head(t, compact && owner, new_line, repeat);
      o.field(symbol_ref(v.word_symbol()));
      if (!compact) {
        w.u32(owner ? 0 : kPlainGlobalRoot);
        w.u32(v.word_index());
      } else if (owner) {
        w.zz(static_cast<int32_t>(v.word_index()));
      }
      if (owner && !repeat) {
        // The first word of a context carries its owner inline, at the word's own path level.
        const Cell own = *owner;
        write_record(own, false, false);
      }
      break;
    }
    case Body::object: {
      const bool changes = v.object_record() != 0;
      head(t, changes, new_line, repeat, changes ? kPlainChangeRecord : 0);
      if (!repeat) es.boot ? write_object_boot(v) : write_object(v);
      break;
    }
    case Body::function:
      head(t, es.boot, new_line, repeat);  // boot: V, the flags follow
      if (!repeat) write_function(v);
      break;
    case Body::entry:
      head(t, false, new_line, false);
      if (es.boot) return write_entry_boot(v);
      o.field(v.fn_entry() + 1);
      write_in_place(block::value_of(v.fn_spec()));
      break;
    case Body::op: {
      const TypeId source = v.op_source();
      if (source != TYPE_FUNCTION && source != TYPE_NATIVE && source != TYPE_ACTION &&
          !(es.boot && source == TYPE_ROUTINE))
        no_codec(v);
      head(t, false, new_line, false, static_cast<uint32_t>(source) << kPlainOpShift);
      Cell wrapped = v;
      wrapped.set_type(source);
      wrapped.set_op_source(TYPE_NONE_ID);
      wrapped.set_new_line(false);
      write_in_place(wrapped);
      break;
    }
    case Body::error: {
      head(t, false, new_line, false);
      const NodeId ctx = v.object_context();
      const Cell code = context::values(ctx)[0];
      o.field(static_cast<uint32_t>(code.int_value()));
      // The fields are indexed from arg1 on; the error itself is not shared.
      push_level();
      for (uint32_t i = 0; i < 6; ++i) {
        const Cell field = context::values(ctx)[kErrorFixedFields + i];
        write_value(field);
      }
      pop_level();
      break;
    }
    default: no_codec(v);  // no_codec types, context! and symbol! outside their records
  }
}

void write_value(const Cell& v) {
  if (++es.depth > kMaxDepth) {
    clear_state();
    fire(Err::internal_too_deep);
  }
  const uint64_t key = node_key(v);
  const Seen* seen = nullptr;
  if (key) {
    auto [it, added] = es.nodes.try_emplace(key);
    if (added) {
      it->second = Seen{static_cast<uint32_t>(es.store.size()), static_cast<uint32_t>(es.path.size() + 1), v};
      es.store.insert(es.store.end(), es.path.begin(), es.path.end());
      es.store.push_back(es.current);
      push_level();
    } else {
      seen = &it->second;
    }
  }
  write_record(v, v.new_line(), seen != nullptr);
  if (seen) {
    Writer w(es.records);
    if (!es.compact) w.u32(kPlainReferenceType);
    write_path(w, es.compact, es.store.data() + seen->at, seen->length);
  } else if (key) {
    pop_level();
  }
  --es.depth;
  ++es.current;
}

// ---- The whole buffer ---------------------------------------------------------------------------

std::vector<uint8_t> assemble(uint32_t roots = 1) {
  std::vector<uint8_t> out;
  const bool symbols = !es.symbols.empty();
  out.reserve(24 + 4 * es.symbols.size() + es.names.size() + es.records.size());
  Writer w(out);
  const uint32_t names_size = static_cast<uint32_t>(es.names.size());
  auto symbol_table = [&](bool compact) {
    const uint32_t count = static_cast<uint32_t>(es.symbols.size());
    if (compact) {
      w.varint(count);
      w.varint(names_size);
    } else {
      w.u32(count);
      w.u32(names_size);
    }
    for (uint32_t at : es.name_offsets) w.u32(at);
    w.bytes(es.names.data(), names_size);
  };
  if (es.compact) {
    put_template(out, static_cast<uint8_t>(kFlagCompact | (symbols ? kFlagSymbols : 0)));
    out.resize(kHeaderSize);
    w.varint(roots);
    w.varint(static_cast<uint32_t>(es.records.size()));
    if (symbols) symbol_table(true);
  } else {
    put_template(out, symbols ? kFlagSymbols : 0);
    w.patch_u32(8, 1);
    w.patch_u32(12, static_cast<uint32_t>(es.records.size()));
    if (symbols) symbol_table(false);
  }
  w.bytes(es.records.data(), es.records.size());
  return out;
}

}  // namespace

void reset() { clear_state(); }

std::vector<uint8_t> encode_bytes(const Cell& value, bool compact) {
  Session session(compact);
  try {
    write_value(value);
    return assemble();
  } catch (const std::bad_alloc&) {
    clear_state();
    fire(Err::internal_no_memory);
  }
}

namespace {

// Every context other than the global one that a word, object or function reached from the values
// uses, in order of meeting; a context's owner and values are walked as well.
void collect_contexts(std::span<const Cell> from) {
  std::vector<Cell> todo(from.rbegin(), from.rend());
  std::unordered_map<NodeId, bool> seen;  // series nodes walked
  auto walk_cells = [&](NodeId node) {
    if (!node || !seen.try_emplace(node, true).second) return;
    for (uint32_t i = series_length(node); i-- > 0;) todo.push_back(block_head(node)[i]);
  };
  auto add_context = [&](NodeId ctx) {
    if (!ctx || ctx == context::global()) return;
    if (!es.context_roots.try_emplace(ctx, 0).second) return;
    es.contexts.push_back(ctx);
    todo.push_back(context::owner(ctx));
    if (!context::on_stack(ctx))
      for (uint32_t i = context::word_count(ctx); i-- > 0;) todo.push_back(context::values(ctx)[i]);
  };
  auto walk_function = [&](const Cell& v) {
    walk_cells(v.fn_spec());
    if (v.is(TYPE_NATIVE) || v.is(TYPE_ACTION)) return;
    add_context(v.fn_context());
    const Cell body = block_head(v.fn_more())[MORE_BODY];
    if (body.is(TYPE_BLOCK)) walk_cells(body.node());
  };
  while (!todo.empty()) {
    Cell v = todo.back();
    todo.pop_back();
    const TypeId t = v.type();
    if (t == TYPE_ISSUE) continue;
    if (block::is_word_kind(t)) {
      add_context(v.word_context());
    } else if (t == TYPE_OBJECT) {
      add_context(v.object_context());
    } else if (t == TYPE_ERROR) {
      const NodeId ctx = v.object_context();
      for (uint32_t i = kErrorFixedFields; i < context::word_count(ctx); ++i) todo.push_back(context::values(ctx)[i]);
    } else if (t == TYPE_FUNCTION || t == TYPE_ROUTINE || t == TYPE_NATIVE || t == TYPE_ACTION) {
      walk_function(v);
    } else if (t == TYPE_OP) {
      v.set_type(v.op_source());
      walk_function(v);
    } else if (block::is_block_kind(t) || block::is_path_kind(t) || t == TYPE_MAP || t == TYPE_HASH) {
      walk_cells(v.node());
    }
  }
}

// A value that owns a series, a context or an entry: a snapshot writes it as a root, so that what
// it shares with other values stays shared.
bool needs_root(const Cell& v) {
  switch (v.type()) {
    case TYPE_OP:
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_ROUTINE:
    case TYPE_ERROR: return true;
    default: return node_key(v) != 0;
  }
}

}  // namespace

std::vector<uint8_t> encode_boot(std::span<const Cell> roots, std::span<const std::pair<Cell, Cell>> definitions,
                                 bool snapshot) {
  Session session(true);
  es.boot = true;
  if (snapshot) {
    // Every symbol of the runtime, in id order: start-up interns them first and gets the same ids.
    for (uint32_t id = 1; id <= symbol::count(); ++id) symbol_ref(id);
  }
  std::vector<Cell> reached(roots.begin(), roots.end());
  for (const auto& [word, value] : definitions) reached.push_back(value);
  collect_contexts(reached);
  for (const Cell& root : roots) write_value(root);
  for (NodeId ctx : es.contexts) {
    es.context_roots[ctx] = es.current;
    write_context_root(ctx);
  }
  std::vector<int32_t> at(definitions.size(), -1);  // the root of a definition's value
  if (snapshot) {
    for (size_t i = 0; i < definitions.size(); ++i) {
      if (!needs_root(definitions[i].second)) continue;
      at[i] = static_cast<int32_t>(es.current);
      write_value(definitions[i].second);
    }
    // Objects and functions only bound words reach.
    for (NodeId ctx : es.contexts) {
      const Cell owner = context::owner(ctx);
      if ((owner.is(TYPE_OBJECT) || owner.is(TYPE_FUNCTION)) && !es.nodes.count(node_key(owner)))
        write_value(owner);
    }
  }
  const uint32_t root_count = es.current;
  for (size_t i = 0; i < definitions.size(); ++i) {
    const auto& [word, value] = definitions[i];
    const size_t stored = es.store.size();
    Writer w(es.records);
    w.u8(kPrefixDefinition);
    write_record(word, false, false);
    if (at[i] >= 0) {
      const uint32_t index = static_cast<uint32_t>(at[i]);
      w.u8(kHeadPath);
      write_path(w, true, &index, 1);
    } else {
      write_value(value);
    }
    es.current = root_count;
    std::erase_if(es.nodes, [&](const auto& entry) { return entry.second.at >= stored; });
    es.store.resize(stored);
  }
  return assemble(root_count);
}

Cell encode(const Cell& value, bool compact) {
  std::vector<uint8_t> bytes = encode_bytes(value, compact);
  return binary::load(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

}  // namespace zem::zembin
