// BMP decoding (our own reader) of arbitrary bytes; what decodes must encode and decode again.
#include "fuzz/image_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_image::check(zem::imaging::codec::decode_bmp, zem::imaging::codec::encode_bmp, data, size);
  return 0;
}
