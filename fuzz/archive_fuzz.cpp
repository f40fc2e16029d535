// Arbitrary bytes as an archive: the figures and validation, the structural problems, the whole
// directory, loading into the folder tree (through an in-memory file, since archives are opened
// by name) with a stop now and then, walking the tree and reading where each entry starts. Every
// failure must be a clean Error; anything else (a crash, another exception) is a finding.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "archive/Container.h"
#include "archive/DirectoryLoader.h"
#include "archive/FolderTree.h"
#include "archive/WorkBuffer.h"
#include "platform/ByteSource.h"
#include "platform/Errors.h"

using namespace vorlr;

namespace {

// Stops the load after a number of progress calls taken from the input.
class StopAfter final : public LoadObserver {
public:
    explicit StopAfter(int32_t after) : after_(after) {}
    void progress(int32_t index) override {
        if (after_ >= 0 && index >= after_) stop_ = true;
    }
    bool stopRequested() override { return stop_; }
    int starts = 0, finishes = 0;
    void loadingStarted(int32_t) override { ++starts; }
    void loadingFinished() override { ++finishes; }

private:
    int32_t after_;
    bool stop_ = false;
};

int memoryFile() {
    static const int fd = ::memfd_create("archive_fuzz", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        MemoryByteSource src(data, size);
        try {
            const ArchiveFigures f = ReadArchiveFigures(src);
            if (f.valid != CountsAreValid(f.firstCount, f.secondCount, f.fileSize)) std::abort();
        } catch (const Error&) {
        }
        try {
            (void)ArchiveProblems(src);
        } catch (const Error&) {
        }
    }

    const int fd = memoryFile();
    if (::ftruncate(fd, 0) != 0) std::abort();
    if (size > 0 && ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    static Archive archive;
    try {
        archive.open(path);
        const ArchiveFigures f = ReadDirectory(archive);
        if (archive.entryCount() != static_cast<size_t>(f.firstCount)) std::abort();
    } catch (const Error&) {
    }
    static std::vector<int32_t> table;
    static WorkBufferBytes buffer;
    static FolderTree tree;  // as the window's, cleared before each load
    tree.clear();
    StopAfter observer(size > 0 && data[0] < 16 ? data[0] : -1);
    try {
        LoadDirectory(path, DirectoryLoad{archive, table, buffer}, tree, observer);
    } catch (const Error&) {
    }
    if (observer.starts != observer.finishes) std::abort();

    // Walk the tree as the window and the tool do, and locate every entry.
    int32_t visited = 0;
    for (NodeId n = tree.first(); n != kNoNode; n = tree.next(n)) {
        ++visited;
        const NodeId parent = tree.parent(n);
        if (tree.child(parent, tree.row(n)) != n) std::abort();
        if (tree.findFrom(n, tree.text(n)) != n) std::abort();
        const int32_t entry = tree.entryIndex(n);
        if (entry >= 0) {
            if (static_cast<size_t>(entry) >= table.size()) std::abort();
            if (static_cast<size_t>(entry) >= archive.entryCount()) std::abort();
            try {
                ArchiveReader reader = archive.entryReader(static_cast<size_t>(entry));
                uint8_t head[16];
                (void)reader.readCounted(head, sizeof head);
            } catch (const Error&) {
            }
        }
    }
    if (visited != tree.size()) std::abort();
    archive.close();
    return 0;
}
