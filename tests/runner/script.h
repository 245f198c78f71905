// zem-run's evaluation of script text: whole scripts, and tables of cases for --check.
#pragma once

#include <string>

namespace zem::runner {

// Makes the natives reachable by their words (until the boot library does it).
void prepare();

// Evaluates a script (its "Zem [...]" header skipped). Answers the process status: 0 at its end,
// -2 after an uncaught error, whose "*** " message goes to stderr.
int run_script(const std::string& source);

// Checks every case line of a table script: `EXPR ;== MOLD` expects the molded value,
// `EXPR ;** CATEGORY ID` the error; other lines are evaluated as set-up. Every failure is reported
// as "FILE:LINE: ..." on stdout; answers 0 when all cases pass, 1 otherwise.
int run_check(const std::string& file, const std::string& source);

}  // namespace zem::runner
