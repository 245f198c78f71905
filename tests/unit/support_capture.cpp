// Test support: capturing standard output through the output hooks.
#include "tests/unit/support_capture.h"

#include <stdlib.h>
#include <unistd.h>

#include "runtime/hooks.h"
#include "services/output.h"

namespace zem::test {

namespace {
void record_list2(const char* text, int32_t length, int32_t) {
  CaptureOutput::list2_text().append(text, static_cast<size_t>(length));
  ++CaptureOutput::list2_calls();
}
}  // namespace

std::string& CaptureOutput::list2_text() {
  static std::string text;
  return text;
}

int& CaptureOutput::list2_calls() {
  static int calls = 0;
  return calls;
}

CaptureOutput::CaptureOutput() {
  hooks::init();
  stdio::init();
  char name[] = "/tmp/zem-capture-XXXXXX";
  fd_ = mkstemp(name);
  unlink(name);
  stdio::set_handle(fd_);
  list2_text().clear();
  list2_calls() = 0;
  hooks::add(nullptr, record_list2);
}

CaptureOutput::~CaptureOutput() {
  hooks::remove(nullptr, record_list2);
  stdio::set_handle(1);
  close(fd_);
}

std::string CaptureOutput::stdout_text() const {
  std::string out;
  char buf[4096];
  off_t at = 0;
  for (ssize_t n; (n = pread(fd_, buf, sizeof buf, at)) > 0; at += n) out.append(buf, n);
  return out;
}

}  // namespace zem::test
