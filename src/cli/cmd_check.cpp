#include <cstdio>
#include <memory>
#include <string>

#include "archive/Container.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "platform/RuntimeFile.h"

namespace qar {
namespace {

struct CheckOptions {
    std::string archive;
};

// qar check ARCHIVE: one line per structural problem, or "ok".
int runCheck(const CheckOptions& o) {
    vorlr::RuntimeFile file;
    file.openExisting(o.archive, vorlr::RuntimeFile::Access::ReadOnly);
    const auto problems = vorlr::ArchiveProblems(file);
    if (problems.empty()) {
        std::printf("ok\n");
        return 0;
    }
    for (const auto& p : problems) std::printf("%s\n", p.c_str());
    return 1;
}

}  // namespace

void addCheckCommand(CommandLine& line) {
    auto o = std::make_shared<CheckOptions>();
    CLI::App* cmd = line.add(
        {"check", "qar check ARCHIVE", "every structural problem of the archive", ""},
        [o] { return runCheck(*o); });
    cmd->add_option("ARCHIVE", o->archive)->required();
}

}  // namespace qar
