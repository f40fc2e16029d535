// The runtime file layer: error codes and texts, plain and counted reads, seeks.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <random>

#include "lib/QarBuilder.h"
#include "platform/AtomicFile.h"
#include "platform/ByteSource.h"
#include "platform/Errors.h"
#include "platform/HugePages.h"
#include "platform/RuntimeFile.h"
#include "support/TempDir.h"

using namespace vorlr;
using vorlr::testing::TempDir;

namespace {

template <class F>
std::string errorText(F&& f) {
    try {
        f();
    } catch (const FileError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(RuntimeTexts, KnownCodesAndTheRest) {
    EXPECT_EQ(runtimeErrorText(2), "File not found");
    EXPECT_EQ(runtimeErrorText(3), "Invalid filename");
    EXPECT_EQ(runtimeErrorText(4), "Too many open files");
    EXPECT_EQ(runtimeErrorText(5), "File access denied");
    EXPECT_EQ(runtimeErrorText(100), "Read beyond end of file");
    EXPECT_EQ(runtimeErrorText(101), "Disk full");
    EXPECT_EQ(runtimeErrorText(106), "Invalid numeric input");
    EXPECT_EQ(runtimeErrorText(32), "I/O error 32");
    EXPECT_EQ(runtimeErrorText(131), "I/O error 131");
}

TEST(RuntimeTexts, ErrnoMapping) {
    EXPECT_EQ(runtimeCodeFromErrno(ENOENT), 2);
    EXPECT_EQ(runtimeCodeFromErrno(ENOTDIR), 2);
    EXPECT_EQ(runtimeCodeFromErrno(ENAMETOOLONG), 3);
    EXPECT_EQ(runtimeCodeFromErrno(EMFILE), 4);
    EXPECT_EQ(runtimeCodeFromErrno(ENFILE), 4);
    for (int e : {EACCES, EPERM, EROFS, EISDIR}) EXPECT_EQ(runtimeCodeFromErrno(e), 5) << e;
    EXPECT_EQ(runtimeCodeFromErrno(EIO), EIO);
    EXPECT_EQ(runtimeCodeFromErrno(ENOSPC), ENOSPC);
}

TEST(RuntimeFileErrors, OpeningFailuresCarryTheRuntimeTexts) {
    TempDir dir;
    RuntimeFile f;
    EXPECT_EQ(errorText([&] { f.openExisting(dir.file("missing"), RuntimeFile::Access::ReadOnly); }),
              "File not found");
    EXPECT_EQ(errorText([&] { f.openExisting(dir.file("missing/below"), RuntimeFile::Access::ReadOnly); }),
              "File not found");
    EXPECT_EQ(errorText([&] { f.openExisting(dir.path(), RuntimeFile::Access::ReadOnly); }),
              "File access denied");
    EXPECT_EQ(errorText([&] { f.openExisting(dir.file(std::string(5000, 'x')), RuntimeFile::Access::ReadOnly); }),
              "Invalid filename");
    EXPECT_FALSE(f.isOpen());
}

TEST(RuntimeFileErrors, ReadOnlyFileOpensForReadingButNotForWriting) {
    TempDir dir;
    samples::writeFile(dir.file("ro"), samples::bytesOf("abc"));
    ::chmod(dir.file("ro").c_str(), 0444);
    // Root ignores permission bits; the immutable attribute stops it from writing too.
    bool immutable = false;
    if (::geteuid() == 0) {
        immutable = std::system(("chattr +i '" + dir.file("ro") + "' 2>/dev/null").c_str()) == 0;
        if (!immutable) GTEST_SKIP() << "cannot make a file read-only for root here";
    }
    struct Undo {
        bool on;
        std::string path;
        ~Undo() { if (on) [[maybe_unused]] int r = std::system(("chattr -i '" + path + "'").c_str()); }
    } undo{immutable, dir.file("ro")};
    RuntimeFile f;
    EXPECT_EQ(errorText([&] { f.openExisting(dir.file("ro"), RuntimeFile::Access::ReadWrite); }),
              "File access denied");
    EXPECT_EQ(errorText([&] { f.create(dir.file("ro")); }), "File access denied");
    f.openExisting(dir.file("ro"), RuntimeFile::Access::ReadOnly);
    char buf[3];
    f.readExact(buf, 3);
    EXPECT_EQ(std::string(buf, 3), "abc");
}

TEST(RuntimeFileReads, PlainReadFailsShortCountedReadDoesNot) {
    TempDir dir;
    samples::writeFile(dir.file("f"), samples::bytesOf("0123456789"));
    RuntimeFile f;
    f.openExisting(dir.file("f"), RuntimeFile::Access::ReadOnly);
    EXPECT_EQ(f.size(), 10);
    char buf[32] = {};
    f.seek(6);
    EXPECT_EQ(f.readCounted(buf, 32), 4);
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_TRUE(f.eof());
    EXPECT_EQ(f.readCounted(buf, 32), 0);
    f.seek(8);
    EXPECT_EQ(errorText([&] { f.readExact(buf, 4); }), "Read beyond end of file");
    f.seek(100);  // past the end is allowed; reads there get nothing
    EXPECT_EQ(f.readCounted(buf, 1), 0);
}

TEST(RuntimeFileReads, NegativeSeekIsIoError131) {
    TempDir dir;
    samples::writeFile(dir.file("f"), samples::bytesOf("x"));
    RuntimeFile f;
    f.openExisting(dir.file("f"), RuntimeFile::Access::ReadOnly);
    EXPECT_EQ(errorText([&] { f.seek(-1); }), "I/O error 131");
    MemoryByteSource m(samples::bytesOf("abc"));
    EXPECT_EQ(errorText([&] { m.seek(-5); }), "I/O error 131");
}

TEST(RuntimeFileWrites, CreateTruncatesAndWritesAtThePosition) {
    TempDir dir;
    samples::writeFile(dir.file("f"), samples::bytesOf("old contents"));
    RuntimeFile f;
    f.create(dir.file("f"));
    EXPECT_EQ(f.size(), 0);
    f.write("hello", 5);
    f.seek(1);
    f.write("EL", 2);
    f.close();
    EXPECT_EQ(samples::readFile(dir.file("f")), samples::bytesOf("hELlo"));
}

TEST(RuntimeFileWrites, ShortWriteIsDiskFull) {
    RuntimeFile f;
    f.create("/dev/full");
    EXPECT_EQ(errorText([&] { f.write("x", 1); }), "Disk full");
}

TEST(RuntimeFileSystem, ExistsDeleteRenameAndDirectories) {
    TempDir dir;
    const auto a = dir.file("a"), b = dir.file("b");
    EXPECT_FALSE(fileExists(a));
    EXPECT_FALSE(fileExists(dir.path()));  // a folder is not a file
    samples::writeFile(a, samples::bytesOf("1"));
    EXPECT_TRUE(fileExists(a));
    renameFile(a, b);
    EXPECT_FALSE(fileExists(a));
    EXPECT_TRUE(fileExists(b));
    EXPECT_EQ(errorText([&] { renameFile(a, b); }), "File not found");
    deleteFile(b);
    EXPECT_EQ(errorText([&] { deleteFile(b); }), "File not found");

    const std::string before = currentDirectory();
    setCurrentDirectory(dir.path());
    EXPECT_EQ(currentDirectory(), dir.path());
    EXPECT_EQ(errorText([&] { setCurrentDirectory(dir.file("none")); }), "File not found");
    setCurrentDirectory(before);
}

TEST(MemorySource, CountedAndPlainReads) {
    const auto bytes = samples::bytesOf("abcdef");
    MemoryByteSource m(bytes);
    char buf[8];
    m.readExact(buf, 2);
    EXPECT_EQ(m.position(), 2);
    EXPECT_EQ(m.readCounted(buf, 8), 4);
    EXPECT_EQ(std::string(buf, 4), "cdef");
    m.seek(5);
    EXPECT_EQ(errorText([&] { m.readExact(buf, 2); }), "Read beyond end of file");
}

}  // namespace

// Buffered reads must be indistinguishable from reading the source itself: the same bytes,
// counts, positions and errors, over random reads and seeks (inside, across and past blocks).
TEST(BufferedSource, SameReadsAsTheSourceItself) {
    std::vector<uint8_t> bytes(5000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31 + (i >> 7));
    std::mt19937 rng(77);
    for (size_t blockSize : {1u, 7u, 64u, 4096u}) {
        MemoryByteSource plain(bytes), inner(bytes);
        BufferedByteSource buffered(inner, blockSize);
        for (int step = 0; step < 3000; ++step) {
            SCOPED_TRACE(::testing::Message() << "block " << blockSize << " step " << step);
            if (rng() % 4 == 0) {
                const int64_t to = static_cast<int64_t>(rng() % 5600) - 100;  // some negative
                const bool a = [&] { try { plain.seek(to); return true; } catch (const FileError&) { return false; } }();
                const bool b = [&] { try { buffered.seek(to); return true; } catch (const FileError&) { return false; } }();
                ASSERT_EQ(a, b);
            }
            const int64_t n = static_cast<int64_t>(rng() % (rng() % 8 == 0 ? 9000 : 300));
            std::vector<uint8_t> x(static_cast<size_t>(n) + 1, 0xAA), y = x;
            ASSERT_EQ(plain.readCounted(x.data(), n), buffered.readCounted(y.data(), n));
            ASSERT_EQ(x, y);
            ASSERT_EQ(plain.position(), buffered.position());
        }
        EXPECT_EQ(buffered.size(), plain.size());
    }
}

namespace {

std::set<std::string> namesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

}  // namespace

// Both kinds of temporary: given up, refused before the rename, and committed through a link.
TEST(AtomicFileReplace, AllOrNothingWithEitherTemporary) {
    for (const auto kind : {AtomicFile::Temporary::Unnamed, AtomicFile::Temporary::Named}) {
        TempDir dir;
        const std::string real = dir.file("real.qar"), link = dir.file("link.qar");
        samples::writeFile(real, samples::bytesOf("old"));
        ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
        ASSERT_EQ(::symlink("real.qar", link.c_str()), 0);
        const auto before = namesIn(dir.path());
        {
            AtomicFile file(link, kind);
            writeAll(file.fd(), "abandoned", 9);
        }
        EXPECT_EQ(namesIn(dir.path()), before);
        {
            AtomicFile file(link, kind);
            writeAll(file.fd(), "refused", 7);
            EXPECT_THROW(file.commit([] { throw Error("no"); }), Error);
        }
        EXPECT_EQ(namesIn(dir.path()), before);
        EXPECT_EQ(samples::readFile(real), samples::bytesOf("old"));
        {
            AtomicFile file(link, kind);
            writeAll(file.fd(), "new", 3);
            file.commit();
        }
        EXPECT_EQ(namesIn(dir.path()), before);
        EXPECT_EQ(samples::readFile(real), samples::bytesOf("new"));
        struct stat st{};
        ASSERT_EQ(::lstat(link.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));  // the link still points at the file replaced
        ASSERT_EQ(::stat(real.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u);
    }
}

// Started again for huge pages: the caller's GLIBC_TUNABLES is what the programs started from
// here get, whatever it was.
TEST(HugePages, TheRestartGivesTheCallersTunablesBack) {
    struct Case {
        const char* saved;
        const char* expected;  // nullptr: unset
    };
    for (const Case c : {Case{"=glibc.malloc.check=0", "glibc.malloc.check=0"}, Case{"=", ""},
                         Case{"-", nullptr}}) {
        SCOPED_TRACE(c.saved);
        ::setenv("GLIBC_TUNABLES", "glibc.malloc.hugetlb=1", 1);
        ::setenv("VORLR_CALLERS_TUNABLES", c.saved, 1);
        char name[] = "test";
        char* argv[] = {name, nullptr};
        StartWithHugePages(argv);
        EXPECT_EQ(std::getenv("VORLR_CALLERS_TUNABLES"), nullptr);
        const char* now = std::getenv("GLIBC_TUNABLES");
        if (c.expected)
            EXPECT_STREQ(now, c.expected);
        else
            EXPECT_EQ(now, nullptr);
    }
    ::unsetenv("GLIBC_TUNABLES");
}
