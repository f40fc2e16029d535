#include <memory>
#include "archive/ArchiveWriter.h"
#include "archive/SafeExtract.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EditOutput.h"
#include "cli/EntryLookup.h"

namespace qar {

namespace {

struct DeleteOptions {
    std::string archive;
    std::vector<std::string> patterns;
    EditOutput output;
};

int run(const DeleteOptions& o) {
    vorlr::Archive archive;
    OpenWithDirectory(archive, o.archive);
    vorlr::ArchiveEdit edit;
    PatternFilter filter(o.patterns);
    for (size_t i = 0; i < archive.entryCount(); ++i)
        if (filter.wants(archive.entry(i).name)) edit.remove.insert(i);
    // A pattern that matches nothing is likely a typing error: nothing is written then.
    if (filter.reportUnmatched()) return 1;
    WriteEdit(archive, edit, o.archive, o.output);
    return 0;
}

}  // namespace

// qar delete ARCHIVE PATTERN... (-o OUT | --in-place [--backup])
void addDeleteCommand(CommandLine& line) {
    auto o = std::make_shared<DeleteOptions>();
    CLI::App* cmd = line.add({"delete", "qar delete ARCHIVE PATTERN... (-o OUT | --in-place [--backup])", "an archive without the entries matching a PATTERN (one that matches nothing: exit 1, nothing written)", kEditDetails}, [o] {
        if (!EditOutputValid(o->output)) return usage("delete");
        return run(*o);
    });
    cmd->add_option("ARCHIVE", o->archive)->required();
    cmd->add_option("PATTERN", o->patterns)->required();
    AddEditOptions(*cmd, o->output);
}

}  // namespace qar
