#include <memory>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "archive/ArchiveWriter.h"
#include "archive/FolderUpdate.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EditOutput.h"
#include "cli/EntryLookup.h"
#include "cli/JsonLine.h"
#include "platform/RuntimeFile.h"
#include "viewers/encoders/PictureUpdate.h"

namespace qar {

namespace {

struct UpdateArgs {
    std::string archive, dir;
    EditOutput output;
    bool deleteMissing = false, matchNames = false, dryRun = false, json = false;
    int workers = 0;  // 0: one per core
};

// A dry run may go without a target.
std::string outputProblem(const UpdateArgs& o) {
    const EditOutput& out = o.output;
    if (o.dryRun && out.out.empty() && !out.inPlace && !out.backup) return "";
    return EditOutputProblem(out);
}

int run(const UpdateArgs& o) {
    vorlr::Archive archive;
    OpenWithDirectory(archive, o.archive);
    const EditOutput& output = o.output;
    const vorlr::UpdatePictures pictures =
        vorlr::PictureUpdateSupport(o.workers > 0 ? o.workers : DefaultWorkers());
    vorlr::UpdateOptions options;
    options.deleteMissing = o.deleteMissing;
    options.matchNames = o.matchNames;
    options.pictures = &pictures;
    if (!output.out.empty()) options.exclude.push_back(output.out);
    const vorlr::UpdatePlan plan = vorlr::PlanFolderUpdate(archive, o.dir, options);
    for (const vorlr::UpdateAmbiguity& a : plan.ambiguous) {
        std::string names;
        for (const size_t i : a.candidates)
            names += (names.empty() ? "" : ", ") + std::string(archive.entry(i).name);
        fail(a.file + ": several entries have this file name: " + names);
    }
    if (!plan.errors.empty() || !plan.ambiguous.empty()) {
        for (const std::string& e : plan.errors) fail(e);
        return fail("nothing written");
    }
    // In place, an update without changes leaves the archive alone.
    if (!o.dryRun && !(output.inPlace && plan.edit.empty()))
        WriteEdit(archive, plan.edit, o.archive, output);
    // Which entry a change of a duplicated name takes, beside the line (which stays as it is).
    std::unordered_map<std::string_view, std::vector<size_t>> holders;
    for (const vorlr::UpdateChange& c : plan.changes)
        if (c.index) holders[c.name];
    for (size_t i = 0; i < archive.entryCount() && !holders.empty(); ++i)
        if (auto h = holders.find(archive.entry(i).name); h != holders.end()) h->second.push_back(i);
    std::string out;
    size_t counts[3] = {0, 0, 0};
    for (const vorlr::UpdateChange& c : plan.changes) {
        const std::vector<size_t>* same = nullptr;
        if (c.index) same = &holders.at(c.name);
        if (same && same->size() < 2) same = nullptr;
        if (same)
            fail(c.name + " names entries " + ListIndexes(*same) + ": " +
                 (c.kind == 'D' ? "removes #" : "the file stands for #") + std::to_string(*c.index));
        if (o.json) {
            JsonLine line;
            line.text("change", c.kind == 'M' ? "replaced" : c.kind == 'A' ? "added" : "removed")
                .name("name", c.name);
            if (c.index) line.number("index", static_cast<int64_t>(*c.index));
            out += line.line();
        } else {
            out += c.kind;
            out += ' ';
            out += c.name;
            out += '\n';
        }
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
         "qar update ARCHIVE DIR (-o OUT | --in-place [--backup]) [--delete-missing] [--match-names] [--dry-run] [--json] [-j N]",
         "put a folder (as extract writes it) back into an archive",
         "Each regular file under DIR names an entry as extract writes it (pictures from\n"
         "extract --convert as NAME.png or NAME_i.png). Files holding what extract writes\n"
         "leave their entries byte for byte as they are; changed files replace them;\n"
         "files naming no entry are added at the end in sorted order. --delete-missing\n"
         "removes entries whose file is missing. --match-names: a file whose path names no\n"
         "entry stands for the one entry that has its file name (A-Z in either case); a\n"
         "file name several entries have is reported with them and nothing is written.\n"
         "Prints M NAME, A NAME, D NAME per change\n"
         "in directory order; --dry-run prints them and writes nothing. A file stands for\n"
         "the last entry of a duplicated name; standard error then says which (\"qar: NAME\n"
         "names entries #4 and #5: the file stands for #5\"). Pictures are compared on N\n"
         "workers (-j, default one per core). Exit 0, or 1 when something failed (nothing\n"
         "is written then).\n"
         "--json fields: change (replaced, added, removed), name, index (the entry\n"
         "replaced or removed).\n" + std::string(kJsonHelp)},
        [o] {
            if (const std::string p = outputProblem(*o); !p.empty()) return usage("update", p);
            return run(*o);
        });
    cmd->add_option("ARCHIVE", o->archive)->required();
    cmd->add_option("DIR", o->dir)->required();
    AddEditOptions(*cmd, o->output);
    cmd->add_flag("--delete-missing", o->deleteMissing);
    cmd->add_flag("--match-names", o->matchNames);
    cmd->add_flag("--dry-run", o->dryRun);
    cmd->add_flag("--json", o->json);
    cmd->add_option("-j", o->workers)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)->check(WorkersError);
}

}  // namespace qar
