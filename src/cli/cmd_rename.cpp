#include <algorithm>

#include "archive/ArchiveWriter.h"
#include "archive/SafeExtract.h"
#include "cli/Commands.h"
#include "cli/EditOutput.h"
#include "cli/EntryLookup.h"

namespace qar {

namespace {

struct RenameOptions {
    std::string archive, name, newName;
    EditOutput output;
};

bool parse(const Args& args, RenameOptions& o) {
    std::vector<std::string> words;
    if (!ParseEditArgs(args, words, o.output) || words.size() != 3) return false;
    o.archive = words[0];
    o.name = words[1];
    o.newName = words[2];
    return true;
}

int run(const RenameOptions& o) {
    vorlr::Archive archive;
    OpenWithDirectory(archive, o.archive);
    const size_t index = ResolveEntry(archive, o.name);
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
    vorlr::WriteEditedArchive(archive, edit, EditTarget(o.archive, o.output));
    return 0;
}

}  // namespace

// qar rename ARCHIVE NAME NEWNAME (-o OUT | --in-place [--backup])
int cmdRename(const Args& args) {
    RenameOptions o;
    if (!parse(args, o)) return usage("rename");
    return run(o);
}

}  // namespace qar
