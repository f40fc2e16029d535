// Save, the tiled window background and its capture from the dialog background image.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QPushButton>
#include <QTreeView>
#include <filesystem>

#include "app/FolderTreeModel.h"
#include "app/ImagePage.h"
#include "app/ImageView.h"
#include "app/StatusBar.h"
#include "app/Unit1.h"
#include "app/WindowActivation.h"
#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "platform/Bitmap24.h"
#include "platform/gui/BitmapQt.h"
#include "platform/gui/Dialogs.h"
#include "support/Activation.h"
#include "support/Bytes.h"
#include "support/TempDir.h"
#include "support/WindowTest.h"

namespace vorlr {
namespace {

namespace fs = std::filesystem;
using samples::bytesOf;
using samples::QarEntry;
using testing::fileText;

// A picture whose every pixel differs from its neighbours.
Bitmap24 pattern(int w, int h) {
    Bitmap24 b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            b.row(y)[x * 3 + 0] = static_cast<uint8_t>(x);
            b.row(y)[x * 3 + 1] = static_cast<uint8_t>(y);
            b.row(y)[x * 3 + 2] = static_cast<uint8_t>(x ^ y);
        }
    return b;
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

class SaveAndBackground : public testing::WindowTest {
protected:
    TForm1 form;

    // What a selected text entry leaves behind: its scratch file and the current names.
    void textEntryShown(const std::string& name, const std::string& ext, const std::string& body) {
        samples::writeFile(dir.file("TEMP.TXT"), bytesOf(body));
        form.state.TempFileName = "TEMP.TXT";
        form.state.CurrentEntryName = name;
        form.state.CurrentExtension = ext;
    }
    // One run of FormActivate: at start, or when the window comes back from a message box.
    void activate() {
        const int before = form.activation().runs();
        ASSERT_TRUE(form.isVisible() ? testing::returnFromMessageBox(form)
                                     : testing::makeActive(form));
        ASSERT_EQ(form.activation().runs(), before + 1);
    }
    const Bitmap24& background() { return form.imBack->picture(); }
};

TEST_F(SaveAndBackground, TextEntryIsSavedUnderItsBaseName) {
    textEntryShown("README.TXT", "txt", "hello");
    form.buSave->click();
    EXPECT_EQ(fileText(dir.file("README.txt")), "hello");
    EXPECT_FALSE(fs::exists(dir.file("TEMP.TXT")));
    // A second Save finds no scratch file and keeps what the first one saved.
    form.buSave->click();
    EXPECT_EQ(fileText(dir.file("README.txt")), "hello");
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(SaveAndBackground, NameWithoutDotGivesDotExtension) {
    textEntryShown("TXT", "txt", "plain");
    form.buSave->click();
    EXPECT_EQ(fileText(dir.file(".txt")), "plain");
    samples::writeFile(dir.file("TEMP.wav"), bytesOf("RIFF"));
    form.state.TempFileName = "TEMP.wav";
    form.state.CurrentEntryName = "BOOM.WAV";
    form.state.CurrentExtension = "wav";
    form.buSave->click();
    EXPECT_EQ(fileText(dir.file("BOOM.wav")), "RIFF");
}

TEST_F(SaveAndBackground, ImageEntryIsSavedAsBitmapOfTheFirstView) {
    form.state.FirstView->setPicture(pattern(5, 3));
    form.state.CurrentEntryName = "LOGO.TGA";
    form.state.CurrentExtension = "tga";
    form.buSave->click();
    EXPECT_EQ(samples::readFile(dir.file("LOGO.BMP")), pattern(5, 3).toBmp());
    form.state.CurrentEntryName = "ICON.A.KMG";
    form.state.CurrentExtension = "a.kmg";  // not an image extension: nothing
    form.buSave->click();
    EXPECT_FALSE(fs::exists(dir.file("ICON.BMP")));
}

TEST_F(SaveAndBackground, NothingSelectedOrUnsupportedSavesNothing) {
    samples::writeFile(dir.file("TEMP.TXT"), bytesOf("scratch"));
    form.state.TempFileName = "TEMP.TXT";
    const auto before = filesIn(dir.path());
    form.buSave->click();  // no entry yet
    form.state.CurrentEntryName = "A.BIN";
    form.state.CurrentExtension = "bin";
    form.buSave->click();
    form.state.CurrentEntryName = "ITEMS.DBS";
    form.state.CurrentExtension = "dbs";
    form.buSave->click();
    EXPECT_EQ(filesIn(dir.path()), before);
}

TEST_F(SaveAndBackground, SavedNamesStayInTheCurrentDirectory) {
    fs::create_directory(dir.file("sub"));
    textEntryShown("sub/EVIL.TXT", "txt", "t");
    form.buSave->click();
    EXPECT_TRUE(fs::exists(dir.file("sub_EVIL.txt")));
    EXPECT_TRUE(fs::is_empty(dir.file("sub")));
    form.state.FirstView->setPicture(pattern(2, 2));
    form.state.CurrentEntryName = std::string("a\\b/c\0d.TGA", 11);
    form.state.CurrentExtension = "tga";
    form.buSave->click();
    EXPECT_TRUE(fs::exists(dir.file("a_b_c_d.BMP")));
}

TEST_F(SaveAndBackground, BitmapFileErrorsNameTheFullPathOrAreTheWriteError) {
    form.state.CurrentEntryName = "LOGO.TGA";
    form.state.CurrentExtension = "tga";
    fs::create_directory(dir.file("LOGO.BMP"));
    form.buSave->click();
    // A failed write after the file was made is the runtime's text alone.
    form.state.CurrentEntryName = "FULL.KMG";
    form.state.CurrentExtension = "kmg";
    fs::create_symlink("/dev/full", dir.file("FULL.BMP"));
    form.buSave->click();
    ASSERT_EQ(dialogs.errors.size(), 2u);
    EXPECT_EQ(dialogs.errors[0],
              "Cannot create file \"" + dir.file("LOGO.BMP") + "\". File access denied.");
    EXPECT_EQ(dialogs.errors[1], "Disk full.");
}

TEST_F(SaveAndBackground, FirstViewStartsAsTheDotAndIsSavedSoWhenNothingWasDecoded) {
    const Bitmap24& dot = form.imagePage()->imDot()->picture();
    ASSERT_EQ(dot.width(), 1);
    ASSERT_EQ(dot.height(), 1);
    EXPECT_EQ(std::vector<uint8_t>(dot.row(0), dot.row(0) + 3), (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_TRUE(form.state.FirstView->picture() == dot);
    EXPECT_EQ(form.state.ImageViewList.at(0), form.state.FirstView);
    // A Targa entry 0 pixels wide decodes nothing: Save writes the 1 x 1 black picture.
    samples::writeQar(
        dir.file("a.qar"),
        {QarEntry{"EMPTY.TGA", samples::tga({2, 0, 4, 24, 0, {}}, {}), {}, {}, false}});
    form.cbFiles->addItem(QStringLiteral("a.qar"), QByteArray::fromStdString(dir.file("a.qar")));
    form.cbFiles->setCurrentIndex(0);
    form.cbFilesChange();
    form.tvFiles->setCurrentIndex(form.treeModel()->index(0, 0));
    ASSERT_EQ(form.state.CurrentEntryName, "EMPTY.TGA");
    form.buSave->click();
    EXPECT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
    EXPECT_EQ(samples::readFile(dir.file("EMPTY.BMP")), dot.toBmp());
    EXPECT_EQ(samples::readFile(dir.file("EMPTY.BMP")).size(), 58u);
}

// A picture of one colour, saved as BACK.BMP.
void backgroundOf(uint8_t blue, uint8_t green, uint8_t red) {
    Bitmap24 b(128, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            b.row(y)[3 * x] = blue, b.row(y)[3 * x + 1] = green, b.row(y)[3 * x + 2] = red;
    b.saveToFile("BACK.BMP");
}

TEST_F(SaveAndBackground, ActivationRunsAtStartAndBackFromTheProgramsOwnWindowsOnly) {
    backgroundOf(10, 20, 30);
    ASSERT_TRUE(testing::makeActive(form));
    EXPECT_EQ(form.activation().runs(), 1);
    EXPECT_EQ(background().row(300)[400 * 3], 10);
    backgroundOf(40, 50, 60);
    // The user switches to another program and back.
    testing::deactivateApplication();
    ASSERT_EQ(QApplication::activeWindow(), nullptr);
    ASSERT_TRUE(testing::makeActive(form));
    EXPECT_EQ(form.activation().runs(), 1);
    EXPECT_EQ(background().row(300)[400 * 3], 10);
    // A message box of the program, closed: the background is loaded again, once.
    ASSERT_TRUE(testing::returnFromMessageBox(form));
    EXPECT_EQ(form.activation().runs(), 2);
    EXPECT_EQ(background().row(300)[400 * 3], 40);
    testing::deactivateApplication();
    ASSERT_TRUE(testing::makeActive(form));
    EXPECT_EQ(form.activation().runs(), 2);
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(SaveAndBackground, ShownButNeverActivatedStillRunsActivationOnce) {
    // A display without a window manager: no activation ever reaches the window.
    struct NoActivation final : QObject {
        QWidget* window = nullptr;
        int swallowed = 0;
        bool eventFilter(QObject* o, QEvent* e) override {
            const bool drop = o == window && e->type() == QEvent::WindowActivate;
            swallowed += drop;
            return drop;
        }
    } noActivation;
    noActivation.window = &form;
    qApp->installEventFilter(&noActivation);  // the last installed sees events first
    backgroundOf(70, 80, 90);
    form.show();
    QCoreApplication::processEvents();
    EXPECT_GT(noActivation.swallowed, 0);
    EXPECT_EQ(form.activation().runs(), 1);
    EXPECT_EQ(background().row(0)[0], 70);
    qApp->removeEventFilter(&noActivation);
    // An activation arriving late adds nothing.
    testing::deactivateApplication();
    ASSERT_TRUE(testing::makeActive(form));
    EXPECT_EQ(form.activation().runs(), 1);
}

TEST_F(SaveAndBackground, TiledBackgroundShowsBetweenControlsButNotInTheStatusBar) {
    backgroundOf(1, 200, 77);
    activate();
    const QImage shot = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(800, 600));
    const QRgb tile = qRgb(77, 200, 1);
    EXPECT_EQ(shot.pixel(5, 580), tile);    // left of the bar
    EXPECT_EQ(shot.pixel(400, 565), tile);  // between the pages and the bar
    EXPECT_EQ(shot.pixel(400, 595), tile);  // below it
    const QRect bar(10, 570, 780, 20);
    ASSERT_EQ(form.StatusBar1->geometry(), bar);
    int tilePixels = 0;
    for (int y = bar.top(); y <= bar.bottom(); ++y)
        for (int x = bar.left(); x <= bar.right(); ++x) tilePixels += shot.pixel(x, y) == tile;
    EXPECT_EQ(tilePixels, 0);
}

TEST_F(SaveAndBackground, ActivationWithoutBackgroundFileLeavesThePlainPanel) {
    activate();
    EXPECT_FALSE(form.state.HasBackground);
    EXPECT_EQ(form.state.TileRect, (Rect{0, 0, 128, 128}));
    EXPECT_TRUE(background().empty());
    EXPECT_TRUE(form.imBack->isHidden());
}

TEST_F(SaveAndBackground, BackgroundIsTheTopLeftTileRepeated) {
    pattern(300, 200).saveToFile(dir.file("BACK.BMP"));
    activate();
    EXPECT_TRUE(form.state.HasBackground);
    const Bitmap24& b = background();
    ASSERT_EQ(b.width(), 800);
    ASSERT_EQ(b.height(), 600);
    EXPECT_FALSE(form.imBack->isHidden());
    const Bitmap24 tile = pattern(300, 200);
    for (int y = 0; y < 600; y += 7)
        for (int x = 0; x < 800; x += 5)
            ASSERT_EQ(0, std::memcmp(b.row(y) + x * 3, tile.row(y % 128) + (x % 128) * 3, 3))
                << x << "," << y;
}

TEST_F(SaveAndBackground, SmallBackgroundGivesATileWithWhite) {
    Bitmap24 small(64, 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) small.row(y)[x * 3 + 2] = 200, small.row(y)[x * 3] = small.row(y)[x * 3 + 1] = 0;
    small.saveToFile(dir.file("BACK.BMP"));
    activate();
    const Bitmap24& b = background();
    ASSERT_EQ(b.width(), 800);
    auto px = [&](int x, int y) { return std::vector<uint8_t>(b.row(y) + x * 3, b.row(y) + x * 3 + 3); };
    const std::vector<uint8_t> red{0, 0, 200}, white{255, 255, 255};
    EXPECT_EQ(px(10, 10), red);
    EXPECT_EQ(px(100, 10), white);
    EXPECT_EQ(px(10, 100), white);
    EXPECT_EQ(px(138, 10), red);   // the next cell repeats the tile
    EXPECT_EQ(px(780, 520), red);  // the last, partly visible cell too
    EXPECT_EQ(px(790, 590), white);
}

TEST_F(SaveAndBackground, BrokenBackgroundIsReportedOnce) {
    pattern(130, 130).saveToFile(dir.file("BACK.BMP"));
    activate();
    ASSERT_EQ(background().width(), 800);
    const Bitmap24 shown = background();
    samples::writeFile(dir.file("BACK.BMP"), bytesOf("not a bitmap at all"));
    for (int i = 0; i < 4; ++i) activate();
    EXPECT_EQ(dialogs.errors, std::vector<std::string>{"Bitmap image is not valid."});
    EXPECT_TRUE(background() == shown);  // the background stays as it was
}

TEST_F(SaveAndBackground, ViewingTheDialogBackgroundMakesBackBmpOnce) {
    auto& capture = form.imagePage()->afterKmgDecoded;
    ASSERT_TRUE(capture);
    form.state.FirstView->setPicture(pattern(200, 150));
    form.state.CurrentExtension = "kmg";
    form.state.CurrentEntryName = "OTHER.KMG";
    capture();
    EXPECT_FALSE(fs::exists(dir.file("BACK.BMP")));
    form.state.CurrentEntryName = "DIALOGBACKGROUND_LIGHT.KMG";
    capture();
    EXPECT_EQ(samples::readFile(dir.file("BACK.BMP")), pattern(200, 150).toBmp());
    EXPECT_FALSE(fs::exists(dir.file("DIALOGBACKGROUND_LIGHT.BMP")));
    EXPECT_TRUE(form.state.HasBackground);
    EXPECT_TRUE(background().empty());  // shown from the next activation on
    activate();
    EXPECT_EQ(background().width(), 800);
    // With the file present, viewing the image again changes nothing.
    form.state.FirstView->setPicture(pattern(10, 10));
    capture();
    EXPECT_EQ(samples::readFile(dir.file("BACK.BMP")), pattern(200, 150).toBmp());
}

TEST_F(SaveAndBackground, SelectingTheDialogBackgroundEntryCapturesIt) {
    std::vector<uint16_t> pixels(16 * 8);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint16_t>(i * 517);
    samples::writeQar(dir.file("a.qar"),
                      {QarEntry{"UI\\DIALOGBACKGROUND_LIGHT.KMG", samples::kmg16(16, 8, pixels), {}, {}, false},
                       QarEntry{"UI\\X.TXT", bytesOf("x"), {}, {}, false}});
    form.cbFiles->addItem(QString::fromStdString(dir.file("a.qar")),
                          QByteArray::fromStdString(dir.file("a.qar")));
    form.cbFiles->setCurrentIndex(0);
    form.cbFilesChange();
    const QModelIndex ui = form.treeModel()->index(0, 0);
    form.tvFiles->setCurrentIndex(form.treeModel()->index(0, 0, ui));
    ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
    ASSERT_TRUE(fs::exists(dir.file("BACK.BMP")));
    const Bitmap24 saved = loadBitmapFile(dir.file("BACK.BMP"));
    EXPECT_EQ(saved.width(), 16);
    EXPECT_TRUE(saved == form.state.FirstView->picture());
    activate();
    EXPECT_EQ(background().width(), 800);
}

}  // namespace
}  // namespace vorlr
