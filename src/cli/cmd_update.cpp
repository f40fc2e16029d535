#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "archive/ArchiveWriter.h"
#include "archive/FolderUpdate.h"
#include "cli/Commands.h"
#include "cli/EditOutput.h"
#include "cli/EntryLookup.h"
#include "platform/RuntimeFile.h"
#include "viewers/PictureUpdate.h"

namespace qar {

namespace {

struct UpdateArgs {
    std::string archive, dir;
    EditOutput output;
    bool deleteMissing = false, dryRun = false;
    int workers = 0;  // 0: one per core
};

bool parse(const Args& args, UpdateArgs& o) {
    std::vector<std::string> words;
    bool optionsDone = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool wrong = false;
        if (optionsDone || a.size() < 2 || a[0] != '-') {
            words.push_back(a);
        } else if (a == "--") {
            optionsDone = true;
        } else if (TakeEditOption(args, i, o.output, wrong)) {
            if (wrong) return false;
        } else if (a == "-j" || (a.rfind("-j", 0) == 0 && a.size() > 2)) {
            std::string value = a.size() > 2 ? a.substr(2) : (++i < args.size() ? args[i] : "");
            if (value.empty() || value.size() > 4 || value.find_first_not_of("0123456789") != std::string::npos)
                return false;
            o.workers = std::stoi(value);
            if (o.workers < 1) return false;
        } else if (a == "--delete-missing") {
            o.deleteMissing = true;
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else {
            return false;
        }
    }
    if (words.size() != 2) return false;
    o.archive = words[0];
    o.dir = words[1];
    // A dry run may go without a target.
    const EditOutput& out = o.output;
    return EditOutputValid(out) || (o.dryRun && out.out.empty() && !out.inPlace && !out.backup);
}

int defaultWorkers() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(std::min(cores, 64u));
}

int run(const UpdateArgs& o) {
    vorlr::Archive archive;
    OpenWithDirectory(archive, o.archive);
    const EditOutput& output = o.output;
    const vorlr::UpdatePictures pictures =
        vorlr::PictureUpdateSupport(o.workers > 0 ? o.workers : defaultWorkers());
    vorlr::UpdateOptions options;
    options.deleteMissing = o.deleteMissing;
    options.pictures = &pictures;
    if (!output.out.empty()) options.exclude.push_back(output.out);
    const vorlr::UpdatePlan plan = vorlr::PlanFolderUpdate(archive, o.dir, options);
    if (!plan.errors.empty()) {
        for (const std::string& e : plan.errors) fail(e);
        return fail("nothing written");
    }
    // In place, an update without changes leaves the archive alone.
    if (!o.dryRun && !(output.inPlace && plan.edit.empty()))
        vorlr::WriteEditedArchive(archive, plan.edit, EditTarget(o.archive, output));
    std::string out;
    size_t counts[3] = {0, 0, 0};
    for (const vorlr::UpdateChange& c : plan.changes) {
        out += c.kind;
        out += ' ';
        out += c.name;
        out += '\n';
        ++counts[c.kind == 'M' ? 0 : c.kind == 'A' ? 1 : 2];
        if (!writeOutput(out, false)) return fail("cannot write the output");
    }
    if (!writeOutput(out, true)) return fail("cannot write the output");
    if (::isatty(STDERR_FILENO) == 1)
        std::fprintf(stderr, "qar: %zu replaced, %zu added, %zu removed, %zu unchanged%s\n", counts[0],
                     counts[1], counts[2], plan.unchanged, o.dryRun ? " (dry run: nothing written)" : "");
    return 0;
}

}  // namespace

// qar update ARCHIVE DIR (-o OUT | --in-place [--backup]) [--delete-missing] [--dry-run] [-j N]
int cmdUpdate(const Args& args) {
    UpdateArgs opts;
    if (!parse(args, opts)) return usage("update");
    return run(opts);
}

}  // namespace qar
