#include "cli/Commands.h"

namespace qar {

// Placeholder until the command is built.
int cmdConvert(const Args&) { return fail("convert: not available yet"); }

}  // namespace qar
