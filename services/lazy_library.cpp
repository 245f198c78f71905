// Shared libraries bound on first use, through dlopen and dlsym.
#include "services/lazy_library.h"

#include <dlfcn.h>

#include <cstring>

#include "datatypes/string_storage.h"
#include "runtime/error.h"

namespace zem::lazy {

bool bind(const char* soname, std::initializer_list<Entry> entries) {
  void* library = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  for (const Entry& e : entries) {
    void* symbol = ::dlsym(library, e.name);
    if (symbol == nullptr) {
      for (const Entry& done : entries) std::memset(done.slot, 0, sizeof symbol);
      ::dlclose(library);
      return false;
    }
    std::memcpy(e.slot, &symbol, sizeof symbol);  // a data pointer into a function pointer (POSIX)
  }
  return true;  // open for the life of the process
}

void missing(const char* soname) {
  const Cell name = str::make_from_utf8(soname);
  fire(Err::access_cannot_open, &name);
}

}  // namespace zem::lazy
