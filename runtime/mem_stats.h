// Memory statistics (behind `stats`) and the debugging print of a word's name.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zem::debug {

// Bytes in use: 8 per used node, the carved bytes of every series frame and the size of every big
// series. With mode 2 or more it also appends to `block` (a block's node): a block of
// [free used capacity] per node frame, a block of [free used size] bytes per series frame, a block of
// the big series' sizes, the total bytes reserved (node slots and frame records, frames, big
// blocks, the C heap) and the C heap's own total. Numbers above 2147483647 are float!.
double memory_stats(NodeId block, int mode);

// Prints the name of the word's symbol with the low-level printer, without a line feed.
void print_word_name(const Cell& word);

}  // namespace zem::debug
