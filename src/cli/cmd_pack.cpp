#include "cli/Commands.h"

namespace qar {

// Placeholder until the command is built.
int cmdPack(const Args&) { return fail("pack: not available yet"); }

}  // namespace qar
