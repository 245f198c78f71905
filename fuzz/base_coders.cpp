// The base-2/16/58/64 decoders and the binary literal loader on arbitrary input. The decoders read
// text of 1-, 2- and 4-byte units from a buffer of exactly that size and write into one of exactly
// the capacity they announce, so the sanitizer sees any read or write past either. Encoded bytes
// must decode back to themselves; a literal either loads or fails with a syntax error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "datatypes/base_coders.h"
#include "datatypes/binary.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/startup.h"

using namespace zem;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

constexpr int kBases[] = {2, 16, 58, 64};

int64_t decode_exact(int base, const uint8_t* text, size_t count, uint32_t unit, std::vector<uint8_t>& out) {
  size_t capacity = basecode::decoded_capacity(base, count);
  auto buffer = std::make_unique<uint8_t[]>(capacity ? capacity : 1);
  int64_t n = basecode::decode(base, text, count, unit, buffer.get());
  check(n >= -1 && (n < 0 || static_cast<uint64_t>(n) <= capacity));
  if (n > 0) out.assign(buffer.get(), buffer.get() + n);
  else out.clear();
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char prog[] = "zem";
  static char* argv[] = {prog, nullptr};
  runtime_init(1, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 14) return 0;
  const uint8_t sel = data[0];
  const uint8_t* rest = data + 1;
  const size_t len = size - 1;
  const int base = kBases[sel & 3];
  const uint32_t unit = (sel >> 2) % 3 == 0 ? 1 : (sel >> 2) % 3 == 1 ? 2 : 4;

  // The input as text of the unit: exactly count units, no byte more.
  const size_t count = len / unit;
  std::unique_ptr<uint8_t[]> text(new uint8_t[count * unit + 1]);
  std::memcpy(text.get(), rest, count * unit);
  std::vector<uint8_t> decoded;
  int64_t n = decode_exact(base, text.get(), count, unit, decoded);

  // What decodes, encoded again, decodes to the same bytes (base 58 only on short data: it is
  // quadratic).
  if (n >= 0 && (base != 58 || decoded.size() < 512)) {
    std::string encoded(basecode::encoded_size(base, decoded.size()), '\0');
    char* end = basecode::encode(base, encoded.data(), decoded.data(), decoded.size());
    check(static_cast<size_t>(end - encoded.data()) <= encoded.size());
    encoded.resize(static_cast<size_t>(end - encoded.data()));
    std::vector<uint8_t> again;
    check(decode_exact(base, reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size(), 1, again) ==
          static_cast<int64_t>(decoded.size()));
    check(again == decoded);
  }

  // The raw bytes encoded and decoded back.
  if (base != 58 || len < 512) {
    std::string encoded(basecode::encoded_size(base, len), '\0');
    char* end = basecode::encode(base, encoded.data(), rest, len);
    encoded.resize(static_cast<size_t>(end - encoded.data()));
    std::vector<uint8_t> back;
    decode_exact(base, reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size(), 1, back);
    check(back.size() == len && (len == 0 || std::memcmp(back.data(), rest, len) == 0));
  }

  // The binary literal loader on the bytes as the content of a literal of the base.
  if (base != 58) {
    // The content up to the first "}", so that the text is that one token.
    const uint8_t* close = static_cast<const uint8_t*>(std::memchr(rest, '}', len));
    std::string literal = base == 16 ? "#{" : std::to_string(base) + "#{";
    literal.append(reinterpret_cast<const char*>(rest), close ? size_t(close - rest) : len);
    literal += "}";
    static uint32_t runs = 0;
    if (++runs % 512 == 0) gc::collect();
    Cell out{};
    uint32_t consumed = 0;
    try {
      lexer::scan_buffer(&out, reinterpret_cast<const uint8_t*>(literal.data()), literal.size(),
                         lexer::ScanMode{}, &consumed, nullptr, nullptr, nullptr);
      check(consumed <= literal.size());
    } catch (const Unwind& u) {
      check(u.code == EXIT_ERROR);
      Err e = pending_exit().error;
      check(error_category_of(e) == error_category_of(Err::syntax_invalid));
      clear_pending_exit();
      stack::reset();
    }
  }
  return 0;
}
