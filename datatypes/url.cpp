// url! and file!: registration over string!, percent-encoded mold, construction and path steps;
// file! reads, writes, queries, deletes and renames through the file service.
#include "datatypes/url.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/string_storage.h"
#include "datatypes/unset_none_logic.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "datatypes/word.h"
#include "services/http.h"
#include "services/os/files.h"

namespace zem::url {

bool in_strict_set(uint8_t b) {
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
         b == '.' || b == '_' || b == '~';
}

bool in_lax_set(uint8_t b) {
  if (b <= 0x20 || b >= 0x7F) return false;
  switch (b) {
    case '"': case '%': case ';': case '<': case '>': case '[': case '\\': case ']': case '^':
    case '`': case '{': case '|': case '}': case '(': case ')':
      return false;
    default:
      return true;
  }
}

int32_t percent_encode(std::string_view utf8, bool strict, TextOut& out, int32_t limit) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char ch : utf8) {
    if (limit < 1) break;
    auto b = static_cast<uint8_t>(ch);
    if (strict ? in_strict_set(b) : in_lax_set(b)) {
      out.append_code_point(b);
      --limit;
      continue;
    }
    const char triple[3] = {'%', kHex[b >> 4], kHex[b & 15]};
    int32_t n = std::min<int32_t>(3, limit);
    out.append_ascii(std::string_view(triple, size_t(n)));
    limit -= n;
  }
  return limit;
}

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte of the triple at i, or -1 when there is none.
int triple_at(std::string_view s, size_t i) {
  if (i + 3 > s.size() || s[i] != '%') return -1;
  int hi = hex_value(s[i + 1]), lo = hex_value(s[i + 2]);
  return hi < 0 || lo < 0 ? -1 : hi << 4 | lo;
}

}  // namespace

std::string percent_decode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    int b = triple_at(s, i);
    if (b < 0) {
      out.push_back(s[i++]);
      continue;
    }
    if (b < 0x80) {
      out.push_back(char(b));
      i += 3;
      continue;
    }
    // A multi-byte sequence: all of it must come as triples and decode as UTF-8.
    int need = unicode::utf8_seq_len(uint8_t(b));
    uint8_t seq[4] = {uint8_t(b)};
    bool whole = need >= 2 && need <= 4;
    for (int k = 1; whole && k < need; ++k) {
      int c = triple_at(s, i + 3 * size_t(k));
      if (c < 0x80 || c > 0xBF) whole = false;
      else seq[k] = uint8_t(c);
    }
    if (whole) {
      const uint8_t* p = seq;
      whole = unicode::fast_decode_utf8_char(p, seq + need) >= 0 && p == seq + need;
    }
    if (!whole) {
      out.push_back(s[i++]);  // the "%" taken literally
      continue;
    }
    out.append(reinterpret_cast<const char*>(seq), size_t(need));
    i += 3 * size_t(need);
  }
  return out;
}

std::string to_local_path(const Cell& file, bool full) {
  std::string path = str::to_std_string(file);
  if (full && (path.empty() || path[0] != '/')) {
    std::vector<char> buf(4096);
    while (!::getcwd(buf.data(), buf.size())) {
      if (errno != ERANGE) fire(Err::access_cannot_open, &file);
      buf.resize(buf.size() * 2);
    }
    std::string dir = buf.data();
    if (dir.empty() || dir.back() != '/') dir += '/';
    path.insert(0, dir);
  }
  return path;
}

namespace {

// The UTF-8 text of a string value from its head.
std::string utf8_of(const Cell& s) { return str::to_std_string(s); }

// ---- mold ----

int32_t mold_url(const Cell& value, TextOut& out, MoldFlags, const Cell* part, int32_t limit, int32_t) {
  // Without /part nothing stops the writing; the limit still drops by what was written.
  int32_t budget = part ? limit : kNoLimit;
  return limit - (budget - percent_encode(utf8_of(value), false, out, budget));
}

// A bare file name ends at these besides the characters outside the lax set: it needs quotes to
// load back whole.
bool file_needs_quotes(uint32_t cp) {
  return cp > 0x7F || !in_lax_set(uint8_t(cp)) || cp == ':' || cp == '@';
}

int32_t mold_file(const Cell& value, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                  int32_t) {
  uint32_t n = str::count_from_head(value);
  std::vector<uint32_t> text(n);  // copied first: the output may be the value's own buffer
  bool quote = n == 0;
  for (uint32_t i = 0; i < n; i++) {
    text[i] = str::code_point_at(value, i);
    quote |= file_needs_quotes(text[i]);
  }
  // Inside quotes the loader decodes escapes, so "^" and the control characters are written
  // escaped to load back as they were; a double quote would end the name, so it goes as "^(22)".
  StdStringOut body;
  body.append_ascii(quote ? "%\"" : "%");
  for (uint32_t cp : text) {
    if (quote && cp == '"') body.append_ascii("^(22)");
    else if (quote) strings::append_escaped_char(body, cp, flags.all);
    else body.append_code_point(cp);
  }
  if (quote) body.append_ascii("\"");
  const auto* p = reinterpret_cast<const uint8_t*>(body.text().data());
  const auto* e = p + body.text().size();
  while (p < e && (!part || limit >= 1)) {
    out.append_code_point(uint32_t(unicode::fast_decode_utf8_char(p, e)));
    --limit;
  }
  return limit;
}

// ---- make and to ----

Cell* answer(ActionCall& call, const Cell& value) {
  call.result() = value;
  return &call.result();
}

TypeId target_of(const Cell& c) { return c.is(TYPE_DATATYPE) ? c.datatype_id() : c.type(); }

bool is_block_spec(const Cell& c) { return c.is(TYPE_BLOCK) || c.is(TYPE_PAREN) || c.is(TYPE_HASH); }

// scheme://host[:port][/segment ...][#issue]
Cell url_from_block(TypeId type, const Cell& spec) {
  uint32_t count = block::length(spec);
  if (count == 0) {
    Cell t = datatype_cell(type);
    fire(Err::script_bad_to_arg, &t, &spec);
  }
  Cell result = str::make_string(32, type);
  NodeId node = result.node();
  auto element = [&](uint32_t i) { return *block::cell_at_index(spec, spec.head_index() + i); };
  strings::form_onto(node, element(0));
  str::append_ascii(node, "://");
  uint32_t i = 1;
  if (i < count) strings::form_onto(node, element(i++));
  if (i < count && element(i).is(TYPE_INTEGER)) {
    str::append_ascii(node, ":");
    strings::form_onto(node, element(i++));
  }
  for (; i < count; ++i) {
    Cell v = element(i);
    str::append_ascii(node, v.is(TYPE_ISSUE) ? "#" : "/");
    strings::form_onto(node, v);
  }
  return result;
}

Cell* make_url(ActionCall& call) {
  if (is_block_spec(call.arg(1))) return answer(call, url_from_block(target_of(call.arg(0)), call.arg(1)));
  return strings::make_handler(call);
}

Cell* to_url(ActionCall& call) {
  if (is_block_spec(call.arg(1))) return answer(call, url_from_block(target_of(call.arg(0)), call.arg(1)));
  return strings::to_handler(call);
}

// ---- path steps ----

// url/segment: a new value of the url's type with exactly one "/" between the url and the
// element's formed text.
Cell* path_url(PathStep& step) {
  if (step.set_value) fire(Err::script_bad_path_set, step.path, step.element);
  Cell base = *step.value;
  Cell element = *step.element;
  if (element.is(TYPE_GET_WORD)) element = *context::word_value_cell(element);
  Cell formed = str::make_string(16);
  strings::form_onto(formed.node(), element);
  uint32_t n = str::count_from_head(base);
  Cell result = str::make_string(n + 16, base.type());
  str::concatenate(result, base, -1, 0, true, str::ConcatMode::append);
  bool ends = n > 0 && str::code_point_at(base, n - 1) == '/';
  bool starts = str::count_from_head(formed) > 0 && str::code_point_at(formed, 0) == '/';
  if (ends && starts) formed.set_head_index(formed.head_index() + 1);
  else if (!ends && !starts) str::append_ascii(result.node(), "/");
  str::concatenate(result, formed, -1, 0, true, str::ConcatMode::append);
  *step.value = result;
  return step.value;
}

// ---- input and output, which the file and URL services provide ----

Cell* io_not_done(ActionCall& call) { fire_not_done(call.arg(0).type()); }

// file! read: /part 0, /seek 1, /binary 2, /lines 3 (/info and /as have no meaning for files).
Cell* read_file(ActionCall& call) {
  if (call.has(0) || call.has(1)) fire_not_done(TYPE_FILE);
  call.result() = files::read_file(call.arg(0), -1, -1, call.has(2), call.has(3));
  return &call.result();
}

// file! write: /binary 0, /lines 1, /append 3, /part 4, /seek 5.
Cell* write_file(ActionCall& call) {
  if (call.has(4) || call.has(5)) fire_not_done(TYPE_FILE);
  files::write(&call.arg(0), call.arg(1), nullptr, nullptr, call.has(0), call.has(3), call.has(1));
  call.result() = make_unset();
  return &call.result();
}

// Whether the url's text starts with "http" (http and https go to the HTTP service).
bool is_http(const Cell& url) {
  Cell text = url;
  int32_t length = 4;
  const char* head = unicode::string_to_utf8(text, &length);
  return length == 4 && strncasecmp(head, "http", 4) == 0;
}

// url! read: /part 0, /seek 1, /binary 2, /lines 3, /info 4.
Cell* read_url(ActionCall& call) {
  const Cell url = call.arg(0);
  if (!is_http(url) || call.has(0) || call.has(1)) fire_not_done(TYPE_URL);
  const Cell get = word::make_from_c_name("get");
  if (!http::request_url(get, url, make_none(), make_none(), call.has(2), call.has(3), call.has(4), call.result()))
    fire(Err::access_no_connect, &url);
  return &call.result();
}

// url! write: /binary 0, /lines 1, /info 2, /part 4, /seek 5. The data is sent with POST, or is a
// block of the method, the headers and the data.
Cell* write_url(ActionCall& call) {
  const Cell url = call.arg(0);
  if (!is_http(url) || call.has(4) || call.has(5)) fire_not_done(TYPE_URL);
  Cell method = word::make_from_c_name("post");
  Cell headers = make_none();
  Cell data = call.arg(1);
  if (data.is(TYPE_BLOCK)) {
    const Cell spec = data;
    const uint32_t n = block::length(spec);
    const Cell* cells = block::head_of(spec);
    if (n == 0 || !word::is_plain_kind(cells[0].type())) fire(Err::script_invalid_arg, &spec);
    method = cells[0];
    if (n > 1) headers = cells[1];
    data = n > 2 ? cells[2] : make_none();
    if (!headers.is(TYPE_BLOCK) && !headers.is(TYPE_NONE)) fire(Err::script_invalid_arg, &spec);
  }
  if (!http::request_url(method, url, headers, data, call.has(0), call.has(1), call.has(2), call.result()))
    fire(Err::access_no_connect, &url);
  return &call.result();
}

Cell* query_file(ActionCall& call) {
  call.result() = files::query_file(call.arg(0));
  return &call.result();
}

Cell* delete_file(ActionCall& call) {
  call.result() = make_logic(files::delete_file(call.arg(0)));
  return &call.result();
}

Cell* rename_file(ActionCall& call) {
  call.result() = make_logic(files::rename_file(call.arg(0), call.arg(1)));
  return &call.result();
}

}  // namespace

void register_url_type() {
  HandlerRow row(kInherit);
  row.set(ActionIndex::make, make_url)
      .set(ActionIndex::to, to_url)
      .set(ActionIndex::mold, &mold_url)
      .set(ActionIndex::eval_path, &path_url)
      .set(ActionIndex::open, io_not_done)
      .set(ActionIndex::read, read_url)
      .set(ActionIndex::write, write_url);
  register_type(TYPE_URL, TYPE_STRING, "url!", row);
}

void register_file_type() {
  HandlerRow row(kInherit);
  row.set(ActionIndex::mold, &mold_file)
      .set(ActionIndex::open, kEmpty)
      .set(ActionIndex::read, read_file)
      .set(ActionIndex::write, write_file)
      .set(ActionIndex::query, query_file)
      .set(ActionIndex::delete_, delete_file)
      .set(ActionIndex::rename, rename_file);
  register_type(TYPE_FILE, TYPE_URL, "file!", row);
}

}  // namespace zem::url
