// The boot library: Zem source embedded at build time, scanned at start-up, rooted, then evaluated
// in a fixed order to build the global environment.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

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

// A boot image, written at build time by tools/zem-bootgen: the Zembin bytes of the global
// environment the library sources build (see environment_image), the digest of the sources it was
// written from and the CRC-32 of the bytes.
struct Image {
  std::span<const uint8_t> bytes;
  std::string_view source_digest;
  uint32_t crc32 = 0;
};
// An executable that carries a boot image hands it over before start-up.
void install_image(const Image* image);
// The image linked into a program: defined by the file tools/embed_boot_image.py generates, which
// the programs that carry an image link (zem_core does not).
const Image* built_image();

// How start-up builds the global environment: ZEM_BOOT=source or ZEM_BOOT=image; without it, from
// the image when the program carries one. Another value of ZEM_BOOT ends start-up with a message
// and zembin::kBootFaultStatus.
enum class Route : uint8_t { source, image };
Route route();

// Builds the global environment: the words defined in C++ (routines, natives, datatypes), then the
// library: its sources scanned, bound and evaluated in load order (source route) or its environment
// decoded from the boot image (image route); then, on both, process.zem and the C++ steps that
// keep what the runtime reads of `system`. A start-up
// that cannot use its image (missing, stale, damaged) ends with a message on stderr and
// zembin::kBootFaultStatus.
// An error no code catches ends the process with status -2 and its "*** " message on stderr.
// With ZEM_BOOT_TIMES=1 the time of each step goes to stderr.
void build_environment();

// For the boot-image tool: builds the global environment from the sources (process.zem left out)
// and answers it as a boot image: a first root with the object class counter and the global words
// in slot order, then the definition of each global word the library set. The collector is left off.
std::vector<uint8_t> environment_image();

// The `bits` field of system/state/callbacks (bit k - 1: the k-th callback flag is on), from the
// object start-up made, whatever `system` holds now; 0 when it holds no integer.
uint32_t callback_bits();

// The scanned, bound block of a source text, its "Zem [...]" header skipped (for tests).
Cell load_source(std::string_view text);

}  // namespace zem::boot
