// Low-level printing for the runtime's own diagnostics (no language values): typed item lists over
// the standard output writer, plus small arithmetic helpers shared by the memory manager and math.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace zem {

namespace print {

enum ItemKind : int32_t {
  ITEM_LOGIC = 1,
  ITEM_INT32 = 2,
  ITEM_BYTE = 3,
  ITEM_FLOAT32 = 4,
  ITEM_FLOAT64 = 5,
  ITEM_CSTR = 6,
  ITEM_HEX32 = 7,  // any other kind prints its first word as 8 hex digits
  ITEM_U64 = 8,    // sizes and counts of the 64-bit runtime
};

// One typed item; the constructors pick the kind from the C++ type.
struct Item {
  ItemKind kind;
  union {
    int32_t i32;
    uint32_t u32;
    uint64_t u64v;
    float f32;
    double f64;
    const char* str;
  };
  Item(bool v) : kind(ITEM_LOGIC), i32(v ? 1 : 0) {}
  Item(int32_t v) : kind(ITEM_INT32), i32(v) {}
  Item(char v) : kind(ITEM_BYTE), i32(static_cast<uint8_t>(v)) {}
  Item(float v) : kind(ITEM_FLOAT32), f32(v) {}
  Item(double v) : kind(ITEM_FLOAT64), f64(v) {}
  Item(const char* v) : kind(ITEM_CSTR), str(v) {}
  static Item hex32(uint32_t v) { return Item(ITEM_HEX32, v); }
  static Item u64(uint64_t v) {
    Item it(ITEM_U64, 0);
    it.u64v = v;
    return it;
  }
  static Item logic_word(int32_t word) { return Item(word != 0); }

 private:
  Item(ItemKind k, uint32_t v) : kind(k), u32(v) {}
};

// Prints the items one after another, no separator.
void list(std::initializer_list<Item> items);
// The same, then a line feed.
void list_line(std::initializer_list<Item> items);
// Prints one byte as a one-character string; answers it.
uint8_t byte(uint8_t b);
// Prints bytes until a NUL byte or until n bytes were printed.
void bytes(const char* address, int64_t n);
// Prints a byte as a char literal: #"a", #"^A", #"^(C8)".
void char_literal(uint8_t b);

}  // namespace print

// (value + alignment - 1) AND -alignment, alignment a power of two.
constexpr uint64_t round_up_pow2(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}
// (value + alignment) AND -alignment: an aligned value moves to the next multiple.
constexpr uint64_t round_up_next_pow2(uint64_t value, uint64_t alignment) {
  return (value + alignment) & ~(alignment - 1);
}
// Degrees folded into the range the trigonometric functions expect, in radians.
// Mode 0 folds into -90..90 by half turns (tangent), 2 by reflection (sine), 1 keeps -180..180.
double normalize_angle(double degrees, int32_t mode);
// Same length and same bytes.
bool c_strings_equal(const char* a, const char* b);

}  // namespace zem
