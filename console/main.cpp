// zem: the console program.
#include "runtime/startup.h"

int main(int argc, char** argv) {
  zem::platform::ensure_stack_limit(argv, zem::platform::kStackBytes);
  zem::runtime_init(argc, argv);
  zem::run_outermost([] {
    // The global environment and the console are started here once they exist.
  });
  zem::runtime_exit(0);
}
