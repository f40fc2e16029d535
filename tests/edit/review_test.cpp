// The review of a folder put back into the session's archive, without a window: its rows are the
// lines `qar update --dry-run` prints for the same folder, refused files give their reasons,
// the ticked rows become one step whose save writes exactly what `qar update` writes, matching
// by file name keeps to the folder node and lists shared names, and a cancel leaves nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/DirectoryLoader.h"
#include "archive/SafeExtract.h"
#include "edit/FolderReview.h"
#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "platform/png/PictureReader.h"
#include "platform/png/PngWriter.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

using namespace vorlr;
using samples::bytesOf;
using samples::readFile;
using samples::writeFile;
using vorlr::testing::runQar;
using vorlr::testing::TempDir;
namespace fs = std::filesystem;

namespace {

struct NoEvents final : LoadObserver {};

// A picture file with one pixel of another colour, opaque.
void paint(const std::string& path) {
    Bitmap24 picture = ReadPictureFile(path);
    uint8_t* pixel = picture.row(picture.height() / 2) + 3 * (picture.width() / 2);
    pixel[0] ^= 0x80;
    pixel[1] ^= 0x40;
    if (picture.hasAlpha()) picture.alphaRow(picture.height() / 2)[picture.width() / 2] = 255;
    savePng(picture, path);
}

class Review : public ::testing::Test {
protected:
    void SetUp() override {
        samples::writeQar(path, {{"DATA\\README.TXT", bytesOf("read me"), {}, {}, false},
                                 {"DATA\\NOTES.TXT", bytesOf("notes"), {}, {}, false},
                                 {"SND\\HIT.WAV", bytesOf("RIFF....WAVEfmt "), {}, {}, false},
                                 {"GFX\\ICONS.KMG", samples::sampleKmgPalette(3), {}, {}, false},
                                 {"GFX\\SKY.KMG", samples::sampleKmg16(20, 10), {}, {}, false},
                                 {"GFX\\LOGO.TGA", samples::sampleTga(2, 24, 12, 7), {}, {}, false},
                                 {"DATA\\SUB\\NOTE.TXT", bytesOf("note one"), {}, {}, false},
                                 {"SND\\NOTE.TXT", bytesOf("note two"), {}, {}, false}});
        NoEvents events;
        LoadDirectory(path, DirectoryLoad{archive, table, buffer}, tree, events);
        ASSERT_TRUE(session.open(archive, table.size(), tree));
        session.onStep([this](const EditSession::Outcome& o) {
            if (o.treeFrom) session.tree()->update(*o.treeFrom);
        });
    }

    std::vector<ReviewRow> review(const std::string& dir, ReviewOptions options) {
        FolderReview run(session, &tree, dir, options);
        run.start();
        run.wait();
        EXPECT_TRUE(run.finished());
        EXPECT_EQ(run.failure(), "");
        EXPECT_EQ(run.done(), archive.entryCount());
        return run.takeRows();
    }
    static std::string lines(const std::vector<ReviewRow>& rows) {
        std::string out;
        for (const ReviewRow& r : rows)
            if (r.takeable()) out += std::string(1, r.kind) + " " + r.name + "\n";
        return out;
    }
    // Saves the session's changes as Save archive as... does.
    std::vector<uint8_t> save() {
        const std::string out = dir.file("saved.qar");
        const EditSession::SavePlan plan = session.planSave(out);
        WriteEditedArchive(archive, plan.edit, plan.target);
        return readFile(out);
    }
    std::vector<uint8_t> qarUpdate(const std::string& folder, std::vector<std::string> extra) {
        const std::string out = dir.file("qar.qar");
        fs::remove(out);
        std::vector<std::string> args = {"update", path, folder, "-o", out};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto run = runQar(args);
        EXPECT_EQ(run.status, 0) << run.err;
        return readFile(out);
    }
    NodeId node(const std::string& text) const { return tree.findFrom(tree.first(), text); }

    TempDir dir;
    std::string path = dir.file("a.qar"), folder = dir.file("tree");
    Archive archive;
    std::vector<int32_t> table;
    WorkBufferBytes buffer{};
    FolderTree tree;
    EditSession session;
};

TEST_F(Review, RowsAreUpdatesLinesAndApplyThenSaveIsItsArchive) {
    ASSERT_EQ(runQar({"extract", path, "-o", folder, "--convert", "png"}).status, 0);
    paint(folder + "/GFX/ICONS_1.png");
    paint(folder + "/GFX/SKY.png");
    writeFile(folder + "/DATA/README.TXT", bytesOf("read me, edited"));
    writeFile(folder + "/DATA/NEW.TXT", bytesOf("new"));
    fs::remove(folder + "/DATA/NOTES.TXT");
    fs::rename(folder + "/SND/HIT.WAV", folder + "/SND/HIT2.WAV");
    // Wider than a Targa holds: refused with the reason qar update gives.
    const std::vector<uint8_t> logo = readFile(folder + "/GFX/LOGO.png");
    savePng(Bitmap24(32768, 1), folder + "/GFX/LOGO.png");
    const auto refusedRun = runQar({"update", path, folder, "--dry-run", "--delete-missing"});
    EXPECT_EQ(refusedRun.status, 1);

    ReviewOptions options;
    options.deleteMissing = true;
    const std::vector<ReviewRow> rows = review(folder, options);
    const auto refused =
        std::find_if(rows.begin(), rows.end(), [](const ReviewRow& r) { return !r.takeable(); });
    ASSERT_NE(refused, rows.end());
    EXPECT_EQ(refused->name, "GFX\\LOGO.TGA");
    EXPECT_EQ(refused->file, "GFX/LOGO.png");
    EXPECT_NE(refused->reason, "");
    EXPECT_NE(refusedRun.err.find("qar: GFX/LOGO.png: " + refused->reason + "\n"),
              std::string::npos)
        << refusedRun.err << "\n"
        << refused->reason;
    EXPECT_EQ(
        std::count_if(rows.begin(), rows.end(), [](const ReviewRow& r) { return !r.takeable(); }),
        1);

    // With the picture back as it was, update takes exactly the other rows.
    writeFile(folder + "/GFX/LOGO.png", logo);
    const auto dry = runQar({"update", path, folder, "--dry-run", "--delete-missing"});
    ASSERT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(lines(rows), dry.out);
    EXPECT_EQ(
        dry.out,
        "M DATA\\README.TXT\nD DATA\\NOTES.TXT\nD SND\\HIT.WAV\nM GFX\\ICONS.KMG\nM GFX\\SKY.KMG\n"
        "A DATA\\NEW.TXT\nA SND\\HIT2.WAV\n");
    for (const ReviewRow& r : rows)
        if (r.name == "DATA\\README.TXT") {
            EXPECT_EQ(r.oldSize, 7);
            EXPECT_EQ(r.newSize, 15);
        } else if (r.kind == 'D') {
            EXPECT_EQ(r.newSize, -1);
            EXPECT_GT(r.oldSize, 0);
        }

    const EditSession::Outcome step =
        ApplyReview(session, folder, rows, std::vector<bool>(rows.size(), true));
    EXPECT_TRUE(step.made);
    EXPECT_EQ(session.changes()->undoLabel(), "Update from tree: 3 changed, 2 added, 2 deleted");
    EXPECT_EQ(save(), qarUpdate(folder, {"--delete-missing"}));
    session.undo();
    EXPECT_FALSE(session.pending());
}

TEST_F(Review, UntickedRowsStayOut) {
    ASSERT_EQ(runQar({"extract", path, "-o", folder, "--convert", "png"}).status, 0);
    paint(folder + "/GFX/SKY.png");
    writeFile(folder + "/DATA/README.TXT", bytesOf("read me, edited"));
    writeFile(folder + "/DATA/NEW.TXT", bytesOf("new"));
    writeFile(folder + "/DATA/OTHER.TXT", bytesOf("other"));
    const std::vector<ReviewRow> rows = review(folder, {});
    ASSERT_EQ(lines(rows),
              "M DATA\\README.TXT\nM GFX\\SKY.KMG\nA DATA\\NEW.TXT\nA DATA\\OTHER.TXT\n");
    ApplyReview(session, folder, rows, {false, true, true, false});
    EXPECT_EQ(session.changes()->undoLabel(), "Update from tree: 1 changed, 1 added");
    // The same as update of the folder without the unticked files' edits.
    writeFile(folder + "/DATA/README.TXT", bytesOf("read me"));
    fs::remove(folder + "/DATA/OTHER.TXT");
    EXPECT_EQ(save(), qarUpdate(folder, {}));
}

TEST_F(Review, MatchingByNameKeepsToTheFolderNodeAndListsSharedNames) {
    const std::string flat = dir.file("flat");
    fs::create_directories(flat);
    writeFile(flat + "/Readme.Txt", bytesOf("read me, edited"));
    writeFile(flat + "/note.txt", bytesOf("a note"));
    ASSERT_EQ(runQar({"convert", path, "GFX\\SKY.KMG", flat + "/sky.png"}).status, 0);
    paint(flat + "/sky.png");

    // The whole archive: the note's name is two entries'; update refuses the folder for it.
    ReviewOptions options;
    options.matchNames = true;
    std::vector<ReviewRow> rows = review(flat, options);
    EXPECT_EQ(lines(rows), "M DATA\\README.TXT\nM GFX\\SKY.KMG\n");
    const auto shared = std::find_if(rows.begin(), rows.end(),
                                     [](const ReviewRow& r) { return !r.candidates.empty(); });
    ASSERT_NE(shared, rows.end());
    EXPECT_EQ(shared->file, "note.txt");
    EXPECT_EQ(shared->candidates, (std::vector<EntryId>{6, 7}));
    EXPECT_FALSE(shared->takeable());
    const auto refused = runQar({"update", path, flat, "--match-names", "--dry-run"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(
        refused.err.find(
            "note.txt: several entries have this file name: DATA\\SUB\\NOTE.TXT, SND\\NOTE.TXT"),
        std::string::npos)
        << refused.err;
    // Picked in its row, the file goes to that entry.
    shared->picked = 7;
    ApplyReview(session, flat, rows, std::vector<bool>(rows.size(), true));
    EXPECT_EQ(session.changes()->undoLabel(), "Update from flat: 3 changed, 0 added");
    EXPECT_EQ(session.changes()->read(7, 100), bytesOf("a note"));
    EXPECT_EQ(session.changes()->read(6, 100), bytesOf("note one"));
    session.undo();

    // Below DATA only one entry has the note's name, and the sky is not compared at all.
    options.node = node("DATA");
    ASSERT_NE(options.node, kNoNode);
    rows = review(flat, options);
    EXPECT_EQ(lines(rows), "M DATA\\README.TXT\nM DATA\\SUB\\NOTE.TXT\nA sky.png\n");
    ApplyReview(session, flat, rows, std::vector<bool>(rows.size(), true));
    EXPECT_EQ(session.changes()->read(6, 100), bytesOf("a note"));
}

TEST_F(Review, CancelLeavesNothingPending) {
    ASSERT_EQ(runQar({"extract", path, "-o", folder}).status, 0);
    writeFile(folder + "/DATA/README.TXT", bytesOf("read me, edited"));
    FolderReview run(session, &tree, folder, {});
    run.cancel();
    run.start();
    run.wait();
    EXPECT_TRUE(run.finished());
    EXPECT_TRUE(run.cancelled());
    EXPECT_TRUE(run.takeRows().empty());
    EXPECT_FALSE(session.pending());
    // Not cancelled, the same folder has its change.
    EXPECT_EQ(lines(review(folder, {})), "M DATA\\README.TXT\n");
}

}  // namespace
