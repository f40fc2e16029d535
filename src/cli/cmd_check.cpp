#include "cli/Commands.h"

namespace qar {

// Placeholder until the command is built.
int cmdCheck(const Args&) { return fail("check: not available yet"); }

}  // namespace qar
