// decode-url over every input as a string, and encode-url of what it decodes.
#include "fuzz/text_input.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_text::boot(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_text::run_over(data, size, R"(
    u: decode-url to string! fuzz-bytes
    if object? u [encode-url u]
    url-parser/parse-url/throw-error to string! fuzz-bytes
  )");
  return 0;
}
