// Copying entries out of the archive (ExtractEntry), replacing files, and writing entries under
// a target folder without ever leaving it.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>

#include "archive/Container.h"
#include "archive/Extract.h"
#include "archive/SafeExtract.h"
#include "lib/QarBuilder.h"
#include "platform/Errors.h"
#include "support/TempDir.h"

using namespace vorlr;
using vorlr::samples::bytesOf;
using vorlr::samples::readFile;
using vorlr::samples::writeFile;
using vorlr::testing::ScopedCwd;
using vorlr::testing::TempDir;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return v;
}

// Runs work in a child process whose files may not grow past limit bytes; it must fail with
// FileError kDiskFull (no signal, no other error).
void expectDiskFullUnderLimit(rlim_t limit, const std::function<void()>& work) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        int code = 0;
        try {
            work();
        } catch (const FileError& e) {
            code = e.code();
        }
        ::_exit(code == kDiskFull ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// What the copy loop reads and leaves behind, named as the window names them.
struct CopyState {
    Archive archive;
    ArchiveReader ArchiveFile{archive};
    int32_t CurrentEntrySize = 0;
    WorkBufferBytes WorkBuffer{};
    HeadBytesArray HeadBytes{};
    EntryCopy copy() { return EntryCopy{ArchiveFile, CurrentEntrySize, WorkBuffer}; }
};

void ExtractEntry(CopyState& s, const std::string& fileName) {
    vorlr::ExtractEntry(s.copy(), fileName, s.HeadBytes);
}
int64_t CopyEntryBytes(CopyState& s, const EntrySink& sink) {
    return vorlr::CopyEntryBytes(s.copy(), sink);
}

// A plain file standing in for an archive: the tests seek to an offset and set a size.
class ExtractEntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        bytes_ = pattern(40000, 3);
        writeFile(dir_.file("archive.bin"), bytes_);
        state_.archive.open(dir_.file("archive.bin"));
    }
    void select(int64_t offset, int32_t size) {
        state_.ArchiveFile.seek(offset);
        state_.CurrentEntrySize = size;
    }
    std::vector<uint8_t> slice(size_t from, size_t n) const {
        return {bytes_.begin() + static_cast<long>(from), bytes_.begin() + static_cast<long>(from + n)};
    }

    TempDir dir_;
    ScopedCwd cwd_{dir_.path()};
    std::vector<uint8_t> bytes_;
    CopyState state_;
};

TEST_F(ExtractEntryTest, EntryOneByteOverTheBufferTakesTwoFullReads) {
    select(1000, 16385);
    ExtractEntry(state_, "OUT.BIN");
    EXPECT_EQ(readFile("OUT.BIN"), slice(1000, 16385));
    EXPECT_EQ(state_.CurrentEntrySize, 0);
    // The second read took a whole 16384 bytes; only its first byte was written.
    EXPECT_EQ(state_.ArchiveFile.position(), 1000 + 2 * 16384);
    EXPECT_EQ(std::vector<uint8_t>(state_.WorkBuffer.begin(), state_.WorkBuffer.end()),
              slice(1000 + 16384, 16384));
    EXPECT_EQ(std::vector<uint8_t>(state_.HeadBytes.begin(), state_.HeadBytes.end()), slice(1000, 16));
}

TEST_F(ExtractEntryTest, ShortAndEmptyEntriesKeepTheRestOfHeadBytes) {
    select(0, 20);
    ExtractEntry(state_, "A");
    const auto first = slice(0, 16);
    select(500, 0);
    ExtractEntry(state_, "EMPTY");
    EXPECT_TRUE(fs::exists("EMPTY"));
    EXPECT_EQ(fs::file_size("EMPTY"), 0u);
    EXPECT_EQ(std::vector<uint8_t>(state_.HeadBytes.begin(), state_.HeadBytes.end()), first);
    EXPECT_EQ(state_.ArchiveFile.position(), 500);  // nothing read

    select(3000, 3);
    ExtractEntry(state_, "SHORT");
    auto expected = first;
    std::copy_n(bytes_.begin() + 3000, 3, expected.begin());
    EXPECT_EQ(std::vector<uint8_t>(state_.HeadBytes.begin(), state_.HeadBytes.end()), expected);
}

TEST_F(ExtractEntryTest, SizeWithTheTopBitSetCopiesNothing) {
    select(100, -5);
    ExtractEntry(state_, "NEG");
    EXPECT_EQ(fs::file_size("NEG"), 0u);
    EXPECT_EQ(state_.CurrentEntrySize, -5);
    EXPECT_EQ(state_.ArchiveFile.position(), 100);
    select(100, INT32_MIN);
    ExtractEntry(state_, "NEG");
    EXPECT_EQ(fs::file_size("NEG"), 0u);
}

TEST_F(ExtractEntryTest, EntryPastTheEndStopsWhereTheArchiveEnds) {
    select(39990, 100000);
    ExtractEntry(state_, "CUT");
    EXPECT_EQ(readFile("CUT"), slice(39990, 10));
    EXPECT_EQ(state_.CurrentEntrySize, 100000 - 10);
    EXPECT_EQ(state_.ArchiveFile.position(), 40000);
    select(50000, 10);  // data starts beyond the end
    ExtractEntry(state_, "NONE");
    EXPECT_EQ(fs::file_size("NONE"), 0u);
    EXPECT_EQ(state_.CurrentEntrySize, 10);
}

TEST_F(ExtractEntryTest, ExistingFileIsTruncated) {
    writeFile("OUT", pattern(5000, 9));
    select(10, 7);
    ExtractEntry(state_, "OUT");
    EXPECT_EQ(readFile("OUT"), slice(10, 7));
}

TEST_F(ExtractEntryTest, FailuresRaiseTheRuntimeTexts) {
    select(0, 10);
    try {
        ExtractEntry(state_, "/dev/full");
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.code(), kDiskFull);
        EXPECT_STREQ(e.what(), "Disk full");
    }
    select(0, 10);
    EXPECT_THROW(ExtractEntry(state_, "no-such-folder/X"), FileError);
    // The archive itself is never truncated, whatever its name.
    select(0, 10);
    EXPECT_THROW(ExtractEntry(state_, "archive.bin"), FileError);
    EXPECT_EQ(readFile("archive.bin"), bytes_);
}

// A regular file that hits the file size limit part-way: the short write is "Disk full".
TEST_F(ExtractEntryTest, ShortWriteOnARegularFileIsDiskFull) {
    ASSERT_NO_FATAL_FAILURE(expectDiskFullUnderLimit(20000, [&] {
        select(0, 30000);
        ExtractEntry(state_, "BIG");
    }));
    EXPECT_EQ(fs::file_size("BIG"), 20000u);
}

TEST_F(ExtractEntryTest, SinkSeesTheSameBytesReadsAndPosition) {
    select(123, 20000);
    std::vector<uint8_t> got;
    std::vector<int64_t> counts;
    const int64_t n = CopyEntryBytes(state_, [&](const uint8_t* p, int64_t c) {
        got.insert(got.end(), p, p + c);
        counts.push_back(c);
    });
    EXPECT_EQ(n, 20000);
    EXPECT_EQ(got, slice(123, 20000));
    EXPECT_EQ(counts, (std::vector<int64_t>{16384, 20000 - 16384}));
    EXPECT_EQ(state_.ArchiveFile.position(), 123 + 2 * 16384);
}

// Entries are copied to files inside the kernel; everything a later step can see must be what
// the 16384-byte loop leaves behind.
TEST(ExtractEntryInKernel, LeavesTheSameStateAsTheBlockLoop) {
    TempDir dir;
    ScopedCwd cwd(dir.path());
    const int64_t fileSize = (int64_t{3} << 20) + 100;
    const auto bytes = pattern(static_cast<size_t>(fileSize), 11);
    writeFile("archive.bin", bytes);
    struct Case {
        int64_t start;
        int32_t size;
    };
    const Case cases[] = {
        {520, 1 << 20},                                       // whole blocks, data beyond
        {520, (1 << 20) + 1},                                 // one byte into a last block
        {1000, 4 << 20},                                      // runs past the end, partial block
        {fileSize - (int64_t{2} << 20), 3 << 20},             // past the end on a block boundary
        {fileSize - 100, 2 << 20},                            // one partial read only
        {fileSize - 16484, 2 << 20},                          // a full read, then a partial one
        {fileSize + 5, 2 << 20},                              // starts beyond the end
        {fileSize - (int64_t{1} << 20), 1 << 20},             // ends exactly at the end
        {520, 1}, {520, 16384}, {520, 16385}, {fileSize - 10, 100}, {520, 0}, {520, -5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "start " << c.start << " size " << c.size);
        CopyState fast, loop;
        for (CopyState* s : {&fast, &loop}) {
            s->archive.open("archive.bin");
            s->ArchiveFile.seek(c.start);
            s->CurrentEntrySize = c.size;
            s->WorkBuffer.fill(0xEE);
        }
        ExtractEntry(fast, "FAST");
        std::vector<uint8_t> expected;
        CopyEntryBytes(loop, [&](const uint8_t* p, int64_t n) { expected.insert(expected.end(), p, p + n); });
        EXPECT_EQ(readFile("FAST"), expected);
        EXPECT_EQ(fast.CurrentEntrySize, loop.CurrentEntrySize);
        EXPECT_EQ(fast.ArchiveFile.position(), loop.ArchiveFile.position());
        EXPECT_TRUE(fast.WorkBuffer == loop.WorkBuffer);
    }
}

TEST(ReplaceFile, RenamesOverTheTarget) {
    TempDir dir;
    ScopedCwd cwd(dir.path());
    writeFile("TEMP.TXT", bytesOf("new"));
    writeFile("A.TXT", bytesOf("old"));
    ReplaceFile("TEMP.TXT", "A.TXT");
    EXPECT_EQ(readFile("A.TXT"), bytesOf("new"));
    EXPECT_FALSE(fs::exists("TEMP.TXT"));
    writeFile("TEMP.TXT", bytesOf("fresh"));
    ReplaceFile("TEMP.TXT", "B.TXT");  // no target yet
    EXPECT_EQ(readFile("B.TXT"), bytesOf("fresh"));
}

TEST(ReplaceFile, MissingSourceKeepsTheTarget) {
    TempDir dir;
    ScopedCwd cwd(dir.path());
    writeFile("A.TXT", bytesOf("keep me"));
    ReplaceFile("TEMP.TXT", "A.TXT");
    EXPECT_EQ(readFile("A.TXT"), bytesOf("keep me"));
}

TEST(ReplaceFile, SecondSaveOfTheSameScratchFileKeepsTheFirst) {
    TempDir dir;
    ScopedCwd cwd(dir.path());
    writeFile("arch", pattern(100, 1));
    CopyState state;
    state.archive.open("arch");
    state.CurrentEntrySize = 50;
    ExtractEntry(state, "TEMP.TXT");
    ReplaceFile("TEMP.TXT", "README.TXT");
    ReplaceFile("TEMP.TXT", "README.TXT");  // the scratch file is gone by now
    EXPECT_EQ(readFile("README.TXT"), pattern(50, 1));
}

TEST(ReplaceFile, FolderTargetOrFolderSourceChangesNothing) {
    TempDir dir;
    ScopedCwd cwd(dir.path());
    fs::create_directory("DIR");
    writeFile("DIR/inside", bytesOf("x"));
    writeFile("TEMP.TXT", bytesOf("t"));
    ReplaceFile("TEMP.TXT", "DIR");
    EXPECT_TRUE(fs::is_directory("DIR"));
    EXPECT_EQ(readFile("TEMP.TXT"), bytesOf("t"));
    ReplaceFile("DIR", "TEMP.TXT");
    EXPECT_EQ(readFile("TEMP.TXT"), bytesOf("t"));
    EXPECT_TRUE(fs::exists("DIR/inside"));
}

TEST(SafeNames, SplitsAtEitherSeparator) {
    std::vector<std::string> segs;
    EXPECT_EQ(SplitSafeName("DATA\\TEXT/A.TXT", segs), NameVerdict::Safe);
    EXPECT_EQ(segs, (std::vector<std::string>{"DATA", "TEXT", "A.TXT"}));
    EXPECT_EQ(SplitSafeName("...", segs), NameVerdict::Safe);
    EXPECT_EQ(SplitSafeName("A\\..B\\C:D", segs), NameVerdict::Safe);
    EXPECT_EQ(segs, (std::vector<std::string>{"A", "..B", "C:D"}));
}

TEST(SafeNames, RefusesEveryNameThatCouldLeaveTheFolder) {
    struct Case {
        std::string name;
        NameVerdict verdict;
    };
    const Case cases[] = {
        {"", NameVerdict::Empty},
        {"\\abs", NameVerdict::Absolute},
        {"/abs", NameVerdict::Absolute},
        {"\\\\server\\share", NameVerdict::Absolute},
        {"C:x", NameVerdict::DriveLetter},
        {"z:\\x", NameVerdict::DriveLetter},
        {"A\\\\B", NameVerdict::EmptySegment},
        {"A/\\B", NameVerdict::EmptySegment},
        {"A\\", NameVerdict::EmptySegment},
        {"..\\x", NameVerdict::DotSegment},
        {"A\\..\\..\\x", NameVerdict::DotSegment},
        {"A/./B", NameVerdict::DotSegment},
        {"..", NameVerdict::DotSegment},
        {std::string("A\0B", 3), NameVerdict::ZeroByte},
    };
    for (const auto& c : cases) {
        std::vector<std::string> segs{"stale"};
        EXPECT_EQ(SplitSafeName(c.name, segs), c.verdict) << c.name;
        EXPECT_TRUE(segs.empty()) << c.name;
    }
}

// The separator search reads eight bytes at a time: every place in a word and past it, beside
// bytes one off the separators and past 0x7f.
TEST(SafeNames, SeparatorsAreFoundAtEveryPlaceOfAWord) {
    const std::string fillers[] = {"a", "\x5b", "\x5d", "\x2e", "\x30", "\xdc", "\xaf", "\xff"};
    for (const std::string& fill : fillers)
        for (size_t length = 0; length <= 27; ++length)
            for (size_t at = 0; at <= length; ++at)
                for (const char separator : {'\\', '/'}) {
                    std::string text;
                    for (size_t i = 0; i < length; ++i) text += fill;
                    if (at < length) text[at] = separator;
                    if (at + 3 < length) text[at + 3] = '/';  // a later one is not the first
                    EXPECT_EQ(FindSeparator(text), at) << length << " " << at;
                }
    struct Case {
        const char* name;
        NameVerdict verdict;
    };
    const Case long_names[] = {
        {"CREATURES\\AREA00\\/PART000", NameVerdict::EmptySegment},
        {"CREATURES\\AREA00\\..\\PART000", NameVerdict::DotSegment},
        {"CREATURES\\AREA00/./PART000", NameVerdict::DotSegment},
        {"CREATURES\\AREA00\\PART000\\", NameVerdict::EmptySegment},
        {"CREATURES\\AREA00\\...\\PART000.DAT", NameVerdict::Safe},
    };
    for (const auto& c : long_names) EXPECT_EQ(CheckSafeName(c.name), c.verdict) << c.name;
}

TEST(EntryPatterns, GlobsOnTheFullNameIgnoringCase) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    };
    const Case cases[] = {
        {"*", "DATA\\A.TXT", true},
        {"*.txt", "DATA\\TEXT\\A.TXT", true},  // '*' crosses separators
        {"*.txt", "A.TXT.BAK", false},
        {"data/text/*", "DATA\\TEXT\\A.TXT", true},
        {"DATA\\TEXT\\?.TXT", "data/text/a.txt", true},
        {"?", "", false},
        {"", "", true},
        {"", "A", false},
        {"A?C", "AC", false},
        {"[abc].TXT", "B.TXT", true},
        {"[!abc].TXT", "B.TXT", false},
        {"[^abc].TXT", "D.TXT", true},
        {"[a-c]*", "Cx", true},
        {"[A-C]*", "dx", false},
        {"[]]", "]", true},
        {"[!]]", "]", false},
        {"a[", "A[", true},           // unclosed: ordinary character
        {"[/]", "\\", true},
        {"*a*b*c", "xxaxxbxxbxc", true},
        {"*a*b*c", "xxaxxbxxbx", false},
        {"**", "", true},
        {"\xe9*", "\xe9t\xe9", true},   // bytes above 127 compared as they are
        {"\xc9*", "\xe9t\xe9", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchEntryPattern(c.pattern, c.name), c.match) << c.pattern << " on " << c.name;
}

// Entries written from a real archive into out/ inside a fresh folder.
class SafeExtractTest : public ::testing::Test {
protected:
    void open(const std::vector<samples::QarEntry>& entries) {
        samples::writeQar(dir_.file("a.qar"), entries);
        archiveBytes_ = readFile(dir_.file("a.qar"));
        archive_.open(dir_.file("a.qar"));
        ReadDirectory(archive_);
    }
    ExtractSummary run(bool keep = false, std::vector<size_t> selection = {}) {
        if (selection.empty()) {
            selection.resize(archive_.entryCount());
            std::iota(selection.begin(), selection.end(), 0);
        }
        notices_.clear();
        ExtractOptions options;
        options.keepExisting = keep;
        options.onEntry = [this](const ExtractNotice& n) { notices_.push_back(n); };
        return ExtractEntries(archive_, selection, out(), options);
    }
    std::string out() const { return dir_.file("out"); }
    // Everything under the test folder except out/ and the archive.
    std::vector<std::string> strayFiles() const {
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(dir_.path())) {
            const auto rel = fs::relative(e.path(), dir_.path()).string();
            if (rel == "a.qar" || rel == "out" || rel.rfind("out/", 0) == 0 || rel == "outside" ||
                rel.rfind("outside/", 0) == 0)
                continue;
            found.push_back(rel);
        }
        return found;
    }
    void TearDown() override {
        if (!archiveBytes_.empty()) {
            EXPECT_EQ(readFile(dir_.file("a.qar")), archiveBytes_);
        }
    }

    TempDir dir_;
    Archive archive_;
    std::vector<ExtractNotice> notices_;
    std::vector<uint8_t> archiveBytes_;
};

TEST_F(SafeExtractTest, WritesEachEntryUnderItsFolders) {
    open({{"README.TXT", bytesOf("hello"), {}, {}, false},
          {"DATA\\TEXT\\A.TXT", pattern(20000, 5), {}, {}, false},
          {"DATA/B.BIN", {}, {}, {}, false}});
    const auto summary = run();
    EXPECT_EQ(summary.written, 3u);
    EXPECT_EQ(summary.problems, 0u);
    EXPECT_EQ(readFile(out() + "/README.TXT"), bytesOf("hello"));
    EXPECT_EQ(readFile(out() + "/DATA/TEXT/A.TXT"), pattern(20000, 5));
    EXPECT_EQ(fs::file_size(out() + "/DATA/B.BIN"), 0u);
    ASSERT_EQ(notices_.size(), 3u);
    EXPECT_EQ(notices_[1].path, "DATA/TEXT/A.TXT");
    EXPECT_EQ(notices_[1].written, 20000);
    // No temporary files are left behind.
    for (const auto& e : fs::recursive_directory_iterator(out()))
        EXPECT_EQ(e.path().filename().string().rfind(".qar-", 0), std::string::npos) << e.path();
}

TEST_F(SafeExtractTest, AReaderOfTheSameArchiveKeepsItsPosition) {
    open({{"A.TXT", pattern(30000, 1), {}, {}, false}, {"B.TXT", bytesOf("b"), {}, {}, false}});
    ArchiveReader window(archive_);
    window.seek(30520);
    run();
    EXPECT_EQ(window.position(), 30520);
    EXPECT_EQ(readFile(out() + "/A.TXT"), pattern(30000, 1));
}

TEST_F(SafeExtractTest, UnsafeNamesAreSkippedAndNothingLandsOutside) {
    open({{"..\\x", bytesOf("1"), {}, {}, false},
          {"A\\..\\..\\y", bytesOf("2"), {}, {}, false},
          {"\\vorlr-extract-abs-probe", bytesOf("3"), {}, {}, false},
          {"C:z", bytesOf("4"), {}, {}, false},
          {"A\\\\B", bytesOf("5"), {}, {}, false},
          {"", bytesOf("6"), {}, {}, false},
          {"OK.TXT", bytesOf("7"), {}, {}, false}});
    const auto summary = run();
    EXPECT_EQ(summary.written, 1u);
    EXPECT_EQ(summary.problems, 6u);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(notices_[i].outcome, ExtractOutcome::UnsafeName) << i;
    EXPECT_TRUE(strayFiles().empty());
    EXPECT_FALSE(fs::exists("/vorlr-extract-abs-probe"));
    std::vector<std::string> inOut;
    for (const auto& e : fs::recursive_directory_iterator(out())) inOut.push_back(e.path().filename());
    EXPECT_EQ(inOut, std::vector<std::string>{"OK.TXT"});
}

TEST_F(SafeExtractTest, PlantedSymbolicLinksAreNeverWrittenThrough) {
    fs::create_directories(dir_.file("outside"));
    writeFile(dir_.file("outside/victim"), bytesOf("precious"));
    fs::create_directories(out());
    fs::create_directory_symlink(dir_.file("outside"), out() + "/LINK");
    fs::create_symlink(dir_.file("outside/victim"), out() + "/FILE.TXT");
    fs::create_directories(out() + "/SUB");
    fs::create_directory_symlink("../../outside", out() + "/SUB/UP");
    open({{"LINK\\victim", bytesOf("evil1"), {}, {}, false},
          {"LINK\\new", bytesOf("evil2"), {}, {}, false},
          {"SUB\\UP\\new", bytesOf("evil3"), {}, {}, false},
          {"FILE.TXT", bytesOf("mine"), {}, {}, false}});
    const auto summary = run();
    EXPECT_EQ(readFile(dir_.file("outside/victim")), bytesOf("precious"));
    EXPECT_FALSE(fs::exists(dir_.file("outside/new")));
    ASSERT_EQ(notices_.size(), 4u);
    EXPECT_EQ(notices_[0].outcome, ExtractOutcome::Blocked);
    EXPECT_EQ(notices_[0].detail, "LINK is a symbolic link");
    EXPECT_EQ(notices_[2].outcome, ExtractOutcome::Blocked);
    EXPECT_EQ(notices_[2].detail, "SUB/UP is a symbolic link");
    // A link in the file's own place is replaced like any file, not followed.
    EXPECT_EQ(notices_[3].outcome, ExtractOutcome::Written);
    EXPECT_FALSE(fs::is_symlink(out() + "/FILE.TXT"));
    EXPECT_EQ(readFile(out() + "/FILE.TXT"), bytesOf("mine"));
    EXPECT_EQ(summary.problems, 3u);
}

TEST_F(SafeExtractTest, HardLinksAndFifosInTheWayAreReplacedNotWrittenInto) {
    fs::create_directories(out());
    writeFile(dir_.file("outside-file"), bytesOf("precious"));
    fs::create_hard_link(dir_.file("outside-file"), out() + "/HARD.TXT");
    ASSERT_EQ(::mkfifo((out() + "/PIPE.TXT").c_str(), 0600), 0);
    open({{"HARD.TXT", bytesOf("new"), {}, {}, false}, {"PIPE.TXT", bytesOf("p"), {}, {}, false}});
    run();  // a fifo opened for writing would block forever
    EXPECT_EQ(readFile(dir_.file("outside-file")), bytesOf("precious"));
    EXPECT_EQ(readFile(out() + "/HARD.TXT"), bytesOf("new"));
    EXPECT_EQ(readFile(out() + "/PIPE.TXT"), bytesOf("p"));
    fs::remove(dir_.file("outside-file"));
}

TEST_F(SafeExtractTest, TheArchiveItselfIsNeverReplaced) {
    open({{"a.qar", bytesOf("not an archive"), {}, {}, false}});
    ExtractOptions options;
    std::vector<ExtractNotice> notices;
    options.onEntry = [&](const ExtractNotice& n) { notices.push_back(n); };
    const auto summary = ExtractEntries(archive_, {0}, dir_.path(), options);
    EXPECT_EQ(summary.problems, 1u);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].outcome, ExtractOutcome::Blocked);
    // TearDown compares the archive's bytes.
}

TEST_F(SafeExtractTest, FilesAndFoldersInTheWay) {
    open({{"A", bytesOf("file"), {}, {}, false},
          {"A\\B", bytesOf("under a file"), {}, {}, false},
          {"C\\D", bytesOf("d"), {}, {}, false},
          {"C", bytesOf("over a folder"), {}, {}, false}});
    const auto summary = run();
    EXPECT_EQ(summary.written, 2u);
    EXPECT_EQ(notices_[1].outcome, ExtractOutcome::Blocked);
    EXPECT_EQ(notices_[1].detail, "A is not a folder");
    EXPECT_EQ(notices_[3].outcome, ExtractOutcome::Blocked);
    EXPECT_EQ(readFile(out() + "/A"), bytesOf("file"));
    EXPECT_EQ(readFile(out() + "/C/D"), bytesOf("d"));
}

TEST_F(SafeExtractTest, AFileThatCannotBeCreatedFailsThatEntryOnly) {
    open({{"D\\A.TXT", bytesOf("a"), {}, {}, false}, {"B.TXT", bytesOf("b"), {}, {}, false}});
    fs::create_directories(out() + "/D");
    // Root ignores permission bits; the immutable attribute stops it from creating files too.
    if (std::system(("chattr +i '" + out() + "/D' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot make a folder unwritable here";
    const auto summary = run();
    [[maybe_unused]] const int undo = std::system(("chattr -i '" + out() + "/D'").c_str());
    EXPECT_EQ(summary.problems, 1u);
    EXPECT_EQ(notices_[0].outcome, ExtractOutcome::Failed);
    EXPECT_EQ(notices_[0].detail, "File access denied");
    EXPECT_EQ(readFile(out() + "/B.TXT"), bytesOf("b"));
}

TEST_F(SafeExtractTest, KeepDuplicatesAndOverwrite) {
    fs::create_directories(out() + "/D");
    writeFile(out() + "/D/OLD.TXT", bytesOf("old"));
    open({{"D\\OLD.TXT", bytesOf("new"), {}, {}, false},
          {"D\\DUP.TXT", bytesOf("first"), {}, {}, false},
          {"d/DUP.TXT", bytesOf("other case"), {}, {}, false},
          {"D/DUP.TXT", bytesOf("second"), {}, {}, false}});
    auto summary = run(true);
    EXPECT_EQ(summary.kept, 1u);
    EXPECT_EQ(summary.problems, 0u);
    EXPECT_EQ(notices_[0].outcome, ExtractOutcome::Kept);
    EXPECT_EQ(readFile(out() + "/D/OLD.TXT"), bytesOf("old"));
    // A later entry of the same name wins, even with keep, and says whom it replaced.
    EXPECT_EQ(readFile(out() + "/D/DUP.TXT"), bytesOf("second"));
    ASSERT_TRUE(notices_[3].replacedIndex.has_value());
    EXPECT_EQ(*notices_[3].replacedIndex, 1u);
    EXPECT_FALSE(notices_[2].replacedIndex.has_value());  // names differ in case: another file
    EXPECT_EQ(readFile(out() + "/d/DUP.TXT"), bytesOf("other case"));

    summary = run(false);
    EXPECT_EQ(summary.kept, 0u);
    EXPECT_EQ(readFile(out() + "/D/OLD.TXT"), bytesOf("new"));
}

TEST_F(SafeExtractTest, DataBeyondTheEndIsWrittenAsFarAsItGoes) {
    samples::QarEntry cut{"CUT.BIN", pattern(100, 1), {}, {}, false};
    cut.sizeOverride = 1 << 30;  // runs into the directory and past the end
    samples::QarEntry far{"FAR.BIN", {}, {}, {}, false};
    far.offsetOverride = 1 << 30;
    far.sizeOverride = 10;
    samples::QarEntry negative{"NEG.BIN", {}, {}, {}, false};
    negative.offsetOverride = -1;
    open({cut, far, negative});
    const auto summary = run();
    EXPECT_EQ(summary.problems, 3u);
    EXPECT_EQ(notices_[0].outcome, ExtractOutcome::Truncated);
    const auto whole = readFile(dir_.file("a.qar"));
    EXPECT_EQ(readFile(out() + "/CUT.BIN"), std::vector<uint8_t>(whole.begin() + 520, whole.end()));
    EXPECT_EQ(notices_[1].outcome, ExtractOutcome::Truncated);
    EXPECT_EQ(fs::file_size(out() + "/FAR.BIN"), 0u);
    EXPECT_EQ(notices_[2].outcome, ExtractOutcome::Failed);
    EXPECT_EQ(notices_[2].detail, "I/O error 131");
    EXPECT_FALSE(fs::exists(out() + "/NEG.BIN"));
}

TEST_F(SafeExtractTest, ProgressCountsEntriesAndCanStopTheRun) {
    open({{"1", bytesOf("a"), {}, {}, false}, {"2", bytesOf("b"), {}, {}, false},
          {"3", bytesOf("c"), {}, {}, false}});
    std::vector<std::pair<size_t, size_t>> calls;
    ExtractOptions options;
    options.progress = [&](size_t done, size_t total) {
        calls.emplace_back(done, total);
        return done < 2;
    };
    const auto summary = ExtractEntries(archive_, {0, 1, 2}, out(), options);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(summary.written, 2u);
    EXPECT_EQ(calls, (std::vector<std::pair<size_t, size_t>>{{0, 3}, {1, 3}, {2, 3}}));
    EXPECT_FALSE(fs::exists(out() + "/3"));
}

TEST_F(SafeExtractTest, DiskFullStopsTheRunAndLeavesNoTemporaryFile) {
    open({{"BIG", pattern(30000, 2), {}, {}, false}});
    fs::create_directories(out());
    ASSERT_NO_FATAL_FAILURE(expectDiskFullUnderLimit(10000, [&] { run(); }));
    EXPECT_TRUE(fs::is_empty(out()));
}

TEST(SafeExtractTarget, MissingTargetFolderIsCreatedAndAFileThereRaises) {
    TempDir dir;
    writeFile(dir.file("a.qar"), samples::buildQar({{"X", bytesOf("x"), {}, {}, false}}));
    Archive archive;
    archive.open(dir.file("a.qar"));
    ReadDirectory(archive);
    ExtractEntries(archive, {0}, dir.file("new/deeper"), {});
    EXPECT_EQ(readFile(dir.file("new/deeper/X")), bytesOf("x"));
    EXPECT_THROW(ExtractEntries(archive, {0}, dir.file("a.qar"), {}), FileError);
}

}  // namespace
