// The archive writer: an unchanged rewrite gives back the same bytes whatever the layout; edits
// change only their entries; alignment is kept; a failure at any point leaves the target as it
// was and nothing else in its folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <set>

#include "archive/ArchiveWriter.h"
#include "archive/Container.h"
#include "archive/FolderUpdate.h"
#include "lib/QarBuilder.h"
#include "platform/Errors.h"
#include "platform/LittleEndian.h"
#include "support/TempDir.h"

using namespace vorlr;
using samples::readFile;
using samples::writeFile;
using vorlr::testing::TempDir;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

// The data area under construction: put() returns the offset of what it placed.
struct Area {
    std::vector<uint8_t> b;
    int64_t put(const std::string& s) {
        const int64_t at = kDataStart + static_cast<int64_t>(b.size());
        b.insert(b.end(), s.begin(), s.end());
        return at;
    }
    void gap(size_t n, char fill) { b.insert(b.end(), n, static_cast<uint8_t>(fill)); }
    void alignTo(size_t a) { gap((a - (kDataStart + b.size()) % a) % a, '\0'); }
};

struct Rec {
    std::string name;
    int64_t offset, size;
};

// A head of patterned bytes, the counts, the area, then the records; every record's bytes after
// its name's zero and its trailing 16 bytes are patterned as well, so that losing one shows.
std::vector<uint8_t> archive(const Area& area, const std::vector<Rec>& recs, int32_t second = -1) {
    std::vector<uint8_t> f(kDataStart);
    for (size_t i = 0; i < 512; ++i) f[i] = static_cast<uint8_t>(i * 7 + 3);
    putLe32(f.data() + 512, static_cast<uint32_t>(recs.size()));
    putLe32(f.data() + 516, static_cast<uint32_t>(second < 0 ? recs.size() : second));
    f.insert(f.end(), area.b.begin(), area.b.end());
    for (size_t r = 0; r < recs.size(); ++r) {
        uint8_t rec[280];
        for (size_t i = 0; i < 280; ++i) rec[i] = static_cast<uint8_t>(r * 13 + i * 5 + 1);
        std::memcpy(rec, recs[r].name.data(), recs[r].name.size());
        rec[recs[r].name.size()] = 0;
        putLe32(rec + 256, static_cast<uint32_t>(recs[r].offset));
        putLe32(rec + 260, static_cast<uint32_t>(recs[r].size));
        f.insert(f.end(), rec, rec + 280);
    }
    return f;
}

// A written archive read back by hand.
struct Parsed {
    std::vector<uint8_t> f;
    explicit Parsed(std::vector<uint8_t> file) : f(std::move(file)) {}
    int32_t count() const { return leI32(f.data() + 512); }
    const uint8_t* record(int i) const { return f.data() + f.size() - (count() - i) * 280; }
    int32_t offset(int i) const { return leI32(record(i) + 256); }
    int32_t size(int i) const { return leI32(record(i) + 260); }
    std::string name(int i) const { return reinterpret_cast<const char*>(record(i)); }
    std::string data(int i) const {
        return std::string(f.begin() + offset(i), f.begin() + offset(i) + size(i));
    }
    // The record without its offset and size fields.
    std::vector<uint8_t> unread(int i) const {
        std::vector<uint8_t> r(record(i), record(i) + 280);
        std::fill(r.begin() + 256, r.begin() + 264, 0);
        return r;
    }
};

std::set<std::string> listing(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

class Writer : public ::testing::Test {
protected:
    std::string src() const { return dir_.file("src.qar"); }
    std::string out() const { return dir_.file("out.qar"); }

    void open(const std::vector<uint8_t>& file) {
        writeFile(src(), file);
        archive_.open(src());
        ReadDirectory(archive_);
    }
    std::vector<uint8_t> rewrite(const std::vector<uint8_t>& file, const ArchiveEdit& edit = {}) {
        open(file);
        WriteTarget t;
        t.path = out();
        // Progress only grows, and ends at the size of what was written.
        int64_t last = -1, lastTotal = -1;
        t.progress = [&](int64_t written, int64_t total) {
            EXPECT_GE(written, last);
            EXPECT_TRUE(lastTotal < 0 || total == lastTotal);
            last = written;
            lastTotal = total;
        };
        WriteEditedArchive(archive_, edit, t);
        auto written = readFile(out());
        EXPECT_EQ(last, static_cast<int64_t>(written.size()));
        EXPECT_EQ(lastTotal, last);
        return written;
    }
    // Runs write, expects it to raise a message containing `text`, and the folder to hold what
    // it held before with the target's bytes unchanged.
    void expectFailureLeavesAll(const std::function<void()>& write, const std::string& text,
                                const std::string& target) {
        const auto before = listing(dir_.path());
        const auto old = readFile(target);
        try {
            write();
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
        }
        EXPECT_EQ(listing(dir_.path()), before);
        EXPECT_EQ(readFile(target), old);
    }
    // Runs body in a child process; returns its wait status.
    int inChild(const std::function<int()>& body) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            int rc = 3;
            try {
                rc = body();
            } catch (...) {
            }
            ::_exit(rc);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    }

    TempDir dir_;
    Archive archive_;
};

// Three entries with junk between them, all different sizes.
std::vector<uint8_t> paddedArchive() {
    Area a;
    a.gap(3, 'L');  // before the first entry
    const int64_t x = a.put("AAAA");
    a.gap(2, 'g');
    const int64_t y = a.put("BBB");
    a.gap(1, 'h');
    const int64_t z = a.put("CC");
    a.gap(5, 'e');
    return archive(a, {{"D\\X", x, 4}, {"D\\Y", y, 3}, {"Z", z, 2}});
}

TEST_F(Writer, UnchangedRewriteGivesTheSameBytes) {
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
    };
    std::vector<Case> cases;
    cases.push_back({"padding between entries", paddedArchive()});
    {
        Area a;
        a.alignTo(2048);
        const int64_t x = a.put(std::string(100, 'x'));
        a.alignTo(2048);
        const int64_t y = a.put(std::string(3000, 'y'));
        a.alignTo(2048);
        cases.push_back({"aligned data", archive(a, {{"X", x, 100}, {"Y", y, 3000}})});
    }
    {
        Area a;
        const int64_t x = a.put("shared");
        const int64_t y = a.put("own");
        cases.push_back({"duplicate names sharing data",
                         archive(a, {{"N", x, 6}, {"N", x, 6}, {"N", y, 3}})});
    }
    {
        Area a;
        const int64_t x = a.put("inside");
        cases.push_back({"entries outside the data area",
                         archive(a, {{"H", 100, 8}, {"I", x, 6}, {"P", 1 << 20, 4}, {"M", -5, 2},
                                     {"Z", x + 6, 0}})});
    }
    {
        Area a;
        const int64_t x = a.put("first");
        const int64_t y = a.put("runs on");
        cases.push_back({"data past the end", archive(a, {{"A", x, 5}, {"B", y, 5000}})});
    }
    {
        Area a;
        const int64_t x = a.put("outer[inner]tail");
        cases.push_back({"nested and overlapping data",
                         archive(a, {{"O", x, 12}, {"I", x + 6, 5}, {"T", x + 10, 6}, {"E", x + 3, 0}})});
    }
    {
        Area a;
        const int64_t x = a.put("q");
        cases.push_back({"counts that differ", archive(a, {{"Q", x, 1}}, 7)});
    }
    for (const Case& c : cases) {
        EXPECT_EQ(rewrite(c.file), c.file) << c.what;
        archive_.close();
    }
}

TEST_F(Writer, ReplaceDeleteAndRenameChangeOnlyTheirEntries) {
    const auto file = paddedArchive();
    // Y grows from 3 to 5 bytes in its place; its gap stays after it, Z moves up by 2.
    ArchiveEdit replace;
    replace.replace[1] = NewData{{}, bytes("bbbbb")};
    Parsed r(rewrite(file, replace));
    Area expect;
    expect.gap(3, 'L');
    expect.put("AAAA");
    expect.gap(2, 'g');
    expect.put("bbbbb");
    expect.gap(1, 'h');
    expect.put("CC");
    expect.gap(5, 'e');
    EXPECT_EQ(std::vector<uint8_t>(r.f.begin(), r.f.begin() + 520 + expect.b.size()),
              [&] { auto h = std::vector<uint8_t>(file.begin(), file.begin() + 520); h.insert(h.end(), expect.b.begin(), expect.b.end()); return h; }());
    EXPECT_EQ(r.size(1), 5);
    EXPECT_EQ(r.data(2), "CC");
    EXPECT_EQ(r.offset(2), 520 + 3 + 4 + 2 + 5 + 1);
    const Parsed old(file);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r.unread(i), old.unread(i)) << i;

    // Deleting Y takes its gap with it.
    ArchiveEdit remove;
    remove.remove.insert(1);
    archive_.close();
    Parsed d(rewrite(file, remove));
    ASSERT_EQ(d.count(), 2);
    EXPECT_EQ(leI32(d.f.data() + 516), 2);
    EXPECT_EQ(std::string(d.f.begin() + 520, d.f.begin() + 520 + 3 + 4 + 2 + 2 + 5),
              "LLLAAAAggCCeeeee");
    EXPECT_EQ(d.unread(0), old.unread(0));
    EXPECT_EQ(d.unread(1), old.unread(2));

    // A shorter name: the old name's bytes up to its zero are cleared, the rest stays.
    ArchiveEdit rename;
    rename.rename[0] = "Q";
    archive_.close();
    Parsed n(rewrite(file, rename));
    EXPECT_EQ(n.name(0), "Q");
    EXPECT_EQ(std::vector<uint8_t>(n.record(0) + 1, n.record(0) + 4), std::vector<uint8_t>(3, 0));
    EXPECT_TRUE(std::equal(n.record(0) + 4, n.record(0) + 280, old.record(0) + 4));
    EXPECT_EQ(std::vector<uint8_t>(n.f.begin(), n.f.end() - 3 * 280),
              std::vector<uint8_t>(file.begin(), file.end() - 3 * 280));
}

TEST_F(Writer, SharedAndOutsideDataKeepTheirBytes) {
    Area a;
    const int64_t x = a.put("shared");
    a.gap(3, '-');  // no common alignment
    const int64_t y = a.put("own");
    const auto file = archive(a, {{"N", x, 6}, {"N", x, 6}, {"H", 10, 4}, {"O", y, 3}});
    ArchiveEdit edit;
    edit.replace[1] = NewData{{}, bytes("second")};  // shares its data with entry 0
    edit.replace[2] = NewData{{}, bytes("head!")};   // its data lies in the first 512 bytes
    edit.add.push_back({"NEW", NewData{{}, bytes("added")}});
    Parsed r(rewrite(file, edit));
    EXPECT_EQ(r.data(0), "shared");
    EXPECT_EQ(r.data(1), "second");
    EXPECT_EQ(r.offset(1), 520 + 6);  // after the block it shared, before the block's gap
    EXPECT_EQ(r.data(3), "own");
    EXPECT_EQ(r.data(2), "head!");
    EXPECT_GT(r.offset(2), r.offset(3));  // after the last data
    EXPECT_EQ(r.data(4), "added");
    EXPECT_EQ(r.name(4), "NEW");
    EXPECT_TRUE(std::equal(r.f.begin(), r.f.begin() + 512, file.begin()));
}

TEST_F(Writer, AlignmentOfTheOriginalIsKept) {
    Area a;
    a.alignTo(16);
    const int64_t x = a.put(std::string(20, 'x'));
    a.alignTo(16);
    const int64_t y = a.put(std::string(33, 'y'));
    a.alignTo(16);
    const int64_t z = a.put(std::string(7, 'z'));
    const auto file = archive(a, {{"X", x, 20}, {"Y", y, 33}, {"Z", z, 7}});
    ArchiveEdit edit;
    edit.replace[0] = NewData{{}, bytes("12345")};
    edit.add.push_back({"W", NewData{{}, bytes("w")}});
    Parsed r(rewrite(file, edit));
    ASSERT_EQ(r.count(), 4);
    const std::string want[] = {"12345", std::string(33, 'y'), "zzzzzzz", "w"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(r.offset(i) % 16, 0) << i;
        EXPECT_EQ(r.data(i), want[i]) << i;
    }
    EXPECT_EQ(r.offset(1), x + 16);  // 5 bytes and padding take one 16-byte step, not two
}

TEST_F(Writer, LimitsAreCheckedBeforeAnythingIsWritten) {
    open(paddedArchive());
    WriteTarget t;
    t.path = out();
    writeFile(out(), bytes("old"));
    const std::pair<const char*, std::function<void(ArchiveEdit&)>> cases[] = {
        {"name of 200 bytes or more", [](ArchiveEdit& e) { e.rename[0] = std::string(200, 'n'); }},
        {"name of 200 bytes or more", [](ArchiveEdit& e) { e.add.push_back({std::string(250, 'a'), {}}); }},
        {"empty entry name", [](ArchiveEdit& e) { e.rename[2] = ""; }},
        {"at least one entry", [](ArchiveEdit& e) { e.remove = {0, 1, 2}; }},
        {"both removed and replaced", [](ArchiveEdit& e) { e.remove = {1}; e.replace[1] = {}; }},
        {"no entry #3", [](ArchiveEdit& e) { e.remove = {3}; }},
        {"File not found", [this](ArchiveEdit& e) { e.replace[0] = NewData{dir_.file("none"), {}}; }},
    };
    for (const auto& [text, make] : cases) {
        ArchiveEdit edit;
        make(edit);
        expectFailureLeavesAll([&] { WriteEditedArchive(archive_, edit, t); }, text, out());
        EXPECT_THROW(CheckArchiveEdit(archive_, edit), Error) << text;
    }
}

TEST_F(Writer, OffsetsPastTheSignedFieldsAreRefused) {
    // A sparse replacement just under 2 GiB pushes the entry after it past the field's range.
    const std::string big = dir_.file("big");
    const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, kMaxField - 10), 0);
    ::close(fd);
    open(paddedArchive());
    ArchiveEdit edit;
    edit.replace[0] = NewData{big, {}};
    expectFailureLeavesAll([&] { CheckArchiveEdit(archive_, edit); },
                           "more than the limit of 2147483647 bytes", src());
}

// Sparse files: the planned size is what counts, so nothing near 2 GiB is ever written.
TEST_F(Writer, ArchivesUpToTheSizeLimitAreWrittenOneByteMoreIsRefused) {
    const auto sparse = [&](int64_t size) {
        const std::string path = dir_.file("big" + std::to_string(size));
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
        return path;
    };
    Area a;
    a.put("x");
    open(archive(a, {{"A", kDataStart, 1}}));
    writeFile(out(), bytes("old"));
    // The head, the new data and one record: the data that makes exactly 2^31 - 1 bytes.
    const int64_t fitting = kMaxArchiveBytes - kDataStart - kRecordSize;
    struct Stop {};
    for (const bool edited : {true, false}) {
        for (const int64_t extra : {0, 1}) {
            const std::string big = sparse(fitting + extra);
            WriteTarget t;
            t.path = out();
            int64_t planned = -1;
            // The first progress report comes once the write has begun: stop it there.
            t.progress = [&](int64_t, int64_t total) {
                planned = total;
                throw Stop{};
            };
            const auto write = [&] {
                if (edited) {
                    ArchiveEdit edit;
                    edit.replace[0] = NewData{big, {}};
                    WriteEditedArchive(archive_, edit, t);
                } else {
                    WriteNewArchive({{"N", NewData{big, {}}}}, t);
                }
            };
            if (extra == 0) {
                EXPECT_THROW(write(), Stop) << edited;
                EXPECT_EQ(planned, kMaxArchiveBytes) << edited;
            } else {
                expectFailureLeavesAll(write, "the archive would be 2147483648 bytes, more than the "
                                              "limit of 2147483647 bytes", out());
                EXPECT_EQ(planned, -1) << "refused before writing";
            }
            EXPECT_EQ(readFile(out()), bytes("old"));
            fs::remove(big);
        }
    }
}

TEST_F(Writer, FailuresMidwayLeaveTheTargetAndNoTemporary) {
    // Big enough to be written in several pieces.
    Area a;
    const int64_t x = a.put(std::string(200000, 'x'));
    const int64_t y = a.put("yy");
    const int64_t z = a.put(std::string(300000, 'z'));
    const auto file = archive(a, {{"X", x, 200000}, {"Y", y, 2}, {"Z", z, 300000}});
    open(file);
    fs::create_directory(dir_.file("in"));
    const std::string repl = dir_.file("in/repl");
    writeFile(repl, std::vector<uint8_t>(100000, 'r'));
    ArchiveEdit edit;
    edit.replace[1] = NewData{repl, {}};
    WriteTarget inPlace;
    inPlace.path = src();
    inPlace.inPlace = true;
    inPlace.backup = true;

    // The replacement file disappears once writing has begun.
    WriteTarget t = inPlace;
    t.progress = [&](int64_t, int64_t) { ::unlink(repl.c_str()); };
    expectFailureLeavesAll([&] { WriteEditedArchive(archive_, edit, t); }, "File not found", src());
    writeFile(repl, std::vector<uint8_t>(100000, 'r'));

    // The source changes before the rename.
    t.progress = [&](int64_t written, int64_t) {
        if (written > 500000) {
            const int f = ::open(src().c_str(), O_WRONLY | O_APPEND);
            (void)::write(f, "!", 1);
            ::close(f);
        }
    };
    WriteTarget other = t;
    other.path = out();
    other.inPlace = other.backup = false;
    writeFile(out(), bytes("previous"));
    expectFailureLeavesAll([&] { WriteEditedArchive(archive_, edit, other); }, "changed", out());
    ::truncate(src().c_str(), static_cast<off_t>(file.size()));
    archive_.close();
    open(file);

    // No space left: a file size limit, its signal ignored, in a child process.
    const auto before = listing(dir_.path());
    int status = inChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{300000, 300000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            WriteEditedArchive(archive_, edit, inPlace);
        } catch (const FileError& e) {
            return std::string(e.what()) == "Disk full" ? 0 : 1;
        }
        return 2;
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(readFile(src()), file);
    EXPECT_EQ(listing(dir_.path()), before);

    // Killed while writing.
    status = inChild([&] {
        WriteTarget k = inPlace;
        k.progress = [](int64_t written, int64_t) {
            if (written > 100000) ::raise(SIGKILL);
        };
        WriteEditedArchive(archive_, edit, k);
        return 0;
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(readFile(src()), file);
    EXPECT_EQ(listing(dir_.path()), before);

    // And the same edit, left alone, goes through with the backup beside it.
    WriteEditedArchive(archive_, edit, inPlace);
    const Parsed r(readFile(src()));
    EXPECT_EQ(r.data(1), std::string(100000, 'r'));
    EXPECT_EQ(r.data(2), std::string(300000, 'z'));
    EXPECT_EQ(readFile(src() + ".bak"), file);
    auto now = before;
    now.insert("src.qar.bak");
    EXPECT_EQ(listing(dir_.path()), now);
}

TEST_F(Writer, TheSourceIsNeverTheTargetWithoutInPlace) {
    open(paddedArchive());
    fs::create_hard_link(src(), dir_.file("link.qar"));
    WriteTarget t;
    t.path = dir_.file("link.qar");
    expectFailureLeavesAll([&] { WriteEditedArchive(archive_, {}, t); }, "is the archive itself",
                           src());
}

// update plans from a folder, then writes: a file that is not the one the plan looked at by then
// (its folder swapped for a link, or the file for another of the same size) is not read.
TEST_F(Writer, FilesSwappedAfterThePlanAreRefused) {
    Area area;
    const int64_t a = area.put("aaaa");
    const int64_t b = area.put("b");
    open(archive(area, {{"SUB\\A.TXT", a, 4}, {"B.TXT", b, 1}}));
    const std::string tree = dir_.file("tree"), other = dir_.file("other");
    fs::create_directories(tree + "/SUB");
    fs::create_directories(other);
    writeFile(tree + "/SUB/A.TXT", bytes("xxxx"));
    writeFile(tree + "/B.TXT", bytes("b"));
    writeFile(tree + "/NEW.TXT", bytes("new"));
    writeFile(other + "/A.TXT", bytes("yyyy"));
    const UpdatePlan plan = PlanFolderUpdate(archive_, tree, {});
    ASSERT_TRUE(plan.errors.empty());
    ASSERT_EQ(plan.edit.replace.size(), 1u);
    ASSERT_EQ(plan.edit.add.size(), 1u);
    WriteTarget t;
    t.path = out();

    fs::rename(tree + "/SUB", tree + "/SUB.old");
    fs::create_directory_symlink(other, tree + "/SUB");
    expectFailureLeavesAll([&] { WriteEditedArchive(archive_, plan.edit, t); }, "changed", src());
    EXPECT_FALSE(fs::exists(out()));
    fs::remove(tree + "/SUB");
    fs::rename(tree + "/SUB.old", tree + "/SUB");

    fs::rename(tree + "/NEW.TXT", tree + "/NEW.old");  // kept, so that its inode is not reused
    writeFile(tree + "/NEW.TXT", bytes("two"));
    expectFailureLeavesAll([&] { WriteEditedArchive(archive_, plan.edit, t); }, "changed", src());
    EXPECT_FALSE(fs::exists(out()));
    fs::rename(tree + "/NEW.old", tree + "/NEW.TXT");

    // As planned, it writes.
    WriteEditedArchive(archive_, plan.edit, t);
    const Parsed w(readFile(out()));
    EXPECT_EQ(w.data(0), "xxxx");
    EXPECT_EQ(w.data(2), "new");

    // A file picked with its time and written again in place since, same size, same inode.
    struct stat st{};
    ASSERT_EQ(::stat((tree + "/B.TXT").c_str(), &st), 0);
    ArchiveEdit picked;
    picked.replace[1] = NewData{tree + "/B.TXT", {}, fileIdOf(st), st.st_mtim};
    fs::remove(out());
    WriteEditedArchive(archive_, picked, t);
    EXPECT_EQ(Parsed(readFile(out())).data(1), "b");
    writeFile(tree + "/B.TXT", bytes("c"));
    const struct timespec later[2] = {{0, UTIME_OMIT}, {st.st_mtim.tv_sec + 1, st.st_mtim.tv_nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (tree + "/B.TXT").c_str(), later, 0), 0);
    expectFailureLeavesAll([&] { WriteEditedArchive(archive_, picked, t); }, "changed", out());
}

}  // namespace
