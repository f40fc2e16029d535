// "Show pictures": one cell per picture below a folder in tree order, damaged pictures marked,
// a pick selecting the entry as the tree does, the page's keys, the workers stopped by a load,
// and the pool's order (the cells in view first, failures reported).
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/FolderPictures.h"
#include "app/FolderTreeModel.h"
#include "app/ImagePage.h"
#include "app/ImageView.h"
#include "app/PictureGrid.h"
#include "app/StatusBar.h"
#include "app/ThumbnailPool.h"
#include "app/Unit1.h"
#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "support/CoreApp.h"
#include "support/Entries.h"
#include "support/WindowTest.h"
#include "viewers/TargaDecoder.h"

namespace vorlr {
namespace {

using samples::QarEntry;
using testing::byteEntry;

class Pictures : public testing::WindowTest {
protected:
    TForm1 f;
    const std::vector<uint8_t> tgaD = samples::sampleTga(2, 24, 40, 30);

    void load(const std::vector<QarEntry>& entries, const std::string& name = "P.qar") {
        samples::writeQar(dir.file(name), entries);
        f.cbFiles->addItem(QString::fromStdString(name), QByteArray::fromStdString(dir.file(name)));
        f.cbFiles->setCurrentIndex(f.cbFiles->count() - 1);
        emit f.cbFiles->activated(f.cbFiles->count() - 1);
        ASSERT_TRUE(dialogs.errors.empty());
    }
    // GFX: A.KMG, NOTE.TXT, SUB (B.TGA, C.KMG damaged), D.TGA; OTHER: E.TGA.
    void loadFolders() {
        load({byteEntry("GFX\\A.KMG", samples::sampleKmgPalette(3)), byteEntry("GFX\\NOTE.TXT", {'x'}),
              byteEntry("GFX\\SUB\\B.TGA", samples::sampleTga(10, 32, 200, 100)),
              byteEntry("GFX\\SUB\\C.KMG", samples::kmg16(3000, 3000, {1, 2})),
              byteEntry("GFX\\D.TGA", tgaD), byteEntry("OTHER\\E.TGA", samples::sampleTga(1, 8, 8, 8))});
    }
    QModelIndex at(std::initializer_list<int> rows) {
        QModelIndex i;
        for (int r : rows) i = f.treeModel()->index(r, 0, i);
        return i;
    }
    NodeId node(std::initializer_list<int> rows) { return f.treeModel()->nodeOf(at(rows)); }
    PictureGrid* grid() { return f.imagePage()->grid(); }
    bool complete() { return testing::runUntil([&] { return grid() && grid()->complete(); }); }
    void activate() {
        f.show();
        QApplication::setActiveWindow(&f);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    }
};

TEST_F(Pictures, OneCellPerPictureBelowTheFolderInTreeOrderDamagedOnesMarked) {
    loadFolders();
    f.folderPictures()->show(node({0}));
    ASSERT_NE(grid(), nullptr);
    EXPECT_EQ(f.PageControl1->currentWidget(), f.tsImage);
    std::vector<std::string> names;
    for (const PictureItem& item : grid()->items()) names.push_back(item.name);
    EXPECT_EQ(names, (std::vector<std::string>{"A.KMG", "B.TGA", "C.KMG", "D.TGA"}));
    EXPECT_EQ(grid()->items()[1].node, node({0, 2, 0}));
    EXPECT_EQ(grid()->items()[1].kind, EntryKind::Targa);
    ASSERT_TRUE(complete());
    EXPECT_EQ(grid()->shown(), 3u);
    ASSERT_EQ(grid()->cell(2), PictureGrid::Cell::Failed);
    EXPECT_EQ(grid()->error(2).rfind("damaged picture: 3000 x 3000 pixels", 0), 0u) << grid()->error(2);
    EXPECT_EQ(grid()->thumbnail(1).size(), QSize(128, 64));
    EXPECT_EQ(grid()->thumbnail(3).size(), QSize(40, 30));
    EXPECT_TRUE(dialogs.errors.empty());
    EXPECT_TRUE(dialogs.infos.empty());
    EXPECT_FALSE(f.imagePage()->sbImage()->isVisibleTo(f.tsImage));
    // On black as the page: the damaged cell framed in red, a thumbnail centred in its box.
    f.show();
    const QImage shot = grid()->viewport()->grab().toImage();
    const QRect damaged = grid()->cellRect(2), shown = grid()->cellRect(3);
    EXPECT_EQ(shot.pixel(damaged.left(), damaged.top() + 64), qRgb(0, 0, 0));
    EXPECT_EQ(shot.pixel(damaged.left() + 2, damaged.top() + 2), qRgb(0xC0, 0x40, 0x40));
    EXPECT_EQ(shot.pixel(shown.left() + 2 + 64 - 20, shown.top() + 2 + 64 - 15 + 10),
              grid()->thumbnail(3).pixel(0, 10));

    // A click on a folder node still does nothing; a file node stands for its folder.
    f.tvFiles->setCurrentIndex(at({0, 2}));
    EXPECT_NE(grid(), nullptr);
    f.folderPictures()->show(node({1, 0}));
    ASSERT_NE(grid(), nullptr);
    ASSERT_EQ(grid()->items().size(), 1u);
    EXPECT_EQ(grid()->items()[0].name, "E.TGA");

    // The menu offers it on folders only.
    QMenu folderMenu, fileMenu;
    f.folderPictures()->addToMenu(folderMenu, node({0, 2}));
    f.folderPictures()->addToMenu(fileMenu, node({0, 0}));
    ASSERT_EQ(folderMenu.actions().size(), 1);
    EXPECT_EQ(folderMenu.actions()[0]->text(), "Show pictures");
    EXPECT_TRUE(fileMenu.actions().isEmpty());
}

TEST_F(Pictures, APickSelectsTheEntryAsAClickInTheTreeDoes) {
    loadFolders();
    activate();
    f.folderPictures()->show(node({0}));
    ASSERT_TRUE(complete());
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, grid()->cellRect(3).center());
    ASSERT_TRUE(testing::runUntil([&] { return grid() == nullptr; }));
    EXPECT_EQ(f.tvFiles->currentIndex(), at({0, 3}));
    EXPECT_EQ(f.StatusBar1->panelText(0), "File name: D.TGA");
    EXPECT_EQ(f.StatusBar1->panelText(3), "Type: Targa image file (24-bit)");
    EXPECT_TRUE(f.imagePage()->sbImage()->isVisible());
    DecoderState state;
    Bitmap24 expected;
    MemoryByteSource source(tgaD);
    decodeTarga(source, state, expected);
    EXPECT_TRUE(f.state.FirstView->picture().pixels() == expected.pixels());

    // Ctrl+G from the selected file: its folder's grid; picking the current entry shows it.
    QTest::keyClick(&f, Qt::Key_G, Qt::ControlModifier);
    ASSERT_NE(grid(), nullptr);
    EXPECT_EQ(grid()->items().size(), 4u);
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, grid()->cellRect(3).center());
    ASSERT_TRUE(testing::runUntil([&] { return grid() == nullptr; }));
    EXPECT_EQ(f.StatusBar1->panelText(0), "File name: D.TGA");

    // Selecting any entry in the tree leaves the grid too.
    f.folderPictures()->show(node({0}));
    f.tvFiles->setCurrentIndex(at({0, 1}));
    EXPECT_EQ(grid(), nullptr);
    EXPECT_EQ(f.PageControl1->currentWidget(), f.tsText);
}

TEST_F(Pictures, ThePagesKeysActWhileTheImagePageIsInFront) {
    loadFolders();
    activate();
    f.tvFiles->setCurrentIndex(at({0, 3}));  // D.TGA: the Image page in front
    f.tvFiles->setFocus();
    const ImagePage& page = *f.imagePage();
    struct Press {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        double zoom;
    };
    const Press presses[] = {
        {Qt::Key_Plus, Qt::ControlModifier, 2},   {Qt::Key_Equal, Qt::ControlModifier, 4},
        {Qt::Key_Minus, Qt::ControlModifier, 2},  {Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier, 4},
        {Qt::Key_Minus, Qt::ControlModifier | Qt::KeypadModifier, 2}, {Qt::Key_0, Qt::ControlModifier, 1},
    };
    for (const Press& p : presses) {
        QTest::keyClick(&f, p.key, p.mods);
        EXPECT_EQ(page.zoom().factor(), p.zoom) << p.key;
    }
    QTest::keyClick(&f, Qt::Key_9, Qt::ControlModifier);
    EXPECT_TRUE(page.zoom().fitting());
    QTest::keyClick(&f, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(page.checkerboard());
    QTest::keyClick(&f, Qt::Key_0, Qt::ControlModifier);

    // Another page in front: the keys do nothing, Ctrl+G brings the grid on the Image page.
    QTest::keyClick(&f, Qt::Key_1, Qt::ControlModifier);
    QTest::keyClick(&f, Qt::Key_Plus, Qt::ControlModifier);
    QTest::keyClick(&f, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(page.zoom().factor(), 1);
    EXPECT_TRUE(page.checkerboard());
    QTest::keyClick(&f, Qt::Key_G, Qt::ControlModifier);
    ASSERT_NE(grid(), nullptr);
    EXPECT_EQ(f.PageControl1->currentWidget(), f.tsImage);
    // Ctrl+T still takes the focus to the tree.
    f.cbFiles->setFocus();
    QTest::keyClick(&f, Qt::Key_T, Qt::ControlModifier);
    EXPECT_TRUE(f.tvFiles->hasFocus());
}

TEST_F(Pictures, TheGridReadsThroughItsCallbackAndALoadStopsItsWorkers) {
    std::vector<QarEntry> entries;
    for (int i = 0; i < 60; ++i) entries.push_back(byteEntry("GFX\\P" + std::to_string(i) + ".TGA", {}));
    load(entries);
    // Every entry is empty in the archive: the pictures come from the callback alone.
    // Shared with the workers, which may outlive this body (the window goes after it).
    auto calls = std::make_shared<std::atomic<int>>(0);
    auto picture = std::make_shared<const std::vector<uint8_t>>(samples::sampleTga(2, 24, 16, 16));
    f.folderPictures()->bytesFor = [=](const std::vector<PictureItem>&) -> PictureBytesFor {
        return [=](const PictureItem&) {
            ++*calls;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            PictureBytes bytes;
            bytes.bytes = *picture;
            return bytes;
        };
    };
    f.folderPictures()->show(node({0}));
    ASSERT_TRUE(testing::runUntil([&] { return grid()->shown() >= 2; }));
    EXPECT_EQ(grid()->thumbnail(0).size(), QSize(16, 16));
    load({byteEntry("X.TXT", {'x'})}, "Q.qar");
    EXPECT_EQ(grid(), nullptr);
    const int after = *calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(*calls, after);  // no worker outlived the archive it read
    EXPECT_LT(after, 60);

    // The window goes while a grid still works: its close waits for the pictures under way only.
    load(entries, "P2.qar");
    f.folderPictures()->show(node({0}));
}

TEST(ThumbnailPoolOrder, CellsInViewFirstThenTheRestInOrder) {
    std::mutex m;
    std::condition_variable cv;
    bool go = false;
    std::vector<size_t> order;
    ThumbnailPool pool(
        10,
        [&](size_t i) {
            std::unique_lock lock(m);
            order.push_back(i);
            if (i == 0) cv.wait(lock, [&] { return go; });
            if (i == 8) throw std::runtime_error("broken");
            return QImage(1, 1, QImage::Format_ARGB32_Premultiplied);
        },
        {}, 1);
    while (true) {
        std::lock_guard lock(m);
        if (!order.empty()) break;
    }
    pool.prefer(5, 7);
    {
        std::lock_guard lock(m);
        go = true;
    }
    cv.notify_all();
    std::vector<ThumbnailPool::Done> done;
    while (done.size() < 10) {
        for (auto& d : pool.take()) done.push_back(std::move(d));
        std::this_thread::yield();
    }
    EXPECT_EQ(order, (std::vector<size_t>{0, 5, 6, 1, 2, 3, 4, 7, 8, 9}));
    EXPECT_EQ(done[8].index, 8u);
    EXPECT_TRUE(done[8].image.isNull());
    EXPECT_EQ(done[8].error, "broken");
    EXPECT_EQ(pool.outstanding(), 0u);
}

}  // namespace
}  // namespace vorlr
