// The process environment as a map! (from environ).
#include "services/os/environment.h"

#include <string_view>

#include "datatypes/map.h"
#include "datatypes/string_storage.h"

extern char** environ;

namespace zem::os {

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
