// Shared libraries bound on first use: a process that never makes an HTTP request or reads a TIFF
// image does not load those libraries, and the many they pull in, at start.
#pragma once

#include <initializer_list>

namespace zem::lazy {

// A symbol to look up and the function pointer it fills.
struct Entry {
  const char* name;
  void* slot;  // the address of a function pointer
};

// Opens `soname` and fills every slot with its symbol. False, with the library closed again, when
// it or one of the symbols cannot be found.
bool bind(const char* soname, std::initializer_list<Entry> entries);

// Raises access cannot-open naming the library: for a caller whose bind failed.
[[noreturn]] void missing(const char* soname);

}  // namespace zem::lazy
