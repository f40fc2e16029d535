// The window's extras: "Extract..." on tree nodes, the keyboard commands, dropped files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <deque>
#include <filesystem>

#include "app/FolderTreeModel.h"
#include "app/MediaPage.h"
#include "app/MediaPlayer.h"
#include "app/Unit1.h"
#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "lib/SoundSamples.h"
#include "platform/gui/Dialogs.h"
#include "platform/Errors.h"
#include "platform/RuntimeFile.h"
#include "support/ManualAudioOutput.h"
#include "support/Entries.h"
#include "support/TempDir.h"
#include "support/WindowTest.h"

namespace vorlr {
namespace {

namespace fs = std::filesystem;
using samples::bytesOf;
using samples::QarEntry;
using testing::byteEntry;
using samples::readFile;

const std::vector<uint8_t> kBinary = {0, 1, 2, 0xFF, 0, 0x80, 10, 13};

// DATA holds A.TXT and SUB with B.BIN and C.BIN; NOTE is a file that also heads a folder.
std::vector<QarEntry> sampleEntries() {
    std::vector<uint8_t> big(40000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + 3);
    return {byteEntry("DATA\\A.TXT", bytesOf("alpha text")), byteEntry("DATA\\SUB\\B.BIN", kBinary),
            byteEntry("DATA\\SUB\\C.BIN", big), byteEntry("TOP.TXT", bytesOf("top")),
            byteEntry("NOTE", bytesOf("n")), byteEntry("NOTE\\INNER.TXT", bytesOf("inner"))};
}

class Extras : public testing::WindowTest {
protected:
    ManualAudioOutputs outputs;  // outlives the window, whose sound closes on its output
    TForm1 f;

    // Loads an archive as a pick in the drop-down list does.
    void load(const std::vector<QarEntry>& entries, const std::string& name = "S.qar") {
        samples::writeQar(dir.file(name), entries);
        f.cbFiles->addItem(QString::fromStdString(name), QByteArray::fromStdString(dir.file(name)));
        f.cbFiles->setCurrentIndex(f.cbFiles->count() - 1);
        emit f.cbFiles->activated(f.cbFiles->count() - 1);
    }
    NodeId node(const std::string& text) {
        const NodeId n = f.tree().findFrom(f.tree().first(), text);
        EXPECT_NE(n, kNoNode) << text;
        return n;
    }
    void select(const std::string& text) {
        f.tvFiles->setCurrentIndex(f.treeModel()->indexOf(node(text)));
    }
    void activate() {
        f.show();
        QApplication::setActiveWindow(&f);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    }
    // A right click on the node (or the menu key on the current node), then "Extract..."
    // chosen from the menu by keyboard.
    void extractViaMenu(const std::string& text, bool menuKey = false) {
        f.show();
        f.tvFiles->expandAll();
        const QModelIndex index = f.treeModel()->indexOf(node(text));
        f.tvFiles->scrollTo(index);
        const QPoint at = f.tvFiles->visualRect(index).center();
        bool chosen = false;
        QTimer::singleShot(0, &f, [&] {
            auto* menu = f.findChild<QMenu*>();
            ASSERT_NE(menu, nullptr);
            ASSERT_GE(menu->actions().size(), 1);  // the other commands follow it
            EXPECT_EQ(menu->actions().front()->text(), QStringLiteral("Extract..."));
            // A folder's menu goes on with "Show pictures", a file's has none.
            const bool folder = f.tree().hasChildren(node(text));
            EXPECT_EQ(menu->actions().size() > 1 && menu->actions()[1]->text() == "Show pictures", folder);
            menu->setActiveAction(menu->actions().front());
            chosen = true;
            QTest::keyClick(menu, Qt::Key_Return);
        });
        if (menuKey) {
            f.tvFiles->setCurrentIndex(index);
            QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(0, 0), f.tvFiles->mapToGlobal(QPoint(0, 0)));
            QCoreApplication::sendEvent(f.tvFiles, &key);
        } else {
            QContextMenuEvent click(QContextMenuEvent::Mouse, at, f.tvFiles->viewport()->mapToGlobal(at));
            QCoreApplication::sendEvent(f.tvFiles->viewport(), &click);
        }
        EXPECT_TRUE(chosen) << "no menu for " << text;
    }
    std::string out(const std::string& name) { return dir.file(name); }
};

TEST_F(Extras, FolderNodeWritesEveryEntryBelowItUnderItsStoredPath) {
    load(sampleEntries());
    select("TOP.TXT");
    const ViewerState& s = f.state;
    const auto before = std::make_tuple(s.CurrentEntryName, s.CurrentEntryOffset, s.CurrentEntrySize);
    const int64_t position = f.state.ArchiveFile.position();

    dialogs.folders.push_back(out("out"));  // missing: created
    extractViaMenu("DATA");
    const auto entries = sampleEntries();
    EXPECT_EQ(readFile(out("out/DATA/A.TXT")), entries[0].data);
    EXPECT_EQ(readFile(out("out/DATA/SUB/B.BIN")), entries[1].data);
    EXPECT_EQ(readFile(out("out/DATA/SUB/C.BIN")), entries[2].data);
    EXPECT_FALSE(fs::exists(out("out/TOP.TXT")));
    EXPECT_FALSE(fs::exists(out("out/NOTE")));
    EXPECT_EQ(dialogs.infos, std::vector<std::string>{"Extracted 3 files to " + out("out") + "."});
    EXPECT_TRUE(dialogs.errors.empty());
    // The selected entry is still where it was: Save and the viewers rely on it.
    EXPECT_EQ(std::make_tuple(s.CurrentEntryName, s.CurrentEntryOffset, s.CurrentEntrySize), before);
    EXPECT_EQ(f.state.ArchiveFile.position(), position);
}

TEST_F(Extras, FileNodeWritesItsEntryAndAFileWithChildrenTakesThemAlong) {
    load(sampleEntries());
    dialogs.folders = {out("one"), out("two")};
    extractViaMenu("B.BIN", /*menuKey=*/true);
    EXPECT_EQ(readFile(out("one/DATA/SUB/B.BIN")), kBinary);
    EXPECT_FALSE(fs::exists(out("one/DATA/SUB/C.BIN")));
    EXPECT_FALSE(fs::exists(out("one/DATA/A.TXT")));

    // NOTE is written as a file, so NOTE\INNER.TXT cannot become a file below it.
    extractViaMenu("NOTE");
    EXPECT_EQ(readFile(out("two/NOTE")), bytesOf("n"));
    ASSERT_EQ(dialogs.infos.size(), 2u);
    EXPECT_EQ(dialogs.infos[0], "Extracted 1 file to " + out("one") + ".");
    EXPECT_EQ(dialogs.infos[1].rfind("Extracted 1 file to " + out("two") + ". 1 entry with problems (first: NOTE\\INNER.TXT", 0), 0u)
        << dialogs.infos[1];
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(Extras, CancelAfterTheFirstEntryStopsTheRunAndSaysSo) {
    load(sampleEntries());
    dialogs.folders.push_back(out("out"));
    int dispatches = 0;
    f.onExtractDispatch = [&](QProgressDialog& progress) {
        ++dispatches;
        EXPECT_TRUE(progress.isVisible());
        if (progress.value() >= 1) progress.cancel();
    };
    extractViaMenu("DATA");
    EXPECT_EQ(dispatches, 2);  // before the first entry, after it
    EXPECT_TRUE(fs::exists(out("out/DATA/A.TXT")));
    EXPECT_FALSE(fs::exists(out("out/DATA/SUB/B.BIN")));
    EXPECT_FALSE(fs::exists(out("out/DATA/SUB/C.BIN")));
    EXPECT_EQ(dialogs.infos, std::vector<std::string>{"Extraction cancelled. Extracted 1 file to " + out("out") + "."});
    EXPECT_EQ(f.findChild<QProgressDialog*>(), nullptr);
}

TEST_F(Extras, PicturesConvertedToPngWhenAskedAndACancelLeavesNoPartOfAnEntry) {
    std::vector<QarEntry> entries{byteEntry("GFX\\ICONS.KMG", samples::sampleKmgPalette(3)),
                                  byteEntry("GFX\\BAD.TGA", samples::sampleTga(2, 24, 4, 4)),
                                  byteEntry("GFX\\SKY.TGA", samples::sampleTga(10, 24, 30, 20)),
                                  byteEntry("GFX\\NOTE.TXT", bytesOf("text"))};
    entries[1].data[16] = 16;  // an unsupported depth: written as stored
    load(entries);
    dialogs.convertPictures = true;
    dialogs.folders = {out("all"), out("part")};
    extractViaMenu("GFX");
    for (const char* name : {"ICONS_0.png", "ICONS_1.png", "ICONS_2.png", "SKY.png", "NOTE.TXT"})
        EXPECT_TRUE(fs::exists(out("all/GFX/") + name)) << name;
    EXPECT_EQ(readFile(out("all/GFX/BAD.TGA")), entries[1].data);
    EXPECT_FALSE(fs::exists(out("all/GFX/ICONS.KMG")));
    EXPECT_EQ(dialogs.infos, std::vector<std::string>{
        "Extracted 6 files to " + out("all") + ". Converted 4 pictures to PNG. 1 picture could not "
        "be converted and was written as stored. 1 entry with problems (first: GFX\\BAD.TGA: "
        "Unsupported TGA format: 16-bit)."});

    // Cancelled after the first entry: its three pictures are all there, nothing of the rest.
    f.onExtractDispatch = [&](QProgressDialog& progress) {
        if (progress.value() >= 1) progress.cancel();
    };
    extractViaMenu("GFX");
    std::vector<std::string> written;
    for (const auto& e : fs::recursive_directory_iterator(out("part")))
        if (e.is_regular_file()) written.push_back(e.path().filename());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"ICONS_0.png", "ICONS_1.png", "ICONS_2.png"}));
    ASSERT_EQ(dialogs.infos.size(), 2u);
    EXPECT_EQ(dialogs.infos[1].rfind("Extraction cancelled. Extracted 3 files", 0), 0u) << dialogs.infos[1];
}

TEST_F(Extras, CancelledFolderDialogOrNoArchiveDoesNothing) {
    TForm1 empty;
    empty.tvFilesExtract(0);  // no archive, no tree: not even a question
    EXPECT_EQ(dialogs.folderAsked, 0);

    load(sampleEntries());
    const auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    };
    const auto before = listing();
    extractViaMenu("DATA");
    EXPECT_EQ(dialogs.folderAsked, 1);
    EXPECT_EQ(listing(), before);
    EXPECT_TRUE(dialogs.infos.empty());
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(Extras, KeysSaveExtractSwitchPagesAndQuit) {
    load(sampleEntries());
    activate();
    select("TOP.TXT");
    QTest::keyClick(&f, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(readFile("TOP.txt"), bytesOf("top"));

    select("SUB");
    dialogs.folders.push_back(out("keyed"));
    QTest::keyClick(&f, Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(readFile(out("keyed/DATA/SUB/B.BIN")), kBinary);
    EXPECT_FALSE(fs::exists(out("keyed/DATA/A.TXT")));
    activate();  // the offscreen platform does not hand activation back after the progress dialog

    QTest::keyClick(&f, Qt::Key_3, Qt::ControlModifier);
    EXPECT_EQ(f.PageControl1->currentWidget(), f.tsMedia);
    QTest::keyClick(&f, Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(f.PageControl1->currentWidget(), f.tsImage);
    QTest::keyClick(&f, Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(f.cbFiles->hasFocus());

    QTest::keyClick(&f, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(Extras, WhileLoadingOnlyEscapeActsAndItStops) {
    std::vector<QarEntry> many;
    for (int i = 0; i < 400; ++i) many.push_back(byteEntry("F" + std::to_string(i) + ".BIN", {1}));
    activate();
    int dispatches = 0;
    f.onLoadDispatch = [&] {
        if (++dispatches != 2) return;
        QTest::keyClick(&f, Qt::Key_O, Qt::ControlModifier);  // Browse is off while loading
        QTest::keyClick(&f, Qt::Key_3, Qt::ControlModifier);  // so are the pages
        QTest::keyClick(&f, Qt::Key_Escape);
    };
    load(many);
    EXPECT_EQ(dialogs.opened, 0);
    EXPECT_EQ(f.PageControl1->currentWidget(), f.tsText);
    EXPECT_GT(f.tree().size(), 0);
    EXPECT_LT(f.tree().size(), 400);
    // Loaded: Ctrl+O browses again.
    QTest::keyClick(&f, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(dialogs.opened, 1);
}

TEST_F(Extras, MediaKeysPressOnlyUsableButtonsAndOnlyWithTheFocusInTheMediaPage) {
    setAudioOutputs(&outputs);
    struct Restore {
        ~Restore() { setAudioOutputs(nullptr); }
    } restore;
    activate();
    MediaPlayer* player = f.mediaPage()->mediaPlayer();
    MediaPlayerControl& mp = player->control();
    QTest::keyClick(&f, Qt::Key_3, Qt::ControlModifier);
    player->setFocus();
    QTest::keyClick(player, Qt::Key_Space);  // nothing open: every button is grey
    EXPECT_FALSE(mp.isOpen());
    EXPECT_TRUE(dialogs.errors.empty());

    load({byteEntry("SOUND.WAV", samples::makeWavTone({1000, 8000, 1, 440}))});
    select("SOUND.WAV");
    ASSERT_EQ(f.PageControl1->currentWidget(), f.tsMedia);
    ASSERT_TRUE(mp.isUsable(btPlay));
    ASSERT_FALSE(mp.isUsable(btPause));
    // A click on Play gives the player the focus; Space then pauses and plays on.
    f.tvFiles->setFocus();
    QTest::mouseClick(player, Qt::LeftButton, {}, player->buttonRect(0).center());
    ASSERT_TRUE(player->hasFocus());
    ASSERT_TRUE(mp.isUsable(btPause));
    ASSERT_EQ(mp.Mode(), MediaMode::Playing);
    QTest::keyClick(player, Qt::Key_Space);
    EXPECT_EQ(mp.Mode(), MediaMode::Paused);
    QTest::keyClick(player, Qt::Key_Space);
    EXPECT_EQ(mp.Mode(), MediaMode::Playing);
    QTest::keyClick(player, Qt::Key_Space);
    EXPECT_EQ(mp.Mode(), MediaMode::Paused);

    // With the focus in the tree, Space and S are the tree's, even on the Media page.
    QTest::keyClick(&f, Qt::Key_T, Qt::ControlModifier);
    ASSERT_TRUE(f.tvFiles->hasFocus());
    QTest::keyClick(f.tvFiles, Qt::Key_Space);
    QTest::keyClick(f.tvFiles, Qt::Key_S);
    EXPECT_EQ(mp.Mode(), MediaMode::Paused);

    QTest::keyClick(f.tvFiles, Qt::Key_Period, Qt::ControlModifier);  // Ctrl+. works anywhere
    EXPECT_EQ(mp.Mode(), MediaMode::Stopped);
    player->setFocus();
    QTest::keyClick(player, Qt::Key_Space);
    EXPECT_EQ(mp.Mode(), MediaMode::Playing);
    QTest::keyClick(player, Qt::Key_S);
    EXPECT_EQ(mp.Mode(), MediaMode::Stopped);
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(Extras, SpaceAndSGoToTheFocusedControlOutsideTheMediaPage) {
    load({byteEntry("A.TXT", bytesOf("a")), byteEntry("B.TXT", bytesOf("b")),
          byteEntry("SAGA.TXT", bytesOf("s"))});
    activate();
    QTest::keyClick(&f, Qt::Key_3, Qt::ControlModifier);
    ASSERT_EQ(f.PageControl1->currentWidget(), f.tsMedia);
    // Space on a focused button presses it.
    f.buBrowse->setFocus();
    QTest::keyClick(f.buBrowse, Qt::Key_Space);
    EXPECT_EQ(dialogs.opened, 1);
    // Typing in the tree finds the entry starting with the letter.
    select("A.TXT");
    QTest::keyClick(&f, Qt::Key_3, Qt::ControlModifier);
    f.tvFiles->setFocus();
    QTest::keyClick(f.tvFiles, Qt::Key_S);
    EXPECT_EQ(f.tree().text(f.treeModel()->nodeOf(f.tvFiles->currentIndex())), "SAGA.TXT");
    EXPECT_EQ(f.state.CurrentEntryName, "SAGA.TXT");
    EXPECT_TRUE(dialogs.errors.empty());
}

// Sends a drag of the given URLs over the window and drops it; returns whether the drag was taken.
bool drop(QWidget& target, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint at(400, 300);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &dropped);
    QCoreApplication::processEvents();  // the file is opened after the drop returns
    return dropped.isAccepted();
}

TEST_F(Extras, DroppedFileIsBrowsedTo) {
    samples::writeQar(dir.file("Dropped.qar"), sampleEntries());
    samples::writeFile(dir.file("junk.qar"), std::vector<uint8_t>(600, 0));
    const QUrl good = QUrl::fromLocalFile(QString::fromStdString(dir.file("Dropped.qar")));
    const QUrl junk = QUrl::fromLocalFile(QString::fromStdString(dir.file("junk.qar")));

    EXPECT_FALSE(drop(f, {good, junk}));  // one file at a time
    EXPECT_FALSE(drop(f, {QUrl("https://example.org/a.qar")}));
    EXPECT_EQ(f.cbFiles->count(), 0);

    // A rejected file from another folder: no dialog was shown, so the directory stays.
    testing::TempDir other;
    fs::copy_file(dir.file("junk.qar"), other.file("junk.qar"));
    ASSERT_TRUE(drop(f, {QUrl::fromLocalFile(QString::fromStdString(other.file("junk.qar")))}));
    EXPECT_EQ(dialogs.infos, std::vector<std::string>{"Not a valid vorlund packed-file!"});
    EXPECT_EQ(f.cbFiles->count(), 0);
    EXPECT_EQ(f.tree().size(), 0);
    EXPECT_EQ(currentDirectory(), dir.path());

    ASSERT_TRUE(drop(f, {good}));
    ASSERT_EQ(f.cbFiles->count(), 1);
    EXPECT_EQ(f.cbFiles->currentIndex(), 0);
    EXPECT_EQ(f.cbFiles->itemData(0).toByteArray().toStdString(), dir.file("Dropped.qar"));
    EXPECT_EQ(f.state.CurrentArchiveName, dir.file("Dropped.qar"));
    EXPECT_NE(f.tree().findFrom(f.tree().first(), "INNER.TXT"), kNoNode);
    EXPECT_TRUE(dialogs.errors.empty());
}

// A load and an extraction dispatch events while they run: a drop or another extraction that
// arrives then is refused, and an error that ends the run leaves the window idle again.
TEST_F(Extras, WhileBusyDropsAndExtractionsAreRefusedAndAnErrorEndsTheBusyState) {
    samples::writeQar(dir.file("Dropped.qar"), sampleEntries());
    const QUrl dropped = QUrl::fromLocalFile(QString::fromStdString(dir.file("Dropped.qar")));
    std::vector<QarEntry> entries = sampleEntries();
    for (int i = 0; i < 60; ++i)
        entries.push_back(byteEntry("MORE\\F" + std::to_string(i), bytesOf("x")));
    dialogs.folders = {out("unused")};

    f.onLoadDispatch = [&] {
        EXPECT_EQ(f.work(), WindowWork::Loading);
        EXPECT_FALSE(drop(f, {dropped}));
        f.tvFilesExtract(0);
        EXPECT_EQ(dialogs.folderAsked, 0);
        throw Error("Interrupted");
    };
    load(entries);
    EXPECT_EQ(f.work(), WindowWork::Idle);
    EXPECT_EQ(dialogs.errors, std::vector<std::string>{"Interrupted."});

    f.onLoadDispatch = nullptr;
    load(entries);
    ASSERT_GT(f.tree().size(), 60);
    dialogs.folders = {out("first")};
    f.onExtractDispatch = [&](QProgressDialog&) {
        EXPECT_EQ(f.work(), WindowWork::Extracting);
        EXPECT_FALSE(drop(f, {dropped}));
        f.tvFilesExtract(node("TOP.TXT"));
        EXPECT_EQ(dialogs.folderAsked, 1);
        throw Error("Disk full");
    };
    extractViaMenu("DATA");
    EXPECT_EQ(f.work(), WindowWork::Idle);
    EXPECT_EQ(dialogs.errors.back(), "Disk full.");
    EXPECT_TRUE(dialogs.infos.empty());
    EXPECT_EQ(f.findChild<QProgressDialog*>(), nullptr);

    f.onExtractDispatch = nullptr;
    ASSERT_TRUE(drop(f, {dropped}));
    EXPECT_EQ(f.state.CurrentArchiveName, dir.file("Dropped.qar"));
    EXPECT_EQ(dialogs.errors.size(), 2u);
}

}  // namespace
}  // namespace vorlr
