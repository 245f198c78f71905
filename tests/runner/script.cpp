// zem-run: evaluating whole scripts and checking the case lines of table scripts.
#include "tests/runner/script.h"

#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <optional>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/string_storage.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/symbol.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"

namespace zem::runner {

namespace {

struct Outcome {
  bool failed = false;  // an error, or an exit no catcher stopped
  Err error{};
  std::string message;  // the "*** " text of a failure
  Cell value{};
};

// Evaluates a loaded block under a try frame.
Outcome evaluate(const Cell& code) {
  Outcome out;
  stack::reset();
  clear_pending_exit();
  stack::push_value(code);  // rooted
  uint32_t frame = stack::depth();
  stack::push_try_frame(make_word_cell(symbol::intern("zem-run"), 0));
  uint32_t st = EXIT_NONE;
  try {
    st = interp::eval_block(code, true);
  } catch (const Unwind& u) {
    st = u.code;
  }
  if (st == EXIT_NONE) {
    out.value = *stack::base();
    return out;
  }
  out.failed = true;
  PendingExit& p = pending_exit();
  out.error = p.error;
  switch (st) {
    case EXIT_BREAK: out.error = Err::throw_break; break;
    case EXIT_CONTINUE: out.error = Err::throw_continue; break;
    case EXIT_RETURN:
    case EXIT_EXIT: out.error = Err::throw_return; break;
    case EXIT_THROW: out.error = Err::throw_throw; break;
    default: break;
  }
  out.message = stack::uncaught_message();
  (void)frame;
  clear_pending_exit();
  stack::reset();
  return out;
}

// Loads text; a syntax error is an outcome of its own.
std::optional<Cell> load(std::string_view text, Outcome& failure) {
  try {
    return natives::load_utf8(text);
  } catch (const Unwind&) {
    failure.failed = true;
    failure.error = pending_exit().error;
    failure.message = stack::uncaught_message();
    clear_pending_exit();
    stack::reset();
    return std::nullopt;
  }
}

void say(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string error_words(Err e) {
  uint32_t code = static_cast<uint32_t>(e);
  return std::string(error_category(error_category_of(e)).word) + " " +
         std::string(error_id_word(code));
}

// The marker of a case line outside strings and braces: the position of ";==" or ";**".
size_t find_marker(std::string_view line) {
  bool in_string = false;
  int braces = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (in_string) {
      if (c == '^') ++i;
      else if (c == '"') in_string = false;
    } else if (braces > 0) {
      if (c == '^') ++i;
      else if (c == '{') ++braces;
      else if (c == '}') --braces;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{') {
      ++braces;
    } else if (c == ';') {
      if (line.substr(i, 3) == ";==" || line.substr(i, 3) == ";**") return i;
      return std::string_view::npos;  // a plain comment
    }
  }
  return std::string_view::npos;
}

// One line of standard input without its line end, read a byte at a time so that nothing past
// it is taken from the stream; none at the end of input.
const Cell* read_stdin_line(Cell*, uint32_t) {
  static Cell result;
  std::string line;
  bool any = false;
  for (;;) {
    char c;
    ssize_t n = ::read(0, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    any = true;
    if (c == '\n') break;
    line += c;
  }
  if (!any) return &shared_cells.none;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  result = str::make_from_utf8(line);
  return &result;
}

// The console's `ask` and `halt`, as far as a run without the console has them: the prompt goes
// to standard output, the line comes from standard input; `halt` ends the run quietly.
constexpr std::string_view kConsoleWords = R"(
ask: func [
	[no-trace]
	"Prompt the user for input"
	question [string! block!]
	/local traced line
][
	prin either block? question [reduce question][question]
	traced: tracing?
	trace off
	line: read-line*
	trace traced
	line
]
halt: func [[no-trace] "Stops evaluation and returns to the input prompt"][
	throw/name 'halt-request 'console
]
)";

void define_console_words() {
  static int32_t index = -1;
  if (index < 0) index = static_cast<int32_t>(native::add_routine("zem-run-read-line", &read_stdin_line));
  Outcome failure;
  std::optional<Cell> spec = load("return: [string! none!]", failure);
  std::optional<Cell> code = spec ? load(std::string(kConsoleWords), failure) : std::nullopt;
  if (!code) return;
  stack::push_value(*code);  // rooted while the routine is made
  Cell routine = function::make_routine(*spec, index, -1, true);
  // The routine is reached through the body of `ask` only.
  Cell rebound = *code;
  for (uint32_t i = rebound.head_index(); i < natives::series_tail(rebound); ++i) {
    Cell* v = block::cell_at_index(rebound, i);
    if (v->is(TYPE_BLOCK)) {
      for (uint32_t k = v->head_index(); k < natives::series_tail(*v); ++k) {
        Cell* w = block::cell_at_index(*v, k);
        if (w->is(TYPE_WORD) && symbol::name(w->word_symbol()) == "read-line*") *w = routine;
      }
    }
  }
  evaluate(rebound);
}

}  // namespace

void prepare() {
  natives::define_words();
  // The logic and none words, until the boot library defines them.
  const struct {
    const char* name;
    Cell value;
  } words[] = {{"true", make_logic(true)}, {"false", make_logic(false)}, {"none", make_none()}};
  for (const auto& w : words)
    context::set_or_add_word(context::global(), make_word_cell(symbol::intern(w.name), 0), w.value);
  define_console_words();
}

int run_script(const std::string& source) {
  Outcome failure;
  std::optional<Cell> code = load(source, failure);
  if (code) {
    // The header: the word Zem and its block.
    Cell c = *code;
    if (natives::series_tail(c) >= 2) {
      const Cell& first = *block::cell_at_index(c, 0);
      if (first.is(TYPE_WORD) && symbol::name(first.word_symbol()) == "Zem" &&
          block::cell_at_index(c, 1)->is(TYPE_BLOCK))
        c.set_head_index(2);
    }
    // The script's directives and macros are expanded before it runs.
    stack::push_value(c);  // rooted while the call is loaded
    std::optional<Cell> call = load("expand-directives none", failure);
    if (call) {
      *block::cell_at_index(*call, 1) = c;
      failure = evaluate(*call);
      // `halt` (the throw named console) ends the script quietly, as the console's prompt would.
      std::optional<Cell> run;
      if (!failure.failed) run = load("catch/name none 'console", failure);
      if (run) {
        *block::cell_at_index(*run, 1) = c;
        failure = evaluate(*run);
      }
    }
  }
  if (!failure.failed) return 0;
  say(2, failure.message + "\n");
  return -2;
}

int run_check(const std::string& file, const std::string& source) {
  int failures = 0;
  size_t line_no = 0;
  size_t pos = 0;
  while (pos <= source.size()) {
    size_t eol = source.find('\n', pos);
    if (eol == std::string::npos) eol = source.size();
    std::string_view line(source.data() + pos, eol - pos);
    pos = eol + 1;
    ++line_no;
    size_t marker = find_marker(line);
    std::string_view expr = trim(marker == std::string_view::npos ? line : line.substr(0, marker));
    if (expr.empty() || expr.front() == ';') continue;
    if (line_no == 1 && expr.substr(0, 3) == "Zem") continue;  // the header line
    std::string where = file + ":" + std::to_string(line_no) + ": ";
    Outcome got;
    if (std::optional<Cell> code = load(expr, got)) got = evaluate(*code);
    std::string result;
    if (got.failed) {
      result = "error " + error_words(got.error);
    } else {
      try {
        result = actions::mold_text(got.value);
      } catch (const Unwind&) {
        result = "(cannot mold: " + stack::uncaught_message() + ")";
        clear_pending_exit();
        stack::reset();
      }
    }
    if (marker == std::string_view::npos) {
      if (got.failed) {
        say(1, where + std::string(expr) + "\n    raised " + got.message + "\n");
        ++failures;
      }
      continue;
    }
    std::string_view want = trim(line.substr(marker + 3));
    bool error_wanted = line[marker + 1] == '*';
    std::string expected = error_wanted ? "error " + std::string(want) : std::string(want);
    if (result != expected) {
      say(1, where + std::string(expr) + "\n    expected: " + expected + "\n    got:      " +
                 result + (got.failed ? " (" + got.message + ")" : "") + "\n");
      ++failures;
    }
  }
  if (failures) say(1, std::to_string(failures) + " failing case(s) in " + file + "\n");
  return failures ? 1 : 0;
}

}  // namespace zem::runner
