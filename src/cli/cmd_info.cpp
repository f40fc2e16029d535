#include <cstdio>

#include "archive/Container.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "platform/RuntimeFile.h"

namespace qar {
namespace {

struct InfoOptions {
    std::string archive;
};

// qar info ARCHIVE: the validation verdict and the figures it rests on.
int runInfo(const InfoOptions& o) {
    vorlr::RuntimeFile file;
    file.openExisting(o.archive, vorlr::RuntimeFile::Access::ReadOnly);
    const vorlr::ArchiveFigures f = vorlr::ReadArchiveFigures(file);
    std::printf(
        "valid: %s\nentries: %d\nsecond count: %d\nfile size: %lld\ndirectory offset: %lld\n",
        f.valid ? "yes" : "no", f.firstCount, f.secondCount, static_cast<long long>(f.fileSize),
        static_cast<long long>(f.directoryOffset));
    std::fflush(stdout);
    if (!f.valid) return fail("Not a valid vorlund packed-file!");
    return 0;
}

}  // namespace

void addInfoCommand(CommandLine& line) {
    auto o = std::make_shared<InfoOptions>();
    CLI::App* cmd = line.add({"info", "qar info ARCHIVE", "validation verdict and figures", ""},
                             [o] { return runInfo(*o); });
    cmd->add_option("ARCHIVE", o->archive)->required();
}

}  // namespace qar
