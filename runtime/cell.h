// The value cell: see runtime/layout.h, which defines it with the meaning of every payload word.
#pragma once

#include "runtime/layout.h"
