#include "services/os/services.h"

#include <sys/mman.h>

#include "runtime/error.h"
#include "runtime/platform.h"
#include "services/output.h"

namespace zem::os {

void init() {
  stdio::init();
  platform::pin_numeric_locale();
}

bool alloc_console() { return false; }

void free_console() {}

void* virtual_alloc(size_t bytes, bool executable) {
  if (executable || bytes == 0) return nullptr;
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

bool virtual_free(void* pages, size_t bytes) { return munmap(pages, bytes) == 0; }

void check_type(const Cell& value, TypeId type) {
  if (!value.is(type)) fire(Err::script_invalid_arg, &value);
}

}  // namespace zem::os
