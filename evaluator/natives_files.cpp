// size?: the size of a file through the file service's handle operations.
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "services/os/files.h"

namespace zem {

uint32_t native_size_q(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_size_q, r);
  const Cell file = *stack::arg(0);
  std::string path;
  int fd = -1;
  if (!files::dir_path(file) && files::os_path(file, path)) fd = files::open_file(path, files::kRead);
  int64_t size = fd < 0 ? -1 : files::file_size(fd);
  if (fd >= 0) files::close_file(fd);
  if (size < 0) {
    stack::set_single_result(make_none());
    return EXIT_NONE;
  }
  if (size > 0x7FFFFFFF) {
    Cell type = datatype_cell(TYPE_INTEGER);
    fire(Err::script_type_limit, &type);
  }
  stack::set_single_result(make_integer(static_cast<int32_t>(size)));
  return EXIT_NONE;
}

}  // namespace zem
