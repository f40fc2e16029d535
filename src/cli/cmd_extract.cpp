#include "cli/Commands.h"

namespace qar {

// Placeholder until the command is built.
int cmdExtract(const Args&) { return fail("extract: not available yet"); }

}  // namespace qar
