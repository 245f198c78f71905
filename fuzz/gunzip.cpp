// Gzip files on arbitrary input, decoded with a small and a large capacity (deflate_check.h); the
// input is also compressed and must decode back to itself.
#include "fuzz/deflate_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_deflate::decode_twice(zem::deflate::gunzip, data, size);
  fuzz_deflate::round_trip(zem::deflate::gzip, zem::deflate::gunzip, data, size);
  return 0;
}
