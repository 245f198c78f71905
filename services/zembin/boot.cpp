// The boot image: boot-mode decoding into the root block and the writer of the image (see boot.h).
#include "services/zembin/boot.h"

#include <unistd.h>

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/fixed_words.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/startup.h"
#include "services/lz77.h"
#include "services/zembin/decoder.h"
#include "services/zembin/encoder.h"
#include "services/zembin/format.h"

namespace zem::zembin {

namespace {

[[noreturn]] void boot_fault(const std::string& message) {
  const std::string line = message + "\n";
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(2, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  runtime_exit(kBootFaultStatus);
}

// Boot mode: every fault ends the process; definitions set their words; words and objects keep
// what only the build could know (root indexes, class ids).
class BootDecoder : public Decoder {
 public:
  explicit BootDecoder(uint32_t base) : Decoder(Mode::boot), base_(base) { path_base_ = base; }

 protected:
  [[noreturn]] void fault(size_t offset) override {
    boot_fault("*** boot: the boot image is damaged: invalid record at byte " + std::to_string(offset));
  }

  uint32_t object_class(int32_t stored) override { return static_cast<uint32_t>(stored); }

  // As start-up binds the scanned sources: a case variant shares the slot of the word first added.
  // The slot of each symbol is kept: most words of the library are met many times.
  Cell global_word(uint32_t sym) override {
    const NodeId g = context::global();
    if (sym >= global_slots_.size()) global_slots_.resize(sym + 256, -1);
    int32_t& slot = global_slots_[sym];
    if (slot < 0) slot = context::add_symbol(g, sym);
    return context::word_cell(TYPE_WORD, g, sym, slot);
  }
  // The context held by root (base + index): an object's, a function's, or a bound word's.
  NodeId root_context(Reader& r, const Head& h, uint32_t index) override {
    if (index >= series_length(dest_) - base_) fault(h.at);
    const Cell root = block_head(dest_)[base_ + index];
    NodeId ctx = 0;
    if (root.is(TYPE_OBJECT)) ctx = root.object_context();
    else if (root.is(TYPE_FUNCTION)) ctx = root.fn_context();
    else if (block::is_word_kind(root.type())) ctx = root.word_context();
    if (!ctx) fault(h.at);
    return ctx;
  }

  bool boot_record(Reader& r, const Head& h, NodeId into) override {
    switch (h.type) {
      case TYPE_CONTEXT: context_root(r, h, into); return true;
      case TYPE_WORD:
      case TYPE_SET_WORD:
      case TYPE_LIT_WORD:
      case TYPE_GET_WORD:
      case TYPE_REFINEMENT:
        if (!h.variant || h.reference) return false;
        bound_word(r, h, into);
        return true;
      case TYPE_OBJECT: return object(r, h, into);
      case TYPE_FUNCTION:
        if (!h.variant || h.reference) return false;
        function(r, h, into);
        return true;
      case TYPE_ROUTINE: routine(r, h, into); return true;
      case TYPE_NATIVE:
      case TYPE_ACTION: entry(r, h, into); return true;
      case TYPE_HANDLE:
        if (h.reference || h.variant) fault(h.at);
        block::append_cell(into, handle::null_handle());
        return true;
      default: return false;
    }
  }

 private:
  // A context root: flags, words with their set marks; an object of class -1 holds it until the
  // record of its owner comes.
  void context_root(Reader& r, const Head& h, NodeId into) {
    const uint8_t flags = *bytes(r, 1);
    const uint32_t kind = flags & kContextKindBits;
    const bool on_stack = (flags & kContextFunction) != 0;
    if (kind == CONTEXT_GLOBAL || (kind == CONTEXT_FUNCTION) != on_stack || (flags & kContextValues)) fault(h.at);
    const uint32_t m = bounded(r, 1);
    const NodeId ctx = context::allocate(m, on_stack, (flags & kContextSelfBound) != 0, 0,
                                         static_cast<ContextKind>(kind));
    for (uint32_t i = 0; i < m; ++i) {
      const size_t at = r.offset();
      const uint32_t field = count(r);
      const uint32_t sym = symbol_id(field >> 1, at);
      if (context::find_symbol_index(ctx, sym, true) >= 0) fault(at);
      const int32_t slot = context::add_symbol(ctx, sym);
      if (field & 1) context::word_at(ctx, static_cast<uint32_t>(slot))->set_flag(kWordSetMark, true);
    }
    block::append_cell(into, object::from_context(ctx, 0xFFFFFFFFu));
  }

  // A context part written by reference: C1, the context! header, root index + 1 (0: global).
  // Answers 0 when the record carries its context inline instead.
  NodeId context_by_root(Reader& r, const Head& h, bool function) {
    uint8_t b;
    if (!r.peek(b) || b != kPrefixReference) return 0;
    r.skip(1);
    if (*bytes(r, 1) != typed_head(TYPE_CONTEXT, false)) fault(r.offset() - 1);
    const uint32_t ref = count(r);
    if (ref == 0) {
      if (function) fault(h.at);
      return context::global();
    }
    const NodeId ctx = root_context(r, h, ref - 1);
    if (context::on_stack(ctx) != function) fault(h.at);
    return ctx;
  }

  void bound_word(Reader& r, const Head& h, NodeId into) {
    const TypeId t = static_cast<TypeId>(h.type);
    const uint32_t sym = symbol(r);
    const size_t at = r.offset();
    const int32_t index = sfield(r);
    if (index == kUnboundWordIndex || index == kFreshGlobalWordIndex) {
      block::append_cell(into, context::word_cell(t, index == kUnboundWordIndex ? 0 : context::global(), sym, -1));
      return;
    }
    const NodeId ctx = root_context(r, h, count(r));
    // `self` bound to its context without a slot stands for the context's owner.
    if (index == -1 && symbol::canonical_id(sym) == symbol::canonical_id(fixed.sym.self) &&
        context::find_symbol_index(ctx, sym, true) < 0) {
      block::append_cell(into, context::word_cell(t, ctx, sym, -1));
      return;
    }
    block::append_cell(into, context::word_cell(t, ctx, sym, checked_index(ctx, sym, index, at)));
  }

  bool object(Reader& r, const Head& h, NodeId into) {
    if (h.reference) return false;
    const Reader start = r;
    const int32_t class_id = sfield(r);
    if (h.variant) {
      sfield(r);  // the handlers' places come from the fields themselves
      sfield(r);
    }
    const NodeId ctx = context_by_root(r, h, false);
    if (!ctx) {
      r = start;
      return false;
    }
    const Cell obj = object::from_context(ctx, static_cast<uint32_t>(class_id));
    const uint32_t slot = series_length(into);
    block::append_cell(into, obj);
    if (ctx != context::global()) {
      const NodeId values = context::values_block(ctx);
      const uint32_t m = context::word_count(ctx);
      block::truncate_at(values, 0);
      for (uint32_t i = 0; i < m; ++i) value(r, values);
    }
    if (h.variant) {
      for (const Cell* w : {&fixed.word.on_change_star, &fixed.word.on_deep_change_star}) {
        const int32_t i = object::field_index(obj, w->word_symbol());
        if (i >= 0 && !context::values(ctx)[i].is(TYPE_FUNCTION)) fault(h.at);
      }
      Cell built = obj;
      object::build_change_record(built);
      block_head(into)[slot] = built;
    }
    return true;
  }

  // Lengths, flags, the context by root, the spec and the body (each a block or a reference).
  void function(Reader& r, const Head& h, NodeId into) {
    const uint32_t spec_len = bounded(r, 1);
    const uint32_t body_len = bounded(r, 1);
    const uint32_t flags = count(r);
    const NodeId ctx = context_by_root(r, h, true);
    if (!ctx || flags & (kTypeMask | kNewLineFlag | kOpSourceMask)) fault(h.at);
    NodeId spec = alloc::make_cells(std::max<uint32_t>(spec_len, 1));
    const uint32_t slot = series_length(into);
    block::append_cell(into, block::value_of(spec));
    spec_or_body(r, spec, &spec);
    const NodeId body = alloc::make_cells(std::max<uint32_t>(body_len, 1));
    const Cell fn = function::assemble(ctx, spec, block::value_of(body), flags);
    block_head(into)[slot] = fn;
    NodeId shared_body = body;
    spec_or_body(r, body, &shared_body);
    if (shared_body != body) block_head(fn.fn_more())[MORE_BODY] = block::value_of(shared_body);
  }

  // Flags, the registry entry's name, result kind + 1, the spec: bound through the boot-only
  // constructor, as the library's boot-routine binds it.
  void routine(Reader& r, const Head& h, NodeId into) {
    if (h.reference || h.variant) fault(h.at);
    const uint32_t flags = count(r);
    const size_t name_at = r.offset();
    const std::string_view name = symbol::name(symbol(r));
    const int32_t result = static_cast<int32_t>(count(r)) - 1;
    int32_t index = -1;
    for (uint32_t i = 0; i < RoutineRegistry::kCapacity; ++i)
      if (routine_registry.names[i] && name == routine_registry.names[i]) index = static_cast<int32_t>(i);
    if (index < 0) fault(name_at);
    const uint32_t slot = series_length(into);
    NodeId spec = alloc::make_cells(1);
    block::append_cell(into, block::value_of(spec));
    spec_or_body(r, spec, &spec);
    Cell v = function::make_routine(block::value_of(spec), index, result, (flags & kRoutineCellConvention) != 0);
    stack::drop_values(1);
    v.set_flag(flags & ~(kTypeMask | kNewLineFlag | kOpSourceMask | kRoutineWordsMask), true);
    block_head(into)[slot] = v;
  }

  // Entry number, flags, then the runtime's own spec (0) or a spec record (1).
  void entry(Reader& r, const Head& h, NodeId into) {
    if (h.reference || h.variant) fault(h.at);
    const TypeId t = static_cast<TypeId>(h.type);
    const size_t at = r.offset();
    const uint32_t n = count(r);
    const uint32_t flags = count(r);
    NodeId own = 0;
    if (t == TYPE_NATIVE) {
      if (natives::entry(n)) own = natives::spec_block(n);
    } else if (n >= 1 && n <= static_cast<uint32_t>(kActionCount) && actions::entry(n)) {
      own = natives::action_spec_block(n);
    }
    if (!own || flags & (kTypeMask | kNewLineFlag | kOpSourceMask)) fault(at);
    const uint8_t written = *bytes(r, 1);
    if (written > 1) fault(r.offset() - 1);
    const uint32_t slot = series_length(into);
    NodeId spec = own;
    if (written) {
      spec = alloc::make_cells(1);
      block::append_cell(into, block::value_of(spec));
      spec_or_body(r, spec, &spec);
    } else {
      block::append_cell(into, block::value_of(spec));
    }
    const NodeId ctx = context::make_from_spec(block::value_of(spec), true, false, CONTEXT_FUNCTION);
    Cell v = native::make_value(t, n - 1, spec, ctx);
    v.set_flag(flags, true);
    if (t == TYPE_ACTION) actions_.push_back(v);
    block_head(into)[slot] = v;
  }

 public:
  // 0xC4: the word (bound in the global context, or with V=1 by root index), then its value,
  // which the word is set to with change notification; neither cell stays in the block.
  void definition(Reader& r, const Head& h, NodeId into) override {
    if (h.kind != HeadKind::typed || h.reference || body_of(h.type, compact_) != Body::word ||
        h.type == TYPE_ISSUE)
      fault(h.at);
    if (!compact_) fault(h.at);  // a record of the compact form only
    const uint32_t sym = symbol(r);
    NodeId ctx = context::global();
    int32_t index = -1;
    if (h.variant) {
      const size_t at = r.offset();
      int32_t stored;
      if (!r.zz(stored)) fault(r.offset());
      ctx = root_context(r, h, count(r));
      index = checked_index(ctx, sym, stored, at);
    }
    Cell word = ctx == context::global() ? global_word(sym) : context::word_cell(TYPE_WORD, ctx, sym, index);
    const uint32_t slot = series_length(into);
    value(r, into);
    if (series_length(into) != slot + 1) fault(h.at);
    const Cell v = block_head(into)[slot];
    context::set_in(word, v, word.word_context(), true);
    block::truncate_at(into, slot);
  }

 private:
  uint32_t base_;
  std::vector<int32_t> global_slots_;

 public:
  // The actions met: their shapes are taken once the words their specs name are defined.
  std::vector<Cell> actions_;  // by symbol id; -1 until met
};

}  // namespace

uint32_t boot_load(const uint8_t* data, size_t size) {
  if (size < kHeaderSize || !has_magic(data, size)) boot_fault("Error: Not a Zembin file!");
  std::vector<uint8_t> unpacked;
  if (data[7] & kFlagPacked) {
    std::vector<uint8_t> payload;
    if (!lz77::unpack(data + kHeaderSize, size - kHeaderSize, payload))
      boot_fault("Error: Zembin compressed data corrupted!");
    unpacked.assign(data, data + kHeaderSize);
    unpacked[7] &= static_cast<uint8_t>(~kFlagPacked);
    unpacked.insert(unpacked.end(), payload.begin(), payload.end());
    data = unpacked.data();
    size = unpacked.size();
  }
  const NodeId root = block::block_state.root;
  const uint32_t base = series_length(root);
  const bool collecting = gc::enabled();
  gc::set_enabled(false);
  try {
    BootDecoder decoder(base);
    decoder.run(data, size, root, nullptr);
    for (const Cell& action : decoder.actions_) native::learn_action_shape(action);
  } catch (const Unwind&) {
    const std::string why = stack::uncaught_message();
    clear_pending_exit();
    boot_fault("*** boot: the boot image holds a value this runtime cannot make\n" + why);
  }
  gc::set_enabled(collecting);
  return base;
}

std::vector<uint8_t> write_boot_image(std::span<const Cell> roots, std::span<const Definition> definitions,
                                      bool snapshot) {
  std::vector<std::pair<Cell, Cell>> defs;
  for (const Definition& d : definitions) defs.emplace_back(d.word, d.value);
  std::vector<uint8_t> out = encode_boot(roots, defs, snapshot);
  out[6] = kBootVersion;
  return out;
}

}  // namespace zem::zembin
