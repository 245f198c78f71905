// Captures what the standard output writer and hook list 2 receive during a test.
#pragma once

#include <string>

namespace zem::test {

class CaptureOutput {
 public:
  CaptureOutput();   // initialises the hooks and the writer; stdout goes to a temporary file
  ~CaptureOutput();  // puts the writer back on fd 1
  std::string stdout_text() const;
  static std::string& list2_text();  // what every list-2 call received, in order
  static int& list2_calls();

 private:
  int fd_;
};

}  // namespace zem::test
