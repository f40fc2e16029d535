#include <unistd.h>

#include <memory>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EntryLookup.h"

namespace qar {

namespace {

struct CatOptions {
    std::string archive;
    std::string name;
};

// qar cat ARCHIVE NAME: the entry's bytes on standard output.
int runCat(const CatOptions& o) {
    vorlr::Archive archive;
    OpenWithDirectory(archive, o.archive);
    const size_t index = ResolveEntry(archive, o.name);
    const int32_t size = archive.entry(index).size;
    const int64_t written = CopyEntryToFd(archive, index, STDOUT_FILENO);
    if (size > 0 && written < size)
        return fail(o.name + ": data beyond the end of the archive: wrote " + std::to_string(written) +
                    " of " + std::to_string(size) + " bytes");
    return 0;
}

}  // namespace

void addCatCommand(CommandLine& line) {
    auto o = std::make_shared<CatOptions>();
    CLI::App* cmd = line.add(
        {"cat", "qar cat ARCHIVE NAME", "an entry's bytes on standard output", ""},
        [o] { return runCat(*o); });
    cmd->add_option("ARCHIVE", o->archive)->required();
    cmd->add_option("NAME", o->name)->required();
}

}  // namespace qar
