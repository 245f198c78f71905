// The boot image: a compact Zembin buffer (flags 0x05: compact, symbol table, not packed; version
// 1) written at build time by tools/zem-bootgen and decoded at start-up in boot mode.
//
// It holds the blocks of the library sources, scanned and bound in the global context, as its
// roots, in load order; start-up evaluates them as it evaluates the blocks it scans itself. Boot
// mode also reads what only a boot image may carry: a definition (0xC4, a word and a value: the
// word is set, nothing is appended), a word bound by root index (V=1, a word index of -1 found by
// symbol), objects with their stored class ids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "runtime/cell.h"

namespace zem::zembin {

// A start-up that cannot use its boot image ends with a message on stderr and this status: 65,
// EX_DATAERR of <sysexits.h>, apart from the crash report's codes and from -2 (an uncaught error).
constexpr int kBootFaultStatus = 65;

// The version byte of a boot image.
constexpr uint8_t kBootVersion = 1;

// Decodes a boot image into the root block with the collector off (its previous state restored
// after): every top-level value is appended there, every definition sets its word. Answers the
// root block's length before the decode, the index of root 0. A buffer without the magic ends the
// process with "Error: Not a Zembin file!", a damaged packed payload with "Error: Zembin compressed
// data corrupted!", any other fault with a message naming the byte; each on stderr, with
// kBootFaultStatus.
uint32_t boot_load(const uint8_t* data, size_t size);

// Writes a boot image: the roots in order, then each definition (a word bound in the global
// context and its value).
struct Definition {
  Cell word;
  Cell value;
};
std::vector<uint8_t> write_boot_image(std::span<const Cell> roots, std::span<const Definition> definitions);

}  // namespace zem::zembin
