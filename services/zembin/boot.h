// The boot image: a compact Zembin buffer (flags 0x05: compact, symbol table, not packed; version
// 1) written at build time by tools/zem-bootgen and decoded at start-up in boot mode.
//
// It holds the global environment the library sources build (library/boot.h): roots that a word,
// object or function names by its root index, then definitions of the global words. Boot mode reads
// what only a boot image may carry: a definition (0xC4, a word and a value: the word is set,
// nothing is appended), a word bound by root index (V=1, a word index of -1 found by symbol; -2
// bound to no context; -3 global without a slot), a context root (its flags and words, bit 0 of
// each symbol field the word's set mark), objects with their stored class ids and their context
// by root index (C1 0E, root + 1, 0 the global context), functions with their header flags (V=1:
// the library flag travels with them), routines by the name of their registry entry and their
// spec, natives and actions with their own spec or the runtime's, the null handle.
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
// A snapshot (the global environment) writes what the values share once (see encode_boot).
std::vector<uint8_t> write_boot_image(std::span<const Cell> roots, std::span<const Definition> definitions,
                                      bool snapshot = false);

}  // namespace zem::zembin
