// qar replace, delete and rename, run as the real tool: the options, what each changes in the
// archive written, and that nothing is written when the command is refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "lib/QarBuilder.h"
#include "support/Entries.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

using vorlr::samples::buildQar;
using vorlr::samples::bytesOf;
using vorlr::samples::readFile;
using vorlr::samples::writeFile;
using vorlr::testing::entry;
using vorlr::testing::TempDir;
namespace fs = std::filesystem;

namespace {

using Outcome = vorlr::testing::QarResult;

class EditCli : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(a_, buildQar({entry("DATA\\A.TXT", "alpha"), entry("DATA\\B.TXT", "beta"),
                                entry("C.INI", "c"), entry("DATA\\A.TXT", "again")}));
        writeFile(file_, bytesOf("NEW DATA"));
    }
    Outcome qar(std::vector<std::string> args) { return vorlr::testing::runQar(std::move(args)); }
    std::string list(const std::string& path) { return qar({"list", path}).out; }

    TempDir dir_;
    const std::string a_ = dir_.file("a.qar");
    const std::string out_ = dir_.file("out.qar");
    const std::string file_ = dir_.file("new.txt");
};

TEST_F(EditCli, WrongUsageExitsTwoAndWritesNothing) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"replace", a_, "C.INI", file_}, "missing -o OUT or --in-place"},
        {{"replace", a_, "C.INI", file_, "-o", out_, "--in-place"}, "-o and --in-place together"},
        {{"replace", a_, "C.INI", file_, "-o", out_, "--backup"}, "--backup without --in-place"},
        {{"replace", a_, "C.INI", "-o", out_}, "missing FILE"},
        {{"replace", a_, "C.INI", file_, "-o"}, "-o needs a value"},
        {{"delete", a_, "-o", out_}, "missing PATTERN"},
        {{"delete", a_, "C.INI", "--force", "-o", out_}, "unknown option --force"},
        {{"rename", a_, "C.INI", "-o", out_}, "missing NEWNAME"},
        {{"update", a_, dir_.path(), "--dry-run", "--in-place", "-o", out_}, "-o and --in-place together"},
    };
    for (const auto& [args, problem] : cases) {
        const Outcome r = qar(args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << args.size();
        // What is wrong first, then the usage line.
        const std::string head = "qar " + args[0] + ": " + problem + "\nusage: qar " + args[0] + " ";
        EXPECT_EQ(r.err.rfind(head, 0), 0u) << r.err;
    }
    EXPECT_FALSE(fs::exists(out_));
}

TEST_F(EditCli, EachCommandChangesWhatItNames) {
    Outcome r = qar({"replace", a_, "DATA/B.TXT", file_, "-o", out_});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(list(out_), "0\t520\t5\tDATA\\A.TXT\n1\t525\t8\tDATA\\B.TXT\n2\t533\t1\tC.INI\n"
                          "3\t534\t5\tDATA\\A.TXT\n");
    EXPECT_EQ(qar({"cat", out_, "DATA\\B.TXT"}).out, "NEW DATA");

    // #N reaches the second of two equal names; '/' in NEWNAME is stored as '\'.
    ASSERT_EQ(qar({"rename", a_, "#3", "DATA/A2.TXT", "-o", out_}).status, 0);
    EXPECT_EQ(list(out_), "0\t520\t5\tDATA\\A.TXT\n1\t525\t4\tDATA\\B.TXT\n2\t529\t1\tC.INI\n"
                          "3\t530\t5\tDATA\\A2.TXT\n");

    ASSERT_EQ(qar({"delete", a_, "data/a*", "*.ini", "-o", out_}).status, 0);
    EXPECT_EQ(list(out_), "0\t520\t4\tDATA\\B.TXT\n");
    EXPECT_EQ(readFile(out_), buildQar({entry("DATA\\B.TXT", "beta")}));
}

TEST_F(EditCli, RefusalsWriteNothing) {
    writeFile(out_, bytesOf("previous"));
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"replace", a_, "NONE", file_, "-o", out_}, "qar: no entry named NONE\n"},
        {{"replace", a_, "C.INI", dir_.file("missing"), "-o", out_},
         "qar: " + dir_.file("missing") + ": File not found\n"},
        {{"delete", a_, "C.INI", "X*", "-o", out_}, "qar: no entry matches X*\n"},
        {{"delete", a_, "*", "-o", out_}, "qar: an archive needs at least one entry\n"},
        {{"rename", a_, "C.INI", "DATA/B.TXT", "-o", out_},
         "qar: an entry named DATA/B.TXT exists already\n"},
        {{"rename", a_, "C.INI", "../C.INI", "-o", out_}, "qar: ../C.INI: "},
        {{"rename", a_, "C.INI", std::string(200, 'n'), "-o", out_},
         "qar: name of 200 bytes or more: " + std::string(200, 'n') + "\n"},
        {{"replace", a_, "C.INI", file_, "-o", a_}, "qar: " + a_ + " is the archive itself"},
    };
    const auto archive = readFile(a_);
    for (const auto& [args, err] : cases) {
        const Outcome r = qar(args);
        EXPECT_EQ(r.status, 1) << err;
        EXPECT_EQ(r.err.substr(0, err.size()), err);
        EXPECT_EQ(readFile(out_), bytesOf("previous")) << err;
        EXPECT_EQ(readFile(a_), archive) << err;
    }
    int files = 0;
    for (const auto& e : fs::directory_iterator(dir_.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 3);  // a.qar, new.txt, out.qar
}

TEST_F(EditCli, InPlaceWithBackup) {
    const auto old = readFile(a_);
    ASSERT_EQ(qar({"replace", "--in-place", "--backup", a_, "C.INI", file_}).status, 0);
    EXPECT_EQ(qar({"cat", a_, "C.INI"}).out, "NEW DATA");
    EXPECT_EQ(readFile(a_ + ".bak"), old);
    ASSERT_EQ(qar({"rename", a_, "C.INI", "D.INI", "--in-place"}).status, 0);
    EXPECT_EQ(qar({"cat", a_, "D.INI"}).out, "NEW DATA");
    EXPECT_EQ(readFile(a_ + ".bak"), old);  // only --backup touches it
}

}  // namespace
