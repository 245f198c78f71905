// The token loaders and container builders the lexer installs at start-up.
#pragma once

#include "evaluator/lexer.h"

namespace zem::lexer {

void install_loaders();

}  // namespace zem::lexer
