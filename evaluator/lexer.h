// The lexer: UTF-8 source text into tokens and, with the token loaders installed, into values.
//
// A table-driven automaton finds where each token ends and what kind it is; structural scanners
// (containers, paths, strings, construction literals) run once per token; per-kind loaders build the
// values. Scans nest (a callback or a loader may scan again): every running scan has a `State` on
// one chain, and all of them share one output buffer of cells in which containers are built in place
// behind marker cells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "evaluator/lexer_tables.h"
#include "runtime/cell.h"
#include "runtime/error.h"

namespace zem::lexer {

// Event bits of the callback's mask.
enum Event : uint32_t {
  EV_PRESCAN = 1,
  EV_SCAN = 2,
  EV_LOAD = 4,
  EV_OPEN = 8,
  EV_CLOSE = 16,
  EV_ERROR = 32,
};

struct State;

struct EventInfo {
  Event event;
  uint8_t kind;           // token kind
  TypeId type;            // datatype of the token or container; error! for the error event
  uint32_t line;          // line of the token, from 1
  uint32_t start, end;    // byte offsets of the token in the input, end exclusive
  const Cell* value;      // the new value for EV_LOAD, else null
  uint32_t cursor;        // byte offset of the input position the callback sees; it may move it
};

// Receives lexer events and the token stream. The language-level callback plugs in through this
// interface; C++ users (tests, tools) observe the scan directly.
class Observer {
 public:
  virtual ~Observer() = default;
  // Events asked for, as a set of `Event` bits.
  virtual uint32_t mask() const = 0;
  // Answers false to skip the token (prescan), not to load it (scan), to drop the value (load), to
  // skip the opening or closing (open, close) or to pass over a syntax error (error): the scan then
  // goes on from the cursor, which is at least one character past the start of the bad token.
  virtual bool on_event(State& st, EventInfo& ev) = 0;
};

// Syntax errors, with everything the error value is made of.
enum class ErrorKind : uint8_t { invalid, bad_char, malconstruct, missing };

struct SyntaxError {
  ErrorKind kind = ErrorKind::invalid;
  TypeId type = TYPE_NONE_ID;  // the datatype named by an invalid error
  uint32_t line = 0;
  char expected = 0;           // the closer a missing error asks for
  std::string near;            // up to 30 bytes of the offending text
  uint32_t offset = 0;         // byte offset of the near text in the input

  Err id() const;
  std::string position() const { return "(line " + std::to_string(line) + ")"; }
};

// A scanner or loader of one token kind. `build` false only checks the token; true also appends
// exactly one cell to the output (`push_cell`). Either may move `st.cursor`.
using TokenHandler = void (*)(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags,
                              bool build);

struct TokenHandlers {
  TokenHandler scan = nullptr;
  TokenHandler load = nullptr;
};

// Makes the value of a closed container from its cells, into `out` (which is the marker cell).
// `commas` counts the commas of a point container.
using ContainerMaker = void (*)(State& st, TypeId type, uint32_t commas, const Cell* cells,
                                uint32_t count, Cell* out);
// Appends a value to a block (the target block of `scan_buffer`).
using BlockAppender = void (*)(Cell* block, const Cell& value);

// A token of the token stream: what the scan found, without values.
struct Token {
  uint8_t kind;
  TypeId type;
  uint32_t start, end;  // byte offsets, end exclusive
  uint32_t line;
};

struct State {
  State* inner = nullptr;   // scan started while this one runs
  State* outer = nullptr;
  uint32_t base = 0;        // first output cell of this scan
  uint32_t head = kNoContainer;  // marker cell of the innermost open container
  uint32_t tail = 0;        // next free output cell
  const uint8_t* in_start = nullptr;
  const uint8_t* in_end = nullptr;
  const uint8_t* cursor = nullptr;     // start of the next token
  const uint8_t* token_start = nullptr;
  const uint8_t* token_end = nullptr;
  uint32_t line = 1;          // current line
  uint32_t token_line = 1;    // line where the last token starts
  uint32_t token_lines = 0;   // line breaks inside the last token
  bool line_break = false;    // a line feed since the last value of the open container
  TypeId token_type = TYPE_NONE_ID;
  uint8_t kind = 0;
  uint8_t start_state = S_TOP;
  uint8_t prev_state = S_TOP;
  TypeId last_type = TYPE_NONE_ID;
  TypeId result_type = TYPE_NONE_ID;
  TypeId string_type = TYPE_STRING;  // string-family datatype preset for the string loader
  const uint8_t* brace_open = nullptr;
  uint32_t brace_depth = 0;
  uint32_t brace_flags = 0;
  const uint8_t* point_open = nullptr;  // the "(" of the point literal being scanned
  Observer* observer = nullptr;
  uint32_t mask = 0;
  Cell input{};             // string! or binary! input (type 0 when none)
  bool build = false;
  bool stopped = false;     // a syntax error or the callback stopped the scan
  bool resume = false;      // the callback passed over a syntax error: the scan goes on
  // One-entry cache of byte offset -> character offset for events on string! input.
  uint32_t cached_byte = 0;
  uint32_t cached_char = 0;
  std::vector<Token>* sink = nullptr;  // receives every finished token (token stream)

  static constexpr uint32_t kNoContainer = 0xFFFFFFFF;
};

struct ScanMode {
  bool one_value = false;      // stop after the first complete value
  bool full_scan = true;       // run scanners and loaders on every token (off: a prescan)
  bool wrap = true;            // build values (with full_scan) and hand them back
  bool single_result = false;  // with one_value: still wrap the result in a block
};

// Start-up: allocates the output buffer, fills the token-handler table with the structural
// scanners and registers the scans' values with the collector. Scans call it too when it has not run.
void init();

// Installs the handlers of one token kind (the loaders of the value modules).
void set_token_handlers(Kind kind, TokenHandlers handlers);
const TokenHandlers& token_handlers(Kind kind);
void set_builders(ContainerMaker maker, BlockAppender appender);

// Scans `len` bytes of UTF-8 text. With `mode.full_scan && mode.wrap` values are built: the block of
// them (or the first value in one-value mode) goes into `out` or is appended to `target`. Answers
// the datatype of the last token scanned (error! after a syntax error that only stopped the scan).
// `consumed` receives the input scanned up to the cursor: characters for string! input, else bytes.
TypeId scan_buffer(Cell* out, const uint8_t* text, size_t len, ScanMode mode, uint32_t* consumed,
                   Observer* observer, const Cell* input, Cell* target);

// Scans `count` characters (-1: all; never more than the string holds) of a string value's text from
// its head, encoded as UTF-8 into the lexer's scratch space; `consumed` counts characters.
TypeId transcode_string(Cell* out, const Cell& str, int32_t count, ScanMode mode, uint32_t* consumed,
                        Observer* observer, Cell* target);
// Scans `count` bytes (-1: all; never more than it holds) of a binary! value from its head; with a
// callback, from a copy, since the callback may change or move the value.
TypeId transcode_binary(Cell* out, const Cell& bin, int32_t count, ScanMode mode, uint32_t* consumed,
                        Observer* observer, Cell* target);

// The automaton loop over one state's input.
void scan_token(State& st, bool one_value, bool prescan);

// Raises the syntax error for the token [start, end) (or stops the scan, see `SyntaxError`).
[[noreturn]] void syntax_error(State& st, const uint8_t* start, const uint8_t* end, ErrorKind kind,
                               TypeId type);

// The last syntax error found by any scan (also when it only stopped the scan).
const SyntaxError& last_error();

// Output buffer access for loaders.
Cell* push_cell(State& st);
Cell* cell_at(uint32_t index);

// Calls `mark` on every output cell of every running scan, its input and its callback.
void mark_states(void (*mark)(Cell&, void*), void* user);

// Length of the strict UTF-8 sequence at p (< end) with its code point, or 0 when it is invalid.
int decode_utf8(const uint8_t* p, const uint8_t* end, uint32_t& cp);
// Decodes the escape after a "^" at p; answers the position after it, or null when it is invalid.
const uint8_t* decode_escape(const uint8_t* p, const uint8_t* end, uint32_t& cp);

struct TokenStream {
  std::vector<Token> tokens;
  bool ok = true;
  SyntaxError error;  // when !ok
};

// Scans the whole text without building values and lists every token, structural ones included.
TokenStream tokenize(std::string_view text);

}  // namespace zem::lexer
