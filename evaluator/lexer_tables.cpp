// The lexer's static tables: byte classes, the automaton's transitions and the token datatypes.
#include "evaluator/lexer_tables.h"

#include <initializer_list>
#include <string_view>

namespace zem::lexer {
namespace {

// Class of every byte, 16 to a line.
constexpr uint8_t kByteClass[256] = {
    39, 35, 35, 35, 35, 35, 35, 35, 35, 0, 1, 35, 35, 0, 35, 35,               // 00 NUL .. SI
    35, 35, 35, 35, 35, 35, 35, 35, 35, 35, 35, 35, 35, 35, 35, 35,            // 10
    0, 37, 10, 11, 31, 26, 37, 12, 6, 7, 37, 32, 27, 33, 30, 21,               // 20 space ! " # $ % & ' ( ) * + , - . /
    3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 13, 28, 23, 25, 24, 37,                      // 30 0-9 : ; < = > ?
    29, 20, 20, 20, 20, 18, 20, 37, 37, 37, 37, 37, 37, 37, 37, 37,            // 40 @ A-O
    37, 37, 37, 37, 15, 37, 37, 37, 14, 37, 37, 4, 22, 5, 34, 37,              // 50 P-Z [ \ ] ^ _
    37, 19, 19, 19, 19, 17, 19, 37, 16, 37, 37, 37, 37, 37, 37, 37,            // 60 ` a-o
    37, 37, 37, 37, 37, 37, 37, 37, 14, 37, 37, 8, 37, 9, 37, 36,              // 70 p-z { | } ~ DEL
    36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36,            // 80 continuation bytes
    36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36,            // 90
    36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36,            // A0
    36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36, 36,            // B0
    38, 38, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37,            // C0 lead bytes (C0, C1 never valid)
    37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37,            // D0
    37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37,            // E0
    37, 37, 37, 37, 37, 37, 37, 37, 38, 38, 38, 38, 38, 38, 38, 38,            // F0 (F8-FF never valid)
};

constexpr uint32_t byte_flags(unsigned b) {
  switch (b) {
    case '%': return F_PERCENT;
    case '>': return F_GREATER;
    case '<': return F_LESS;
    case '+': case '-': return F_SIGN;
    case 0x00: return F_NUL;
    case '#': return F_HASH;
    case 'e': case 'E': return F_EXP;
    case '\'': return F_APOSTROPHE;
    case ':': return F_COLON;
    case ',': return F_COMMA;
    case '.': return F_DOT;
    case '^': return F_CARET;
    default: break;
  }
  if (b >= 0xC2 && b <= 0xEF) return F_UTF8_2_3;
  if (b >= 0xF0 && b <= 0xF7) return F_UTF8_4;
  return 0;
}

constexpr std::array<uint32_t, 256> make_class_table() {
  std::array<uint32_t, 256> t{};
  for (unsigned b = 0; b < 256; ++b) t[b] = kByteClass[b] | byte_flags(b);
  return t;
}

// Transition rows as written: a default target, then groups of classes with their own target.
// S(n) is working state n, K(n) the final state of token kind n.
constexpr uint8_t S(int n) { return static_cast<uint8_t>(n); }
constexpr uint8_t K(int n) { return static_cast<uint8_t>(kFinalBase + n); }

struct Group {
  uint8_t to;
  std::initializer_list<int> classes;
};
struct Row {
  uint8_t fallback;
  std::initializer_list<Group> groups;
};

// clang-format off
constexpr Row kRows[kStateCount] = {
  /* 0 */ {S(52), {{S(0), {0, 1, 35}}, {S(1), {28}}, {S(2), {10}}, {S(6), {26}}, {S(13), {21}},
                   {S(16), {11}}, {S(23), {2, 3}}, {S(36), {31}}, {S(40), {18, 20}}, {S(43), {23}},
                   {S(47), {32, 33}}, {S(49), {30}}, {S(51), {12, 13}}, {S(57), {29}}, {S(58), {25}},
                   {K(0), {39}}, {K(1), {9, 22, 36, 38}}, {K(2), {4}}, {K(3), {5}}, {K(4), {6}},
                   {K(5), {7}}, {K(6), {8}}, {K(12), {27}}}},
  /* 1 */ {S(1), {{K(1), {38}}, {K(11), {1, 39}}}},
  /* 2 */ {S(2), {{S(3), {34}}, {K(1), {1, 38, 39}}, {K(13), {10}}}},
  /* 3 */ {S(2), {{K(1), {38, 39}}}},
  /* 4 */ {S(4), {{S(5), {34}}, {K(1), {38, 39}}, {K(6), {8}}, {K(7), {9}}}},
  /* 5 */ {S(4), {{K(1), {38, 39}}}},
  /* 6 */ {S(7), {{S(8), {10}}, {S(9), {26}}, {S(10), {8}}, {S(54), {13}}, {K(1), {38}},
                  {K(14), {0, 1, 4, 5, 6, 7, 9, 28, 29, 35, 39}}}},
  /* 7 */ {S(7), {{K(1), {10, 38}}, {K(19), {0, 1, 4, 5, 6, 7, 8, 9, 13, 28, 29, 39}}}},
  /* 8 */ {S(8), {{K(1), {1, 38, 39}}, {K(19), {10}}}},
  /* 9 */ {S(7), {{S(9), {26}}, {S(10), {8}}, {K(1), {38}},
                  {K(14), {0, 1, 4, 5, 6, 7, 9, 10, 22, 28, 35, 39}}}},
  /* 10 */ {S(10), {{S(11), {9}}, {K(1), {38, 39}}}},
  /* 11 */ {S(10), {{S(11), {9}}, {S(12), {26}}, {K(1), {38, 39}}}},
  /* 12 */ {K(1), {{S(12), {26}}, {K(34), {0, 1, 4, 5, 6, 7, 8, 10, 23, 28, 35, 39}}}},
  /* 13 */ {S(14), {{S(15), {21}}, {S(53), {13}}, {K(1), {27, 38}},
                    {K(14), {0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 28, 29, 35, 39}}}},
  /* 14 */ {S(14), {{K(1), {13, 27, 38}}, {K(17), {0, 1, 4, 5, 6, 7, 8, 9, 10, 21, 28, 29, 35, 39}}}},
  /* 15 */ {S(52), {{S(15), {21}}, {K(1), {26, 27, 31, 38}},
                    {K(14), {0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 28, 29, 35, 39}}}},
  /* 16 */ {S(22), {{S(17), {8}}, {S(19), {10}}, {S(21), {6}}, {K(1), {0, 1, 5, 7, 9, 13, 23, 24, 27, 38}},
                    {K(8), {4}}, {K(15), {28, 29, 35, 39}}}},
  /* 17 */ {K(1), {{S(17), {0, 1, 2, 3, 14, 15, 16, 17, 18, 19, 20, 21, 25, 32, 37}}, {S(18), {28}},
                   {K(20), {9}}}},
  /* 18 */ {S(18), {{S(17), {1}}, {K(1), {38, 39}}}},
  /* 19 */ {S(19), {{S(20), {34}}, {K(1), {38, 39}}, {K(18), {10}}}},
  /* 20 */ {S(19), {{K(1), {38, 39}}}},
  /* 21 */ {S(21), {{K(1), {38, 39}}, {K(10), {7}}}},
  /* 22 */ {S(22), {{K(1), {13, 21, 38}}, {K(15), {0, 1, 4, 5, 6, 7, 8, 9, 10, 28, 29, 35, 39}}}},
  /* 23 */ {K(16), {{S(16), {11}}, {S(23), {2, 3, 12}}, {S(24), {30}}, {S(26), {17}}, {S(27), {18}},
                    {S(30), {15, 21, 33}}, {S(31), {13}}, {S(33), {14}}, {S(39), {20}}, {S(42), {16}},
                    {S(56), {29}}, {K(1), {19, 22, 24, 25, 31, 32, 34, 36, 37, 38}}, {K(21), {26}}}},
  /* 24 */ {K(1), {{S(25), {2, 3, 12}}, {S(26), {17, 18}}, {S(28), {11}}, {S(33), {14}}, {K(21), {26}},
                   {K(22), {0, 1, 4, 5, 6, 7, 8, 9, 10, 21, 23, 27, 28, 35, 39}}}},
  /* 25 */ {K(22), {{S(25), {2, 3, 12}}, {S(26), {17, 18}}, {S(29), {30}}, {S(33), {14}}, {S(56), {29}},
                    {K(1), {11, 15, 16, 19, 20, 22, 24, 25, 31, 32, 33, 34, 36, 37, 38}}, {K(21), {26}}}},
  /* 26 */ {K(1), {{S(26), {2, 3, 32, 33}}, {S(56), {29}},
                   {K(22), {0, 1, 4, 5, 6, 7, 8, 9, 10, 13, 21, 23, 27, 28, 35, 39}}}},
  /* 27 */ {K(22), {{S(26), {32, 33}}, {S(27), {2, 3}}, {S(29), {30}}, {S(40), {18, 20}}, {S(42), {16}},
                    {S(56), {29}}, {K(1), {11, 12, 14, 15, 17, 19, 22, 24, 25, 28, 31, 34, 36, 37, 38}},
                    {K(21), {26}}}},
  /* 28 */ {K(23), {{S(28), {14, 15, 16, 17, 18, 19, 20, 24, 25, 30, 32, 33, 36, 37}},
                    {K(1), {11, 12, 13, 26, 29, 31, 34, 38}}, {K(22), {2}}}},
  /* 29 */ {K(1), {{S(29), {2, 3, 30}}, {K(24), {0, 1, 4, 5, 6, 7, 8, 9, 10, 13, 21, 23, 28, 35, 39}}}},
  /* 30 */ {S(30), {{K(1), {26, 27, 29, 34, 36, 38}},
                    {K(25), {0, 1, 4, 5, 6, 7, 8, 9, 10, 23, 28, 31, 35, 39}}}},
  /* 31 */ {K(1), {{S(32), {2, 3}}}},
  /* 32 */ {K(1), {{S(32), {2, 3, 13, 30}}, {K(28), {0, 1, 4, 5, 6, 7, 8, 9, 10, 21, 23, 28, 35, 39}}}},
  /* 33 */ {K(1), {{S(34), {2, 3, 32, 33}}, {S(56), {29}}}},
  /* 34 */ {K(1), {{S(34), {2, 3, 17, 18, 30}}, {S(56), {29}},
                   {K(26), {0, 1, 4, 5, 6, 7, 8, 9, 10, 13, 21, 23, 28, 35, 39}}}},
  /* 35 */ {K(1), {{S(35), {0, 2, 3, 5, 11, 17, 18, 19, 20, 27, 30, 32, 33, 37}}, {K(27), {7}}}},
  /* 36 */ {K(1), {{S(37), {2, 3}}}},
  /* 37 */ {K(1), {{S(37), {2, 3, 12}}, {S(38), {30}},
                   {K(29), {0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 13, 21, 23, 28, 35, 39}}}},
  /* 38 */ {K(1), {{S(38), {2, 3, 12}}, {K(29), {0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 13, 21, 23, 28, 35, 39}}}},
  /* 39 */ {K(1), {{S(39), {2, 3, 18, 20}}, {S(41), {16}}, {S(56), {29}}}},
  /* 40 */ {K(14), {{S(37), {31}}, {S(40), {2, 3, 18, 20}}, {S(41), {16}},
                    {S(52), {12, 14, 15, 17, 19, 23, 24, 25, 30, 32, 33, 34, 36, 37}}, {S(53), {13}},
                    {S(56), {29}}, {K(1), {26, 27, 38}}, {K(9), {21}}}},
  /* 41 */ {S(52), {{S(37), {31}}, {S(53), {13}}, {S(56), {29}}, {K(1), {11, 26, 27, 38}}, {K(9), {21}},
                    {K(33), {0, 1, 4, 5, 6, 7, 8, 9, 10, 22, 28, 35, 39}}}},
  /* 42 */ {K(1), {{S(37), {31}}, {S(56), {29}}, {K(9), {21}},
                   {K(33), {0, 1, 4, 5, 6, 7, 8, 9, 10, 22, 23, 28, 35, 39}}}},
  /* 43 */ {S(44), {{S(43), {23}}, {S(46), {12}}, {S(52), {24, 25, 33}}, {S(53), {13}}, {K(1), {38}},
                    {K(14), {0, 1, 4, 5, 6, 7, 8, 9, 10, 28, 35, 39}}}},
  /* 44 */ {S(44), {{S(45), {10}}, {S(46), {12}}, {K(1), {38, 39}}, {K(30), {24}}}},
  /* 45 */ {S(45), {{S(44), {10}}, {K(1), {38, 39}}}},
  /* 46 */ {S(46), {{S(44), {12}}, {K(1), {38, 39}}}},
  /* 47 */ {S(52), {{S(23), {2, 3}}, {S(37), {31}}, {S(49), {30}}, {K(1), {12, 26, 34, 38}}, {K(9), {21}},
                    {K(14), {0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 22, 28, 35, 39}}}},
  /* 48 */ {S(52), {{K(1), {12, 26, 31, 34, 38}}, {K(9), {21}},
                    {K(14), {0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 22, 28, 35, 39}}}},
  /* 49 */ {S(52), {{S(50), {2, 3, 32, 33}}, {S(53), {13}}, {S(56), {29}}, {K(1), {26, 27, 31, 38}},
                    {K(9), {21}}, {K(14), {0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 22, 28, 35, 39}}}},
  /* 50 */ {K(1), {{S(33), {14}}, {S(50), {2, 3, 17, 18, 32, 33}}, {S(56), {29}}, {K(21), {26}},
                   {K(22), {0, 1, 4, 5, 6, 7, 8, 9, 10, 13, 21, 23, 35, 39}}}},
  /* 51 */ {K(1), {{S(13), {21}}, {S(43), {23}}, {S(48), {32, 33}},
                   {S(52), {14, 15, 16, 17, 18, 19, 20, 24, 30, 34, 36, 37}}, {S(54), {26}}, {S(58), {25}}}},
  /* 52 */ {S(52), {{S(36), {31}}, {S(53), {13}}, {S(56), {29}}, {K(1), {26, 27, 38}}, {K(9), {21}},
                    {K(14), {0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 22, 23, 28, 35, 39}}}},
  /* 53 */ {S(55), {{K(1), {23, 38}}, {K(14), {0, 1, 4, 5, 6, 7, 8, 9, 10, 22, 28, 35, 39}}}},
  /* 54 */ {K(1), {{S(54), {26}}, {K(14), {0, 1, 4, 5, 6, 7, 8, 9, 22, 28, 35, 39}}}},
  /* 55 */ {S(55), {{K(1), {24, 34, 38}}, {K(31), {0, 1, 4, 5, 6, 7, 8, 9, 10, 22, 23, 28, 35, 39}}}},
  /* 56 */ {K(32), {{S(56), {2, 3, 14, 15, 16, 17, 18, 19, 20, 26, 30, 32, 33, 36, 37}},
                    {K(1), {11, 12, 13, 24, 25, 27, 29, 31, 34, 38}}}},
  /* 57 */ {S(57), {{K(1), {11, 12, 22, 24, 25, 27, 29, 31, 34, 38}},
                    {K(35), {0, 1, 4, 5, 6, 7, 8, 9, 10, 23, 28, 35, 39}}}},
  /* 58 */ {S(52), {{K(1), {11, 26, 27, 29, 31, 38}}, {K(9), {21}},
                    {K(14), {0, 1, 4, 5, 6, 7, 8, 9, 10, 13, 22, 28, 35, 39}}}},
  /* 59 */ {K(1), {{S(2), {10}}, {S(36), {31}}, {S(43), {23}}, {S(57), {29}}, {S(60), {2, 3}},
                   {S(61), {12, 13}}, {S(62), {14, 15, 16, 17, 18, 19, 20, 24, 25, 30, 36, 37}},
                   {S(63), {11}}, {S(64), {32, 33}}, {K(4), {6}}, {K(5), {7}}}},
  /* 60 */ {K(1), {{S(24), {30}}, {S(26), {17, 18}}, {S(33), {14}}, {S(56), {29}}, {S(60), {2, 3, 12}},
                   {K(16), {0, 1, 4, 5, 6, 7, 8, 9, 10, 13, 21, 23, 28, 35, 39}}, {K(21), {26}}}},
  /* 61 */ {K(1), {{S(62), {14, 15, 16, 17, 18, 19, 20, 23, 24, 25, 30, 32, 33, 36, 37}}}},
  /* 62 */ {S(62), {{S(36), {31}}, {S(56), {29}}, {K(1), {11, 26, 27, 38}},
                    {K(14), {0, 1, 4, 5, 6, 7, 8, 9, 10, 13, 21, 22, 28, 35, 39}}}},
  /* 63 */ {S(22), {{S(19), {10}}, {S(21), {4}},
                    {K(1), {0, 1, 5, 6, 7, 8, 9, 13, 21, 23, 24, 25, 27, 28, 29, 35, 38, 39}}}},
  /* 64 */ {K(14), {{S(36), {31}}, {S(56), {29}}, {S(60), {2, 3}},
                    {S(62), {14, 15, 16, 17, 18, 19, 20, 24, 25, 30, 36, 37}}, {S(64), {32, 33}},
                    {K(1), {11, 12, 23, 26, 27, 34, 38}}}},
};
// clang-format on

constexpr std::array<uint8_t, kStateCount * kClassCount> make_transitions() {
  std::array<uint8_t, kStateCount * kClassCount> t{};
  for (int s = 0; s < kStateCount; ++s) {
    for (int c = 0; c < kClassCount; ++c) t[s * kClassCount + c] = kRows[s].fallback;
    for (const Group& g : kRows[s].groups)
      for (int c : g.classes) t[s * kClassCount + c] = g.to;
  }
  return t;
}

struct TypeSpan {
  int from, to;
  TypeId type;
};

constexpr TypeSpan kStateTypeSpans[] = {
    {2, 5, TYPE_STRING},     {6, 9, TYPE_FILE},     {10, 12, TYPE_STRING},  {13, 13, TYPE_WORD},
    {14, 14, TYPE_REFINEMENT}, {15, 15, TYPE_WORD}, {16, 16, TYPE_ISSUE},   {17, 17, TYPE_BINARY},
    {19, 20, TYPE_CHAR},     {22, 22, TYPE_ISSUE},  {23, 23, TYPE_INTEGER}, {24, 28, TYPE_FLOAT},
    {29, 29, TYPE_TUPLE},    {30, 30, TYPE_DATE},   {31, 32, TYPE_TIME},    {33, 34, TYPE_PAIR},
    {35, 35, TYPE_POINT2D},  {36, 38, TYPE_MONEY},  {40, 40, TYPE_INTEGER}, {41, 41, TYPE_WORD},
    {42, 42, TYPE_INTEGER},  {43, 46, TYPE_TAG},    {47, 49, TYPE_WORD},    {50, 50, TYPE_FLOAT},
    {51, 52, TYPE_WORD},     {53, 53, TYPE_SET_WORD}, {54, 54, TYPE_WORD},  {55, 55, TYPE_URL},
    {56, 56, TYPE_EMAIL},    {57, 57, TYPE_REF},    {58, 58, TYPE_WORD},    {59, 59, TYPE_PATH},
    {60, 60, TYPE_INTEGER},  {61, 62, TYPE_WORD},   {63, 63, TYPE_ISSUE},   {64, 64, TYPE_WORD},
};

constexpr std::array<TypeId, kStateCount> make_state_types() {
  std::array<TypeId, kStateCount> t{};
  for (const TypeSpan& span : kStateTypeSpans)
    for (int s = span.from; s <= span.to; ++s) t[s] = span.type;
  return t;
}

constexpr std::array<uint8_t, 256> make_skip_table() {
  std::array<uint8_t, 256> t{};
  t[S_TOP] = 1;
  return t;
}

constexpr std::array<uint8_t, kClassCount> make_line_table() {
  std::array<uint8_t, kClassCount> t{};
  t[C_LF] = 1;
  return t;
}

constexpr std::array<bool, 256> make_point_lookahead() {
  std::array<bool, 256> t{};
  for (unsigned char c : std::string_view("\t #+-.0123456789AEFINaefin")) t[c] = true;
  return t;
}

constexpr uint64_t class_bits(std::initializer_list<int> classes) {
  uint64_t bits = 0;
  for (int c : classes) bits |= uint64_t{1} << c;
  return bits;
}

}  // namespace

const std::array<uint32_t, 256> kClassTable = make_class_table();
const std::array<uint8_t, kStateCount * kClassCount> kTransitions = make_transitions();
const std::array<TypeId, kStateCount> kStateTypes = make_state_types();

const std::array<TypeId, kKindCount> kKindTypes = {
    TYPE_NONE_ID, TYPE_ERROR,   TYPE_NONE_ID, TYPE_NONE_ID, TYPE_NONE_ID, TYPE_NONE_ID,  // 0-5
    TYPE_NONE_ID, TYPE_STRING,  TYPE_NONE_ID, TYPE_NONE_ID, TYPE_NONE_ID, TYPE_NONE_ID,  // 6-11
    TYPE_NONE_ID, TYPE_STRING,  TYPE_WORD,    TYPE_ISSUE,   TYPE_INTEGER, TYPE_REFINEMENT,  // 12-17
    TYPE_CHAR,    TYPE_FILE,    TYPE_BINARY,  TYPE_PERCENT, TYPE_FLOAT,   TYPE_FLOAT,    // 18-23
    TYPE_TUPLE,   TYPE_DATE,    TYPE_PAIR,    TYPE_POINT2D, TYPE_TIME,    TYPE_MONEY,    // 24-29
    TYPE_TAG,     TYPE_URL,     TYPE_EMAIL,   TYPE_INTEGER, TYPE_STRING,  TYPE_REF,      // 30-35
};

const std::array<uint8_t, 256> kSkipTable = make_skip_table();
const std::array<uint8_t, kClassCount> kLineTable = make_line_table();
const std::array<bool, 256> kPointLookahead = make_point_lookahead();
const uint64_t kPathFollowerClasses =
    class_bits({C_BLANK, C_LF, C_LBRACKET, C_RBRACKET, C_LPAREN, C_RPAREN, C_LBRACE, C_DQUOTE, C_COLON,
                C_LESS, C_SEMICOLON, C_INVALID, C_END,
                // a word: every class a word can begin with, so that the letter after the ":" does
                // not decide between a set-path and a path followed by a get-word
                C_X, C_T, C_H, C_E_LOWER, C_E_UPPER, C_HEX_LOWER, C_HEX_UPPER, C_WORD});

bool is_delimiter_space(uint32_t cp) {
  switch (cp) {
    case 0x0085: case 0x00A0: case 0x1680: case 0x180E: case 0x2028: case 0x2029: case 0x202F:
    case 0x205F: case 0x3000:
      return true;
    default:
      return cp >= 0x2000 && cp <= 0x200C;  // U+2000-U+200A spaces, U+200B-U+200C zero widths
  }
}

}  // namespace zem::lexer
