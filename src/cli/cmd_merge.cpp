#include <memory>
#include <string>
#include <vector>

#include "archive/MergedView.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EditOutput.h"
#include "cli/EntryLookup.h"

namespace qar {

// qar merge ARCHIVE... -o OUT: the winners of the merged view (as qar layers lists them) as one
// archive.
namespace {

struct MergeArgs {
    std::vector<std::string> archives;
    std::string out;          // -o OUT
    bool ignoreCase = false;  // --ignore-case
};

int runMerge(const MergeArgs& o) {
    const auto layers = LoadLayers(o.archives, o.ignoreCase);
    WriteProgress progress(o.out);
    vorlr::WriteTarget target;
    target.path = o.out;
    target.progress = [&](int64_t written, int64_t total) { progress.update(written, total); };
    vorlr::WriteMergedArchive(layers->view, target);
    return 0;
}

}  // namespace

void addMergeCommand(CommandLine& line) {
    auto o = std::make_shared<MergeArgs>();
    CLI::App* cmd = line.add(
        {"merge", "qar merge ARCHIVE... -o OUT [--ignore-case]",
         "one archive of the merged view's winning entries",
         "Writes the names that layers prints, in its order: the first ARCHIVE's first\n"
         "512 bytes, each entry's data and directory record (the bytes after the name's\n"
         "zero and the 16 trailing ones) from the archive it comes from. OUT is written\n"
         "whole to a temporary beside it and renamed over it; it may not be one of the\n"
         "ARCHIVEs.\n"
         "  --ignore-case   names equal but for letters A-Z in either case are one name"},
        [o] {
            if (o->out.empty()) return usage("merge", "missing -o OUT");
            return runMerge(*o);
        });
    cmd->add_option("ARCHIVE", o->archives)->required();
    cmd->add_option("-o", o->out)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    cmd->add_flag("--ignore-case", o->ignoreCase);
}

}  // namespace qar
