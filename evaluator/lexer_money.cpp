// The money token: [sign] [code] "$" digits with "'" separators [("." | ",") 1-5 digits], at most
// 17 integer digits. The amount itself is made by the money type, which knows the currencies.
#include "datatypes/type_hooks.h"
#include "evaluator/lexer_loaders.h"
#include "evaluator/number_text.h"

namespace zem::lexer {

void load_money(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  auto refuse = [&]() { syntax_error(st, start, end, ErrorKind::invalid, TYPE_MONEY); };
  const uint8_t* p = start;
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  const uint8_t* code = p;
  while (p < end && *p != '$') p++;
  if (p == end || (p != code && p - code != 3)) refuse();
  for (const uint8_t* c = code; c < p; c++)
    if (!is_ascii_letter(*c)) refuse();
  const uint8_t* dollar = p++;
  if (p == end || *p == '.' || *p == ',' || *p == '\'') refuse();
  const uint8_t* point = nullptr;
  int whole = 0, fraction = 0;
  bool leading = true;
  for (; p < end; p++) {
    const uint8_t c = *p;
    if (c >= '0' && c <= '9') {
      if (point) fraction++;
      else if (!(leading && c == '0')) leading = false, whole++;
    } else if (c == '\'' && !point) {
      if (p[-1] == '\'' || p + 1 == end) refuse();
    } else if ((c == '.' || c == ',') && !point) {
      if (p[-1] == '\'' || p + 1 == end) refuse();
      point = p;
    } else {
      refuse();
    }
  }
  if (whole > 17 || fraction > 5) refuse();
  // A check alone stops here: whether the code names a currency is known once the value is made.
  if (!build) return;
  Cell value{};
  const char* text = reinterpret_cast<const char*>(start);
  if (!further_type_hooks().money_make_from_parts(value, text, negative, code == dollar ? -1 : int32_t(code - start),
                                                  int32_t(dollar - start), point ? int32_t(point - start) : -1,
                                                  int32_t(end - start)))
    refuse();
  *push_cell(st) = value;
}

}  // namespace zem::lexer
