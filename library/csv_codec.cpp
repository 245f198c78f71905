// The fast roads of load-csv and to-csv for plain tables: rows of text fields with one delimiter
// character. They give exactly what csv-ctx's grammar and encoders give; anything else (an error,
// misaligned rows, other refinements, fields that are not text or integers) is left to csv-ctx.
//
// No evaluation happens here, so no collection: buffers stay where they are and the values made
// are safe until the result is handed back.
#include <algorithm>
#include <cstdint>
#include <string>

#include "datatypes/block.h"
#include "library/codec_text.h"
#include "datatypes/string_storage.h"
#include "datatypes/unset_none_logic.h"
#include "runtime/memory.h"

namespace zem::library {

namespace {

struct Text {
  const Cell* source;
  const uint8_t* data;
  uint32_t unit, pos, end;
  uint32_t at(uint32_t i) const { return str::get_char(data + static_cast<size_t>(i) * unit, unit); }
};

}  // namespace

// csv-decode text delimiter quote other: unless `other` (refinements or settings beyond plain rows),
// the rows of the text, or none to leave it to the grammar.
const Cell* csv_decode(Cell* args, uint32_t) {
  static Cell result;
  const Cell text = args[0];
  if (is_true(args[3]) || !args[1].is(TYPE_CHAR) || !args[2].is(TYPE_CHAR)) return &shared_cells.none;
  const uint32_t delim = args[1].char_value(), quote = args[2].char_value();
  if (delim == quote || delim == '\n' || delim == '\r') return &shared_cells.none;
  SeriesBuffer* b = series_buffer(text.node());
  Text t{&text, b->head_ptr(), b->unit(), 0, b->length()};
  t.pos = std::min(text.head_index(), t.end);

  Cell rows = block::make(t.end / 80 + 1);
  Cell row = block::make(8);
  uint32_t longest = 0;
  auto end_row = [&]() {
    uint32_t n = block::length(row);
    if (longest == 0) longest = n;
    if (n != longest) return false;  // the grammar gives the error value
    block::append_cell(rows, row);
    row = block::make(n);
    return true;
  };
  while (t.pos < t.end) {
    // one field
    Cell field;
    uint32_t c = t.at(t.pos);
    if (c == quote) {
      field = str::make_string(16);
      uint32_t p = t.pos + 1;
      for (;;) {
        if (p >= t.end) return &shared_cells.none;  // unterminated
        uint32_t d = t.at(p);
        if (d == quote) {
          if (p + 1 < t.end && t.at(p + 1) == quote) {
            str::append_code_point(field.node(), quote);
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        str::append_code_point(field.node(), d);
        ++p;
      }
      t.pos = p;
      if (t.pos < t.end) {
        uint32_t d = t.at(t.pos);
        if (d != delim && d != '\n' && d != '\r') return &shared_cells.none;
      }
    } else {
      uint32_t start = t.pos;
      while (t.pos < t.end) {
        uint32_t d = t.at(t.pos);
        if (d == delim || d == '\n' || d == '\r') break;
        ++t.pos;
      }
      field = str::make_string(t.pos - start);
      Cell piece = text;
      piece.set_head_index(start);
      str::concatenate(field, piece, static_cast<int32_t>(t.pos - start), 0, false, str::ConcatMode::append);
    }
    block::append_cell(row, field);
    if (t.pos >= t.end) {
      if (!end_row()) return &shared_cells.none;
      break;
    }
    uint32_t d = t.at(t.pos++);
    if (d == delim) {
      if (t.pos >= t.end) {  // a delimiter at the very end: one more empty field
        block::append_cell(row, str::make_string(0));
        if (!end_row()) return &shared_cells.none;
      }
      continue;
    }
    if (d == '\r' && t.pos < t.end && t.at(t.pos) == '\n') ++t.pos;
    if (!end_row()) return &shared_cells.none;
  }
  result = rows;
  return &result;
}

// csv-encode data delimiter quote: the CSV text of a block of equally long blocks of strings and
// integers, or none to leave it to csv-ctx's encoders. A field is quoted when it holds a space, a
// line end, the quote character or the delimiter; its quote characters are doubled.
const Cell* csv_encode(Cell* args, uint32_t) {
  static Cell result;
  const Cell data = args[0];
  if (!data.is(TYPE_BLOCK) || !args[1].is(TYPE_CHAR) || !args[2].is(TYPE_CHAR)) return &shared_cells.none;
  const uint32_t delim = args[1].char_value(), quote = args[2].char_value();
  uint32_t n = block::length(data);
  if (n == 0) return &shared_cells.none;
  const Cell first = *block::cell_at_index(data, data.head_index());
  if (!first.is(TYPE_BLOCK)) return &shared_cells.none;
  const uint32_t width = block::length(first);
  if (width == 0) return &shared_cells.none;
  std::u32string out, field;
  for (uint32_t r = 0; r < n; ++r) {
    const Cell rec = *block::cell_at_index(data, data.head_index() + r);
    if (!rec.is(TYPE_BLOCK) || block::length(rec) != width) return &shared_cells.none;
    for (uint32_t i = 0; i < width; ++i) {
      const Cell f = *block::cell_at_index(rec, rec.head_index() + i);
      size_t at = out.size();
      bool quoted = false;
      field.clear();
      if (f.is(TYPE_STRING)) {
        uint32_t len = str::count_from_head(f);
        for (uint32_t k = 0; k < len; ++k) field.push_back(str::code_point_at(f, k));
      } else if (f.is(TYPE_INTEGER)) {
        for (char c : std::to_string(f.int_value())) field.push_back(static_cast<uint8_t>(c));
      } else {
        return &shared_cells.none;
      }
      for (char32_t c : field) {
        if (c == quote) {
          out.push_back(c);
          quoted = true;
        } else if (c == ' ' || c == '\n' || c == '\r' || c == delim) {
          quoted = true;
        }
        out.push_back(c);
      }
      if (quoted) {
        out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), quote);
        out.push_back(quote);
      }
      out.push_back(i + 1 < width ? delim : U'\n');
    }
  }
  result = make_text(out);
  return &result;
}

}  // namespace zem::library
