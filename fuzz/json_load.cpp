// load-json over every input, and to-json with load-json again over what it decodes: the second
// decode must succeed and give an equal value when the first held no float that JSON cannot
// write back (the infinities become null). Wrapped in 401 arrays, a text is beyond the one-pass
// decoder's depth and goes through the grammar: both roads must give the same value.
#include "fuzz/text_input.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_text::boot(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_text::run_over(data, size, R"(
    v: load-json to string! fuzz-bytes
    unless error? :v [
      text: to-json :v
      w: load-json text
      if error? :w [print "to-json wrote text load-json refuses" quit-return 99]
      unless find text "null" [
        unless equal? :v :w [print "load-json to-json changed the value" quit-return 99]
      ]
      to-json/pretty/ascii :v "  "
      deep: rejoin [append/dup copy "" "[" 401 text append/dup copy "" "]" 401]
      unless error? w: try [load-json deep] [
        loop 401 [w: first w]
        unless strict-equal? :w load-json text [print "the grammar and the decoder differ" quit-return 99]
      ]
    ]
  )");
  return 0;
}
