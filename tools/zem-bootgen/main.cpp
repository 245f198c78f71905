// zem-bootgen: the build step that writes the boot image. Starts a runtime up to the evaluator,
// builds the global environment from the embedded library sources as start-up does, and writes it
// as a boot image; also writes the digest of the sources the image came from, which
// tools/embed_boot_image.py builds into the program with it.
//
// usage: zem-bootgen IMAGE DIGEST
#include <cstdio>
#include <string>
#include <vector>

#include "library/boot.h"
#include "runtime/platform.h"
#include "runtime/startup.h"

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
  // As start-up builds it: outside any Zem frame.
  std::vector<uint8_t> image = zem::boot::environment_image();
  const std::string digest(zem::boot::source_digest());
  if (!write_file(argv[1], image.data(), image.size()) || !write_file(argv[2], digest.data(), digest.size())) {
    std::perror("zem-bootgen");
    status = 1;
  }
  zem::runtime_exit(status);
}

}  // namespace

int main(int argc, char** argv) { return zem::platform::run_on_stack(zem::platform::kStackBytes, run, argc, argv); }
