#include <memory>
#include "archive/ArchiveWriter.h"
#include "archive/EntryNames.h"
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
    // "#N" picks entry N; a PATTERN without wildcards names one entry, and one held by several
    // is refused rather than taking them all.
    std::vector<std::string> globs;
    for (const std::string& p : o.patterns) {
        if (const auto index = ParseEntryIndex(p); index && *index < archive.entryCount()) {
            edit.remove.insert(*index);
            continue;
        }
        globs.push_back(p);
        if (p.find_first_of("*?[") != std::string::npos) continue;
        std::vector<size_t> found;
        for (size_t i = 0; i < archive.entryCount(); ++i)
            if (vorlr::MatchEntryPattern(p, archive.entry(i).name)) found.push_back(i);
        if (found.size() > 1) return fail(p + " names entries " + ListIndexes(found) + ": give #N");
    }
    PatternFilter filter(globs);
    for (size_t i = 0; i < archive.entryCount() && !globs.empty(); ++i)
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
        if (const std::string p = EditOutputProblem(o->output); !p.empty())
            return usage("delete", p);
        return run(*o);
    });
    cmd->add_option("ARCHIVE", o->archive)->required();
    cmd->add_option("PATTERN", o->patterns)->required();
    AddEditOptions(*cmd, o->output);
}

}  // namespace qar
