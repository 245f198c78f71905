// The process's arguments and its command line as one quoted text.
#include "services/os/command_line.h"

#include "runtime/platform.h"

namespace zem::os {

std::vector<std::string_view> arguments() {
  std::vector<std::string_view> args;
  if (!platform_state.argv) return args;
  for (int i = 0; i < platform_state.argc && platform_state.argv[i]; ++i)
    args.emplace_back(platform_state.argv[i]);
  return args;
}

std::string quote_argument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string_view::npos)
    return std::string(argument);
  std::string quoted;
  quoted.reserve(argument.size() + 2);
  quoted += '"';
  quoted += argument;
  quoted += '"';
  return quoted;
}

std::string command_line() {
  std::string line;
  bool first = true;
  for (std::string_view arg : arguments()) {
    if (!first) line += ' ';
    first = false;
    line += quote_argument(arg);
  }
  return line;
}

}  // namespace zem::os
