// call: other programs through the process service (services/os/process.h).
#include "datatypes/integer.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "services/os/process.h"

namespace zem {

// call cmd /wait /show /console /shell /input in /output out /error err. /show has nothing to
// show: there is no window to hide.
uint32_t native_call(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_call, r);
  if (r[2] >= 0) natives::fire_not_done(NATIVE_call);
  auto redirect = [&](int i) { return r[i] >= 0 ? *stack::arg(static_cast<uint32_t>(r[i])) : make_none(); };
  const int64_t result = process::call(*stack::arg(0), r[0] >= 0, r[3] >= 0, redirect(4), redirect(5), redirect(6));
  stack::set_single_result(make_integer(static_cast<int32_t>(result)));
  return EXIT_NONE;
}

}  // namespace zem
