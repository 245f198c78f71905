// External processes: `call` on posix_spawnp, pipes and one poll loop.
//
// Linux decisions:
// - A command string is split into arguments by the command line's rule (blanks and tabs outside
//   double quotes separate arguments; a double quote at either end of an argument is dropped). When
//   the program cannot be found (ENOENT) the command runs once more as `/bin/sh -c "<command>"`,
//   so a shell-only command works and a missing program ends with the shell's 127. /shell always
//   takes `/bin/sh -c`. A file! command is one argument, its POSIX path, even with blanks in it.
// - Output and error text is UTF-8 with CR LF turned into LF; bytes that are not UTF-8 become
//   U+FFFD (a child's bytes are not ours to refuse). A binary! target keeps the bytes. Input text
//   is sent as UTF-8.
// - One poll loop writes the input and drains output and error together, so a child that fills one
//   pipe before reading its input, or fills its error while its output is read, never blocks.
// - The exit code is the child's exit status; a child ended by a signal gives 128 + the signal.
//   -1 when the process cannot be started, or when an input file cannot be opened. An output or
//   error file that cannot be opened raises access `cannot-open` naming it before anything starts.
// - Output and error that are not redirected go to /dev/null; the child keeps our standard input,
//   the current directory and the environment (as `set-env` left them). SIGPIPE is back to its
//   default in the child.
// - Without /wait and without redirection the result is the process id; such a child is reaped by
//   a small thread that waits for that id alone (no zombies, no status taken from another wait).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/cell.h"

namespace zem::process {

// Where a child's standard stream comes from or goes to.
struct Redirect {
  enum Kind { kNone, kFile, kData } kind = kNone;
  std::string path;   // kFile: the file's path
  std::string bytes;  // kData: input to send, or the output collected
};

struct SpawnResult {
  int64_t result = -1;  // exit code, process id, or -1
  bool shell = false;   // the command ran through /bin/sh
  int cannot_open = 0;  // 1: the output file, 2: the error file could not be opened (nothing started)
};

// The arguments of a command text.
std::vector<std::string> split_command(std::string_view command);

// Starts the program of `argv` (or `/bin/sh -c command` with `shell`), feeding and collecting the
// redirections; waits when asked or when anything is redirected. An output or error file that
// cannot be opened is reported in the result before anything starts.
SpawnResult spawn(const std::vector<std::string>& argv, const std::string& command, bool wait, bool shell,
                  const Redirect& in, Redirect& out, Redirect& err);

// Text from a child: UTF-8 with anything that is not UTF-8 replaced by U+FFFD.
std::string repair_utf8(std::string_view bytes);

// The `call` native's work: command (string! or file!), flags and the redirection cells (none when
// not given). Answers the exit code, the process id or -1.
int64_t call(const Cell& command, bool wait, bool shell, const Cell& in, const Cell& out, const Cell& err);

// Starts a program detached (no wait, output to /dev/null) and reaps it; false when it cannot be
// started.
bool start_detached(const std::vector<std::string>& argv);

}  // namespace zem::process
