#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/DirectoryLoader.h"
#include "archive/FolderTree.h"
#include "cli/Commands.h"

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

}  // namespace

// qar tree ARCHIVE: the folder tree built by the viewer's own loader, in pre-order.
int cmdTree(const Args& args) {
    if (args.size() != 1) return usage("tree");
    vorlr::Archive archive;
    std::vector<int32_t> offsetTable;
    const auto buffer = std::make_unique<vorlr::WorkBufferBytes>();
    vorlr::FolderTree tree;
    TerminalProgress progress;
    vorlr::LoadDirectory(args[0], vorlr::DirectoryLoad{archive, offsetTable, *buffer}, tree,
                         progress);

    std::string out;
    out.reserve(1 << 20);
    for (vorlr::NodeId n = tree.first(); n != vorlr::kNoNode; n = tree.next(n)) {
        out.append(static_cast<size_t>(tree.depth(n)) * 2, ' ');
        out += tree.text(n);  // raw bytes
        if (const int32_t entry = tree.entryIndex(n); entry >= 0) {
            out += "\t#";
            out += std::to_string(entry);
        }
        out += '\n';
        writeOutput(out, false);
    }
    return writeOutput(out, true) ? 0 : fail("cannot write the output");
}

}  // namespace qar
