// qar info, list, tree, check and pack, run as the real tool on generated archives: exact
// output, exit statuses, raw name bytes, the tree printed by the viewer's own loader, and list
// and tree filtered by patterns against the same filter applied to their unfiltered output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "archive/DirectoryLoader.h"
#include "archive/FolderTree.h"
#include "archive/SafeExtract.h"
#include "lib/QarBuilder.h"
#include "support/Entries.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

using vorlr::samples::buildQar;
using vorlr::samples::bytesOf;
using vorlr::samples::QarEntry;
using vorlr::samples::QarOptions;
using vorlr::samples::readFile;
using vorlr::samples::writeFile;
using vorlr::testing::TempDir;
namespace fs = std::filesystem;

namespace {

using Outcome = vorlr::testing::QarResult;
using vorlr::testing::entry;

class ArchiveCli : public ::testing::Test {
protected:
    Outcome qar(std::vector<std::string> args) { return vorlr::testing::runQar(std::move(args)); }
    std::string archive(const std::vector<QarEntry>& entries, const QarOptions& options = {}) {
        writeFile(path_, buildQar(entries, options));
        return path_;
    }
    // Runs cmd on a one-entry archive whose directory claims firstCount records.
    Outcome onCount(const std::string& cmd, int32_t firstCount) {
        QarOptions options;
        options.firstCount = firstCount;
        archive({entry("A")}, options);
        return qar({cmd, path_});
    }
    // The tree as the loader builds it in this process, printed the way `tree` prints it.
    static std::string treeInProcess(const std::string& path) {
        vorlr::Archive archive;
        std::vector<int32_t> table;
        vorlr::WorkBufferBytes buffer{};
        vorlr::FolderTree tree;
        vorlr::LoadObserver quiet;
        vorlr::LoadDirectory(path, vorlr::DirectoryLoad{archive, table, buffer}, tree, quiet);
        std::string out;
        std::vector<int> depth(tree.size());
        for (vorlr::NodeId n = tree.first(); n != vorlr::kNoNode; n = tree.next(n)) {
            depth[n] = tree.parent(n) == vorlr::kNoNode ? 0 : depth[tree.parent(n)] + 1;
            out += std::string(depth[n] * 2, ' ') + tree.text(n);
            if (tree.entryIndex(n) >= 0) out += "\t#" + std::to_string(tree.entryIndex(n));
            out += '\n';
        }
        return out;
    }

    TempDir dir_;
    std::string path_ = dir_.file("a.qar");
};

}  // namespace

TEST_F(ArchiveCli, InfoOnAValidArchive) {
    archive({entry("A\\B.TXT", "hello"), entry("C", "xy")});
    const Outcome r = qar({"info", path_});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "valid: yes\nentries: 2\nsecond count: 2\nfile size: 1087\ndirectory offset: 527\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(ArchiveCli, InfoOnInvalidArchives) {
    QarOptions differ;
    differ.secondCount = 3;
    archive({entry("A"), entry("B")}, differ);
    Outcome r = qar({"info", path_});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "valid: no\nentries: 2\nsecond count: 3\nfile size: 1080\ndirectory offset: 520\n");
    EXPECT_EQ(r.err, "qar: Not a valid vorlund packed-file!\n");

    QarOptions none;
    none.firstCount = 0;
    archive({}, none);
    r = qar({"info", path_});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "valid: no\nentries: 0\nsecond count: 0\nfile size: 520\ndirectory offset: 520\n");

    // 559 bytes cannot hold two records; 560 can.
    QarOptions two;
    two.firstCount = 2;
    two.truncateTo = 559;
    archive({entry("A")}, two);
    EXPECT_EQ(qar({"info", path_}).status, 1);
    std::vector<uint8_t> bytes = readFile(path_);
    bytes.push_back(0);
    writeFile(path_, bytes);
    r = qar({"info", path_});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "valid: yes\nentries: 2\nsecond count: 2\nfile size: 560\ndirectory offset: 0\n");
}

TEST_F(ArchiveCli, InfoWithACountWhoseProductWraps) {
    const Outcome r = onCount("info", 7669585);  // x 280 wraps to a negative 32-bit product
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "valid: yes\nentries: 7669585\nsecond count: 7669585\nfile size: 800\n"
              "directory offset: -2147483000\n");
}

TEST_F(ArchiveCli, FileErrorsAndUsage) {
    for (const char* cmd : {"info", "list", "tree", "check"}) {
        // The tree's loader reads only the first count; the others read both.
        writeFile(path_, std::vector<uint8_t>(std::string(cmd) == "tree" ? 515 : 519, 0));
        Outcome r = qar({cmd, path_});
        EXPECT_EQ(r.status, 1) << cmd;
        EXPECT_EQ(r.out, "") << cmd;
        EXPECT_EQ(r.err, "qar: Read beyond end of file\n") << cmd;
        r = qar({cmd, dir_.file("missing.qar")});
        EXPECT_EQ(r.status, 1) << cmd;
        EXPECT_EQ(r.err, "qar: File not found\n") << cmd;
        EXPECT_EQ(qar({cmd}).status, 2) << cmd;
        // list and tree take PATTERNs after the archive, but no options.
        const bool patterns = std::string(cmd) == "list" || std::string(cmd) == "tree";
        EXPECT_EQ(qar({cmd, path_, patterns ? "-x" : "extra"}).status, 2) << cmd;
    }
    EXPECT_EQ(qar({"pack", dir_.path()}).status, 2);
}

TEST_F(ArchiveCli, ListPrintsEveryRecordWithRawNames) {
    QarEntry nameless = entry("ZZZ", "q");
    nameless.noZeroByte = true;
    QarEntry odd = entry("ODD", "");
    odd.offsetOverride = -1;
    odd.sizeOverride = INT32_MIN;
    archive({entry("DATA\\README.TXT", "hello"), entry("\xE9t\xE9\\\x01x"), nameless, odd});
    const Outcome r = qar({"list", path_});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "0\t520\t5\tDATA\\README.TXT\n"
              "1\t525\t0\t\xE9t\xE9\\\x01x\n"
              "2\t525\t1\t\n"
              "3\t-1\t-2147483648\tODD\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(ArchiveCli, ListOfAnEmptyOrUnreadableDirectory) {
    Outcome r = onCount("list", 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    r = onCount("list", 9);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: directory lies outside the file\n");
}

TEST_F(ArchiveCli, TreeShowsTheLoadersQuirks) {
    archive({entry("X\\Y\\F1"), entry("Y\\Z\\F2"), entry("D"), entry("D\\F"), entry("D\\D\\G"),
             entry("A\\X.TXT"), entry("A\\X.TXT"), entry("R\xE9.TXT")});
    const Outcome r = qar({"tree", path_});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");  // no progress when standard error is not a terminal
    EXPECT_EQ(r.out,
              "X\n"
              "  Y\n"
              "    F1\t#0\n"
              "    Z\n"
              "      F2\t#1\n"
              "D\t#2\n"
              "  F\t#3\n"
              "  G\t#4\n"
              "A\n"
              "  X.TXT\t#5\n"
              "  X.TXT\t#6\n"
              "R\xE9.TXT\t#7\n");
    EXPECT_EQ(r.out, treeInProcess(path_));
}

TEST_F(ArchiveCli, TreeOfADemoSizedArchiveMatchesTheLoader) {
    std::vector<QarEntry> entries;
    for (int i = 0; i < 700; ++i)
        entries.push_back(entry("L" + std::to_string(i % 5) + "\\M" + std::to_string(i % 7) +
                                "\\F" + std::to_string(i % 11)));
    archive(entries);
    const Outcome r = qar({"tree", path_});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, treeInProcess(path_));
}

TEST_F(ArchiveCli, TreeErrorsOfTheCount) {
    Outcome r = onCount("tree", -2);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "qar: Range check error\n");
    r = onCount("tree", 3);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: I/O error 131\n");
    r = onCount("tree", 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
}

TEST_F(ArchiveCli, CheckSaysOkOrListsEveryProblem) {
    archive({entry("A\\B", "abc"), entry("C")});
    Outcome r = qar({"check", path_});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ok\n");

    QarEntry early = entry("E", "x");
    early.offsetOverride = 100;
    QarEntry nameless = entry("N");
    nameless.noZeroByte = true;
    QarOptions differ;
    differ.secondCount = 5;
    archive({early, nameless}, differ);
    r = qar({"check", path_});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "counts differ: 2 at offset 512, 5 at offset 516\n"
              "entry 0: data outside 520..521 (offset 100, size 1)\n"
              "entry 1: name without a zero byte in its first 200 bytes\n");

    r = onCount("check", 4);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        r.out,
        "directory outside the file: 4 records of 280 bytes need 1120 bytes, the file has 800\n");
}

namespace {

void put(const fs::path& p, const std::string& data) {
    fs::create_directories(p.parent_path());
    writeFile(p.string(), bytesOf(data));
}

}  // namespace

TEST_F(ArchiveCli, PackWritesTheArchiveLayoutInPathOrder) {
    const fs::path in = fs::path(dir_.path()) / "in";
    put(in / "A0", "zero");
    put(in / "A" / "X", "x-data");
    put(in / "A.B", "");
    put(in / "B" / "C" / "D.TXT", "deep");
    put(in / "\xE9", "e");
    fs::create_directories(in / "EMPTY");
    fs::create_symlink(in / "A0", in / "LINK");
    const std::string out = dir_.file("out.qar");
    const Outcome r = qar({"pack", in.string(), out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    // Relative paths in byte order ("A.B" < "A/X" < "A0"), stored with backslashes.
    EXPECT_EQ(readFile(out),
              buildQar({entry("A.B", ""), entry("A\\X", "x-data"), entry("A0", "zero"),
                        entry("B\\C\\D.TXT", "deep"), entry("\xE9", "e")}));
    EXPECT_EQ(qar({"info", out}).status, 0);
    EXPECT_EQ(qar({"check", out}).out, "ok\n");
    // Nothing but the archive appeared beside it.
    int files = 0;
    for (const auto& e : fs::directory_iterator(dir_.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 1);  // out.qar alone
}

TEST_F(ArchiveCli, PackLeavesItsOwnOutputOutAndReplacesIt) {
    const fs::path in = fs::path(dir_.path()) / "in";
    put(in / "F", "1");
    const std::string out = (in / "self.qar").string();
    ASSERT_EQ(qar({"pack", in.string(), out}).status, 0);
    ASSERT_EQ(qar({"pack", in.string(), out}).status, 0);
    EXPECT_EQ(readFile(out), buildQar({entry("F", "1")}));
}

TEST_F(ArchiveCli, PackRefusesLongNamesBeforeWritingAnything) {
    const fs::path in = fs::path(dir_.path()) / "in";
    const std::string dir100(100, 'd');
    put(in / dir100 / std::string(98, 'f'), "ok");  // 199 bytes with the separator
    const std::string out = dir_.file("out.qar");
    Outcome r = qar({"pack", in.string(), out});
    EXPECT_EQ(r.status, 0) << r.err;
    fs::remove(out);

    put(in / dir100 / std::string(99, 'g'), "long");  // 200 bytes
    r = qar({"pack", in.string(), out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "qar: name of 200 bytes or more: " + dir100 + "\\" + std::string(99, 'g') + "\n");
    EXPECT_FALSE(fs::exists(out));
    for (const auto& e : fs::directory_iterator(dir_.path()))
        EXPECT_FALSE(e.is_regular_file()) << e.path();
}

TEST_F(ArchiveCli, PackRefusesWhatTheFieldsCannotHold) {
    const fs::path in = fs::path(dir_.path()) / "in";
    put(in / "A", "a");
    {
        // A sparse file just over the largest signed 32-bit size.
        const std::string big = (in / "BIG").string();
        const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, int64_t{INT32_MAX} - 1000), 0);
        ::close(fd);
    }
    const std::string out = dir_.file("out.qar");
    writeFile(out, bytesOf("previous"));
    const Outcome r = qar({"pack", in.string(), out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: the archive would be 2147483728 bytes, more than the limit of 2147483647 "
                     "bytes; nothing written\n");
    EXPECT_EQ(readFile(out), bytesOf("previous"));
}

TEST_F(ArchiveCli, PackRefusesBackslashesAndEmptyFolders) {
    const fs::path in = fs::path(dir_.path()) / "in";
    fs::create_directories(in / "sub");
    Outcome r = qar({"pack", in.string(), dir_.file("out.qar")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: no regular files under " + in.string() + "\n");
    put(in / "sub" / "a\\b", "x");
    r = qar({"pack", in.string(), dir_.file("out.qar")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: name holds a backslash: sub/a\\b\n");
    r = qar({"pack", dir_.file("nothing"), dir_.file("out.qar")});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(dir_.file("out.qar")));
}

TEST_F(ArchiveCli, PackedArchivesLoadLikeTheirFolders) {
    const fs::path in = fs::path(dir_.path()) / "in";
    put(in / "DATA" / "TEXT" / "A.TXT", "a");
    put(in / "DATA" / "TEXT" / "B.TXT", "b");
    put(in / "DATA" / "C.INI", "c");
    put(in / "README.TXT", "r");
    const std::string out = dir_.file("out.qar");
    ASSERT_EQ(qar({"pack", in.string(), out}).status, 0);
    const Outcome r = qar({"tree", out});
    EXPECT_EQ(r.out, "DATA\n  C.INI\t#0\n  TEXT\n    A.TXT\t#1\n    B.TXT\t#2\nREADME.TXT\t#3\n");
    EXPECT_EQ(qar({"list", out}).out,
              "0\t520\t1\tDATA\\C.INI\n1\t521\t1\tDATA\\TEXT\\A.TXT\n"
              "2\t522\t1\tDATA\\TEXT\\B.TXT\n3\t523\t1\tREADME.TXT\n");
}

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool anyMatches(const std::vector<std::string>& patterns, const std::string& name) {
    for (const auto& p : patterns)
        if (vorlr::MatchEntryPattern(p, name)) return true;
    return false;
}

// Names that make the loader's quirks: folders found forward in the tree, file nodes that get
// children, duplicates, letters in both cases, an empty name.
std::vector<QarEntry> generatedEntries(uint32_t seed) {
    static const char* const kSegments[] = {"DATA",  "data",  "Sub", "X",
                                            "A.TXT", "b.wav", "D",   "[x]"};
    std::mt19937 rng(seed);
    std::vector<QarEntry> entries;
    for (int i = 0; i < 150; ++i) {
        std::string name;
        for (int depth = static_cast<int>(rng() % 4); depth > 0; --depth)
            name += std::string(kSegments[rng() % 8]) + "\\";
        name += kSegments[rng() % 8];
        entries.push_back(entry(name, std::string(rng() % 3, 'z')));
    }
    QarEntry nameless = entry("NONAME");
    nameless.noZeroByte = true;
    entries.push_back(nameless);
    return entries;
}

}  // namespace

// The filtered outputs are the unfiltered lines that the patterns keep: list the entries whose
// stored name matches one, tree also every line above such an entry's line. A pattern that
// matches no entry is named on standard error and makes the status 1; the rest still prints.
TEST_F(ArchiveCli, ListAndTreeWithPatternsFilterTheUnfilteredOutput) {
    const std::vector<std::vector<std::string>> cases = {
        {"*.TXT"},
        {"*.txt"},
        {"data/*"},
        {"*\\X\\*"},
        {"?"},
        {"D*", "*b.WAV"},
        {"[[]x]"},
        {"*[!a-z]"},
        {"*"},
        {"NOPE*"},
        {"*.wav", "NOPE"},
        {"DATA\\D"},
        {"*sub\\d\\*", "D\\*", "*"},
    };
    for (uint32_t seed : {1u, 2u, 3u}) {
        archive(generatedEntries(seed));
        const Outcome list = qar({"list", path_});
        const Outcome tree = qar({"tree", path_});
        ASSERT_EQ(list.status, 0);
        ASSERT_EQ(tree.status, 0);
        std::vector<std::string> names;  // by entry index
        for (const std::string& line : linesOf(list.out))
            names.push_back(line.substr(line.rfind('\t') + 1));
        const std::vector<std::string> treeLines = linesOf(tree.out);

        for (const auto& patterns : cases) {
            const std::string label = "seed " + std::to_string(seed) + ", " + patterns[0];
            std::string wantList, wantErr;
            for (size_t i = 0; i < names.size(); ++i)
                if (anyMatches(patterns, names[i])) wantList += linesOf(list.out)[i] + "\n";
            for (const auto& p : patterns) {
                bool used = false;
                for (const auto& n : names) used = used || vorlr::MatchEntryPattern(p, n);
                if (!used) wantErr += "qar: no entry matches " + p + "\n";
            }
            // A tree line is kept when it or a line of its subtree stands for a matching entry.
            const auto depth = [](const std::string& line) {
                return line.find_first_not_of(' ') / 2;
            };
            const auto matching = [&](const std::string& line) {
                const size_t hash = line.rfind("\t#");
                return hash != std::string::npos &&
                       anyMatches(patterns, names[std::stoul(line.substr(hash + 2))]);
            };
            std::string wantTree;
            for (size_t i = 0; i < treeLines.size(); ++i) {
                bool keep = matching(treeLines[i]);
                for (size_t j = i + 1;
                     !keep && j < treeLines.size() && depth(treeLines[j]) > depth(treeLines[i]);
                     ++j)
                    keep = matching(treeLines[j]);
                if (keep) wantTree += treeLines[i] + "\n";
            }

            std::vector<std::string> args = patterns;
            args.insert(args.begin(), path_);
            args.insert(args.begin(), "list");
            const Outcome l = qar(args);
            args[0] = "tree";
            const Outcome t = qar(args);
            const int status = wantErr.empty() ? 0 : 1;
            EXPECT_EQ(l.out, wantList) << label;
            EXPECT_EQ(l.err, wantErr) << label;
            EXPECT_EQ(l.status, status) << label;
            EXPECT_EQ(t.out, wantTree) << label;
            EXPECT_EQ(t.err, wantErr) << label;
            EXPECT_EQ(t.status, status) << label;
        }
    }
}

TEST_F(ArchiveCli, PatternsAfterDoubleDashAndOnAnEmptyDirectory) {
    archive({entry("-A"), entry("B")});
    for (const char* cmd : {"list", "tree"}) {
        Outcome r = qar({cmd, path_, "--", "-*"});
        EXPECT_EQ(r.status, 0) << cmd;
        EXPECT_EQ(r.out, std::string(cmd) == "list" ? "0\t520\t0\t-A\n" : "-A\t#0\n") << cmd;
        EXPECT_EQ(qar({cmd, "--", path_, "B"}).out,
                  std::string(cmd) == "list" ? "1\t520\t0\tB\n" : "B\t#1\n")
            << cmd;
    }
    for (const char* cmd : {"list", "tree"}) {
        const Outcome r = onCount(cmd, 0);
        ASSERT_EQ(r.status, 0) << cmd;
        const Outcome p = qar({cmd, path_, "*"});
        EXPECT_EQ(p.status, 1) << cmd;
        EXPECT_EQ(p.out, "") << cmd;
        EXPECT_EQ(p.err, "qar: no entry matches *\n") << cmd;
    }
}
