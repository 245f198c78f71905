// load-csv over every input, plain, with /header and as records, and to-csv of the rows read:
// reading the written text back gives the same rows. A delimiter given as a string takes the
// grammar's road, a character the one-pass reader's: both give the same rows or both an error.
#include "fuzz/text_input.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_text::boot(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_text::run_over(data, size, R"(
    text: to string! fuzz-bytes
    rows: load-csv text
    attempt [load-csv/header text]
    attempt [load-csv/header/as-records text]
    load-csv/as-columns text
    load-csv/with/trim text ";"
    by-grammar: load-csv/with text ","
    unless any [all [error? rows error? by-grammar] strict-equal? rows by-grammar] [
      print "the reader and the grammar differ" quit-return 99
    ]
    if all [block? rows  not empty? rows] [
      out: to-csv rows
      unless error? out [
        unless strict-equal? out to-csv/with rows "," [print "the two writers differ" quit-return 99]
        unless strict-equal? rows load-csv out [print "to-csv did not read back" quit-return 99]
      ]
    ]
  )");
  return 0;
}
