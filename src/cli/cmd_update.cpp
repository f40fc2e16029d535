#include <memory>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "archive/ArchiveWriter.h"
#include "archive/FolderUpdate.h"
#include "cli/CommandLine.h"
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

// A dry run may go without a target.
bool outputValid(const UpdateArgs& o) {
    const EditOutput& out = o.output;
    return EditOutputValid(out) || (o.dryRun && out.out.empty() && !out.inPlace && !out.backup);
}

int run(const UpdateArgs& o) {
    vorlr::Archive archive;
    OpenWithDirectory(archive, o.archive);
    const EditOutput& output = o.output;
    const vorlr::UpdatePictures pictures =
        vorlr::PictureUpdateSupport(o.workers > 0 ? o.workers : DefaultWorkers());
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
        WriteEdit(archive, plan.edit, o.archive, output);
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

void addUpdateCommand(CommandLine& line) {
    auto o = std::make_shared<UpdateArgs>();
    CLI::App* cmd = line.add(
        {"update",
         "qar update ARCHIVE DIR (-o OUT | --in-place [--backup]) [--delete-missing] [--dry-run] [-j N]",
         "put a folder (as extract writes it) back into an archive",
         "Each regular file under DIR names an entry as extract writes it (pictures from\n"
         "extract --convert as NAME.png or NAME_i.png). Files holding what extract writes\n"
         "leave their entries byte for byte as they are; changed files replace them;\n"
         "files naming no entry are added at the end in sorted order. --delete-missing\n"
         "removes entries whose file is missing. Prints M NAME, A NAME, D NAME per change\n"
         "in directory order; --dry-run prints them and writes nothing. Pictures are\n"
         "compared on N workers (-j, default one per core). Exit 0, or 1 when something\n"
         "failed (nothing is written then)."},
        [o] {
            if (!outputValid(*o)) return usage("update");
            return run(*o);
        });
    cmd->add_option("ARCHIVE", o->archive)->required();
    cmd->add_option("DIR", o->dir)->required();
    AddEditOptions(*cmd, o->output);
    cmd->add_flag("--delete-missing", o->deleteMissing);
    cmd->add_flag("--dry-run", o->dryRun);
    cmd->add_option("-j", o->workers)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)->check(WorkersError);
}

}  // namespace qar
