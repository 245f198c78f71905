// call and browse: other programs through the process service (services/os/process.h).
#include <string>

#include "datatypes/integer.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "services/os/files.h"
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

// browse url: the desktop's application for a url! or a file! (its POSIX path), through xdg-open,
// not waited for. When xdg-open cannot be started the argument could not be opened.
uint32_t native_browse(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_browse, r);
  const Cell target = *stack::arg(0);
  std::string text;
  if (target.is(TYPE_FILE)) {
    if (!files::os_path(target, text)) fire(Err::access_cannot_open, &target);
  } else {
    Cell url = target;
    int32_t length = -1;
    const char* utf8 = unicode::string_to_utf8(url, &length);
    text.assign(utf8, static_cast<size_t>(length));
  }
  if (!process::start_detached({"xdg-open", text})) fire(Err::access_cannot_open, &target);
  stack::set_single_result(make_unset());
  return EXIT_NONE;
}

}  // namespace zem
