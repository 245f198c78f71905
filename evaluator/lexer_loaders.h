// The token loaders and container builders the lexer installs at start-up.
#pragma once

#include "evaluator/lexer.h"

namespace zem::lexer {

void install_loaders();
// Scans text as source and answers its first value (the wiring table's `load_first`).
Cell load_first(std::string_view text);
// The date token (lexer_date.cpp).
void load_date(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build);
// The money token (lexer_money.cpp).
void load_money(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build);

}  // namespace zem::lexer
