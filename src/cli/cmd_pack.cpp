#include <cstdio>

#include "archive/Pack.h"
#include "cli/Commands.h"

namespace qar {

// qar pack DIR OUT: a new archive from the regular files under DIR.
int cmdPack(const Args& args) {
    if (args.size() != 2) return usage("pack");
    const auto items = vorlr::CollectPackItems(args[0], args[1]);
    vorlr::WritePack(items, args[1]);
    return 0;
}

}  // namespace qar
