// What every writing command refuses before it writes anything: an archive past 2^31 - 1 bytes
// and a NAME held by several entries; and entries that share their data keep it through each.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "lib/QarBuilder.h"
#include "support/Entries.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

using vorlr::samples::buildQar;
using vorlr::samples::bytesOf;
using vorlr::samples::QarEntry;
using vorlr::samples::readFile;
using vorlr::samples::writeFile;
using vorlr::testing::entry;
using vorlr::testing::runProgram;
using vorlr::testing::runQar;
using vorlr::testing::TempDir;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kLimit = 2147483647;

void sparse(const std::string& path, int64_t size) {
    fs::create_directories(fs::path(path).parent_path());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

// qar with a file size limit of 64 KiB (and SIGXFSZ ignored): an archive the size check lets
// through fails on its first big write instead of filling 2 GiB of disk.
vorlr::testing::QarResult qarUnder64K(std::vector<std::string> args) {
    std::vector<std::string> argv{"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 128; exec \"$@\"", "sh",
                                  VORLR_QAR_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv);
}

TEST(WriterCli, EachWriterStopsAtTheSizeLimit) {
    TempDir dir;
    const std::string a = dir.file("a.qar"), out = dir.file("out.qar");
    writeFile(a, buildQar({entry("A", "x")}));
    // One entry: 520 bytes of head, its data, one record of 280.
    const int64_t fitting = kLimit - 520 - 280;
    struct Writer {
        const char* what;
        std::function<std::vector<std::string>(int64_t size)> args;
    };
    const Writer writers[] = {
        {"replace", [&](int64_t size) {
             sparse(dir.file("big"), size);
             return std::vector<std::string>{"replace", a, "A", dir.file("big"), "-o", out};
         }},
        {"update", [&](int64_t size) {
             sparse(dir.file("tree/A"), size);
             return std::vector<std::string>{"update", a, dir.file("tree"), "-o", out};
         }},
        {"pack", [&](int64_t size) {
             sparse(dir.file("in/A"), size);
             return std::vector<std::string>{"pack", dir.file("in"), out};
         }},
    };
    for (const Writer& w : writers) {
        for (const int64_t extra : {0, 1}) {
            writeFile(out, bytesOf("previous"));
            const auto r = qarUnder64K(w.args(fitting + extra));
            EXPECT_EQ(r.status, 1) << w.what << extra;
            const std::string refusal = "qar: the archive would be " +
                                        std::to_string(kLimit + extra) +
                                        " bytes, more than the limit of 2147483647 bytes";
            if (extra == 0)  // let through: it failed writing under the file size limit
                EXPECT_EQ(r.err, "qar: Disk full\n") << w.what;
            else
                EXPECT_EQ(r.err.rfind(refusal, 0), 0u) << w.what << r.err;
            EXPECT_EQ(readFile(out), bytesOf("previous")) << w.what << extra;
        }
    }
    // Nothing is left beside the target.
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_NE(e.path().filename().string().front(), '.') << e.path();
}

TEST(WriterCli, CheckAndInfoReportAnArchivePastTheLimit) {
    TempDir dir;
    // A valid archive whose one entry's data begins past 2^31 - 1 (its offset field wraps):
    // a sparse file with the head at 0 and the record at the end.
    const std::string a = dir.file("big.qar");
    std::vector<uint8_t> small = buildQar({entry("A", "x")});
    sparse(a, kLimit + 1 + 281);
    {
        const int fd = ::open(a.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, small.data(), 520, 0), 520);
        ASSERT_EQ(::pwrite(fd, small.data() + 521, 280, kLimit + 2), 280);
        ::close(fd);
    }
    auto r = runQar({"check", a});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("larger than the format's limit: 2147483929 bytes, the limit is 2147483647\n", 0), 0u)
        << r.out;
    r = runQar({"info", a});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("valid: yes\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "qar: larger than the format's limit: 2147483929 bytes, the limit is 2147483647\n");
    r = runQar({"info", dir.file("none"), "--json"});
    EXPECT_EQ(r.status, 1);
}

class DuplicateNames : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(a_, buildQar({entry("C.INI", "c"), entry("DATA\\D.TXT", "one"),
                                entry("data\\d.txt", "lower"), entry("DATA\\D.TXT", "two")}));
        writeFile(file_, bytesOf("NEW"));
    }
    std::string list(const std::string& path) { return runQar({"list", path}).out; }
    TempDir dir_;
    const std::string a_ = dir_.file("a.qar"), out_ = dir_.file("out.qar"),
                      file_ = dir_.file("new.txt");
};

TEST_F(DuplicateNames, WritersRefuseANameHeldBySeveralEntries) {
    writeFile(out_, bytesOf("previous"));
    const std::string both = "qar: DATA/D.TXT names entries #1 and #3: give #N\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"replace", a_, "DATA/D.TXT", file_, "-o", out_}, both},
        {{"rename", a_, "DATA/D.TXT", "E.TXT", "-o", out_}, both},
        // A PATTERN without wildcards matches letters in either case: three entries.
        {{"delete", a_, "C.INI", "Data/D.txt", "-o", out_},
         "qar: Data/D.txt names entries #1, #2 and #3: give #N\n"},
    };
    for (const auto& [args, err] : cases) {
        const auto r = runQar(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.err, err) << args[0];
        EXPECT_EQ(readFile(out_), bytesOf("previous")) << args[0];
    }
}

TEST_F(DuplicateNames, HashNPicksOneAndWildcardsTakeAll) {
    const std::string head = "0\t520\t1\tC.INI\n";
    struct Case {
        std::vector<std::string> args;
        std::string listed;
    } cases[] = {
        {{"replace", a_, "#3", file_}, head + "1\t521\t3\tDATA\\D.TXT\n2\t524\t5\tdata\\d.txt\n3\t529\t3\tDATA\\D.TXT\n"},
        {{"rename", a_, "#1", "E.TXT"}, head + "1\t521\t3\tE.TXT\n2\t524\t5\tdata\\d.txt\n3\t529\t3\tDATA\\D.TXT\n"},
        {{"delete", a_, "#3"}, head + "1\t521\t3\tDATA\\D.TXT\n2\t524\t5\tdata\\d.txt\n"},
        {{"delete", a_, "#1", "#2"}, head + "1\t521\t3\tDATA\\D.TXT\n"},
        {{"delete", a_, "DATA/D.TX?"}, head},
        // The name of the one entry that has it exactly is no duplicate.
        {{"replace", a_, "data/d.txt", file_}, head + "1\t521\t3\tDATA\\D.TXT\n2\t524\t3\tdata\\d.txt\n3\t527\t3\tDATA\\D.TXT\n"},
    };
    for (auto& c : cases) {
        c.args.insert(c.args.end(), {"-o", out_});
        const auto r = runQar(c.args);
        EXPECT_EQ(r.status, 0) << c.args[0] << " " << c.args[2] << r.err;
        EXPECT_EQ(list(out_), c.listed) << c.args[0] << " " << c.args[2];
    }
    EXPECT_EQ(runQar({"cat", out_, "#2"}).out, "NEW");
}

TEST_F(DuplicateNames, UpdateSaysWhichEntryItTakes) {
    fs::create_directories(dir_.file("tree/DATA"));
    writeFile(dir_.file("tree/DATA/D.TXT"), bytesOf("changed"));
    writeFile(dir_.file("tree/C.INI"), bytesOf("c"));
    const auto r = runQar({"update", a_, dir_.file("tree"), "--dry-run"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "M DATA\\D.TXT\n");  // the line scripts read stays as it was
    EXPECT_EQ(r.err, "qar: DATA\\D.TXT names entries #1 and #3: the file stands for #3\n");
    const auto json = runQar({"update", a_, dir_.file("tree"), "--dry-run", "--json"});
    EXPECT_EQ(json.out, "{\"change\":\"replaced\",\"name\":\"DATA\\\\D.TXT\",\"index\":3}\n");
}

// Records that point at the same bytes, or at overlapping ones, keep their bytes through every
// writer whatever it does to the others.
TEST(WriterCli, SharedAndOverlappingDataSurviveEveryWriter) {
    TempDir dir;
    const std::string a = dir.file("a.qar"), out = dir.file("out.qar");
    // A holds "sharedXYZ"; B is its first six bytes, C overlaps its end and runs into D.
    writeFile(a, buildQar({entry("A", "sharedXYZ"), QarEntry{"B", {}, 520, 6, false},
                           QarEntry{"C", {}, 523, 8, false}, entry("D", "tail")}));
    writeFile(dir.file("new"), bytesOf("NEW"));
    fs::create_directories(dir.file("tree"));
    for (const char* n : {"A", "C", "D"}) {
        const auto r = runQar({"cat", a, n});
        writeFile(dir.file(std::string("tree/") + n), bytesOf(r.out));
    }
    writeFile(dir.file("tree/B"), bytesOf("changed"));
    const std::string original[] = {"sharedXYZ", "shared", "redXYZta", "tail"};
    struct Case {
        std::vector<std::string> args;
        int touched;  // the entry changed (-1: removed A)
        std::string becomes;
    } cases[] = {
        {{"replace", a, "B", dir.file("new")}, 1, "NEW"},
        {{"replace", a, "A", dir.file("new")}, 0, "NEW"},
        {{"rename", a, "C", "E"}, 2, "redXYZta"},
        {{"update", a, dir.file("tree")}, 1, "changed"},
        {{"delete", a, "A"}, -1, ""},
    };
    for (auto& c : cases) {
        c.args.insert(c.args.end(), {"-o", out});
        const auto r = runQar(c.args);
        ASSERT_EQ(r.status, 0) << c.args[0] << r.err;
        const int shift = c.touched < 0 ? 1 : 0;
        for (int i = 0; i < 4 - shift; ++i) {
            const int was = i + shift;
            const std::string want = was == c.touched ? c.becomes : original[was];
            EXPECT_EQ(runQar({"cat", out, "#" + std::to_string(i)}).out, want)
                << c.args[0] << " " << c.args[2] << " entry " << was;
        }
        EXPECT_EQ(runQar({"check", out}).out, "ok\n") << c.args[0];
    }
}

}  // namespace
