// The standard output writer: the runtime's lowest text output. Text goes to the standard output
// handle as UTF-8 with LF line ends, whatever the handle is. When the handle is a terminal, an
// ESC "[" sequence in text of 1 or 2 bytes per code point is carried out by the escape interpreter
// (services/escape.h), which writes its own ANSI text for it; anywhere else ESC and the rest of
// the sequence go out as text. Each write operation ends with a flush; every flush is echoed to
// hook list 2 so that a console also sees the runtime's low-level printing (never the ANSI text of
// a sequence).
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zem::stdio {

constexpr size_t kOutputBufferSize = 1024;
constexpr size_t kFlushThreshold = 1020;  // room left for the longest UTF-8 sequence

struct OutputState {
  bool initialized = false;
  int fd = 1;
  bool broken = false;  // a write failed (closed pipe, ...): printing ends quietly
  bool terminal = false;  // the handle is a terminal: escape sequences are interpreted
  size_t pos = 0;
  char buffer[kOutputBufferSize];
  char numbers[64];
};
extern OutputState output_state;

// Sets up the writer on the standard output handle, deciding once whether it is a terminal;
// SIGPIPE is ignored from here on.
void init();
// Replaces the standard output handle (a redirection): printing works again after a failure, and
// whether it is a terminal is decided anew.
void set_handle(int fd);
int handle();

// Text of `bytes` bytes in units of 1, 2 or 4 bytes per code point (little-endian), then a line
// feed when asked. Unit 2 is encoded unit by unit (never joined into surrogate pairs).
void write(const void* text, size_t bytes, int unit, bool line_feed);
// The same without the echo to hook list 2.
void write_quiet(const void* text, size_t bytes, int unit, bool line_feed);

void print_latin1(const void* text, size_t bytes);
void print_latin1_line(const void* text, size_t bytes);
void print_ucs2(const void* text, size_t bytes);
void print_ucs2_line(const void* text, size_t bytes);
void write_ucs4(const void* text, size_t bytes);
void print_ucs4_line(const void* text, size_t bytes);
// The bytes as they are (UTF-8), echoed to hook list 2 once.
const char* print_cstr(const char* text);

int32_t print_int(int32_t v);          // decimal
int32_t print_hex_byte(int32_t v);     // two upper-case hex digits
int32_t print_hex32(int32_t v);        // eight upper-case hex digits
double print_float64(double v);        // 16 significant digits, as %.16g
float print_float32(float v);          // 7 significant digits, as %.7g

// Language-level print and prin: the formed text goes to hook list 1 when it has callbacks;
// otherwise straight to standard output without the list-2 echo, so a console hung on both lists
// never shows a line twice. `value` is the string value handed to list 1.
void print_formed(const Cell* value, const void* text, size_t bytes, int unit, bool line_feed);

}  // namespace zem::stdio
