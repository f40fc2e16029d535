#include "cli/Commands.h"

namespace qar {

// Placeholder until the command is built.
int cmdInfo(const Args&) { return fail("info: not available yet"); }

}  // namespace qar
