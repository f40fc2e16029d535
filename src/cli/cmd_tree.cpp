#include "cli/Commands.h"

namespace qar {

// Placeholder until the command is built.
int cmdTree(const Args&) { return fail("tree: not available yet"); }

}  // namespace qar
