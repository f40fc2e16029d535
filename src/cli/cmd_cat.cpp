#include "cli/Commands.h"

namespace qar {

// Placeholder until the command is built.
int cmdCat(const Args&) { return fail("cat: not available yet"); }

}  // namespace qar
