// qar's command line as a process: the help and usage texts, exit status 2 for every kind of
// wrong usage (what is wrong, then the command's usage line), and words that only look like
// options or commands.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "lib/QarBuilder.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

namespace {

using vorlr::samples::QarEntry;
using vorlr::testing::runQar;

const std::string kMainHelp =
    "qar - read and edit Vorlund packed archives (.qar)\n"
    "\n"
    "usage:\n"
    "  qar cat ARCHIVE NAME                               an entry's bytes on standard output\n"
    "  qar check ARCHIVE [--json]                         every structural problem of the archive\n"
    "  qar convert ARCHIVE NAME OUT [--all]               a .kmg or .tga entry decoded to OUT (.bmp or .png)\n"
    "  qar delete ARCHIVE PATTERN... (-o OUT | --in-place [--backup])\n"
    "                                                     an archive without the entries matching a PATTERN (one that matches nothing: exit 1, nothing written)\n"
    "  qar diff OLD NEW [--json]                          what differs between two archives\n"
    "  qar encode PICTURE... OUT [--like ARCHIVE NAME] [--kind KIND] [--keep-palette] [--dither]\n"
    "                                                     pictures (PNG, BMP) to a .kmg or .tga file\n"
    "  qar extract ARCHIVE [-o DIR] [--keep] [--convert png|bmp] [-j N] [PATTERN...]\n"
    "                                                     entries to files under DIR (default .)\n"
    "  qar grep PATTERN ARCHIVE... [-i] [-F] [-l] [-c] [-n] [--text-only] [-j N]\n"
    "                                                     search entries' contents (texts as the viewer shows them)\n"
    "  qar info ARCHIVE [--json]                          validation verdict and figures\n"
    "  qar layers ARCHIVE... [--ignore-case] [--hidden] [--json]\n"
    "                                                     which archive each name of the merged view comes from\n"
    "  qar list ARCHIVE [--json] [PATTERN...]             one line per directory entry, in directory order; PATTERNs keep the matching ones (one that matches nothing: exit 1)\n"
    "  qar merge ARCHIVE... -o OUT [--ignore-case]        one archive of the merged view's winning entries\n"
    "  qar mount ARCHIVE... MOUNTPOINT [--convert png] [--ignore-case] [--foreground]\n"
    "                                                     the archives as one read-only folder (FUSE)\n"
    "  qar pack DIR OUT                                   a new archive from the regular files under DIR\n"
    "  qar rename ARCHIVE NAME NEWNAME (-o OUT | --in-place [--backup])\n"
    "                                                     an archive with entry NAME stored as NEWNAME ('/' stored as '\\')\n"
    "  qar replace ARCHIVE NAME FILE (-o OUT | --in-place [--backup])\n"
    "                                                     an archive with entry NAME's data taken from FILE\n"
    "  qar text ARCHIVE NAME                              a text entry as the viewer loads it (UTF-16 made 8-bit)\n"
    "  qar tree ARCHIVE [--json] [PATTERN...]             the folder tree exactly as the viewer builds it; PATTERNs keep matching entries and the nodes above them (one that matches nothing: exit 1)\n"
    "  qar update ARCHIVE DIR (-o OUT | --in-place [--backup]) [--delete-missing] [--match-names] [--dry-run] [--json] [-j N]\n"
    "                                                     put a folder (as extract writes it) back into an archive\n"
    "  qar --help | qar COMMAND --help | qar --version    this help, a command's help, the version\n"
    "\n"
    "NAME is an entry's full stored name (DATA\\README.TXT, or DATA/README.TXT);\n"
    "#N names entry N (0-based). Errors go to standard error; exit status 1 on\n"
    "failure, 2 on wrong usage.\n";

const std::string kExtractUsage =
    "usage: qar extract ARCHIVE [-o DIR] [--keep] [--convert png|bmp] [-j N] [PATTERN...]\n";

struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
};

TEST(CommandLine, HelpVersionAndUnknownCommands) {
    const Case cases[] = {
        {{}, 2, "", kMainHelp},
        {{"--help"}, 0, kMainHelp, ""},
        {{"-h"}, 0, kMainHelp, ""},
        {{"help", "list"}, 0, kMainHelp, ""},
        {{"--help", "list"}, 0, kMainHelp, ""},
        {{"--version"}, 0, "qar 0.1.0\n", ""},
        {{"bogus", "a.qar"}, 2, "", "qar: unknown command 'bogus' (see qar --help)\n" + kMainHelp},
        {{"--bogus"}, 2, "", "qar: unknown option '--bogus' (see qar --help)\n" + kMainHelp},
        {{"text", "--help"}, 0,
         "usage: qar text ARCHIVE NAME\na text entry as the viewer loads it (UTF-16 made 8-bit)\n",
         ""},
        {{"cat", "a.qar", "-h"}, 0, "usage: qar cat ARCHIVE NAME\nan entry's bytes on standard output\n", ""},
        {{"extract", "--help"}, 0,
         kExtractUsage + "entries to files under DIR (default .)\n\n"
                         "With --convert every .kmg and .tga entry is written as pictures: NAME.png, or\n"
                         "NAME_0.png, NAME_1.png, ... for the sub-images of a palette KMG, decoded on N\n"
                         "workers (-j, default one per core). A picture that cannot be decoded is reported\n"
                         "as \"qar: NAME: MESSAGE\" and written as stored; the exit status is then 1.\n",
         ""},
        // The version belongs to the tool, not to a command.
        {{"info", "--version"}, 2, "", "qar info: missing ARCHIVE\nusage: qar info ARCHIVE [--json]\n"},
    };
    for (const Case& c : cases) {
        const auto r = runQar(c.args);
        std::string label;
        for (const auto& a : c.args) label += a + " ";
        EXPECT_EQ(r.status, c.status) << label;
        EXPECT_EQ(r.out, c.out) << label;
        EXPECT_EQ(r.err, c.err) << label;
    }
}

TEST(CommandLine, WrongUsageSaysWhatIsWrongThenTheUsageLineAndStatus2) {
    const std::string x = "usage: qar extract ARCHIVE [-o DIR] [--keep] [--convert png|bmp] [-j N] [PATTERN...]\n";
    const Case cases[] = {
        {{"info", "a.qar", "b.qar"}, 2, "", "qar info: unexpected word b.qar\nusage: qar info ARCHIVE [--json]\n"},
        {{"check", "--all", "a.qar"}, 2, "", "qar check: unknown option --all\nusage: qar check ARCHIVE [--json]\n"},
        {{"pack", "dir"}, 2, "", "qar pack: missing OUT\nusage: qar pack DIR OUT\n"},
        {{"text", "a.qar"}, 2, "", "qar text: missing NAME\nusage: qar text ARCHIVE NAME\n"},
        {{"tree", "a.qar", "-x"}, 2, "", "qar tree: unknown option -x\nusage: qar tree ARCHIVE [--json] [PATTERN...]\n"},
        {{"convert", "a.qar", "N", "o.bmp", "x"}, 2, "",
         "qar convert: unexpected word x\nusage: qar convert ARCHIVE NAME OUT [--all]\n"},
        {{"convert", "a.qar", "N", "o.gif"}, 2, "",
         "qar convert: OUT must end in .bmp or .png\nusage: qar convert ARCHIVE NAME OUT [--all]\n"},
        {{"extract"}, 2, "", "qar extract: missing ARCHIVE\n" + x},
        {{"extract", "a.qar", "-o"}, 2, "", "qar extract: -o needs a value\n" + x},
        {{"extract", "a.qar", "-o", ""}, 2, "", "qar extract: -o: DIR must not be empty\n" + x},
        {{"extract", "a.qar", "--convert", "gif"}, 2, "", "qar extract: --convert: gif not in {png,bmp}\n" + x},
        {{"extract", "a.qar", "--convert=jpg"}, 2, "", "qar extract: --convert: jpg not in {png,bmp}\n" + x},
        {{"extract", "a.qar", "--convert"}, 2, "", "qar extract: --convert needs a value\n" + x},
        {{"extract", "a.qar", "-j", "0"}, 2, "", "qar extract: -j: N must be a number from 1\n" + x},
        {{"extract", "a.qar", "-jx"}, 2, "", "qar extract: -j: N must be a number from 1\n" + x},
        {{"extract", "a.qar", "-j", "12345"}, 2, "", "qar extract: -j: N must be a number from 1\n" + x},
        {{"extract", "a.qar", "--keeps"}, 2, "", "qar extract: unknown option --keeps\n" + x},
        {{"mount", "a.qar"}, 2, "", "qar mount: missing MOUNTPOINT\nusage: qar mount ARCHIVE... MOUNTPOINT [--convert png] [--ignore-case] [--foreground]\n"},
    };
    for (const Case& c : cases) {
        const auto r = runQar(c.args);
        std::string label;
        for (const auto& a : c.args) label += "'" + a + "' ";
        EXPECT_EQ(r.status, c.status) << label;
        EXPECT_EQ(r.out, c.out) << label;
        EXPECT_EQ(r.err, c.err) << label;
    }
}

TEST(CommandLine, WordsThatLookLikeOptionsOrCommandsAreValues) {
    vorlr::testing::TempDir dir;
    const std::string archive = dir.file("a.qar");
    vorlr::samples::writeQar(archive, {{"-A", vorlr::samples::bytesOf("minus"), {}, {}, false},
                                       {"INFO", vorlr::samples::bytesOf("info"), {}, {}, false},
                                       {"[x,y]", vorlr::samples::bytesOf("xy"), {}, {}, false}});
    // A command's name later on the line is a PATTERN or NAME, not a second command.
    auto r = runQar({"list", archive, "info"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1\t525\t4\tINFO\n");
    r = runQar({"cat", archive, "INFO"});
    EXPECT_EQ(r.out, "info");
    // Brackets and commas are part of a word (CLI11 would read "[a,b]" as a list).
    r = runQar({"list", archive, "[[]x,y]", "[-]?"});
    EXPECT_EQ(r.out, "0\t520\t5\t-A\n2\t529\t2\t[x,y]\n");
    r = runQar({"cat", archive, "[x,y]"});
    EXPECT_EQ(r.out, "xy");
    r = runQar({"extract", archive, "-o", dir.file("b"), "[[]x,y]"});
    EXPECT_TRUE(std::filesystem::exists(dir.file("b/[x,y]")));
    // "--" ends the options; afterwards even -h is a value.
    r = runQar({"cat", archive, "--", "-A"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "minus");
    r = runQar({"list", archive, "--", "-h"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: no entry matches -h\n");

    // Options anywhere, joined or apart; a repeated one takes its last value.
    r = runQar({"extract", "-o", dir.file("first"), archive, "-o" + dir.file("out"), "-j", "3",
                "-j1", "--keep", "--", "-A"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/-A")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("first")));
    r = runQar({"extract", archive, "--convert=png", "--convert", "bmp", "-o", dir.file("x"), "INFO"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir.file("x/INFO")));
}

}  // namespace
