#include <cstdio>
#include <memory>
#include <string>

#include "archive/Container.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EntryLookup.h"
#include "cli/JsonLine.h"

namespace qar {

// qar list ARCHIVE [PATTERN...]: INDEX, OFFSET, SIZE and NAME of every directory record (or of
// those whose name matches a pattern), tab-separated.
namespace {

int runList(const ArchiveAndPatterns& o) {
    const std::string& path = o.archive;
    PatternFilter filter(o.patterns);
    vorlr::Archive archive;
    archive.open(path);
    bool empty = false;
    {
        vorlr::ArchiveReader reader(archive);
        empty = vorlr::ReadArchiveFigures(reader).firstCount == 0;
    }
    if (empty) return filter.reportUnmatched() ? 1 : 0;  // an empty directory
    vorlr::ReadDirectory(archive);
    std::string out;
    out.reserve(1 << 20);
    for (size_t i = 0; i < archive.entryCount(); ++i) {
        const vorlr::ArchiveEntry r = archive.entry(i);
        if (!filter.wants(r.name)) continue;
        if (o.json) {
            out += JsonLine()
                       .number("index", static_cast<int64_t>(i))
                       .number("offset", r.offset)
                       .number("size", r.size)
                       .name("name", r.name)
                       .line();
            writeOutput(out, false);
            continue;
        }
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
    if (!writeOutput(out, true)) return fail("cannot write the output");
    return filter.reportUnmatched() ? 1 : 0;
}

}  // namespace

void addListCommand(CommandLine& line) {
    auto o = std::make_shared<ArchiveAndPatterns>();
    CLI::App* cmd = line.add({"list", "qar list ARCHIVE [--json] [PATTERN...]",
                              "one line per directory entry, in directory order; PATTERNs keep the matching ones (one that matches nothing: exit 1)",
                              "Lines: INDEX, OFFSET, SIZE, NAME, tab-separated; --json fields: index,\n"
                              "offset, size, name.\n" + std::string(kJsonHelp)},
                             [o] { return runList(*o); });
    AddArchiveAndPatterns(*cmd, *o);
}

}  // namespace qar
