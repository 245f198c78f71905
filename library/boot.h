// The boot library: Zem source embedded at build time, scanned at start-up, rooted, then evaluated
// in a fixed order to build the global environment.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "runtime/cell.h"

namespace zem::boot {

struct LibrarySource {
  std::string_view name;  // file name under library/
  std::string_view text;
};

// Every embedded source, by file name.
std::span<const LibrarySource> embedded_sources();
// File names in load order.
std::span<const std::string_view> load_order();

// Registers the library's routines in the routine registry (once per process).
void register_routines();
// Binds `boot-routine` (the routine constructor that only start-up can use) and a first `make`.
void define_boot_words();

// The hex SHA-256 of the embedded sources: a boot image must carry the digest of the sources the
// executable holds.
std::string_view source_digest();

// How start-up builds the global environment: ZEM_BOOT=source or ZEM_BOOT=image; without it, from
// the image when the program carries one. Another value of ZEM_BOOT ends start-up with a message
// and kImageFaultStatus.
enum class Route : uint8_t { source, image };
Route route();

// A start-up that cannot use its boot image (missing, stale, damaged) ends with this status and a
// message on stderr: EX_DATAERR of <sysexits.h>, apart from the crash report's codes.
constexpr int kImageFaultStatus = 65;

// Builds the global environment by the chosen route: from the source, the datatype words, then
// each library source in order, enabling the collector once every source is scanned and rooted.
// An error no code catches ends the process with status -2 and its "*** " message on stderr.
// With ZEM_BOOT_TIMES=1 the time of each step goes to stderr.
void build_environment();

// The `bits` field of system/state/callbacks (bit k - 1: the k-th callback flag is on), from the
// object start-up made, whatever `system` holds now; 0 when it holds no integer.
uint32_t callback_bits();

// The scanned, bound block of a source text, its "Zem [...]" header skipped (for tests).
Cell load_source(std::string_view text);

}  // namespace zem::boot
