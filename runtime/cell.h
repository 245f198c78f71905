// The value cell: every language value is one 16-byte cell of four 32-bit words.
// References are 32-bit indices (a series holds a node index; platform objects are table indices),
// so the layout is the same on every target.
#pragma once

#include <bit>
#include <cstdint>

namespace zem {

enum TypeId : uint8_t {
  TYPE_NONE_ID = 0,  // unused id
  TYPE_DATATYPE = 1,
  TYPE_UNSET = 2,
  TYPE_NONE = 3,
  TYPE_LOGIC = 4,
  TYPE_BLOCK = 5,
  TYPE_PAREN = 6,
  TYPE_STRING = 7,
  TYPE_FILE = 8,
  TYPE_URL = 9,
  TYPE_CHAR = 10,
  TYPE_INTEGER = 11,
  TYPE_FLOAT = 12,
  TYPE_SYMBOL = 13,
  TYPE_CONTEXT = 14,
  TYPE_WORD = 15,
  TYPE_SET_WORD = 16,
  TYPE_LIT_WORD = 17,
  TYPE_GET_WORD = 18,
  TYPE_REFINEMENT = 19,
  TYPE_ISSUE = 20,
  TYPE_NATIVE = 21,
  TYPE_ACTION = 22,
  TYPE_OP = 23,
  TYPE_FUNCTION = 24,
  TYPE_PATH = 25,
  TYPE_LIT_PATH = 26,
  TYPE_SET_PATH = 27,
  TYPE_GET_PATH = 28,
  TYPE_ROUTINE = 29,
  TYPE_BITSET = 30,
  TYPE_TRIPLE = 31,
  TYPE_OBJECT = 32,
  TYPE_TYPESET = 33,
  TYPE_ERROR = 34,
  TYPE_VECTOR = 35,
  TYPE_HASH = 36,
  TYPE_PAIR = 37,
  TYPE_PERCENT = 38,
  TYPE_TUPLE = 39,
  TYPE_MAP = 40,
  TYPE_BINARY = 41,
  TYPE_SERIES = 42,
  TYPE_TIME = 43,
  TYPE_TAG = 44,
  TYPE_EMAIL = 45,
  TYPE_HANDLE = 46,
  TYPE_DATE = 47,
  TYPE_PORT = 48,
  TYPE_MONEY = 49,
  TYPE_REF = 50,
  TYPE_POINT2D = 51,
  TYPE_POINT3D = 52,
  TYPE_IMAGE = 53,
  TYPE_EVENT = 54,
};

// A node is a 32-bit index into the node table of the memory manager; 0 is never a live node.
using NodeId = uint32_t;

constexpr int kTypeCount = 57;  // rows of the registry tables; ids 1..54 are used
constexpr uint32_t kTypeMask = 0xFF;
constexpr uint32_t kNewLineFlag = 1u << 30;  // same meaning for every type held in a block

struct Cell {
  uint32_t header;
  uint32_t data1;
  uint32_t data2;
  uint32_t data3;

  TypeId type() const { return static_cast<TypeId>(header & kTypeMask); }
  bool is(TypeId t) const { return (header & kTypeMask) == t; }
  bool new_line() const { return (header & kNewLineFlag) != 0; }
  void set_new_line(bool on) { header = on ? (header | kNewLineFlag) : (header & ~kNewLineFlag); }
  // Constructors of values write the whole header: type id with every flag clear.
  void set_header(TypeId t) { header = t; }
  // Changes the type only; the flag bits stay.
  void set_type(TypeId t) { header = (header & ~kTypeMask) | t; }

  // Series values: head index (units from the buffer's first unit) and node.
  uint32_t head_index() const { return data1; }
  NodeId node() const { return data2; }
  // integer! and char!: the signed 32-bit value or the code point.
  int32_t int_value() const { return static_cast<int32_t>(data2); }
  // float!, percent!, time!: the double in data2 (low word) and data3 (high word).
  double float_value() const {
    return std::bit_cast<double>((static_cast<uint64_t>(data3) << 32) | data2);
  }
  void set_float_payload(double d) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    data2 = static_cast<uint32_t>(bits);
    data3 = static_cast<uint32_t>(bits >> 32);
  }
};
static_assert(sizeof(Cell) == 16, "a value cell is four 32-bit words");

}  // namespace zem
