// The fast road of load-json: one pass over the text that builds the same values the grammar of
// json-loader-ctx builds (maps put with case, word keys where `to word!` takes the text, numbers
// through the lexer, escapes as json-loader-ctx/unescape rewrites them). Anything it does not
// finish (bad JSON, a broken surrogate pair, deep nesting) is left to the grammar, which reports
// it as load-json always has.
//
// No evaluation happens here, so no collection: the input's buffer stays where it is and the
// values made are safe until the result is handed back (rooted from then on by the caller).
#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/block.h"
#include "library/codec_text.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/string_storage.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/word.h"
#include "datatypes/float.h"
#include "datatypes/percent.h"
#include "datatypes/symbol.h"
#include "evaluator/dispatch.h"
#include "evaluator/lexer_loaders.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zem::library {

namespace {

// Below the depth at which the grammar's parse stack gives out, so that the two agree.
constexpr uint32_t kMaxDepth = 400;

struct Reader {
  const Cell* source;  // the input string
  const uint8_t* data;
  uint32_t unit;
  uint32_t pos, end;
  uint32_t depth = 0;
  std::string scratch;
  std::unordered_map<std::string, Cell> keys;

  uint32_t at(uint32_t i) const { return str::get_char(data + static_cast<size_t>(i) * unit, unit); }
  bool more() const { return pos < end; }
  uint32_t peek() const { return pos < end ? at(pos) : 0xFFFFFFFFu; }

  void skip_ws() {
    while (pos < end) {
      uint32_t c = at(pos);
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return;
      ++pos;
    }
  }
  bool literal(const char* word) {
    uint32_t p = pos;
    for (; *word; ++word, ++p)
      if (p >= end || at(p) != static_cast<uint8_t>(*word)) return false;
    pos = p;
    return true;
  }

  bool value(Cell& out);
  bool string(Cell& out, bool* plain_ascii);
  bool number(Cell& out);
  bool array(Cell& out);
  bool object(Cell& out);
};

int hex_digit(uint32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  return -1;
}

bool Reader::string(Cell& out, bool* plain_ascii) {
  // pos is at the opening quote
  ++pos;
  uint32_t start = pos;
  bool escapes = false, ascii = true;
  for (;;) {
    if (pos >= end) return false;
    uint32_t c = at(pos);
    if (c == '"') break;
    if (c < 0x20) return false;
    if (c >= 0x80) ascii = false;
    if (c == '\\') {
      escapes = true;
      if (++pos >= end) return false;
      uint32_t e = at(pos);
      if (e == 'u') {
        for (int k = 1; k <= 4; ++k)
          if (pos + k >= end || hex_digit(at(pos + k)) < 0) return false;
        pos += 4;
      } else if (e != '"' && e != '\\' && e != '/' && e != 'b' && e != 'f' && e != 'n' && e != 'r' && e != 't') {
        return false;
      }
    }
    ++pos;
  }
  uint32_t stop = pos++;
  if (plain_ascii) *plain_ascii = ascii && !escapes;
  out = str::make_string(stop - start);
  NodeId node = out.node();
  if (!escapes) {
    Cell piece = *source;
    piece.set_head_index(start);
    str::concatenate(out, piece, static_cast<int32_t>(stop - start), 0, false, str::ConcatMode::append);
    return true;
  }
  for (uint32_t i = start; i < stop;) {
    uint32_t c = at(i++);
    if (c == '\\') {
      uint32_t e = at(i++);
      switch (e) {
        case 'b': c = 0x08; break;
        case 'f': c = 0x0C; break;
        case 'n': c = 0x0A; break;
        case 'r': c = 0x0D; break;
        case 't': c = 0x09; break;
        case 'u': {
          c = 0;
          for (int k = 0; k < 4; ++k) c = c * 16 + static_cast<uint32_t>(hex_digit(at(i++)));
          if (c >= 0xD800 && c <= 0xDBFF) {
            // a broken pair raises invalid-data: the grammar's road does that
            if (stop - i < 6 || at(i) != '\\' || at(i + 1) != 'u') return false;
            uint32_t low = 0;
            for (int k = 0; k < 4; ++k) {
              int d = hex_digit(at(i + 2 + k));
              if (d < 0) return false;
              low = low * 16 + static_cast<uint32_t>(d);
            }
            if (low < 0xDC00 || low > 0xDFFF) return false;
            i += 6;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
          }
          break;
        }
        default: c = e;  // " \ /
      }
    }
    str::append_code_point(node, c);
  }
  return true;
}

bool Reader::number(Cell& out) {
  uint32_t start = pos;
  bool integral = true;
  if (peek() == '-') ++pos;
  uint32_t c = peek();
  if (c == '0') {
    ++pos;
  } else if (c >= '1' && c <= '9') {
    while (pos < end && at(pos) >= '0' && at(pos) <= '9') ++pos;
  } else {
    return false;
  }
  if (peek() == '.') {
    integral = false;
    ++pos;
    uint32_t digits = pos;
    while (pos < end && at(pos) >= '0' && at(pos) <= '9') ++pos;
    if (pos == digits) return false;
  }
  if (peek() == 'e' || peek() == 'E') {
    integral = false;
    ++pos;
    if (peek() == '+' || peek() == '-') ++pos;
    uint32_t digits = pos;
    while (pos < end && at(pos) >= '0' && at(pos) <= '9') ++pos;
    if (pos == digits) return false;
  }
  uint32_t n = pos - start;
  // Up to nine digits fit an integer! as they stand; everything else is the lexer's to read.
  if (integral && n <= 9 + (at(start) == '-')) {
    int32_t v = 0;
    for (uint32_t i = start + (at(start) == '-'); i < pos; ++i) v = v * 10 + static_cast<int32_t>(at(i) - '0');
    out = make_integer(at(start) == '-' ? -v : v);
    return true;
  }
  scratch.clear();
  for (uint32_t i = start; i < pos; ++i) scratch.push_back(static_cast<char>(at(i)));
  out = lexer::load_first(scratch);
  return out.is(TYPE_INTEGER) || out.is(TYPE_FLOAT);
}

bool Reader::array(Cell& out) {
  ++pos;
  if (++depth > kMaxDepth) return false;
  out = block::make(4);
  skip_ws();
  if (peek() == ']') {
    ++pos;
    --depth;
    return true;
  }
  for (;;) {
    Cell v;
    if (!value(v)) return false;
    block::append_cell(out, v);
    skip_ws();
    uint32_t c = peek();
    ++pos;
    if (c == ']') break;
    if (c != ',') return false;
  }
  --depth;
  return true;
}

// The characters a word key may not hold (and, with the digits and the apostrophe, not start with).
bool not_word_char(uint32_t c) {
  switch (c) {
    case '/': case '\\': case '^': case ',': case '[': case ']': case '(': case ')': case '{': case '}':
    case '"': case '#': case '%': case '$': case '@': case ':': case ';': case '\n': case 0xA0:
    case ' ': case '\t': case '\r': case '<': case '>':
      return true;
    default:
      return false;
  }
}

// A key that reads as one word is the word, as `to word!` makes it; any other stays a string.
// Keys repeat: the lexer's answer is kept by name for the call (a word cell holds no buffer).
Cell key_of(const Cell& text, bool plain_ascii, std::unordered_map<std::string, Cell>& seen) {
  uint32_t n = str::count_from_head(text);
  if (n == 0) return text;
  uint32_t first = str::code_point_at(text, 0);
  if (not_word_char(first) || (first >= '0' && first <= '9') || first == '\'') return text;
  for (uint32_t i = 1; i < n; ++i)
    if (not_word_char(str::code_point_at(text, i))) return text;
  std::string name = plain_ascii ? std::string() : str::to_std_string(text);
  if (plain_ascii)
    for (uint32_t i = 0; i < n; ++i) name.push_back(static_cast<char>(str::code_point_at(text, i)));
  auto found = seen.find(name);
  if (found == seen.end()) {
    Cell loaded = lexer::load_first(name);
    found = seen.emplace(name, word::is_any_word(loaded.type()) ? word::retyped(loaded, TYPE_WORD) : make_none()).first;
  }
  return found->second.is(TYPE_WORD) ? found->second : text;
}

bool Reader::object(Cell& out) {
  ++pos;
  if (++depth > kMaxDepth) return false;
  Cell pairs = block::make(8);
  skip_ws();
  if (peek() == '}') {
    ++pos;
  } else {
    for (;;) {
      skip_ws();
      if (peek() != '"') return false;
      Cell key;
      bool plain = false;
      if (!string(key, &plain)) return false;
      key = key_of(key, plain, keys);
      skip_ws();
      if (peek() != ':') return false;
      ++pos;
      Cell v;
      if (!value(v)) return false;
      block::append_cell(pairs, key);
      block::append_cell(pairs, v);
      skip_ws();
      uint32_t c = peek();
      ++pos;
      if (c == '}') break;
      if (c != ',') return false;
    }
  }
  out = map::make_empty(block::length(pairs) / 2);
  map::extend(out, pairs, true);
  --depth;
  return true;
}

bool Reader::value(Cell& out) {
  skip_ws();
  switch (peek()) {
    case '{': return object(out);
    case '[': return array(out);
    case '"': return string(out, nullptr);
    case 't':
      if (!literal("true")) return false;
      out = make_logic(true);
      return true;
    case 'f':
      if (!literal("false")) return false;
      out = make_logic(false);
      return true;
    case 'n':
      if (!literal("null")) return false;
      out = make_none();
      return true;
    default: return number(out);
  }
}

}  // namespace

// json-decode: a block holding the value of a whole JSON text, or none to leave it to the grammar.
const Cell* json_decode(Cell* args, uint32_t) {
  static Cell result;
  const Cell text = args[0];
  SeriesBuffer* b = series_buffer(text.node());
  Reader r{&text, b->head_ptr(), b->unit(), 0, b->length()};
  r.pos = text.head_index() < r.end ? text.head_index() : r.end;
  Cell v;
  bool ok = r.value(v);
  if (ok) {
    r.skip_ws();
    ok = !r.more();
  }
  if (!ok) return &shared_cells.none;
  result = block::make(1);
  block::append_cell(result, v);
  return &result;
}

}  // namespace zem::library

// ---- The fast road of to-json ---------------------------------------------------------------------

namespace zem::library {

namespace {

constexpr uint32_t kMaxWriteDepth = 4000;

// The text of to-json for the kinds of values JSON data is made of (what load-json gives, and
// percents); any other value leaves the whole call to json-emitter-ctx.
struct Writer {
  std::u32string out;
  const Cell* indent = nullptr;  // a string!, or null for compact output
  bool ascii = false;
  uint32_t level = 0;
  uint32_t depth = 0;

  void text(std::string_view s) {
    for (char c : s) out.push_back(static_cast<uint8_t>(c));
  }
  void hex4(uint32_t v) {
    static const char digits[] = "0123456789ABCDEF";
    text("\\u");
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(static_cast<uint8_t>(digits[(v >> shift) & 15]));
  }
  void code_point(uint32_t c) {
    switch (c) {
      case '"': text("\\\""); return;
      case '\\': text("\\\\"); return;
      case 0x08: text("\\b"); return;
      case 0x0C: text("\\f"); return;
      case 0x0A: text("\\n"); return;
      case 0x0D: text("\\r"); return;
      case 0x09: text("\\t"); return;
      default: break;
    }
    if (c >= 0x20 && (c < 0x80 || !ascii)) {
      out.push_back(c);
    } else if (c <= 0xFFFF) {
      hex4(c);
    } else {
      uint32_t n = c - 0x10000;
      hex4((n >> 10) + 0xD800);
      hex4((n & 1023) + 0xDC00);
    }
  }
  void string_value(const Cell& s) {
    out.push_back('"');
    uint32_t n = str::count_from_head(s);
    for (uint32_t i = 0; i < n; ++i) code_point(str::code_point_at(s, i));
    out.push_back('"');
  }
  void utf8_string(std::string_view s) {
    out.push_back('"');
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const auto* e = p + s.size();
    while (p < e) code_point(static_cast<uint32_t>(unicode::fast_decode_utf8_char(p, e)));
    out.push_back('"');
  }
  void new_line() {
    out.push_back('\n');
    for (uint32_t i = 0; i < level; ++i) {
      uint32_t n = str::count_from_head(*indent);
      for (uint32_t k = 0; k < n; ++k) out.push_back(str::code_point_at(*indent, k));
    }
  }
  bool number(double d) {
    std::string t = actions::mold_text(make_float(d));
    text(t.find('#') != std::string::npos ? "null" : t);
    return true;
  }
  bool value(const Cell& v);
  bool key(const Cell& k) {
    if (word::is_any_word(k.type())) {
      utf8_string(symbol::name(k.word_symbol()));
    } else if (k.is(TYPE_STRING)) {
      string_value(k);
    } else {
      utf8_string(actions::mold_text(k));
    }
    return true;
  }
};

bool Writer::value(const Cell& v) {
  switch (v.type()) {
    case TYPE_NONE: text("null"); return true;
    case TYPE_LOGIC: text(v.logic_value() ? "true" : "false"); return true;
    case TYPE_INTEGER: text(std::to_string(v.int_value())); return true;
    case TYPE_FLOAT: return number(v.float_value());
    case TYPE_PERCENT: return number(percent::get_float(v));
    case TYPE_STRING: string_value(v); return true;
    case TYPE_BLOCK: {
      uint32_t n = block::length(v);
      if (n == 0) {
        text("[]");
        return true;
      }
      if (++depth > kMaxWriteDepth) return false;
      out.push_back('[');
      if (indent) ++level;
      for (uint32_t i = 0; i < n; ++i) {
        if (i) out.push_back(',');
        if (indent) new_line();
        if (!value(*block::cell_at_index(v, v.head_index() + i))) return false;
      }
      if (indent) {
        --level;
        new_line();
      }
      out.push_back(']');
      --depth;
      return true;
    }
    case TYPE_MAP: {
      Cell body;
      map::body(v, body);
      uint32_t n = block::length(body) / 2;
      if (n == 0) {
        text("{}");
        return true;
      }
      if (++depth > kMaxWriteDepth) return false;
      out.push_back('{');
      if (indent) ++level;
      for (uint32_t i = 0; i < n; ++i) {
        if (i) out.push_back(',');
        if (indent) new_line();
        key(*block::cell_at_index(body, 2 * i));
        text(indent ? ": " : ":");
        if (!value(*block::cell_at_index(body, 2 * i + 1))) return false;
      }
      if (indent) {
        --level;
        new_line();
      }
      out.push_back('}');
      --depth;
      return true;
    }
    default: return false;
  }
}

}  // namespace

Cell make_text(const std::u32string& text) {
  uint32_t widest = 0;
  for (char32_t c : text) widest = std::max<uint32_t>(widest, c);
  uint32_t unit = widest < 0x80 ? 1 : widest <= 0xFFFF ? 2 : 4;
  Cell s{};
  str::init_with_unit(s, static_cast<uint32_t>(text.size()), unit);
  SeriesBuffer* b = series_buffer(s.node());
  if (b->room() < text.size() * unit) b = str::reserve_bytes(s.node(), text.size() * unit);
  uint8_t* p = b->head_ptr();
  for (size_t i = 0; i < text.size(); ++i) str::put_char(p + i * unit, unit, text[i]);
  b->set_length(static_cast<uint32_t>(text.size()));
  return s;
}

// json-encode data indent ascii?: the JSON text of the data, or none to leave it to
// json-emitter-ctx.
const Cell* json_encode(Cell* args, uint32_t) {
  static Cell result;
  Writer w;
  if (args[1].is(TYPE_STRING)) w.indent = &args[1];
  w.ascii = is_true(args[2]);
  if (!w.value(args[0])) return &shared_cells.none;
  result = make_text(w.out);
  return &result;
}

}  // namespace zem::library
