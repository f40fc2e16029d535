#include "archive/ArchiveWriter.h"
#include "archive/SafeExtract.h"
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

bool parse(const Args& args, DeleteOptions& o) {
    std::vector<std::string> words;
    if (!ParseEditArgs(args, words, o.output) || words.size() < 2) return false;
    o.archive = words[0];
    o.patterns.assign(words.begin() + 1, words.end());
    return true;
}

int run(const DeleteOptions& o) {
    vorlr::Archive archive;
    OpenWithDirectory(archive, o.archive);
    vorlr::ArchiveEdit edit;
    PatternFilter filter(o.patterns);
    for (size_t i = 0; i < archive.entryCount(); ++i)
        if (filter.wants(archive.entry(i).name)) edit.remove.insert(i);
    // A pattern that matches nothing is likely a typing error: nothing is written then.
    if (filter.reportUnmatched()) return 1;
    vorlr::WriteEditedArchive(archive, edit, EditTarget(o.archive, o.output));
    return 0;
}

}  // namespace

// qar delete ARCHIVE PATTERN... (-o OUT | --in-place [--backup])
int cmdDelete(const Args& args) {
    DeleteOptions o;
    if (!parse(args, o)) return usage("delete");
    return run(o);
}

}  // namespace qar
