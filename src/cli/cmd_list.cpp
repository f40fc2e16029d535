#include "cli/Commands.h"

namespace qar {

// Placeholder until the command is built.
int cmdList(const Args&) { return fail("list: not available yet"); }

}  // namespace qar
