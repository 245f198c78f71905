// The lexer's static tables: byte classes with their flags, the automaton's transitions, the datatype of
// every working state and of every token kind, and the small byte sets the structural scanners use.
#pragma once

#include <array>
#include <cstdint>

#include "runtime/cell.h"

namespace zem::lexer {

constexpr int kClassCount = 40;
constexpr int kStateCount = 65;    // working states 0..64 (state 65 is never reached)
constexpr int kFinalBase = 66;     // final state f ends a token of kind f - kFinalBase
constexpr int kKindCount = 36;

// Byte classes (low byte of a class entry).
enum Class : uint8_t {
  C_BLANK = 0, C_LF = 1, C_DIGIT = 2, C_ZERO = 3, C_LBRACKET = 4, C_RBRACKET = 5, C_LPAREN = 6,
  C_RPAREN = 7, C_LBRACE = 8, C_RBRACE = 9, C_DQUOTE = 10, C_HASH = 11, C_APOSTROPHE = 12,
  C_COLON = 13, C_X = 14, C_T = 15, C_H = 16, C_E_LOWER = 17, C_E_UPPER = 18, C_HEX_LOWER = 19,
  C_HEX_UPPER = 20, C_SLASH = 21, C_BACKSLASH = 22, C_LESS = 23, C_GREATER = 24, C_EQUAL = 25,
  C_PERCENT = 26, C_COMMA = 27, C_SEMICOLON = 28, C_AT = 29, C_DOT = 30, C_DOLLAR = 31, C_PLUS = 32,
  C_MINUS = 33, C_CARET = 34, C_CONTROL = 35, C_CONTINUATION = 36, C_WORD = 37, C_INVALID = 38,
  C_END = 39,
};

// Flags in the upper bits of a class entry, or-ed over the bytes of a token.
enum ClassFlag : uint32_t {
  F_PERCENT = 0x00040000,
  F_GREATER = 0x00080000,
  F_LESS = 0x00100000,
  F_SIGN = 0x00200000,
  F_NUL = 0x00400000,
  F_HASH = 0x00800000,
  F_EXP = 0x01000000,
  F_APOSTROPHE = 0x02000000,
  F_COLON = 0x04000000,
  F_COMMA = 0x08000000,
  F_DOT = 0x10000000,
  F_CARET = 0x20000000,
  F_UTF8_2_3 = 0x40000000,  // lead byte of a 2- or 3-byte sequence
  F_UTF8_4 = 0x80000000,    // lead byte of a 4-byte sequence
};
constexpr uint32_t kClassMask = 0xFF;

// Token kinds: the final state minus kFinalBase.
enum Kind : uint8_t {
  K_END = 0, K_INVALID = 1, K_BLOCK_OPEN = 2, K_BLOCK_CLOSE = 3, K_PAREN_OPEN = 4, K_PAREN_CLOSE = 5,
  K_BRACE_OPEN = 6, K_BRACE_CLOSE = 7, K_MAP_OPEN = 8, K_PATH_HEAD = 9, K_CONSTRUCT = 10,
  K_COMMENT = 11, K_COMMA = 12, K_STRING = 13, K_WORD = 14, K_ISSUE = 15, K_INTEGER = 16,
  K_REFINEMENT = 17, K_CHAR = 18, K_FILE = 19, K_BINARY = 20, K_PERCENT = 21, K_FLOAT = 22,
  K_SPECIAL_FLOAT = 23, K_TUPLE = 24, K_DATE = 25, K_PAIR = 26, K_POINT = 27, K_TIME = 28,
  K_MONEY = 29, K_TAG = 30, K_URL = 31, K_EMAIL = 32, K_HEX_INTEGER = 33, K_RAW_STRING = 34,
  K_REF = 35,
};

// Start states.
constexpr uint8_t S_TOP = 0;
constexpr uint8_t S_BRACED = 4;
constexpr uint8_t S_POINT = 35;
constexpr uint8_t S_PATH = 59;

extern const std::array<uint32_t, 256> kClassTable;
// Next state = kTransitions[state * kClassCount + class].
extern const std::array<uint8_t, kStateCount * kClassCount> kTransitions;
// Datatype of each working state (TYPE_NONE_ID where the state has none).
extern const std::array<TypeId, kStateCount> kStateTypes;
// Datatype of each token kind (TYPE_NONE_ID for the structural kinds).
extern const std::array<TypeId, kKindCount> kKindTypes;
// 1 for the states whose entry skips the byte (only state 0), indexed by any next state.
extern const std::array<uint8_t, 256> kSkipTable;
// 1 for the classes that count a line.
extern const std::array<uint8_t, kClassCount> kLineTable;
// Bytes that may stand between "(" and the first "," of a point literal.
extern const std::array<bool, 256> kPointLookahead;
// Classes that may follow the ":" that ends a path (bit per class).
extern const uint64_t kPathFollowerClasses;

// True for the Unicode spaces that end a word and that are skipped like blanks.
bool is_delimiter_space(uint32_t cp);

}  // namespace zem::lexer
