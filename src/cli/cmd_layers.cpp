#include <memory>
#include <string>
#include <vector>

#include "archive/MergedView.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EntryLookup.h"
#include "cli/JsonLine.h"

namespace qar {

// qar layers ARCHIVE...: which archive each name of the merged view (qar mount's) comes from.
namespace {

struct LayersArgs {
    std::vector<std::string> archives;
    bool ignoreCase = false;  // --ignore-case
    bool hidden = false;      // --hidden
    bool json = false;        // --json
};

void printVersion(std::string& out, const LayersArgs& o, const vorlr::MergedView& view,
                  vorlr::LayerEntry version, const uint32_t* hides) {
    const std::string_view name = view.entry(version).name;
    if (o.json) {
        JsonLine line;
        if (!hides) line.boolean("hidden", true);
        line.number("archive", version.layer);
        if (hides) line.number("hides", *hides);
        out += line.name("name", name).line();
        return;
    }
    if (!hides) out += '-';
    out += std::to_string(version.layer);
    out += '\t';
    if (hides) {
        out += std::to_string(*hides);
        out += '\t';
    }
    out += name;  // raw bytes
    out += '\n';
}

int runLayers(const LayersArgs& o) {
    const auto layers = LoadLayers(o.archives, o.ignoreCase);
    const vorlr::MergedView& view = layers->view;
    std::string out;
    out.reserve(1 << 20);
    for (const vorlr::MergedView::Name& name : view.names()) {
        printVersion(out, o, view, name.winner, &name.hiddenCount);
        if (o.hidden)
            for (const vorlr::LayerEntry& h : view.hidden(name)) printVersion(out, o, view, h, nullptr);
        if (!writeOutput(out, false)) return fail("cannot write the output");
    }
    if (!writeOutput(out, true)) return fail("cannot write the output");
    return 0;
}

}  // namespace

void addLayersCommand(CommandLine& line) {
    auto o = std::make_shared<LayersArgs>();
    CLI::App* cmd = line.add(
        {"layers", "qar layers ARCHIVE... [--ignore-case] [--hidden] [--json]",
         "which archive each name of the merged view comes from",
         "The merged view is the one mount shows for the same archives: an entry of a later\n"
         "ARCHIVE hides one of the same name in an earlier one (and the last of duplicated\n"
         "names hides the others); unsafe names are left out (warned). One line per name,\n"
         "in merged order (the first ARCHIVE's order, then each later one's new names in\n"
         "its order): the winning ARCHIVE's index (0-based), the number of versions it\n"
         "hides, the stored name, tab-separated.\n"
         "  --ignore-case   names equal but for letters A-Z in either case are one name\n"
         "  --hidden        after each winner, a line -INDEX<TAB>NAME per version it hides,\n"
         "                  in archive order\n"
         "--json fields: archive, hides, name; hidden (true) on a hidden version's line.\n" +
             std::string(kJsonHelp)},
        [o] { return runLayers(*o); });
    cmd->add_option("ARCHIVE", o->archives)->required();
    cmd->add_flag("--ignore-case", o->ignoreCase);
    cmd->add_flag("--hidden", o->hidden);
    cmd->add_flag("--json", o->json);
}

}  // namespace qar
