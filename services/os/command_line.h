// The process's command line.
//
// The arguments come from argv as given (already checked as UTF-8 at start-up). The command line
// as one text joins them with single blanks, the program path first; an argument that is empty or
// holds a blank, a tab or a double quote is written inside double quotes. Splitting that text at
// unquoted blanks gives the arguments back, except that a double quote inside an argument cannot
// be carried: the text has no escape for it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zem::os {

// argv, the program path first.
std::vector<std::string_view> arguments();
// An argument as the command line writes it.
std::string quote_argument(std::string_view argument);
// The whole command line as one UTF-8 text.
std::string command_line();

// How many leading arguments belong to the program itself: its path, then, for a runner, its own
// options and the script it runs. The arguments after them are the script's. 1 unless the program
// says otherwise before start-up; clamped to the arguments there are.
void set_program_arguments(int count);
size_t program_arguments();
// The command line of the script's arguments alone, quoted as command_line() quotes them.
std::string script_command_line();

}  // namespace zem::os
