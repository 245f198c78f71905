// The Zembin decoder in codec mode on arbitrary bytes, into a block rooted on the argument stack,
// with the collector in stress mode (each collection moves every live buffer). It may only succeed
// or raise zb-invalid-record, invalid-data or no-codec. What decodes is collected, molded, encoded
// again in both forms, and the compact encoding must decode again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/startup.h"
#include "runtime/support.h"
#include "services/zembin/decoder.h"
#include "services/zembin/encoder.h"

using namespace zem;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// Decodes into a fresh rooted block; answers false after a refusal of the allowed kinds.
bool decode(const uint8_t* data, size_t size) {
  stack::reset();
  clear_pending_exit();
  Cell* dest = block::push_only(4);
  try {
    zembin::decode(data, size, *dest);
    return true;
  } catch (const Unwind& u) {
    check(u.code == EXIT_ERROR);
    const Err e = pending_exit().error;
    // not-same-type: a hash! indexing vectors of two element types compares them, which raises
    // (as `make hash!` of such vectors does); a fault of the vector datatype, not of the decoder.
    check(e == Err::script_zb_invalid_record || e == Err::script_invalid_data || e == Err::access_no_codec ||
          e == Err::script_not_same_type);
    clear_pending_exit();
    stack::reset();
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("ZEM_GC_STRESS", "1", 0);
  static char prog[] = "zem";
  static char* argv[] = {prog, nullptr};
  runtime_init(1, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  // An exact-size heap copy, so that a read past the input is seen.
  std::vector<uint8_t> in(data, data + size);
  if (!decode(in.data(), in.size())) return 0;
  gc::collect();  // moves every buffer the decoded values reach
  const Cell dest = *stack::base();
  std::vector<uint8_t> compact;
  try {
    StdStringOut out;
    mold_handler(TYPE_BLOCK)(dest, out, MoldFlags{}, nullptr, kNoLimit, 0);
    compact = zembin::encode_bytes(dest, true);
    zembin::encode_bytes(dest, false);
  } catch (const Unwind& u) {
    // Mold and the encoder refuse nesting past their own limits, counted by values.
    check(u.code == EXIT_ERROR && pending_exit().error == Err::internal_too_deep);
    clear_pending_exit();
    stack::reset();
    return 0;
  }
  // The encoding decodes again; a buffer this small cannot nest deep enough to reach the limit
  // that the decoder counts by records (spec, body and inline owners included).
  const bool again = decode(compact.data(), compact.size());
  check(again || size > 1500);
  stack::reset();
  return 0;
}
