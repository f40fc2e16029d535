#include <memory>
#include <algorithm>

#include "archive/ArchiveWriter.h"
#include "archive/SafeExtract.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EditOutput.h"
#include "cli/EntryLookup.h"

namespace qar {

namespace {

struct RenameOptions {
    std::string archive, name, newName;
    EditOutput output;
};

int run(const RenameOptions& o) {
    vorlr::Archive archive;
    OpenWithDirectory(archive, o.archive);
    const size_t index = ResolveSingleEntry(archive, o.name);
    // Stored names use '\'; '/' is taken for it, as in NAME.
    std::string stored = o.newName;
    std::replace(stored.begin(), stored.end(), '/', '\\');
    std::vector<std::string> segments;
    if (const auto verdict = vorlr::SplitSafeName(stored, segments);
        verdict != vorlr::NameVerdict::Safe)
        return fail(o.newName + ": " + vorlr::DescribeVerdict(verdict));
    for (size_t i = 0; i < archive.entryCount(); ++i)
        if (i != index && archive.entry(i).name == stored)
            return fail("an entry named " + o.newName + " exists already");
    vorlr::ArchiveEdit edit;
    edit.rename[index] = stored;
    WriteEdit(archive, edit, o.archive, o.output);
    return 0;
}

}  // namespace

// qar rename ARCHIVE NAME NEWNAME (-o OUT | --in-place [--backup])
void addRenameCommand(CommandLine& line) {
    auto o = std::make_shared<RenameOptions>();
    CLI::App* cmd = line.add({"rename", "qar rename ARCHIVE NAME NEWNAME (-o OUT | --in-place [--backup])", "an archive with entry NAME stored as NEWNAME ('/' stored as '\\')", kEditDetails}, [o] {
        if (const std::string p = EditOutputProblem(o->output); !p.empty())
            return usage("rename", p);
        return run(*o);
    });
    cmd->add_option("ARCHIVE", o->archive)->required();
    cmd->add_option("NAME", o->name)->required();
    cmd->add_option("NEWNAME", o->newName)->required();
    AddEditOptions(*cmd, o->output);
}

}  // namespace qar
