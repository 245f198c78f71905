// zem-bootgen: the build step that writes the boot image. Starts a runtime up to the evaluator,
// scans and binds the embedded library sources as start-up does, and writes their blocks (from
// past each "Zem [...]" header) as the roots of a boot image; also writes the digest of the
// sources the image came from, which tools/embed_boot_image.py builds into the program with it.
//
// usage: zem-bootgen IMAGE DIGEST
#include <cstdio>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "library/boot.h"
#include "runtime/platform.h"
#include "runtime/startup.h"
#include "services/zembin/boot.h"

namespace {

bool write_file(const char* path, const void* data, size_t size) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

int run(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: zem-bootgen IMAGE DIGEST\n", stderr);
    return 2;
  }
  int status = 0;
  if (!zem::init_through(zem::StartLayer::evaluator)) return 1;
  zem::run_outermost([&] {
    std::vector<zem::Cell> roots;
    for (const zem::Cell& code : zem::boot::scan_library()) {
      // The header block stays out: start-up evaluates from past it, and its words are not globals.
      roots.push_back(zem::block::copy_cells(code, false));
    }
    std::vector<uint8_t> image = zem::zembin::write_boot_image(roots, {});
    const std::string digest(zem::boot::source_digest());
    if (!write_file(argv[1], image.data(), image.size()) || !write_file(argv[2], digest.data(), digest.size())) {
      std::perror("zem-bootgen");
      status = 1;
    }
  });
  zem::runtime_exit(status);
}

}  // namespace

int main(int argc, char** argv) { return zem::platform::run_on_stack(zem::platform::kStackBytes, run, argc, argv); }
