#include "cli/Commands.h"

namespace qar {

// Placeholder until the command is built.
int cmdText(const Args&) { return fail("text: not available yet"); }

}  // namespace qar
