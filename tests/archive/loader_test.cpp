// Directory loading: the path helpers, the shapes of tree the forward pre-order search gives,
// chunked reading, events, progress, stopping, errors (with the panels restored), damaged
// archives, and random archives compared with the plain reference loader.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/Container.h"
#include "archive/DirectoryLoader.h"
#include "archive/FolderTree.h"
#include "lib/QarBuilder.h"
#include "platform/Errors.h"
#include "support/ArchiveReference.h"
#include "support/Entries.h"
#include "support/TempDir.h"

using namespace vorlr;
using samples::bytesOf;
using samples::QarEntry;
using samples::QarOptions;
using vorlr::testing::ExpectSameTree;
using vorlr::testing::ReferenceLoad;
using vorlr::testing::ScanTree;
using vorlr::testing::TempDir;
using vorlr::testing::entry;

namespace {

struct Recorder : LoadObserver {
    int starts = 0, finishes = 0, dispatches = 0, progressCalls = 0;
    int32_t startedWith = -1, lastProgress = -1;
    std::vector<int32_t> treeSizeAtDispatch;
    std::function<void()> onDispatch;
    std::function<void(int32_t)> onProgress;
    const FolderTree* tree = nullptr;

    void loadingStarted(int32_t count) override {
        ++starts;
        startedWith = count;
    }
    void dispatchEvents() override {
        ++dispatches;
        if (tree) treeSizeAtDispatch.push_back(tree->size());
        if (onDispatch) onDispatch();
    }
    void progress(int32_t index) override {
        ++progressCalls;
        EXPECT_EQ(index, lastProgress + 1);
        lastProgress = index;
        if (onProgress) onProgress(index);
    }
    void loadingFinished() override { ++finishes; }
    bool stopRequested() override { return stop; }
    bool stop = false;
};

// One tree line per node: depth, text, entry.
std::vector<std::string> lines(const FolderTree& t) {
    std::vector<std::string> out;
    std::vector<int> depth(t.size());
    for (NodeId n = t.first(); n != kNoNode; n = t.next(n)) {
        depth[n] = t.parent(n) == kNoNode ? 0 : depth[t.parent(n)] + 1;
        std::string line(depth[n] * 2, ' ');
        line += t.text(n);
        if (t.entryIndex(n) >= 0) line += " #" + std::to_string(t.entryIndex(n));
        out.push_back(line);
    }
    return out;
}

// What a load fills, named as the window names it.
struct LoadState {
    Archive archive;
    std::vector<int32_t> EntryOffsetTable;
    WorkBufferBytes WorkBuffer{};
    std::string CurrentArchiveName;
};

void LoadDirectory(LoadState& s, FolderTree& tree, LoadObserver& observer) {
    vorlr::LoadDirectory(s.CurrentArchiveName, DirectoryLoad{s.archive, s.EntryOffsetTable, s.WorkBuffer},
                         tree, observer);
}

class Loader : public ::testing::Test {
protected:
    std::vector<std::string> load(const std::vector<QarEntry>& entries,
                                  const QarOptions& options = {}) {
        samples::writeQar(path_, entries, options);
        state_.CurrentArchiveName = path_;
        LoadDirectory(state_, tree_, recorder_);
        return lines(tree_);
    }
    TempDir dir_;
    std::string path_ = dir_.file("a.qar");
    LoadState state_;
    FolderTree tree_;
    Recorder recorder_;
};

}  // namespace

TEST(PathHelpers, DirectoryPartUpToTheLastBackslash) {
    EXPECT_EQ(ExtractDirectoryPart("A\\B\\C.TXT"), "A\\B\\");
    EXPECT_EQ(ExtractDirectoryPart("C.TXT"), "");
    EXPECT_EQ(ExtractDirectoryPart(""), "");
    EXPECT_EQ(ExtractDirectoryPart("A\\"), "A\\");
    EXPECT_EQ(ExtractDirectoryPart("\\"), "\\");
    EXPECT_EQ(ExtractDirectoryPart("A/B"), "");  // only backslashes separate
}

TEST(PathHelpers, SplitFirstSegmentCutsAtTheFirstBackslash) {
    std::string path = "A\\B\\C.TXT", segment = "old";
    EXPECT_TRUE(SplitFirstSegment(path, segment));
    EXPECT_EQ(segment, "A");
    EXPECT_EQ(path, "B\\C.TXT");
    EXPECT_TRUE(SplitFirstSegment(path, segment));
    EXPECT_EQ(segment, "B");
    EXPECT_EQ(path, "C.TXT");
    EXPECT_FALSE(SplitFirstSegment(path, segment));
    EXPECT_EQ(segment, "B");  // unchanged
    EXPECT_EQ(path, "C.TXT");

    path = "\\\\X";
    EXPECT_TRUE(SplitFirstSegment(path, segment));
    EXPECT_EQ(segment, "");
    EXPECT_EQ(path, "\\X");

    // The rest keeps at most 200 characters.
    path = "A\\" + std::string(250, 'x');
    EXPECT_TRUE(SplitFirstSegment(path, segment));
    EXPECT_EQ(path, std::string(200, 'x'));
}

TEST_F(Loader, FoldersInOrderOfFirstAppearance) {
    EXPECT_EQ(load({entry("A\\X.TXT"), entry("A\\Y.TXT"), entry("B\\Z.TXT")}),
              (std::vector<std::string>{"A", "  X.TXT #0", "  Y.TXT #1", "B", "  Z.TXT #2"}));
}

TEST_F(Loader, TheFolderSearchRunsForwardOverTheWholeTree) {
    // Y (first segment of the second path) is found under X.
    EXPECT_EQ(load({entry("X\\Y\\F1"), entry("Y\\Z\\F2")}),
              (std::vector<std::string>{"X", "  Y", "    F1 #0", "    Z", "      F2 #1"}));
}

TEST_F(Loader, TheSecondSegmentMatchesTheNodeItself) {
    EXPECT_EQ(load({entry("D\\D\\F")}), (std::vector<std::string>{"D", "  F #0"}));
}

TEST_F(Loader, AFileNodeCanReceiveChildren) {
    EXPECT_EQ(load({entry("D"), entry("D\\F")}), (std::vector<std::string>{"D #0", "  F #1"}));
    EXPECT_TRUE(tree_.hasChildren(0));
}

TEST_F(Loader, DuplicatesAreKeptAndRootFilesHaveNoFolder) {
    EXPECT_EQ(load({entry("A\\F"), entry("A\\F"), entry("R"), entry("R"), entry("A\\F")}),
              (std::vector<std::string>{"A", "  F #0", "  F #1", "  F #4", "R #2", "R #3"}));
}

TEST_F(Loader, EachNewDirectoryTextIsSearchedAgain) {
    // The second entry shares the first one's directory text and parent; the third one's text
    // differs (an empty segment), so its path is searched segment by segment.
    EXPECT_EQ(
        load({entry("A\\B\\F1"), entry("A\\B\\F2"), entry("A\\B\\\\F3")}),
        (std::vector<std::string>{"A", "  B", "    F1 #0", "    F2 #1", "    ", "      F3 #2"}));
}

TEST_F(Loader, NamesWithoutAZeroByteAreEmptyRootFiles) {
    QarEntry e = entry("A\\LONG");
    e.noZeroByte = true;
    EXPECT_EQ(load({entry("A\\X"), e, entry("A\\Y")}),
              (std::vector<std::string>{"A", "  X #0", "  Y #2", " #1"}));
}

TEST_F(Loader, EntryFieldPositionsFillTheTable) {
    load({entry("A", "123"), entry("B\\C", "45"), entry("D")});
    const int32_t start = 520 + 5;
    EXPECT_EQ(state_.EntryOffsetTable,
              (std::vector<int32_t>{start + 256, start + 536, start + 816}));
    // Each file node's entry is the record read for it.
    const ArchiveEntry c = state_.archive.entry(static_cast<size_t>(tree_.entryIndex(tree_.child(1, 0))));
    EXPECT_EQ(c.name, "B\\C");
    EXPECT_EQ(c.offset, 523);
    EXPECT_EQ(c.size, 2);
    EXPECT_EQ(state_.archive.entryCount(), 3u);
}

TEST_F(Loader, EventsAtEveryChunkAndAfterEveryNewFolder) {
    recorder_.tree = &tree_;
    load({entry("A\\X.TXT"), entry("A\\Y.TXT"), entry("B\\Z.TXT")});
    EXPECT_EQ(recorder_.starts, 1);
    EXPECT_EQ(recorder_.startedWith, 3);
    EXPECT_EQ(recorder_.finishes, 1);
    // Chunk 0 before any node; after A; after B.
    EXPECT_EQ(recorder_.treeSizeAtDispatch, (std::vector<int32_t>{0, 1, 4}));
    EXPECT_EQ(recorder_.lastProgress, 2);
}

TEST_F(Loader, FiftyOneEntriesAreReadInTwoChunks) {
    std::vector<QarEntry> entries;
    for (int i = 0; i < 51; ++i) entries.push_back(entry("F" + std::to_string(i)));
    recorder_.tree = &tree_;
    load(entries);
    EXPECT_EQ(recorder_.treeSizeAtDispatch, (std::vector<int32_t>{0, 50}));
    EXPECT_EQ(recorder_.progressCalls, 51);
    EXPECT_EQ(recorder_.lastProgress, 50);
    EXPECT_EQ(tree_.text(50), "F50");
    // The second read brought one record; the buffer past it still holds the first chunk's.
    EXPECT_EQ(RecordName(state_.WorkBuffer.data()), "F50");
    EXPECT_EQ(RecordName(state_.WorkBuffer.data() + 280), "F1");
    EXPECT_EQ(RecordName(state_.WorkBuffer.data() + 49 * 280), "F49");
}

TEST_F(Loader, StopEndsTheLoopAfterTheEntryInHand) {
    std::vector<QarEntry> entries;
    for (int i = 0; i < 120; ++i)
        entries.push_back(entry("D" + std::to_string(i % 3) + "\\F" + std::to_string(i)));
    recorder_.onProgress = [&](int32_t i) {
        if (i == 40) recorder_.stop = true;
    };
    load(entries);
    EXPECT_EQ(recorder_.lastProgress, 40);
    EXPECT_EQ(recorder_.finishes, 1);
    int files = 0;
    for (NodeId n = 0; n < tree_.size(); ++n) files += tree_.entryIndex(n) >= 0;
    EXPECT_EQ(files, 42);                             // entries 0 to 41
    EXPECT_EQ(state_.EntryOffsetTable.size(), 120u);  // full size, later elements unused
    EXPECT_EQ(state_.archive.entryCount(), 42u);
    EXPECT_TRUE(state_.archive.isOpen());
}

TEST_F(Loader, StopDuringTheFirstDispatchKeepsEntryZero) {
    recorder_.onDispatch = [&] { recorder_.stop = true; };
    EXPECT_EQ(load({entry("A\\B"), entry("C")}), (std::vector<std::string>{"A", "  B #0"}));
    EXPECT_EQ(recorder_.progressCalls, 0);
}

TEST_F(Loader, AnEmptyCountGivesAnEmptyTree) {
    QarOptions o;
    o.firstCount = 0;
    EXPECT_TRUE(load({entry("A")}, o).empty());
    EXPECT_EQ(recorder_.starts, 1);
    EXPECT_EQ(recorder_.finishes, 1);
    EXPECT_TRUE(state_.EntryOffsetTable.empty());
}

TEST_F(Loader, ErrorsBeforeThePanelLeaveTheObserverAlone) {
    QarOptions tooMany;
    tooMany.firstCount = 5;
    samples::writeQar(path_, {entry("A")}, tooMany);
    state_.CurrentArchiveName = path_;
    state_.EntryOffsetTable = {7, 8};
    try {
        LoadDirectory(state_, tree_, recorder_);
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_STREQ(e.what(), "I/O error 131");
    }
    EXPECT_EQ(state_.EntryOffsetTable, (std::vector<int32_t>{7, 8}));

    QarOptions negative;
    negative.firstCount = -1;
    samples::writeQar(path_, {entry("A")}, negative);
    try {
        LoadDirectory(state_, tree_, recorder_);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Range check error");
    }
    EXPECT_TRUE(state_.archive.isOpen());  // stays open until the next load
    EXPECT_EQ(recorder_.starts, 0);
    EXPECT_EQ(recorder_.finishes, 0);
    EXPECT_EQ(tree_.size(), 0);
}

TEST_F(Loader, TheOpenArchiveIsClosedFirst) {
    load({entry("A")});
    ASSERT_TRUE(state_.archive.isOpen());
    state_.CurrentArchiveName = dir_.file("missing.qar");
    EXPECT_THROW(LoadDirectory(state_, tree_, recorder_), FileError);
    EXPECT_FALSE(state_.archive.isOpen());

    const std::string second = dir_.file("b.qar");
    samples::writeQar(second, {entry("B")});
    state_.CurrentArchiveName = second;
    tree_.clear();
    Recorder again;
    LoadDirectory(state_, tree_, again);
    EXPECT_EQ(state_.archive.path(), second);
    EXPECT_EQ(lines(tree_), std::vector<std::string>{"B #0"});
}

TEST_F(Loader, AnErrorInsideTheLoopRestoresThePanels) {
    int calls = 0;
    recorder_.onDispatch = [&] {
        if (++calls == 3) throw Error("boom");
    };
    std::vector<QarEntry> entries;
    for (int i = 0; i < 10; ++i) entries.push_back(entry("D" + std::to_string(i) + "\\F"));
    EXPECT_THROW(load(entries), Error);
    EXPECT_EQ(recorder_.starts, 1);
    EXPECT_EQ(recorder_.finishes, 1);
    EXPECT_EQ(lines(tree_), (std::vector<std::string>{"D0", "  F #0", "D1"}));
}

namespace {

// An archive file in memory, reachable by name: thousands of rounds without disk writes.
class MemoryFile {
public:
    MemoryFile() : fd_(::memfd_create("vorlr-archive", MFD_CLOEXEC)) {
        if (fd_ < 0) throw std::runtime_error("memfd_create failed");
    }
    ~MemoryFile() { ::close(fd_); }
    std::string set(const std::vector<uint8_t>& bytes) {
        if (::ftruncate(fd_, 0) != 0 ||
            ::pwrite(fd_, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("memfd write failed");
        return "/proc/self/fd/" + std::to_string(fd_);
    }

private:
    int fd_;
};

// The names the loader sees in a file, read straight from its bytes.
std::vector<std::string> namesInFile(const std::vector<uint8_t>& bytes) {
    MemoryByteSource src(bytes);
    const ArchiveFigures f = ReadArchiveFigures(src);
    std::vector<std::string> names;
    for (int32_t i = 0; i < f.firstCount; ++i)
        names.push_back(RecordName(bytes.data() + f.directoryOffset + int64_t{i} * 280));
    return names;
}

std::vector<QarEntry> randomEntries(std::mt19937& rng) {
    static const std::vector<std::string> pool = {"A", "B",  "D",     "X",        "Y",
                                                  "F", "F1", "A.TXT", "INFO.TXT", ""};
    std::vector<QarEntry> entries;
    const int n = 1 + static_cast<int>(rng() % (rng() % 8 == 0 ? 160 : 30));
    const int poolSize = 2 + static_cast<int>(rng() % (pool.size() - 1));
    std::string previousDir;
    for (int i = 0; i < n; ++i) {
        std::string dir;
        if (!previousDir.empty() && rng() % 3 == 0) {
            dir = previousDir;
        } else {
            const int depth = static_cast<int>(rng() % 5);
            for (int d = 0; d < depth; ++d) dir += pool[rng() % poolSize] + "\\";
        }
        if (rng() % 40 == 0) dir += std::string(60 + rng() % 80, 'L') + "\\";  // near 200 bytes
        QarEntry e = entry(dir + pool[rng() % poolSize], std::string(rng() % 3, 'd'));
        if (e.name.size() > 199) e.name.resize(199);
        if (rng() % 50 == 0) e.noZeroByte = true;
        previousDir = dir;
        entries.push_back(std::move(e));
    }
    return entries;
}

}  // namespace

TEST(LoaderRandom, RandomArchivesBuildTheReferenceTree) {
    std::mt19937 rng(4711);
    MemoryFile file;
    LoadState state;
    for (int round = 0; round < 3000; ++round) {
        const auto entries = randomEntries(rng);
        const auto bytes = samples::buildQar(entries);
        const std::string path = file.set(bytes);
        const auto names = namesInFile(bytes);
        const int n = static_cast<int>(names.size());
        // Now and then stop after a random entry.
        int stopAfter = -1;
        Recorder recorder;
        if (rng() % 4 == 0) {
            stopAfter = static_cast<int>(rng() % n);
            if (stopAfter == 0)
                recorder.onDispatch = [&] { recorder.stop = true; };
            else
                recorder.onProgress = [&, stopAfter](int32_t i) {
                    if (i == stopAfter - 1) recorder.stop = true;
                };
        }
        FolderTree tree;
        state.CurrentArchiveName = path;
        LoadDirectory(state, tree, recorder);
        const ScanTree ref = ReferenceLoad(names, stopAfter);
        SCOPED_TRACE("round " + std::to_string(round));
        ExpectSameTree(tree, ref);
        if (::testing::Test::HasFatalFailure()) return;
        EXPECT_EQ(recorder.lastProgress, stopAfter < 0 ? n - 1 : stopAfter - 1);
        EXPECT_EQ(recorder.finishes, 1);
        ASSERT_EQ(state.EntryOffsetTable.size(), static_cast<size_t>(n));
        const int64_t start = static_cast<int64_t>(bytes.size()) - int64_t{n} * 280;
        for (int i = 0; i <= (stopAfter < 0 ? n - 1 : stopAfter); ++i)
            ASSERT_EQ(state.EntryOffsetTable[i], start + 256 + 280 * i);
    }
}

TEST(LoaderRandom, DamagedArchivesEndInACleanErrorOrATree) {
    std::mt19937 rng(99);
    MemoryFile file;
    LoadState state;
    int loaded = 0, failed = 0;
    for (int round = 0; round < 1500; ++round) {
        auto entries = randomEntries(rng);
        QarOptions o;
        switch (rng() % 5) {
            case 0:
                o.firstCount = static_cast<int32_t>(rng() % 400) - 100;
                break;
            case 1:
                o.truncateTo = static_cast<int64_t>(rng() % (520 + entries.size() * 300));
                break;
            case 2:
                o.firstCount = static_cast<int32_t>(rng());
                break;
            case 3:
                for (auto& e : entries) {
                    if (rng() % 3 == 0) e.offsetOverride = static_cast<int32_t>(rng());
                    if (rng() % 3 == 0) e.sizeOverride = static_cast<int32_t>(rng());
                }
                break;
            default:
                o.secondCount = 3;
                break;
        }
        const auto bytes = samples::buildQar(entries, o);
        const std::string path = file.set(bytes);
        FolderTree tree;
        Recorder recorder;
        state.CurrentArchiveName = path;
        try {
            LoadDirectory(state, tree, recorder);
            ++loaded;
            ExpectSameTree(tree, ReferenceLoad(namesInFile(bytes)));
            if (::testing::Test::HasFatalFailure()) return;
        } catch (const Error& e) {
            ++failed;
            const std::string what = e.what();
            EXPECT_TRUE(what == "Read beyond end of file" || what == "I/O error 131" ||
                        what == "Range check error")
                << what;
            EXPECT_EQ(tree.size(), 0);
        }
        EXPECT_EQ(recorder.starts, recorder.finishes);
    }
    EXPECT_GT(loaded, 100);
    EXPECT_GT(failed, 100);
}
