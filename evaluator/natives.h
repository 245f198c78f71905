// The natives: language functions whose bodies are runtime routines, numbered from 1 in the fixed
// order of natives_list.def.
//
// Calling convention (the same for the interpreter and for compiled code): the caller pushes a
// frame naming the called word, pushes the arguments as cells (cell 0 is the first argument and
// the result slot; each refinement's arguments follow the plain arguments, in spec order) and
// calls the entry with
// - `check`: non-zero when the native must type-check its arguments against its spec first (the
//   interpreter has already checked them and passes 0);
// - `refinements`: one integer per refinement in spec order, -1 when absent, otherwise the frame
//   index of the cell where the refinement's arguments begin (0 is possible).
// The native leaves its result in cell 0 and answers EXIT_NONE, or the exit code of a break,
// continue, return or exit it passes on (the stacks already cut back by the unwinder). Errors and
// throws travel as `Unwind`.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

#include "datatypes/native.h"
#include "runtime/cell.h"

namespace zem {

constexpr uint32_t kNativesCapacity = kNativeSlots;
constexpr uint32_t kNativeCount = 107;

#define ZEM_NATIVE(index, name, word, spec) NATIVE_##name = index,
enum NativeIndex : uint32_t {
#include "evaluator/natives_list.def"
};
#undef ZEM_NATIVE

#define ZEM_NATIVE(index, name, word, spec) uint32_t native_##name(int32_t check, const int32_t* refinements);
#include "evaluator/natives_list.def"
#undef ZEM_NATIVE


// One argument of a native's spec: its name, whether it is taken literally ('word), and the
// typeset it accepts.
struct NativeArg {
  std::string_view name;
  bool literal = false;
  bool typed = false;           // the spec gives a type block
  std::string_view type_text;   // its words, as written
  Cell types{};
};
struct NativeRefinement {
  std::string_view name;
  uint32_t first_arg = 0;  // index into the native's args
  uint32_t arg_count = 0;
};
struct NativeSpec {
  std::string_view word;
  std::string_view text;  // the spec as written in the list
  std::vector<NativeArg> args;  // plain arguments first, then each refinement's
  uint32_t plain_args = 0;
  std::vector<NativeRefinement> refinements;
};

namespace natives {

// Sets the global word of every native to its native! value. The spec blocks hold the type words
// as the list writes them; the argument checks use the typesets read from the list.
void define_words();

// The spec block define_words made for native `index`, or 0 (before, or out of 1..kNativeCount).
NodeId spec_block(uint32_t index);
// A spec block for action slot `slot`, built from the action list once and kept alive here (its
// type blocks hold global words, as the boot library's action specs do); 0 for a slot without an
// action word.
NodeId action_spec_block(uint32_t slot);

// The next free slot of the natives table (108 once the table is filled).
uint32_t fill_index();
// Fills the table with the 107 entries, reads the specs and makes the print scratch block.
void init();
// Stores `count` entries from the fill index on (the caller keeps within the capacity).
void register_table(uint32_t count, const NativeEntry* entries);

// The entry of native `index`, or null when the slot is empty or out of 1..capacity.
NativeEntry entry(uint32_t index);
// The spec of native `index` (1..kNativeCount).
const NativeSpec& spec(uint32_t index);
// The spec record of a native! (or an op! made from one) whose spec block is the one
// define_words made; null for any other value.
const NativeSpec* spec_of_value(const Cell& fn);
// The index of the native of that word, or 0.
uint32_t find(std::string_view word);

// The typeset named like a spec typeset word ("any-string!", "integer!"); false when unknown.
bool typeset_named(std::string_view name, Cell& out);

// Checks the arguments of the current frame against the native's spec; a mismatch raises script
// `expect-arg` naming the native, the value's type and the argument.
void check_args(uint32_t index, const int32_t* refinements);

// Raises script `expect-arg` for the value in frame slot `slot`, taken as argument `arg` of the spec.
[[noreturn]] void fire_expect_arg(uint32_t index, uint32_t arg, uint32_t slot);

// Helpers shared by the native groups.
Cell word_cell(uint32_t index);  // the native's own word (unbound)
bool is_series(TypeId t);
// The index just past the series' last value (its tail, in the units its head index counts).
uint32_t series_tail(const Cell& series);
// Raises an error! value again (its fields as they stand).
[[noreturn]] void raise_error_value(const Cell& error);
// Runs an action on cells under an <anon> frame (`refs`: the frame indexes of the refinements
// used, in spec order); answers its result.
Cell run_action(ActionIndex a, std::initializer_list<Cell> args, std::initializer_list<int32_t> refs);
// The value at absolute index `i` of the series, none past its tail.
Cell pick_at(const Cell& series, uint32_t i);
// Removes up to n values from absolute index `i`.
void remove_at(const Cell& series, uint32_t i, uint32_t n);
// Sets a word in its context, unset included.
void set_word_any(const Cell& word, const Cell& value);

// The print scratch block (kept alive by the collector).
Cell& print_scratch();

// The block of a UTF-8 script or a string! value, scanned and bound to the global context.
Cell load_text(const Cell& text);
Cell load_utf8(std::string_view text);

// Whether the last print or prin ended its line: true after print, false after prin.
bool last_line_feed();

// Calls the global library function `function` with `values` as its first arguments, none for
// the others and its refinements off; the result goes to slot 0 of the current frame, its only
// cell. A function the library does not define raises script `no-value` naming it.
uint32_t call_library(std::string_view function, std::initializer_list<Cell> values);

// Raises internal `not-done` naming the native (natives whose datatypes or services are not built).
[[noreturn]] void fire_not_done(uint32_t index);

}  // namespace natives
}  // namespace zem
