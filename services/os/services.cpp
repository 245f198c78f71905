// Platform start-up, memory pages, the console hand-off and the services' argument checks.
#include "services/os/services.h"

#include <sys/mman.h>

#include <algorithm>

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

std::array<uint8_t, 3> release_numbers(std::string_view release) {
  std::array<uint8_t, 3> numbers{};
  size_t i = 0;
  for (size_t k = 0; k < numbers.size(); ++k) {
    if (i >= release.size() || release[i] < '0' || release[i] > '9') break;
    uint32_t n = 0;
    for (; i < release.size() && release[i] >= '0' && release[i] <= '9'; ++i)
      n = std::min<uint32_t>(255, n * 10 + static_cast<uint32_t>(release[i] - '0'));
    numbers[k] = static_cast<uint8_t>(n);
    if (i >= release.size() || release[i] != '.') break;
    ++i;
  }
  return numbers;
}

void check_type(const Cell& value, TypeId type) {
  if (!value.is(type)) fire(Err::script_invalid_arg, &value);
}

}  // namespace zem::os
