// The parse dialect engine: matches a series (any block kind, any string kind, binary!) against a
// block of rules.
//
// The engine walks the rules without recursing on the machine stack: every open rules block and
// every open command is a three-cell frame on the rule stack, every input series it works in is a
// cell of the input stack. Both stacks are blocks made once at start-up; a parse owns them from the
// bases it finds to their tails and gives them back on every exit (errors and exits from user code
// included), so a parse run from a paren or the trace callback of another works above it.
//
// Rule frame: none! (marker), position record, the rules value that was current before the entry.
// Command frame: argument record, position record, pair! (command code, modifier flag).
// Position record: triple! of rule index (cells from the head of the containing rules), input index
// and input length remaining when the frame was pushed.
//
// User code (parens, the callback) may change the rules or the input and may collect: the rule
// cursor and the input position are indices, read again through the nodes after every call out.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zem::parse {

// Command codes as they appear in the rule stack.
enum Command : int32_t {
  CMD_REPEAT = -1,
  CMD_TO = -2,
  CMD_THRU = -3,
  CMD_COPY = -4,
  CMD_SET = -5,
  CMD_NOT = -6,
  CMD_INTO = -7,
  CMD_REMOVE = -9,
  CMD_WHILE = -11,
  CMD_COLLECT = -12,
  CMD_KEEP = -13,
  CMD_KEEP_PAREN = -14,
  CMD_AHEAD = -16,
  CMD_CHANGE = -17,
  CMD_CHANGE_ONLY = -18,
  CMD_CASE = -19,
};

constexpr uint32_t kStackCellLimit = 10000;

struct ParseState {
  NodeId input_stack = 0;  // block of input series, the outermost first
  NodeId rule_stack = 0;   // block of rule and command frames
  uint32_t input_base = 0;  // first cell the running parse owns
  uint32_t rule_base = 0;
};
extern ParseState parse_state;

// Makes both stacks and roots them. Called once at start-up.
void init();

// How the engine runs user code through the interpreter (the wiring table's parse entries).
uint32_t interp_eval_paren(const Cell& paren);
uint32_t interp_call_callback(const Cell& callback, const Cell* args, uint32_t locals, bool& answer);
uint32_t interp_count_locals(const Cell& callback);

// Runs the rules over the input (at its position). `mode`: 0, or 2 for case-sensitive matching;
// `part_limit`: an input index, or 0 or less for none; `callback`: the /trace function, or null.
// Reserves its registers, a scratch cell and any collected blocks on the argument stack (the caller
// releases them with its frame) and answers the result: the logic! of the match, or the collected
// block when the outermost rule was a plain `collect`. Errors and exits from user code pass on
// after both stacks are released.
Cell run(const Cell& input, const Cell& rules, int32_t mode, int32_t part_limit,
         const Cell* callback);

// Cells each stack holds beyond the bases (for tests: 0 after every parse).
uint32_t input_depth();
uint32_t rule_depth();

}  // namespace zem::parse
