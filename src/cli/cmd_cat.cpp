#include <unistd.h>

#include <string>

#include "cli/Commands.h"
#include "cli/EntryLookup.h"

namespace qar {

int cmdCat(const Args& args) {
    if (args.size() != 2) return usage("cat");
    vorlr::Archive archive;
    OpenWithDirectory(archive, args[0]);
    const size_t index = ResolveEntry(archive, args[1]);
    const int32_t size = archive.entry(index).size;
    const int64_t written = CopyEntryToFd(archive, index, STDOUT_FILENO);
    if (size > 0 && written < size)
        return fail(args[1] + ": data beyond the end of the archive: wrote " + std::to_string(written) +
                    " of " + std::to_string(size) + " bytes");
    return 0;
}

}  // namespace qar
