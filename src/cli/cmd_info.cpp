#include <cstdio>

#include "archive/Container.h"
#include "cli/Commands.h"
#include "platform/RuntimeFile.h"

namespace qar {

// qar info ARCHIVE: the validation verdict and the figures it rests on.
int cmdInfo(const Args& args) {
    if (args.size() != 1) return usage("info");
    vorlr::RuntimeFile file;
    file.openExisting(args[0], vorlr::RuntimeFile::Access::ReadOnly);
    const vorlr::ArchiveFigures f = vorlr::ReadArchiveFigures(file);
    std::printf(
        "valid: %s\nentries: %d\nsecond count: %d\nfile size: %lld\ndirectory offset: %lld\n",
        f.valid ? "yes" : "no", f.firstCount, f.secondCount, static_cast<long long>(f.fileSize),
        static_cast<long long>(f.directoryOffset));
    std::fflush(stdout);
    if (!f.valid) return fail("Not a valid vorlund packed-file!");
    return 0;
}

}  // namespace qar
