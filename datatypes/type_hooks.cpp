// The hooks of separately built datatypes: the table the core calls through and its defaults.
#include "datatypes/type_hooks.h"

namespace zem {

namespace {
FurtherTypeHooks g_further_type_hooks;
}  // namespace

FurtherTypeHooks& further_type_hooks() { return g_further_type_hooks; }

}  // namespace zem
