// zem: the console program.
#include "library/boot.h"
#include "runtime/startup.h"

int main(int argc, char** argv) {
  zem::platform::ensure_stack_limit(argv, zem::platform::kStackBytes);
  zem::boot::install_image(zem::boot::built_image());
  zem::runtime_init(argc, argv);
  zem::run_outermost([] {
    // The global environment and the console are started here once they exist.
  });
  zem::runtime_exit(0);
}
