// qar cat and qar extract, run as the real tool: names and #N, patterns, unsafe names, planted
// links, damaged entries, --keep, exit statuses, and the archive left untouched.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "lib/QarBuilder.h"
#include "support/Bytes.h"
#include "support/Entries.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

using vorlr::samples::bytesOf;
using vorlr::samples::QarEntry;
using vorlr::samples::readFile;
using vorlr::samples::writeFile;
using vorlr::testing::str;
using vorlr::testing::TempDir;
using vorlr::testing::entry;
namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::vector<uint8_t> out;
    std::string err;
};

class QarCli : public ::testing::Test {
protected:
    // Runs qar with args in the test folder, standard output and error to files.
    Result qar(std::vector<std::string> args) {
        auto run = vorlr::testing::runQar(std::move(args), work_);
        return {run.status, bytesOf(run.out), run.err};
    }
    void makeArchive(const std::vector<QarEntry>& entries) {
        vorlr::samples::writeQar(archive_, entries);
        archiveBytes_ = readFile(archive_);
    }
    // Every path under the test folder, relative, except the work folder's archive.
    std::set<std::string> allFiles() const {
        std::set<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(dir_.path()))
            found.insert(fs::relative(e.path(), dir_.path()).string());
        return found;
    }
    void SetUp() override { fs::create_directories(work_); }
    void TearDown() override {
        if (!archiveBytes_.empty()) {
            EXPECT_EQ(readFile(archive_), archiveBytes_) << "the archive was changed";
        }
    }

    TempDir dir_;
    std::string work_ = dir_.file("work");
    std::string archive_ = dir_.file("work/a.qar");
    std::vector<uint8_t> archiveBytes_;
};

TEST_F(QarCli, CatByNameWithEitherSeparatorOrIndex) {
    makeArchive({entry("DATA\\README.TXT", "first"), entry("DATA\\README.TXT", "second"),
                 entry("a/b", "stored slash"), entry("#1", "hash name")});
    auto r = qar({"cat", "a.qar", "DATA\\README.TXT"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(str(r.out), "first");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(str(qar({"cat", "a.qar", "DATA/README.TXT"}).out), "first");
    EXPECT_EQ(str(qar({"cat", "a.qar", "#1"}).out), "second");  // duplicate reachable by index
    EXPECT_EQ(str(qar({"cat", "a.qar", "#2"}).out), "stored slash");
    EXPECT_EQ(str(qar({"cat", "a.qar", "a/b"}).out), "stored slash");
    EXPECT_EQ(str(qar({"cat", "a.qar", "#9"}).out), "");
    // Exact bytes: no case folding, no backslash standing for a slash.
    r = qar({"cat", "a.qar", "data\\readme.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: no entry named data\\readme.txt\n");
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(qar({"cat", "a.qar", "a\\b"}).status, 1);
    EXPECT_EQ(qar({"cat", "a.qar", "#4"}).err, "qar: no entry named #4\n");
}

TEST_F(QarCli, CatUsageAndFileErrors) {
    makeArchive({entry("A", "a")});
    EXPECT_EQ(qar({"cat", "a.qar"}).status, 2);
    EXPECT_EQ(qar({"cat", "a.qar", "A", "B"}).status, 2);
    const auto r = qar({"cat", "missing.qar", "A"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: File not found\n");
}

TEST_F(QarCli, CatOfDataBeyondTheEndWritesWhatThereIsAndFails) {
    QarEntry big = entry("BIG", "0123456789");
    big.sizeOverride = 100000;
    makeArchive({big});
    const auto r = qar({"cat", "a.qar", "BIG"});
    EXPECT_EQ(r.status, 1);
    // Everything from the entry's data to the end of the file.
    EXPECT_EQ(r.out, std::vector<uint8_t>(archiveBytes_.begin() + 520, archiveBytes_.end()));
    EXPECT_NE(r.err.find("beyond the end"), std::string::npos) << r.err;
}

TEST_F(QarCli, CatOfALargeEntryIsExact) {
    std::vector<uint8_t> data(100000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    makeArchive({{"BIG.BIN", data, {}, {}, false}});
    const auto r = qar({"cat", "a.qar", "BIG.BIN"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, data);
}

TEST_F(QarCli, ExtractEverythingIntoFolders) {
    makeArchive({entry("README.TXT", "r"), entry("DATA\\TEXT\\A.TXT", "a"), entry("DATA\\B.KMG", "b")});
    const auto r = qar({"extract", "a.qar", "-o", "out"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");  // no progress when standard error is not a terminal
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(str(readFile(work_ + "/out/README.TXT")), "r");
    EXPECT_EQ(str(readFile(work_ + "/out/DATA/TEXT/A.TXT")), "a");
    EXPECT_EQ(str(readFile(work_ + "/out/DATA/B.KMG")), "b");
    // Default folder: the current one.
    EXPECT_EQ(qar({"extract", "a.qar"}).status, 0);
    EXPECT_EQ(str(readFile(work_ + "/DATA/TEXT/A.TXT")), "a");
}

TEST_F(QarCli, PatternsSelectByFullNameIgnoringCase) {
    makeArchive({entry("DATA\\TEXT\\A.TXT", "a"), entry("DATA\\TEXT\\B.TXT", "b"),
                 entry("DATA\\IMG\\C.KMG", "c"), entry("README.TXT", "r"), entry("X1.INI", "x")});
    auto r = qar({"extract", "a.qar", "-o", "o1", "data/text/[a]*"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(work_ + "/o1/DATA/TEXT/A.TXT"));
    EXPECT_FALSE(fs::exists(work_ + "/o1/DATA/TEXT/B.TXT"));

    r = qar({"extract", "a.qar", "-o", "o2", "*.kmg", "X?.ini"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::set<std::string> got;
    for (const auto& e : fs::recursive_directory_iterator(work_ + "/o2"))
        if (e.is_regular_file()) got.insert(fs::relative(e.path(), work_ + "/o2").string());
    EXPECT_EQ(got, (std::set<std::string>{"DATA/IMG/C.KMG", "X1.INI"}));

    // '*' crosses separators; a pattern that matches nothing is reported.
    r = qar({"extract", "a.qar", "-o", "o3", "*.txt", "*.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: no entry matches *.wav\n");
    EXPECT_TRUE(fs::exists(work_ + "/o3/README.TXT"));
    EXPECT_TRUE(fs::exists(work_ + "/o3/DATA/TEXT/B.TXT"));
}

TEST_F(QarCli, UnsafeNamesAreSkippedWarnedAndNeverEscape) {
    makeArchive({entry("..\\x", "1"), entry("A\\..\\..\\y", "2"), entry("\\vorlr-cli-abs-probe", "3"),
                 entry("C:z", "4"), entry("A\\\\B", "5"), entry("", "6"), entry("./dot", "7"),
                 entry("SAFE\\OK.TXT", "ok")});
    const auto before = allFiles();
    const auto r = qar({"extract", "a.qar", "-o", "out"});
    EXPECT_EQ(r.status, 1);
    for (const char* name : {"#0 ..\\x", "#1 A\\..\\..\\y", "#2 \\vorlr", "#3 C:z", "#4 A\\\\B", "#5 :", "#6 ./dot"})
        EXPECT_NE(r.err.find(std::string("qar: ") + name), std::string::npos) << name << "\n" << r.err;
    auto after = allFiles();
    for (const auto& f : before) after.erase(f);
    EXPECT_EQ(after, (std::set<std::string>{"work/out", "work/out/SAFE", "work/out/SAFE/OK.TXT"}));
    EXPECT_FALSE(fs::exists("/vorlr-cli-abs-probe"));
}

TEST_F(QarCli, SymbolicLinkPlantedInTheTargetIsNotFollowed) {
    fs::create_directories(dir_.file("outside"));
    writeFile(dir_.file("outside/SAVE.DAT"), bytesOf("precious"));
    fs::create_directories(work_ + "/out");
    fs::create_directory_symlink(dir_.file("outside"), work_ + "/out/GAME");
    makeArchive({entry("GAME\\SAVE.DAT", "evil"), entry("GAME\\NEW.DAT", "evil"), entry("OTHER.DAT", "o")});
    const auto r = qar({"extract", "a.qar", "-o", "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("qar: #0 GAME\\SAVE.DAT: skipped, GAME is a symbolic link"), std::string::npos) << r.err;
    EXPECT_EQ(str(readFile(dir_.file("outside/SAVE.DAT"))), "precious");
    EXPECT_FALSE(fs::exists(dir_.file("outside/NEW.DAT")));
    EXPECT_EQ(str(readFile(work_ + "/out/OTHER.DAT")), "o");
}

TEST_F(QarCli, EntriesBeyondTheEndAreWrittenAsFarAsTheyGo) {
    QarEntry cut = entry("CUT.BIN", "abc");
    cut.sizeOverride = 5000;
    makeArchive({entry("FINE.TXT", "fine"), cut});
    const auto r = qar({"extract", "a.qar", "-o", "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readFile(work_ + "/out/CUT.BIN"),
              std::vector<uint8_t>(archiveBytes_.begin() + 524, archiveBytes_.end()));
    EXPECT_NE(r.err.find("qar: #1 CUT.BIN: data beyond the end of the archive"), std::string::npos) << r.err;
    EXPECT_EQ(str(readFile(work_ + "/out/FINE.TXT")), "fine");
}

TEST_F(QarCli, KeepSkipsExistingFilesAndDuplicatesOverwrite) {
    makeArchive({entry("A.TXT", "archive a"), entry("D\\B.TXT", "first b"), entry("D/B.TXT", "second b")});
    fs::create_directories(work_ + "/out");
    writeFile(work_ + "/out/A.TXT", bytesOf("mine"));
    auto r = qar({"extract", "a.qar", "--keep", "-o", "out"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(str(readFile(work_ + "/out/A.TXT")), "mine");
    EXPECT_NE(r.err.find("qar: #0 A.TXT: kept the existing A.TXT"), std::string::npos) << r.err;
    EXPECT_EQ(str(readFile(work_ + "/out/D/B.TXT")), "second b");
    EXPECT_NE(r.err.find("qar: #2 D/B.TXT: overwrites D/B.TXT written from #1"), std::string::npos) << r.err;

    r = qar({"extract", "a.qar", "-o", "out", "a.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(str(readFile(work_ + "/out/A.TXT")), "archive a");
}

TEST_F(QarCli, ExtractUsageAndDamagedArchives) {
    makeArchive({entry("A", "a")});
    EXPECT_EQ(qar({"extract"}).status, 2);
    EXPECT_EQ(qar({"extract", "a.qar", "-o"}).status, 2);
    EXPECT_EQ(qar({"extract", "a.qar", "--bogus"}).status, 2);
    // "--" ends the options: a pattern may start with '-'.
    auto r = qar({"extract", "a.qar", "-o", "out", "--", "-x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: no entry matches -x\n");
    writeFile(work_ + "/short.qar", std::vector<uint8_t>(100, 0));
    r = qar({"extract", "short.qar", "-o", "out2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: Read beyond end of file\n");
    EXPECT_FALSE(fs::exists(work_ + "/out2"));
}

TEST_F(QarCli, TheArchiveCannotBeOverwrittenByItsOwnEntry) {
    makeArchive({entry("a.qar", "not an archive"), entry("B", "b")});
    const auto r = qar({"extract", "a.qar"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("a.qar is the archive being read"), std::string::npos) << r.err;
    EXPECT_EQ(str(readFile(work_ + "/B")), "b");
}

}  // namespace
