// Test support for the parse tests: the rule reader, parens and the mold of results.
#include "tests/unit/parse_fixture.h"

#include <cctype>
#include <vector>

#include "datatypes/char.h"
#include "datatypes/fixed_words.h"
#include "runtime/wiring.h"

namespace zem::testing {

std::map<std::string, std::function<Cell()>> ParseTest::parens;
std::function<bool(const Cell* args)> ParseTest::on_event;

namespace {

uint32_t eval_paren(const Cell& paren) {
  Cell first = *block::head_of(paren);
  std::string name(symbol::name(first.word_symbol()));
  auto it = ParseTest::parens.find(name);
  Cell v = it != ParseTest::parens.end() ? it->second() : make_unset();
  stack::push_value(v);
  return EXIT_NONE;
}

uint32_t call_callback(const Cell&, const Cell* args, uint32_t, bool& answer) {
  answer = ParseTest::on_event ? ParseTest::on_event(args) : true;
  return EXIT_NONE;
}

struct Reader {
  std::string_view s;
  size_t i = 0;

  void skip_space() {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) i++;
  }
  bool delimiter(char c) { return std::isspace(static_cast<unsigned char>(c)) || c == '[' || c == ']' || c == '(' || c == ')'; }

  // Reads values into the block until the closing character (0: end of text).
  void values(NodeId node, char close) {
    for (;;) {
      skip_space();
      if (i >= s.size()) return;
      char c = s[i];
      if (c == close) {
        i++;
        return;
      }
      block::append_cell(node, value());
    }
  }

  Cell value() {
    char c = s[i];
    if (c == '[' || c == '(') {
      i++;
      NodeId n = alloc::make_cells(8);
      values(n, c == '[' ? ']' : ')');
      return block::value_of(n, c == '[' ? TYPE_BLOCK : TYPE_PAREN);
    }
    if (c == '"') {
      size_t end = s.find('"', i + 1);
      Cell v = str::make_from_utf8(s.substr(i + 1, end - i - 1));
      i = end + 1;
      return v;
    }
    if (c == '<') {
      size_t end = s.find('>', i + 1);
      Cell v = str::make_from_utf8(s.substr(i + 1, end - i - 1), TYPE_TAG);
      i = end + 1;
      return v;
    }
    if (c == '#' && i + 1 < s.size() && s[i + 1] == '"') {
      Cell v = make_char(static_cast<unsigned char>(s[i + 2]));
      i += 4;
      return v;
    }
    size_t start = i;
    while (i < s.size() && !delimiter(s[i])) i++;
    std::string_view tok = s.substr(start, i - start);
    if (std::isdigit(static_cast<unsigned char>(tok[0])) || (tok[0] == '-' && tok.size() > 1)) {
      return make_integer(std::stoi(std::string(tok)));
    }
    TypeId t = TYPE_WORD;
    if (tok[0] == '\'') {
      t = TYPE_LIT_WORD;
      tok.remove_prefix(1);
    } else if (tok[0] == ':') {
      t = TYPE_GET_WORD;
      tok.remove_prefix(1);
    } else if (tok.size() > 1 && tok.back() == ':') {
      t = TYPE_SET_WORD;
      tok.remove_suffix(1);
    } else if (tok.find('/') != std::string_view::npos && tok.size() > 1) {
      NodeId n = alloc::make_cells(2);
      size_t slash = tok.find('/');
      block::append_cell(n, ParseTest::gword_of(tok.substr(0, slash)));
      block::append_cell(n, ParseTest::gword_of(tok.substr(slash + 1)));
      return block::value_of(n, TYPE_PATH);
    }
    return word::retyped(ParseTest::gword_of(tok), t);
  }
};

void mold_into(const Cell& v, std::string& out) {
  switch (v.type()) {
    case TYPE_BLOCK:
    case TYPE_PAREN: {
      out += v.is(TYPE_BLOCK) ? "[" : "(";
      uint32_t n = block::length(v);
      for (uint32_t k = 0; k < n; k++) {
        if (k) out += " ";
        mold_into(*block::cell_at_index(v, v.head_index() + k), out);
      }
      out += v.is(TYPE_BLOCK) ? "]" : ")";
      return;
    }
    case TYPE_STRING:
      out += "\"" + str::to_std_string(v) + "\"";
      return;
    case TYPE_TAG:
      out += "<" + str::to_std_string(v) + ">";
      return;
    case TYPE_CHAR:
      out += "#\"";
      out += static_cast<char>(v.char_value());
      out += "\"";
      return;
    case TYPE_INTEGER:
      out += std::to_string(v.int_value());
      return;
    case TYPE_LOGIC:
      out += v.logic_value() ? "true" : "false";
      return;
    case TYPE_NONE:
      out += "none";
      return;
    case TYPE_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_SET_WORD:
      if (v.is(TYPE_LIT_WORD)) out += "'";
      if (v.is(TYPE_GET_WORD)) out += ":";
      out += symbol::name(v.word_symbol());
      if (v.is(TYPE_SET_WORD)) out += ":";
      return;
    default:
      out += "?";
      out += std::string(type_name(v.type()));
  }
}

}  // namespace

Cell ParseTest::gword_of(std::string_view name) { return word::make_from_name(name); }

void ParseTest::SetUp() {
  init_through(StartLayer::evaluator);
  wiring.parse_eval_paren = &eval_paren;
  wiring.parse_call_callback = &call_callback;
  wiring.parse_count_locals = nullptr;
  parens.clear();
  on_event = nullptr;
}

void ParseTest::TearDown() {
  parens.clear();
  on_event = nullptr;
  ContextTest::TearDown();
}

Cell ParseTest::read(std::string_view text) {
  Reader r{text};
  NodeId n = alloc::make_cells(8);
  r.values(n, 0);
  return block::value_of(n);
}

Cell ParseTest::input_of(std::string_view text) {
  if (!text.empty() && text[0] == '"') return str::make_from_utf8(text.substr(1, text.size() - 2));
  if (!text.empty() && text[0] == '[') return read(text.substr(1, text.size() - 2));
  return read(text);
}

std::string ParseTest::mold(const Cell& value) {
  std::string out;
  mold_into(value, out);
  return out;
}

Cell ParseTest::gword(std::string_view name) { return gword_of(name); }

void ParseTest::set(std::string_view name, const Cell& value) {
  Cell w = gword(name);
  context::set_word_value(w, value);
}

Cell ParseTest::get(std::string_view name) { return word::get_any(gword(name)); }

std::string ParseTest::run(const Cell& input, std::string_view rules, int32_t mode, int32_t limit,
                           const Cell* callback) {
  stack::reset();
  stack::push_anon_frame(FRAME_NATIVE);
  Cell* in = stack::push_value(input);
  Cell* r = stack::push_value(input_of(rules));
  std::string out;
  try {
    out = mold(parse::run(*in, *r, mode, limit, callback));
  } catch (const Unwind& u) {
    out = u.code == EXIT_ERROR ? std::string(error_id_word(static_cast<uint32_t>(pending_exit().error)))
                               : "exit " + std::to_string(u.code);
    clear_pending_exit();
  }
  EXPECT_EQ(parse::input_depth(), 0u) << rules;
  EXPECT_EQ(parse::rule_depth(), 0u) << rules;
  return out;
}

}  // namespace zem::testing
