// The process's arguments and its command line as one quoted text.
#include "services/os/command_line.h"

#include <algorithm>
#include <span>

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

namespace {

int program_argument_count = 1;

std::string join_quoted(std::span<const std::string_view> args) {
  std::string line;
  bool first = true;
  for (std::string_view arg : args) {
    if (!first) line += ' ';
    first = false;
    line += quote_argument(arg);
  }
  return line;
}

}  // namespace

std::string command_line() { return join_quoted(arguments()); }

void set_program_arguments(int count) { program_argument_count = count < 1 ? 1 : count; }

size_t program_arguments() {
  return std::min(static_cast<size_t>(program_argument_count), arguments().size());
}

std::string script_command_line() {
  std::vector<std::string_view> args = arguments();
  return join_quoted(std::span(args).subspan(program_arguments()));
}

}  // namespace zem::os
