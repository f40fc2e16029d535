#include <cstdio>
#include <string>

#include "archive/Container.h"
#include "cli/Commands.h"

namespace qar {

// qar list ARCHIVE: INDEX, OFFSET, SIZE and NAME of every directory record, tab-separated.
int cmdList(const Args& args) {
    if (args.size() != 1) return usage("list");
    vorlr::Archive archive;
    archive.open(args[0]);
    {
        vorlr::ArchiveReader reader(archive);
        if (vorlr::ReadArchiveFigures(reader).firstCount == 0) return 0;  // an empty directory
    }
    vorlr::ReadDirectory(archive);
    std::string out;
    out.reserve(1 << 20);
    for (size_t i = 0; i < archive.entryCount(); ++i) {
        const vorlr::ArchiveEntry r = archive.entry(i);
        out += std::to_string(i);
        out += '\t';
        out += std::to_string(r.offset);
        out += '\t';
        out += std::to_string(r.size);
        out += '\t';
        out += r.name;  // raw bytes
        out += '\n';
        writeOutput(out, false);
    }
    return writeOutput(out, true) ? 0 : fail("cannot write the output");
}

}  // namespace qar
