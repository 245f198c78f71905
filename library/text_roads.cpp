// The one-pass roads of split and replace/all on text: the same searches and appends as their Zem
// definitions, without an evaluator step per piece.
//
// No evaluation happens here, so no collection: the values made stay where they are until the
// result is handed back, and buffer addresses are re-read through their nodes after each write.
#include <algorithm>
#include <cstdint>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_storage.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/parse_match.h"
#include "runtime/memory.h"

namespace zem::library {

// split-text series dlm: the pieces of the text between the delimiters, as parse finds them with
// `to dlm` (any character of a bitset, the character or the whole string; case folded), the rest
// after the last one, an empty piece when the text ends with a delimiter.
const Cell* split_text(Cell* args, uint32_t) {
  static Cell result;
  Cell input = args[0];
  const Cell dlm = args[1];
  const uint32_t tail = parse::input_tail(input);
  uint32_t pos = std::min(input.head_index(), tail);
  Cell pieces = block::make(16);
  parse::Found found{};
  for (;;) {
    input.set_head_index(pos);
    if (!parse::search_value(input, dlm, COMP_EQUAL, 0, found)) break;
    block::append_cell(pieces, series::copy_range(input, pos, found.at - pos));
    pos = found.at + found.length;
  }
  block::append_cell(pieces, series::copy_range(input, pos, tail - pos));
  result = pieces;
  return &result;
}

// replace-text out series pattern value size case: appends to `out` the series from its position
// with every match of `find` (`find/case` when `case` is set) changed, `size` units long, into what
// appending the value gives. Answers true, or none for a series or value it leaves to the Zem loop.
const Cell* replace_text(Cell* args, uint32_t) {
  Cell out = args[0];
  Cell series = args[1];
  const Cell pattern = args[2];
  const Cell value = args[3];
  const int64_t size = args[4].int_value();
  const TypeId t = series.type();
  const bool binary = t == TYPE_BINARY;
  if (!(binary || t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG ||
        t == TYPE_EMAIL) ||
      out.type() != t || size < 1)
    return &shared_cells.none;
  // Appending to text takes any value; bytes are taken only from values that always give them, so
  // an error is raised by the loop's own append, as the loop raises it.
  if (binary && !(value.is(TYPE_BINARY) || value.is(TYPE_CHAR) || str::is_text_type(value.type())))
    return &shared_cells.none;

  // Appends units [from, to) of the series' buffer to out.
  auto append_range = [&](uint32_t from, uint32_t to) {
    if (to <= from) return;
    if (binary) {
      binary::append_bytes(out, series_buffer(series.node())->head_ptr() + from, to - from);
    } else {
      Cell part = series;
      part.set_head_index(from);
      str::concatenate(out, part, static_cast<int32_t>(to - from), 0, true, str::ConcatMode::append);
    }
  };
  // What each match becomes: the value appended once to an empty series of out's kind, then copied.
  Cell piece{};
  auto append_piece = [&]() {
    if (piece.header == 0) {
      piece = series::copy_range(out, 0, 0);
      if (binary)
        binary::append_value(piece, value, -1, false, 1, true);
      else
        strings::append_text(piece, value, -1, 1);
    }
    if (binary) {
      SeriesBuffer* b = series_buffer(piece.node());
      binary::append_bytes(out, b->head_ptr(), b->length());
    } else {
      str::concatenate(out, piece, -1, 0, true, str::ConcatMode::append);
    }
  };

  const uint32_t tail = series::units_in_buffer(series.node());
  uint32_t pos = std::min(series.head_index(), tail);
  strings::find_each(series, pattern, is_true(args[5]), [&](uint32_t at) {
    append_range(pos, at);
    append_piece();
    pos = static_cast<uint32_t>(std::min<int64_t>(int64_t(at) + size, tail));
    return pos;
  });
  append_range(pos, tail);
  return &shared_cells.true_value;
}

}  // namespace zem::library
