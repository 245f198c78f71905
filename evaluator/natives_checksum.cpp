// checksum: CRC-32, Adler-32 and the Internet checksum as integers, digests and HMACs as binaries
// (services/checksum.h).
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/integer.h"
#include "datatypes/word.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "services/checksum.h"
#include "services/os/files.h"

namespace zem {

namespace {

// The bytes of a string! (as UTF-8) or a binary! (from its head), copied out: the UTF-8 cache and
// series buffers may move once anything allocates.
std::vector<uint8_t> bytes_of(Cell value) {
  if (value.is(TYPE_STRING)) {
    int32_t length = -1;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(unicode::string_to_utf8(value, &length));
    return std::vector<uint8_t>(p, p + length);
  }
  uint32_t n = binary::rs_length(value);
  const uint8_t* p = n ? binary::rs_head(value) : nullptr;
  return n ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
}

}  // namespace

uint32_t native_checksum(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_checksum, r);
  // A file's checksum is that of its bytes.
  if (stack::arg(0)->is(TYPE_FILE)) *stack::arg(0) = files::read_file(*stack::arg(0), -1, -1, true, false);
  const Cell data = *stack::arg(0);
  const Cell method = *stack::arg(1);
  if (!data.is(TYPE_STRING) && !data.is(TYPE_BINARY)) fire(Err::script_invalid_arg, &data);
  const uint32_t sym = method.word_symbol();
  if (!checksum::method_valid(sym)) fire(Err::script_invalid_arg, &method);
  const bool with = r[0] >= 0;
  const Cell with_word = word::make_from_c_name("with");
  const bool is_crc = checksum::is_method(sym, "crc32"), is_tcp = checksum::is_method(sym, "tcp"),
             is_adler = checksum::is_method(sym, "adler32"), is_hash = checksum::is_method(sym, "hash");
  if (with && (is_crc || is_tcp || is_adler)) fire(Err::script_invalid_refine_arg, &with_word, &method);
  std::vector<uint8_t> bytes = bytes_of(data);
  if (is_crc || is_tcp || is_adler) {
    int32_t v = is_crc ? static_cast<int32_t>(checksum::crc32(bytes.data(), bytes.size()))
                : is_tcp ? static_cast<int32_t>(checksum::tcp(bytes.data(), bytes.size()))
                         : static_cast<int32_t>(checksum::adler32(bytes.data(), bytes.size()));
    stack::set_single_result(make_integer(v));
    return EXIT_NONE;
  }
  uint8_t out[checksum::kDigestRoom];
  int length;
  if (with) {
    const Cell spec = *stack::arg(static_cast<uint32_t>(r[0]));
    if (spec.is(TYPE_STRING) || spec.is(TYPE_BINARY)) {
      if (is_hash) fire(Err::script_invalid_refine_arg, &with_word, &spec);
      std::vector<uint8_t> key = bytes_of(spec);
      length = checksum::hmac_checked(bytes.data(), bytes.size(), key.data(), key.size(), sym, out);
    } else if (spec.is(TYPE_INTEGER)) {
      // The hash-table form has no algorithm yet.
      natives::fire_not_done(NATIVE_checksum);
    } else {
      fire(Err::script_invalid_arg, &spec);
    }
  } else {
    if (is_hash) fire(Err::script_invalid_refine_arg, &with_word, &method);
    const int id = checksum::method_id(sym);
    checksum::crypto_digest(bytes.data(), bytes.size(), id, out);
    length = checksum::digest_length(id);
  }
  stack::set_single_result(binary::load(out, static_cast<uint32_t>(length)));
  return EXIT_NONE;
}

}  // namespace zem
