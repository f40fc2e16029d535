#include <cstdio>

#include "archive/Container.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/JsonLine.h"
#include "archive/ContainerLayout.h"
#include "platform/RuntimeFile.h"

namespace qar {
namespace {

struct InfoOptions {
    std::string archive;
    bool json = false;
};

// qar info ARCHIVE: the validation verdict and the figures it rests on.
int runInfo(const InfoOptions& o) {
    vorlr::RuntimeFile file;
    file.openExisting(o.archive, vorlr::RuntimeFile::Access::ReadOnly);
    const vorlr::ArchiveFigures f = vorlr::ReadArchiveFigures(file);
    const bool tooLarge = f.fileSize > vorlr::kMaxField;
    if (o.json) {
        std::fputs(JsonLine()
                       .boolean("valid", f.valid)
                       .number("entries", f.firstCount)
                       .number("second_count", f.secondCount)
                       .number("file_size", f.fileSize)
                       .number("directory_offset", f.directoryOffset)
                       .boolean("over_size_limit", tooLarge)
                       .line()
                       .c_str(),
                   stdout);
    } else {
        std::printf(
            "valid: %s\nentries: %d\nsecond count: %d\nfile size: %lld\ndirectory offset: %lld\n",
            f.valid ? "yes" : "no", f.firstCount, f.secondCount, static_cast<long long>(f.fileSize),
            static_cast<long long>(f.directoryOffset));
    }
    std::fflush(stdout);
    if (!f.valid) return fail("Not a valid vorlund packed-file!");
    // Positions past 2^31 - 1 cannot be reached by a reader that keeps them in 32 bits.
    if (tooLarge)
        return fail("larger than the format's limit: " + std::to_string(f.fileSize) +
                    " bytes, the limit is " + std::to_string(vorlr::kMaxField));
    return 0;
}

}  // namespace

void addInfoCommand(CommandLine& line) {
    auto o = std::make_shared<InfoOptions>();
    CLI::App* cmd = line.add({"info", "qar info ARCHIVE [--json]", "validation verdict and figures",
                              "Exit 1 when the archive is not valid, or larger than 2147483647 bytes\n"
                              "(its positions are signed 32-bit numbers).\n" + std::string(kJsonHelp)},
                             [o] { return runInfo(*o); });
    cmd->add_option("ARCHIVE", o->archive)->required();
    cmd->add_flag("--json", o->json);
}

}  // namespace qar
