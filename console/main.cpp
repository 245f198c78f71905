// zem: the console program.
#include "library/boot.h"
#include "runtime/startup.h"

namespace {

int run(int argc, char** argv) {
  zem::boot::install_image(zem::boot::built_image());
  zem::runtime_init(argc, argv);
  zem::run_outermost([] {
    // The global environment and the console are started here once they exist.
  });
  zem::runtime_exit(0);
}

}  // namespace

int main(int argc, char** argv) { return zem::platform::run_on_stack(zem::platform::kStackBytes, run, argc, argv); }
