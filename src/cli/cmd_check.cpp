#include <cstdio>

#include "archive/Container.h"
#include "cli/Commands.h"
#include "platform/RuntimeFile.h"

namespace qar {

// qar check ARCHIVE: one line per structural problem, or "ok".
int cmdCheck(const Args& args) {
    if (args.size() != 1) return usage("check");
    vorlr::RuntimeFile file;
    file.openExisting(args[0], vorlr::RuntimeFile::Access::ReadOnly);
    const auto problems = vorlr::ArchiveProblems(file);
    if (problems.empty()) {
        std::printf("ok\n");
        return 0;
    }
    for (const auto& p : problems) std::printf("%s\n", p.c_str());
    return 1;
}

}  // namespace qar
