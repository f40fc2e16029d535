// Comparing two archives: one table row per kind of difference, each made by changing one thing
// in a laid-out archive, and the lines the comparison gives for it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "archive/ArchiveDiff.h"
#include "archive/Container.h"
#include "lib/LayoutArchive.h"
#include "lib/QarBuilder.h"
#include "support/TempDir.h"

using namespace vorlr;
using vorlr::samples::buildLayout;
using vorlr::samples::bytesOf;
using vorlr::samples::LayoutArchive;
using vorlr::samples::LayoutEntry;
using vorlr::samples::writeFile;

namespace {

LayoutEntry item(const std::string& name, const std::string& data) {
    LayoutEntry e;
    e.name = name;
    e.data = bytesOf(data);
    return e;
}

LayoutArchive base() {
    LayoutArchive a;
    a.header.assign(512, 0);
    a.header[7] = 0x42;
    a.entries = {item("DATA\\A.TXT", "alpha"), item("DATA\\B.TXT", "bravo"),
                 item("SND\\C.WAV", "charlie-charlie"), item("D", "")};
    a.entries[1].nameTail = bytesOf("old bytes");
    a.entries[2].trailing[3] = 9;
    a.entries[2].gapBefore = 5;
    return a;
}

std::vector<std::string> diffOf(const LayoutArchive& oldOne, const LayoutArchive& newOne) {
    vorlr::testing::TempDir dir;
    const auto fingerprint = [&](const LayoutArchive& layout, const std::string& name) {
        writeFile(dir.file(name), buildLayout(layout));
        Archive archive;
        archive.open(dir.file(name));
        ReadDirectory(archive);
        return FingerprintArchive(archive);
    };
    std::vector<std::string> lines;
    for (const DiffLine& l : DiffFingerprints(fingerprint(oldOne, "old.qar"), fingerprint(newOne, "new.qar")))
        lines.push_back(FormatDiffLine(l));
    return lines;
}

struct Case {
    const char* what;
    std::function<void(LayoutArchive&)> change;
    std::vector<std::string> lines;
};

TEST(ArchiveDiff, EachKindOfDifference) {
    const std::vector<Case> cases = {
        {"nothing", [](LayoutArchive&) {}, {}},
        {"a header byte", [](LayoutArchive& a) { a.header[500] = 1; }, {"H"}},
        {"content of equal size", [](LayoutArchive& a) { a.entries[1].data = bytesOf("BRAVO"); }, {"M DATA\\B.TXT"}},
        {"size only", [](LayoutArchive& a) { a.entries[0].size = 4; }, {"M DATA\\A.TXT"}},
        {"data moved by a gap", [](LayoutArchive& a) { a.entries[0].gapBefore = 100; }, {}},
        {"data moved by alignment", [](LayoutArchive& a) { a.alignment = 64; }, {}},
        {"bytes after the name's zero", [](LayoutArchive& a) { a.entries[1].nameTail = bytesOf("new bytes"); },
         {"X DATA\\B.TXT"}},
        {"a trailing record byte", [](LayoutArchive& a) { a.entries[2].trailing[15] = 1; }, {"X SND\\C.WAV"}},
        {"an entry removed", [](LayoutArchive& a) { a.entries.erase(a.entries.begin() + 1); }, {"- DATA\\B.TXT"}},
        {"an entry added", [](LayoutArchive& a) { a.entries.push_back(item("NEW", "novel")); }, {"+ NEW"}},
        {"an entry renamed",
         [](LayoutArchive& a) {
             a.entries[2].name = "SND\\E.WAV";
         },
         {"R SND\\C.WAV -> SND\\E.WAV"}},
        {"renamed and changed: removed and added",
         [](LayoutArchive& a) {
             a.entries[2].name = "SND\\E.WAV";
             a.entries[2].data = bytesOf("echo");
         },
         {"- SND\\C.WAV", "+ SND\\E.WAV"}},
        {"order of lines: header, old order, additions",
         [](LayoutArchive& a) {
             a.header[0] = 1;
             a.entries.insert(a.entries.begin(), item("FIRST", "new one"));
             a.entries[1].data = bytesOf("ALPHA!");          // A.TXT
             a.entries[2].trailing[0] = 7;                   // B.TXT
             a.entries.erase(a.entries.begin() + 3);         // C.WAV
         },
         {"H", "M DATA\\A.TXT", "X DATA\\B.TXT", "- SND\\C.WAV", "+ FIRST"}},
        {"content and unread bytes of one entry",
         [](LayoutArchive& a) {
             a.entries[0].data = bytesOf("ALPHA");
             a.entries[0].nameTail = {1};
         },
         {"M DATA\\A.TXT", "X DATA\\A.TXT"}},
        {"a moved entry is no difference",
         [](LayoutArchive& a) { std::swap(a.entries[0], a.entries[2]); }, {}},
    };
    const LayoutArchive original = base();
    for (const Case& c : cases) {
        LayoutArchive changed = original;
        c.change(changed);
        EXPECT_EQ(diffOf(original, changed), c.lines) << c.what;
    }
}

TEST(ArchiveDiff, DuplicateNamesPairInOrder) {
    LayoutArchive a;
    a.entries = {item("X", "one"), item("Y", "y"), item("X", "two"), item("X", "three")};
    LayoutArchive b = a;
    b.entries.erase(b.entries.begin());  // X two, X three now first and second
    // X#0 one~two, X#1 two~three, X#2 three: gone.
    EXPECT_EQ(diffOf(a, b), (std::vector<std::string>{"M X", "M X", "- X"}));
    LayoutArchive c = a;
    c.entries.push_back(item("X", "four"));
    EXPECT_EQ(diffOf(a, c), (std::vector<std::string>{"+ X"}));
}

TEST(ArchiveDiff, RenamesPairUnmatchedEntriesOfEqualContentOnce) {
    LayoutArchive a;
    a.entries = {item("A", "same"), item("B", "same"), item("C", "other")};
    LayoutArchive b;
    b.entries = {item("P", "same"), item("C", "other"), item("Q", "same"), item("S", "same")};
    EXPECT_EQ(diffOf(a, b), (std::vector<std::string>{"R A -> P", "R B -> Q", "+ S"}));
}

TEST(ArchiveDiff, DamagedEntriesCompareTheBytesThatExist) {
    // Data running past the end of the file: the existing part is the content; the stored size
    // still counts.
    LayoutArchive a;
    a.entries = {item("A", "abc"), item("B", "bytes")};
    a.entries[1].offset = 523;  // into the records, on past the end
    a.entries[1].size = 1 << 30;
    LayoutArchive same = a;
    EXPECT_TRUE(diffOf(a, same).empty());
    LayoutArchive otherSize = a;
    otherSize.entries[1].size = (1 << 30) + 1;
    EXPECT_EQ(diffOf(a, otherSize), (std::vector<std::string>{"M B"}));
    LayoutArchive otherTail = a;
    otherTail.entries[0].trailing[0] = 1;  // the bytes B runs into
    EXPECT_EQ(diffOf(a, otherTail), (std::vector<std::string>{"X A", "M B"}));
    // A negative offset or size holds nothing: equal to an empty entry of the same size field.
    LayoutArchive negative;
    negative.entries = {item("A", "abc"), item("B", "bytes")};
    negative.entries[0].offset = -5;
    LayoutArchive negativeElsewhere = negative;
    negativeElsewhere.entries[0].offset = -900;
    EXPECT_TRUE(diffOf(negative, negativeElsewhere).empty());
}

TEST(ArchiveDiff, UnreadBytesOfUnterminatedAndShortenedNames) {
    LayoutArchive a;
    a.entries = {item("AB", "1")};
    a.entries[0].nameTail = bytesOf("Z");
    LayoutArchive b = a;  // the same bytes after a shorter name: "A\0B\0Z..." differs from "AB\0Z"
    b.entries[0].name = "A";
    b.entries[0].nameTail = bytesOf("B");
    EXPECT_EQ(diffOf(a, b), (std::vector<std::string>{"R AB -> A"}));
    LayoutArchive u = a;
    u.entries[0].unterminated = true;  // reads as an empty name
    LayoutArchive v = u;
    EXPECT_TRUE(diffOf(u, v).empty());
    EXPECT_EQ(diffOf(a, u), (std::vector<std::string>{"R AB -> "}));
}

}  // namespace
