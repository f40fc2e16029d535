#include <cstdio>
#include <memory>
#include <string>

#include "archive/Container.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/JsonLine.h"
#include "platform/RuntimeFile.h"

namespace qar {
namespace {

struct CheckOptions {
    std::string archive;
    bool json = false;
};

// qar check ARCHIVE: one line per structural problem, or "ok".
int runCheck(const CheckOptions& o) {
    vorlr::RuntimeFile file;
    file.openExisting(o.archive, vorlr::RuntimeFile::Access::ReadOnly);
    const auto problems = vorlr::ArchiveProblems(file);
    if (problems.empty()) {
        std::fputs(o.json ? JsonLine().boolean("ok", true).line().c_str() : "ok\n", stdout);
        return 0;
    }
    for (const auto& p : problems)
        std::fputs(o.json ? JsonLine().text("problem", p).line().c_str() : (p + "\n").c_str(),
                   stdout);
    return 1;
}

}  // namespace

void addCheckCommand(CommandLine& line) {
    auto o = std::make_shared<CheckOptions>();
    CLI::App* cmd = line.add(
        {"check", "qar check ARCHIVE [--json]", "every structural problem of the archive",
         "One line per problem (among them an archive larger than 2147483647 bytes), or ok;\n"
         "exit 1 when there is one.\n" + std::string(kJsonHelp)},
        [o] { return runCheck(*o); });
    cmd->add_option("ARCHIVE", o->archive)->required();
    cmd->add_flag("--json", o->json);
}

}  // namespace qar
