// Helpers every datatype uses: the text output of form and mold, the pointer stack with its cycle
// guard, and small cell and byte helpers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"

namespace zem {

// Where form and mold write. The string module provides the output over a string! value (its
// primitives keep the unit rules); StdStringOut collects UTF-8 for runtime diagnostics and tests.
class TextOut {
 public:
  // Text of ASCII characters only.
  virtual void append_ascii(std::string_view text) = 0;
  virtual void append_code_point(uint32_t cp) = 0;

 protected:
  ~TextOut() = default;
};

class StdStringOut final : public TextOut {
 public:
  void append_ascii(std::string_view text) override { text_.append(text); }
  void append_code_point(uint32_t cp) override;
  const std::string& text() const { return text_; }
  void clear() { text_.clear(); }

 private:
  std::string text_;
};

// The stack of series (and contexts) that a recursive walk is inside: mold and form of blocks,
// parens, paths, maps, hashes and objects, deep binding and ownership marking push the node before
// descending into it. A node already on it means a cycle. Nodes never change while their series
// lives, so the collector has nothing to rewrite here.
constexpr uint32_t kPointerStackSize = 1000;

struct PointerStack {
  std::array<NodeId, kPointerStackSize> entries{};
  uint32_t top = 0;  // next free entry
};

namespace ptrstack {
// The push that fills the last entry (the 1000th) empties the stack and raises internal `too-deep`.
void push(NodeId node);
void pop();             // drops the top entry when there is one
void drop(uint32_t n);  // drops n entries (never below empty)
void reset();
bool contains(NodeId node);
uint32_t depth();
}  // namespace ptrstack

// Pushes a node for the lifetime of the guard; on every exit path the stack returns to the depth it
// had before the push (an overflow that emptied the stack leaves it empty).
class PointerStackGuard {
 public:
  explicit PointerStackGuard(NodeId node);
  ~PointerStackGuard();
  PointerStackGuard(const PointerStackGuard&) = delete;
  PointerStackGuard& operator=(const PointerStackGuard&) = delete;

 private:
  uint32_t depth_;
};

// The node a walk pushes for a value: the context of an object (object!, error!, port!), else the
// series node.
NodeId walk_node(const Cell& value);

// When the value's node is already on the pointer stack, writes the cycle marker ("[...]" for
// block! and hash!, "(...)" for paren!, "#[...]" for map!, "make object! [...]" for objects, "..."
// for the paths, and "..." for everything when forming), reduces the limit by its length and
// answers true; otherwise answers false and writes nothing.
bool mold_cycle_guard(const Cell& value, TextOut& out, int32_t& limit, bool mold);

// Repeats the first n bytes of the buffer until n * count bytes are filled (doubling copies);
// answers buffer + n * count. count 0 leaves the buffer as it is.
uint8_t* replicate_bytes(uint8_t* buffer, uint32_t n, uint32_t count);

// Appends n levels of four blanks; answers limit - 4 * n.
int32_t mold_indent(TextOut& out, int32_t n, int32_t limit);

// integer! -> its value; float! (and the types with the same payload) -> the value truncated toward
// zero, raising script `out-of-range` with the cell when it lies outside the int32 range or is NaN.
int32_t float_to_int_checked(const Cell& number);

// Copies the whole cell unless source and target are the same cell; answers the target.
inline Cell& copy_cell(const Cell& source, Cell& target) {
  if (&source != &target) target = source;
  return target;
}

// Replaces the type id only, keeping the flag bits; answers the cell.
inline Cell& set_cell_type(Cell& cell, TypeId t) {
  cell.set_type(t);
  return cell;
}

// Clears the new-line marker; answers the cell.
inline Cell& clear_newline_flag(Cell& cell) {
  cell.set_new_line(false);
  return cell;
}

// Module initialisation: an empty pointer stack.
void support_init();

}  // namespace zem
