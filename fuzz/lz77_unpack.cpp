// The LZ77 unpacker on arbitrary bytes. Whatever unpacks must pack and unpack again to itself, and
// the output never exceeds the size the header may claim for the bytes given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "services/lz77.h"

using namespace zem;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size heap copy, so that a read past the input is seen.
  std::vector<uint8_t> in(data, data + size);
  std::vector<uint8_t> out;
  if (!lz77::unpack(in.data(), in.size(), out)) {
    check(out.empty());
    return 0;
  }
  check(out.size() <= lz77::max_unpacked(size));
  const std::vector<uint8_t> packed = lz77::pack(out.data(), out.size());
  std::vector<uint8_t> back;
  check(lz77::unpack(packed.data(), packed.size(), back));
  check(back == out);
  return 0;
}
