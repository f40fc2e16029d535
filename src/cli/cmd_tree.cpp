#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/DirectoryLoader.h"
#include "archive/FolderTree.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EntryLookup.h"
#include "cli/JsonLine.h"

namespace qar {

namespace {

// Progress on standard error, only when it is a terminal.
class TerminalProgress final : public vorlr::LoadObserver {
public:
    TerminalProgress() : enabled_(::isatty(STDERR_FILENO) == 1) {}
    void loadingStarted(int32_t count) override {
        count_ = count;
        if (enabled_) std::fprintf(stderr, "Loading %d file names ...", count);
    }
    void progress(int32_t index) override {
        if (enabled_ && index % 65536 == 0)
            std::fprintf(stderr, "\rLoading %d file names ... %d", count_, index);
    }
    void loadingFinished() override {
        if (enabled_) std::fprintf(stderr, "\r\033[K");
    }

private:
    bool enabled_;
    int32_t count_ = 0;
};

// Which nodes a filtered tree prints: the nodes of matching entries and every node above them.
std::vector<bool> nodesToPrint(const vorlr::FolderTree& tree, const vorlr::Archive& archive,
                               PatternFilter& filter) {
    std::vector<bool> keep(static_cast<size_t>(tree.size()), false);
    for (vorlr::NodeId n = 0; n < tree.size(); ++n) {
        const int32_t entry = tree.entryIndex(n);
        if (entry < 0 || !filter.wants(archive.entry(static_cast<size_t>(entry)).name)) continue;
        for (vorlr::NodeId p = n; p != vorlr::kNoNode && !keep[static_cast<size_t>(p)];
             p = tree.parent(p))
            keep[static_cast<size_t>(p)] = true;
    }
    return keep;
}


// qar tree ARCHIVE [PATTERN...]: the folder tree built by the viewer's own loader, in
// pre-order; with patterns, only the lines of matching entries and of the nodes above them.
int runTree(const ArchiveAndPatterns& o) {
    const std::string& path = o.archive;
    PatternFilter filter(o.patterns);
    vorlr::Archive archive;
    std::vector<int32_t> offsetTable;
    const auto buffer = std::make_unique<vorlr::WorkBufferBytes>();
    vorlr::FolderTree tree;
    TerminalProgress progress;
    vorlr::LoadDirectory(path, vorlr::DirectoryLoad{archive, offsetTable, *buffer}, tree, progress);
    const std::vector<bool> keep =
        filter.empty() ? std::vector<bool>() : nodesToPrint(tree, archive, filter);

    std::string out;
    out.reserve(1 << 20);
    for (vorlr::NodeId n = tree.first(); n != vorlr::kNoNode; n = tree.next(n)) {
        if (!keep.empty() && !keep[static_cast<size_t>(n)]) continue;
        if (o.json) {
            JsonLine node;
            node.number("depth", tree.depth(n)).name("text", tree.text(n));
            if (const int32_t entry = tree.entryIndex(n); entry >= 0) node.number("entry", entry);
            out += node.line();
            writeOutput(out, false);
            continue;
        }
        out.append(static_cast<size_t>(tree.depth(n)) * 2, ' ');
        out += tree.text(n);  // raw bytes
        if (const int32_t entry = tree.entryIndex(n); entry >= 0) {
            out += "\t#";
            out += std::to_string(entry);
        }
        out += '\n';
        writeOutput(out, false);
    }
    if (!writeOutput(out, true)) return fail("cannot write the output");
    return filter.reportUnmatched() ? 1 : 0;
}

}  // namespace

void addTreeCommand(CommandLine& line) {
    auto o = std::make_shared<ArchiveAndPatterns>();
    CLI::App* cmd = line.add({"tree", "qar tree ARCHIVE [--json] [PATTERN...]",
                              "the folder tree exactly as the viewer builds it; PATTERNs keep matching entries and the nodes above them (one that matches nothing: exit 1)",
                              "--json fields: depth, text, and entry (the index) for a node that stands for\n"
                              "an entry.\n" + std::string(kJsonHelp)},
                             [o] { return runTree(*o); });
    AddArchiveAndPatterns(*cmd, *o);
}

}  // namespace qar
