// money!: an exact decimal amount (22 BCD digits, 17 before the point) with an optional currency,
// the index of its code in system/locale/currencies/list. The arithmetic is the digit kernel's.
#pragma once

#include <cstdint>

#include "datatypes/money_kernel.h"
#include "datatypes/registry.h"

namespace zem::money {

// The one-byte index cannot name a currency further down the list than this.
constexpr int32_t kMaxCurrency = 255;

Amount amount_of(const Cell& money);
// The cell becomes a money! of that amount and currency (a zero amount is never negative).
void store(Cell& target, const Amount& amount, uint8_t currency);
Cell make(const Amount& amount, uint8_t currency = 0);

// 1-based position of the code (a symbol, compared without regard to case) in the currency list;
// -1 when the list does not hold it.
int32_t currency_index(uint32_t symbol);

// The conversions the number types use; they raise script errors as to money! and to integer! do.
Cell from_integer(int32_t n);
Cell from_float(double d, bool strict);
int32_t to_integer(const Cell& money);
double to_float(const Cell& money);

// The money arithmetic of slot 0 with slot 1 (either may be the money!); the result in slot 0.
Cell* do_math(ActionCall& call, MathOp op);
int32_t compare(const Cell& money, const Cell& other, CompareOp op);

void register_type();

}  // namespace zem::money
