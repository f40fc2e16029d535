#include <cstdio>
#include <string>

#include "archive/Container.h"
#include "cli/Commands.h"
#include "platform/RuntimeFile.h"

namespace qar {

// qar list ARCHIVE: INDEX, OFFSET, SIZE and NAME of every directory record, tab-separated.
int cmdList(const Args& args) {
    if (args.size() != 1) return usage("list");
    vorlr::RuntimeFile file;
    file.openExisting(args[0], vorlr::RuntimeFile::Access::ReadOnly);
    const vorlr::ArchiveFigures figures = vorlr::ReadArchiveFigures(file);
    if (figures.firstCount == 0) return 0;  // an empty directory
    const auto records = vorlr::ReadDirectory(file, figures);
    std::string out;
    out.reserve(1 << 20);
    for (size_t i = 0; i < records.size(); ++i) {
        const auto& r = records[i];
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
