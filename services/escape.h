// ESC "[" sequences in text printed to a terminal: a pure parser that turns one sequence into at
// most one screen operation, the attribute arithmetic of "m" (colours and intensity in a 16-bit
// attribute word), and the terminal back end that writes each operation as a standard ANSI
// sequence.
//
// The parser reads units of 1, 2 or 4 bytes (little-endian) and compares only their low byte. It
// never reads past the text it is given: a sequence that the end of the text cuts off consumes
// nothing, so its ESC is printed as an ordinary character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zem::escape {

// Attribute word bits: foreground 0x01 blue, 0x02 green, 0x04 red, 0x08 intensity; background the
// same shifted by 4; 0x8000 underscore.
constexpr int32_t kDefaultAttribute = 0x07;  // light grey on black: the terminal's own colours

enum class OpKind : uint8_t {
  SaveCursor,     // keep the cursor position
  RestoreCursor,  // back to the kept position (column 0, row 0 when none was kept)
  Erase,          // mode `a`: 0 the cursor's row and all below, 1 the rows above it, 2 the
                  // screen (cursor home), 3 the cursor's row (cursor to its column 0), 4 from the
                  // cursor to the end of its row, 5 the row before the cursor (cursor to column 0)
  Up,             // `a` rows, not above row 0
  Down,           // `a` rows, not below the last row
  Right,          // `a` columns, not past the last column
  Left,           // `a` columns, not left of column 0
  Position,       // column `a`, row `b`, both from 0
  Report,         // the screen-buffer report
  Attribute,      // apply `codes` in order to the current attribute, then set it
};

struct Op {
  Op() = default;
  explicit Op(OpKind k, int32_t first = 0, int32_t second = 0) : kind(k), a(first), b(second) {}
  OpKind kind = OpKind::SaveCursor;
  int32_t a = 0;
  int32_t b = 0;
  std::vector<uint16_t> codes;  // Attribute only
};
bool operator==(const Op& x, const Op& y);

struct Parsed {
  size_t consumed = 0;    // bytes, ESC included; 0 when the text is no complete ESC "[" sequence
  std::optional<Op> op;   // a sequence has at most one effect; none for an unknown final character
};

// `text` points at an ESC unit; `bytes` is what remains of the text from there (whole units).
Parsed parse(const void* text, size_t bytes, int unit);

// One code of "m" applied to an attribute word. Codes the table does not know leave it unchanged.
int32_t apply_sgr(int32_t attribute, int code, int32_t default_attribute);

// What the terminal back end keeps between operations.
struct Terminal {
  int32_t default_attribute = kDefaultAttribute;
  int32_t attribute = kDefaultAttribute;  // the attribute last set
  bool saved = false;                     // a cursor position was kept
  int32_t width = 0;                      // screen size, 0 when unknown
  int32_t height = 0;
};

// The ANSI text of an attribute word: a reset, then the colours that differ from the default's,
// bright colours for the intensity bits, and underline.
std::string attribute_text(int32_t attribute, int32_t default_attribute);
// The ANSI text that carries out `op` on a terminal (empty for Report and for operations without
// effect); updates `t`.
std::string ansi_text(const Op& op, Terminal& t);
// The lines of the screen-buffer report; the terminal does not tell the cursor position, which is
// shown as "?x?".
std::string report_text(const Terminal& t);

// Reads the screen size of the terminal on `fd` (0 x 0 when it is none).
void read_size(int fd, Terminal& t);

}  // namespace zem::escape
