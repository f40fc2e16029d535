// Selecting a node in the folder tree: current entry, extension, status bar and the viewer.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <filesystem>

#include "app/FolderTreeModel.h"
#include "app/ImageView.h"
#include "app/MediaPage.h"
#include "app/StatusBar.h"
#include "app/Unit1.h"
#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "platform/gui/Dialogs.h"
#include "support/Entries.h"
#include "support/TempDir.h"
#include "support/WindowTest.h"

namespace vorlr {
namespace {

namespace fs = std::filesystem;
using samples::bytesOf;
using samples::QarEntry;
using testing::byteEntry;

// A window with one archive loaded from a list file in a fresh current directory.
class Selection : public testing::WindowTest {
protected:
    std::unique_ptr<TForm1> form;

    void load(const std::vector<QarEntry>& entries) {
        samples::writeQar(dir.file("a.qar"), entries);
        samples::writeFile(dir.file("VORLR.LST"), bytesOf(dir.file("a.qar") + "\r\n"));
        form = std::make_unique<TForm1>();
        form->cbFiles->setCurrentIndex(0);
        emit form->cbFiles->activated(0);
        ASSERT_TRUE(dialogs.errors.empty());
    }
    // Makes the node reached by the row path current, as a click would.
    void select(std::initializer_list<int> rows) {
        QModelIndex i;
        for (int r : rows) i = form->treeModel()->index(r, 0, i);
        ASSERT_TRUE(i.isValid());
        form->tvFiles->setCurrentIndex(i);
    }
    std::string panel(int k) const { return form->StatusBar1->panelText(k); }
};

TEST_F(Selection, StatusBarShowsNameOffsetAndSizeInHex) {
    std::vector<uint8_t> data(1300, 'z');
    QarEntry odd = byteEntry("A.BIN", {});
    odd.offsetOverride = 1000;
    odd.sizeOverride = 255;
    QarEntry negative = byteEntry("NEG.BIN", {});
    negative.offsetOverride = 520;
    negative.sizeOverride = -1;
    load({byteEntry("PAD.BIN", data), odd, negative});
    select({1});
    EXPECT_EQ(form->state.CurrentEntryName, "A.BIN");
    EXPECT_EQ(panel(0), "File name: A.BIN");
    EXPECT_EQ(panel(1), "Offset: $3E8");
    EXPECT_EQ(panel(2), "Size: $FF");
    EXPECT_EQ(panel(3), "Type: not supported yet");
    EXPECT_EQ(form->state.ArchiveFile.position(), 1000);
    select({2});
    EXPECT_EQ(panel(1), "Offset: $208");
    EXPECT_EQ(panel(2), "Size: $FFFFFFFF");
}

TEST_F(Selection, ExtensionIsTheLowerCasedTextAfterTheFirstDot) {
    const auto t = bytesOf("hello\r\n");
    load({byteEntry("README.Txt", t), byteEntry("A.B.TXT", t), byteEntry("TXT", t),
          byteEntry("X.ABCDEFGHIJKLM", t), byteEntry("LONGNAMEWITHOUTDOT", t), byteEntry("\xC4.TXT", t)});
    const std::pair<int, const char*> expected[] = {
        {0, "txt"}, {1, "b.txt"}, {2, "txt"}, {3, "abcdefghij"}, {4, "longnamewi"}, {5, "txt"}};
    for (const auto& [row, ext] : expected) {
        select({row});
        EXPECT_EQ(form->state.CurrentExtension, ext) << row;
    }
    // README.Txt and TXT reach the text viewer; A.B.TXT reaches none.
    select({0});
    EXPECT_EQ(panel(3), "Type: Simple text file");
    EXPECT_TRUE(fs::exists(dir.file("TEMP.TXT")));
    select({1});
    EXPECT_EQ(panel(0), "File name: A.B.TXT");
    EXPECT_EQ(panel(3), "Type: not supported yet");
    select({2});
    EXPECT_EQ(panel(3), "Type: Simple text file");
    EXPECT_EQ(form->PageControl1->currentWidget(), form->tsText);
}

TEST_F(Selection, DispatchPicksTheViewerByExtension) {
    samples::TgaFormat format;
    format.width = 2;
    format.height = 1;
    format.bits = 24;
    const auto tga = samples::tga(format, {1, 2, 3, 4, 5, 6});
    const auto kmg = samples::kmg16(3, 2, {0, 1, 2, 3, 4, 5});
    load({byteEntry("LOGO.TGA", tga), byteEntry("PIC.KMG", kmg), byteEntry("ITEMS.DBS", bytesOf("db")),
          byteEntry("OTHER.DBS", bytesOf("db")), byteEntry("SET.INI", bytesOf("[a]\r\n")),
          byteEntry("NOISE.WAV", bytesOf("not really a wave"))});
    select({0});
    EXPECT_EQ(panel(3), "Type: Targa image file (24-bit)");
    EXPECT_EQ(form->state.FirstView->picture().width(), 2);
    select({1});
    EXPECT_EQ(panel(3), "Type: Kestrom image file (16-bit)");
    EXPECT_EQ(form->state.FirstView->picture().width(), 3);
    EXPECT_EQ(form->PageControl1->currentWidget(), form->tsImage);
    select({2});
    EXPECT_EQ(panel(3), "Type: not supported yet");
    select({3});
    EXPECT_EQ(panel(3), "Type: not supported yet");
    select({4});
    EXPECT_EQ(panel(3), "Type: Simple text file");
    // A sound entry is copied to its scratch file (playing it may fail without a device).
    select({5});
    EXPECT_TRUE(fs::exists(dir.file("TEMP.wav")));
    EXPECT_EQ(form->state.TempFileName, "TEMP.wav");
}

TEST_F(Selection, SelectingStopsTheMediaTimer) {
    load({byteEntry("A.TXT", bytesOf("a")), byteEntry("B.BIN", bytesOf("b"))});
    QTimer* timer = form->mediaPage()->tmMedia();
    timer->start();
    select({1});
    EXPECT_FALSE(timer->isActive());
}

TEST_F(Selection, FolderNodesAndReselectingDoNothing) {
    load({byteEntry("DATA\\A.TXT", bytesOf("a")), byteEntry("DATA\\B.BIN", bytesOf("bb"))});
    select({0, 1});
    EXPECT_EQ(form->state.CurrentEntryName, "B.BIN");
    const std::string before = panel(2);
    select({0});  // the folder
    EXPECT_EQ(form->state.CurrentEntryName, "B.BIN");
    EXPECT_EQ(panel(2), before);
    EXPECT_EQ(panel(0), "File name: B.BIN");
    select({0, 1});
    form->state.CurrentEntryName = "unchanged";
    select({0, 1});  // already current: no event
    EXPECT_EQ(form->state.CurrentEntryName, "unchanged");
}

TEST_F(Selection, ReloadingRaisesNoSelection) {
    load({byteEntry("A.TXT", bytesOf("a")), byteEntry("B.BIN", bytesOf("b"))});
    select({1});
    form->state.CurrentEntryName = "kept";
    emit form->cbFiles->activated(0);
    EXPECT_EQ(form->state.CurrentEntryName, "kept");
    EXPECT_FALSE(form->tvFiles->currentIndex().isValid());
    select({1});
    EXPECT_EQ(form->state.CurrentEntryName, "B.BIN");
}

TEST_F(Selection, AnEditedLabelBecomesTheEntryName) {
    load({byteEntry("A.TXT", bytesOf("sound?")), byteEntry("B.BIN", bytesOf("b"))});
    select({1});
    FolderTreeModel& m = *form->treeModel();
    EXPECT_TRUE(m.setData(m.index(0, 0), QStringLiteral("A.WAV")));
    EXPECT_EQ(form->state.CurrentEntryName, "B.BIN");  // an edit raises no selection
    EXPECT_EQ(form->tree().text(form->treeModel()->nodeOf(m.index(0, 0))), "A.WAV");
    select({0});
    EXPECT_EQ(form->state.CurrentEntryName, "A.WAV");
    EXPECT_EQ(form->state.CurrentExtension, "wav");
    EXPECT_TRUE(fs::exists(dir.file("TEMP.wav")));
    // Labels typed outside Windows-1252 come back as '?'.
    EXPECT_TRUE(m.setData(m.index(1, 0), QStringLiteral("\u00C4\u4E00.BIN")));
    EXPECT_EQ(form->tree().text(m.nodeOf(m.index(1, 0))), "\xC4?.BIN");
    EXPECT_EQ(m.index(1, 0).data().toString(), QStringLiteral("\u00C4?.BIN"));
}

TEST_F(Selection, AFailedLocationReadLeavesTheStatusBar) {
    QarEntry bad = byteEntry("BAD.TXT", {});
    bad.offsetOverride = -5;
    load({byteEntry("GOOD.BIN", bytesOf("g")), bad});
    select({0});
    const std::string offsetBefore = panel(1);
    select({1});
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_EQ(dialogs.errors[0], "I/O error 131.");
    EXPECT_EQ(panel(0), "File name: GOOD.BIN");
    EXPECT_EQ(panel(1), offsetBefore);
    EXPECT_EQ(form->state.CurrentEntryName, "BAD.TXT");
    EXPECT_EQ(form->state.CurrentExtension, "txt");
    EXPECT_EQ(form->state.CurrentEntryOffset, -5);
}

}  // namespace
}  // namespace vorlr
