// Platform start-up, memory pages, the console hand-off and the services' argument checks.
#include "services/os/services.h"

#include <sys/mman.h>

#include <algorithm>
#include <string_view>

extern char** environ;

#include "datatypes/map.h"
#include "datatypes/string_storage.h"
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

Cell environment_map() {
  uint32_t n = 0;
  for (char** e = environ; e && *e; e++) n++;
  Cell m = map::make_empty(n);
  for (char** e = environ; e && *e; e++) {
    std::string_view entry(*e);
    // A name may begin with "=": the first "=" after the first character ends it.
    size_t eq = entry.find('=', 1);
    std::string_view name = entry.substr(0, eq);
    std::string_view value = eq == std::string_view::npos ? std::string_view() : entry.substr(eq + 1);
    map::put(m, str::make_from_utf8(name), str::make_from_utf8(value), true);
  }
  return m;
}

}  // namespace zem::os
