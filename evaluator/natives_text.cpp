// Text natives and the loading of script text into bound blocks.
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/context.h"
#include "datatypes/string_storage.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"

namespace zem::natives {

namespace {

// Adds every word of the block (deep) to the global context, so that binding finds them all.
void add_words_to_global(const Cell& block) {
  PointerStackGuard guard(block.node());
  for (uint32_t i = block.head_index(); i < series_tail(block); ++i) {
    const Cell v = *block::cell_at_index(block, i);
    if (v.type() >= TYPE_WORD && v.type() <= TYPE_REFINEMENT) {
      context::add_symbol(context::global(), v.data2);
    } else if (block::is_block_kind(v.type()) || block::is_path_kind(v.type())) {
      if (!ptrstack::contains(v.node())) add_words_to_global(v);
    }
  }
}

Cell bound(const Cell& block) {
  stack::push_value(block);  // rooted while words are added
  add_words_to_global(block);
  context::bind_block(block, context::global(), false);
  stack::drop_values(1);
  return block;
}

}  // namespace

Cell load_utf8(std::string_view text) {
  Cell out{};
  uint32_t consumed = 0;
  lexer::scan_buffer(&out, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                     lexer::ScanMode{}, &consumed, nullptr, nullptr, nullptr);
  return bound(out);
}

Cell load_text(const Cell& text) {
  Cell out{};
  uint32_t consumed = 0;
  lexer::transcode_string(&out, text, -1, lexer::ScanMode{}, &consumed, nullptr, nullptr);
  return bound(out);
}

}  // namespace zem::natives

namespace zem {

namespace {
uint32_t answer(const Cell& v) {
  stack::set_single_result(v);
  return EXIT_NONE;
}
}  // namespace

// transcode: the lexer over a string! or binary! from its position.
uint32_t native_transcode(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_transcode, r);
  enum { NEXT, ONE, PRESCAN, SCAN, PART, INTO, TRACE };
  if (r[TRACE] >= 0) natives::fire_not_done(NATIVE_transcode);
  Cell src = *stack::arg(0);
  uint32_t tail = natives::series_tail(src);
  if (src.data1 > tail) src.data1 = tail;
  if (src.is(TYPE_BINARY) && tail - src.data1 >= 3) {
    const uint8_t* p = series_buffer(src.node())->head_ptr() + src.data1;
    if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) src.data1 += 3;
  }
  int32_t count = -1;
  if (r[PART] >= 0) {
    const Cell& part = *stack::arg(static_cast<uint32_t>(r[PART]));
    if (part.is(TYPE_INTEGER)) {
      count = part.int_value();
    } else {
      if (part.type() != src.type() || part.node() != src.node()) {
        Cell a = datatype_cell(src.type()), b = datatype_cell(part.type());
        fire(Err::script_not_same_type, &a, &b);
      }
      count = static_cast<int32_t>(part.data1) - static_cast<int32_t>(src.data1);
    }
    if (count < 0) count = 0;
  }
  bool scan_only = r[PRESCAN] >= 0 || r[SCAN] >= 0;
  lexer::ScanMode mode;
  mode.one_value = r[NEXT] >= 0 || r[ONE] >= 0;
  mode.full_scan = r[PRESCAN] < 0;
  mode.wrap = !scan_only;
  Cell* into = r[INTO] >= 0 ? stack::arg(static_cast<uint32_t>(r[INTO])) : nullptr;
  Cell out = make_unset();
  uint32_t consumed = 0;
  stack::push_value(src);
  Cell* out_cell = stack::push_value(out);  // rooted while the lexer fills it
  TypeId t = src.is(TYPE_STRING)
                 ? lexer::transcode_string(out_cell, src, count, mode, &consumed, nullptr, nullptr)
                 : lexer::transcode_binary(out_cell, src, count, mode, &consumed, nullptr, nullptr);
  out = *out_cell;
  if (into && !scan_only) {
    // The loaded values (or the one value) join the target block at its tail.
    if (mode.one_value || !out.is(TYPE_BLOCK)) {
      block::append_cell(*into, out);
    } else {
      block::append_cells_from(*into, out);
    }
  }
  if (scan_only) {
    uint32_t left = natives::series_tail(src) - src.data1;
    if (left == 0 || count == 0 || t == TYPE_NONE_ID) return answer(make_none());
    return answer(datatype_cell(t));
  }
  if (r[NEXT] >= 0) {
    Cell rest = src;
    rest.data1 += consumed;
    Cell pair = block::make(2);
    block::append_cell(pair, out);
    block::append_cell(pair, rest);
    out = pair;
  }
  return answer(into ? *stack::arg(static_cast<uint32_t>(r[INTO])) : out);
}

}  // namespace zem
