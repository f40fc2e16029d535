// Comparing the loaded archive with another: the comparison tree's marks read back as lines are
// qar diff's lines for the same pair (the other archive as OLD), removed entries stand in the
// folders they had (made when the loaded archive lacks them), "changes only" keeps exactly the
// changes and what leads to them, and every item's row and parent agree in both modes.
#include "edit/Comparison.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "archive/ArchiveDiff.h"
#include "archive/Container.h"
#include "archive/DirectoryLoader.h"
#include "lib/LayoutArchive.h"
#include "lib/QarBuilder.h"
#include "platform/Errors.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

namespace vorlr {
namespace {

using samples::buildLayout;
using samples::bytesOf;
using samples::LayoutArchive;
using samples::LayoutEntry;
using Item = ComparisonTree::Item;

LayoutEntry item(const std::string& name, const std::string& data) {
    LayoutEntry e;
    e.name = name;
    e.data = bytesOf(data);
    return e;
}

// The other archive (the old side) and the loaded one: one entry of every kind of change,
// a duplicated name whose second copy changes, removed entries in a folder the loaded archive
// keeps and in folders it lacks.
LayoutArchive otherArchive() {
    LayoutArchive a;
    a.header.assign(512, 0);
    a.entries = {item("DATA\\A.TXT", "alpha"),
                 item("DATA\\B.TXT", "bravo"),
                 item("DATA\\C.TXT", "charlie"),
                 item("OLD\\SUB\\D.TXT", "delta"),
                 item("DATA\\R1.TXT", "moved content"),
                 item("DUP.TXT", "one"),
                 item("DUP.TXT", "two"),
                 item("DATA\\X.TXT", "same"),
                 item("OLD\\SUB\\E.TXT", "echo")};
    return a;
}

LayoutArchive loadedArchive() {
    LayoutArchive a;
    a.header.assign(512, 0);
    a.header[9] = 1;
    a.entries = {item("DATA\\A.TXT", "alpha"),
                 item("DATA\\B.TXT", "bravo, changed"),
                 item("NEW\\R2.TXT", "moved content"),
                 item("DUP.TXT", "one"),
                 item("DUP.TXT", "TWO"),
                 item("DATA\\X.TXT", "same"),
                 item("DATA\\F.TXT", "foxtrot"),
                 item("TOP.TXT", "top")};
    a.entries[5].trailing[2] = 7;
    return a;
}

class ComparisonTest : public ::testing::Test {
protected:
    void SetUp() override {
        otherPath = dir.file("other.qar");
        loadedPath = dir.file("loaded.qar");
        samples::writeFile(otherPath, buildLayout(otherArchive()));
        samples::writeFile(loadedPath, buildLayout(loadedArchive()));
        loaded.open(loadedPath);
        ReadDirectory(loaded);
        TreeBuilder builder(tree);
        for (size_t i = 0; i < loaded.entryCount(); ++i)
            builder.add(loaded.entry(i).name, static_cast<int32_t>(i));
        comparison = Comparison::Compare(loaded, otherPath);
        view = std::make_unique<ComparisonTree>(tree, *comparison);
    }

    std::string path(Item item) const {
        std::string p = view->text(item);
        for (Item up = view->parent(item); up != ComparisonTree::kTop; up = view->parent(up))
            p = view->text(up) + "\\" + p;
        return p;
    }
    // Every shown item in tree order.
    std::vector<Item> items() const {
        std::vector<Item> out;
        std::function<void(Item)> walk = [&](Item parent) {
            for (int32_t r = 0; r < view->childCount(parent); ++r) {
                const Item c = view->child(parent, r);
                out.push_back(c);
                walk(c);
            }
        };
        walk(ComparisonTree::kTop);
        return out;
    }
    // The marks as qar diff prints them, sorted.
    std::vector<std::string> markLines() const {
        std::vector<std::string> lines;
        for (const Item i : items()) {
            const uint8_t m = view->mark(i);
            if (m & Comparison::kAdded) lines.push_back("+ " + path(i));
            if (m & Comparison::kRemoved) lines.push_back("- " + path(i));
            if (m & Comparison::kModified) lines.push_back("M " + path(i));
            if (m & Comparison::kUnread) lines.push_back("X " + path(i));
            if (m & Comparison::kRenamed)
                lines.push_back("R " + view->oldName(i) + " -> " + path(i));
        }
        if (comparison->headerDiffers()) lines.push_back("H");
        std::sort(lines.begin(), lines.end());
        return lines;
    }
    Item find(const std::string& p) const {
        for (const Item i : items())
            if (path(i) == p) return i;
        return ComparisonTree::kTop;
    }

    testing::TempDir dir;
    std::string otherPath, loadedPath;
    Archive loaded;
    FolderTree tree;
    std::unique_ptr<Comparison> comparison;
    std::unique_ptr<ComparisonTree> view;
};

TEST_F(ComparisonTest, MarksAreQarDiffsLinesWithTheOtherArchiveAsOld) {
    const testing::QarResult diff = testing::runQar({"diff", otherPath, loadedPath});
    ASSERT_EQ(diff.status, 1) << diff.err;
    const std::vector<std::string> expected = testing::sortedLines(diff.out);
    // Each kind is there, so that agreeing means something.
    for (const char* kind : {"H", "+ ", "- ", "M ", "X ", "R "})
        EXPECT_TRUE(std::any_of(expected.begin(), expected.end(), [&](const std::string& l) {
            return l.rfind(kind, 0) == 0;
        })) << kind;
    EXPECT_EQ(markLines(), expected);
    view->setChangesOnly(true);
    EXPECT_EQ(markLines(), expected);

    // Counted per kind as the window's summary counts them.
    EXPECT_EQ(comparison->count(Comparison::kAdded), 2u);
    EXPECT_EQ(comparison->count(Comparison::kRemoved), 3u);
    EXPECT_EQ(comparison->count(Comparison::kModified), 2u);
    EXPECT_EQ(comparison->count(Comparison::kRenamed), 1u);
    EXPECT_EQ(comparison->count(Comparison::kUnread), 1u);
}

TEST_F(ComparisonTest, RemovedEntriesStandInTheFoldersTheyHad) {
    // In the loaded archive's own folder node, after its nodes.
    const Item c = find("DATA\\C.TXT");
    ASSERT_NE(c, ComparisonTree::kTop);
    EXPECT_EQ(view->node(c), kNoNode);
    const Item data = view->parent(c);
    ASSERT_NE(view->node(data), kNoNode);
    EXPECT_EQ(tree.text(view->node(data)), "DATA");
    EXPECT_EQ(view->row(c), tree.childCount(view->node(data)));
    EXPECT_EQ(comparison->other().entry(static_cast<size_t>(view->removedEntry(c))).name,
              "DATA\\C.TXT");
    // Folders only the other archive has are made once, for both of their entries.
    const Item d = find("OLD\\SUB\\D.TXT"), e = find("OLD\\SUB\\E.TXT");
    ASSERT_NE(d, ComparisonTree::kTop);
    ASSERT_NE(e, ComparisonTree::kTop);
    EXPECT_EQ(view->parent(d), view->parent(e));
    EXPECT_EQ(view->node(view->parent(d)), kNoNode);
    EXPECT_EQ(view->mark(view->parent(d)), 0);
    EXPECT_EQ(view->removedEntry(view->parent(d)), -1);
    // The loaded tree itself is as the loader built it.
    EXPECT_EQ(tree.size(), 10);
}

TEST_F(ComparisonTest, ChangesOnlyKeepsTheChangesAndTheFoldersAboveThem) {
    const NodeId unchanged = view->node(find("DATA\\A.TXT"));
    ASSERT_NE(unchanged, kNoNode);
    view->setChangesOnly(true);
    std::vector<std::string> shown;
    for (const Item i : items()) shown.push_back(path(i));
    const std::vector<std::string> expected{
        "DATA",     "DATA\\B.TXT",     "DATA\\X.TXT",    "DATA\\F.TXT", "DATA\\C.TXT",
        "NEW",      "NEW\\R2.TXT",     "DUP.TXT",        "TOP.TXT",     "OLD",
        "OLD\\SUB", "OLD\\SUB\\D.TXT", "OLD\\SUB\\E.TXT"};
    EXPECT_EQ(shown, expected);
    // Of the duplicated name only the changed second copy.
    const Item dup = find("DUP.TXT");
    EXPECT_EQ(tree.entryIndex(view->node(dup)), 4);
    EXPECT_FALSE(view->shown(unchanged));
    view->setChangesOnly(false);
    EXPECT_TRUE(view->shown(unchanged));
    EXPECT_EQ(items().size(), 15u);
}

TEST_F(ComparisonTest, RowsAndParentsAgreeInBothModes) {
    for (const bool only : {false, true}) {
        view->setChangesOnly(only);
        for (const Item i : items()) {
            EXPECT_EQ(view->child(view->parent(i), view->row(i)), i) << path(i) << " only=" << only;
            EXPECT_TRUE(view->shown(i)) << path(i);
        }
    }
}

TEST_F(ComparisonTest, OtherVersionsOfChangedAndRenamedEntries) {
    // Loaded entries: 1 changed, 2 renamed, 4 the duplicate's changed copy, 6 added.
    EXPECT_EQ(comparison->otherVersion(1), 1);
    EXPECT_EQ(comparison->otherVersion(2), 4);
    EXPECT_EQ(comparison->otherVersion(4), 6);
    EXPECT_EQ(comparison->otherVersion(6), -1);
    EXPECT_EQ(comparison->oldName(2), "DATA\\R1.TXT");
    EXPECT_EQ(comparison->oldName(1), "");
}

TEST_F(ComparisonTest, AnInvalidOtherArchiveIsRefused) {
    samples::writeFile(dir.file("bad.qar"), std::vector<uint8_t>(600, 0));
    try {
        (void)Comparison::Compare(loaded, dir.file("bad.qar"));
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Not a valid vorlund packed-file!");
    }
}

TEST_F(ComparisonTest, AStopRequestEndsTheReadingOfBothArchives) {
    // Enough entries for the request to be looked at while digesting.
    std::vector<samples::QarEntry> many;
    for (int i = 0; i < 3000; ++i) many.push_back({"E" + std::to_string(i), bytesOf("x"), {}, {}, false});
    samples::writeQar(dir.file("many.qar"), many);
    Archive big;
    big.open(dir.file("many.qar"));
    ReadDirectory(big);
    Comparison::Watch watch;
    watch.stop = true;
    EXPECT_THROW((void)Comparison::Compare(big, dir.file("many.qar"), &watch), FingerprintCancelled);
    // Without the request the same pair compares equal.
    const auto same = Comparison::Compare(big, dir.file("many.qar"));
    EXPECT_TRUE(same->removed().empty());
    EXPECT_EQ(same->count(Comparison::kModified) + same->count(Comparison::kAdded), 0u);
}

}  // namespace
}  // namespace vorlr
