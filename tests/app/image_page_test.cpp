// The Image page: views made and freed by ShowKmgEntry/ResetImageViews, their places, the
// status text, failures half-way, and Targa entries in the first view.
#include <gtest/gtest.h>

#include <QImage>
#include <QPointer>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ImagePage.h"
#include "app/ImageView.h"
#include "app/PageContext.h"
#include "app/StatusBar.h"
#include "app/ViewerState.h"
#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

using namespace vorlr;
using vorlr::testing::TempDir;

namespace {

using vorlr::testing::RecordingDialogs;

std::array<uint8_t, 768> greyPalette() {
    std::array<uint8_t, 768> p{};
    for (int k = 0; k < 256; ++k) p[3 * k] = p[3 * k + 1] = p[3 * k + 2] = uint8_t(k);
    return p;
}

// n sub-images of the given widths and heights, each filled with index 1 + i.
std::vector<uint8_t> paletteKmg(const std::vector<std::pair<int, int>>& sizes) {
    std::vector<samples::KmgSubImage> subs;
    for (size_t i = 0; i < sizes.size(); ++i) {
        auto [w, h] = sizes[i];
        subs.push_back({int16_t(w), int16_t(h),
                        samples::kmgCompress(std::vector<int>(size_t(w) * h, int(1 + i)))});
    }
    return samples::kmgPalette(greyPalette(), subs);
}

class ImagePageTest : public ::testing::Test {
protected:
    TempDir dir;
    ViewerState state;
    QWidget window;
    QTabWidget* pageControl = new QTabWidget(&window);
    QWidget* tsText = new QWidget;
    QWidget* tsImage = new QWidget;
    QWidget* tsMedia = new QWidget;
    StatusBar* statusBar = new StatusBar(&window);
    std::unique_ptr<ImagePage> page;
    RecordingDialogs dialogs;
    int captures = 0;

    void SetUp() override {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(pageControl);
        layout->addWidget(statusBar);
        pageControl->addTab(tsText, "Text");
        pageControl->addTab(tsImage, "Image");
        pageControl->addTab(tsMedia, "Media");
        window.resize(800, 600);
        page = std::make_unique<ImagePage>(tsImage, PageContext{state, *statusBar, *pageControl});
        page->afterKmgDecoded = [this] { ++captures; };
        setDialogs(&dialogs);
    }
    void TearDown() override { setDialogs(nullptr); }

    // Places the entry after some unrelated bytes, positions the archive at it, and leaves the
    // status bar and page as selecting an entry does.
    void select(const std::vector<uint8_t>& entry) {
        std::vector<uint8_t> file(37 + entry.size() + 50, 0xCD);  // then the next entry's bytes
        std::fill_n(file.begin(), 37, 0xAB);
        std::copy(entry.begin(), entry.end(), file.begin() + 37);
        samples::writeFile(dir.file("a.qar"), file);
        state.archive.open(dir.file("a.qar"));
        state.ArchiveFile.seek(37);
        statusBar->setPanelText(3, "Type: not supported yet");
        pageControl->setCurrentWidget(tsText);
    }
    void selectCut(const std::vector<uint8_t>& entry, size_t keep) {
        samples::writeFile(dir.file("a.qar"), std::vector<uint8_t>(entry.begin(), entry.begin() + keep));
        state.archive.open(dir.file("a.qar"));
        statusBar->setPanelText(3, "Type: not supported yet");
        pageControl->setCurrentWidget(tsText);
    }
    ImageView* view(size_t i) const { return state.ImageViewList.at(i); }
};

TEST_F(ImagePageTest, SubImagesGetOwnViewsInTheFlowingLayout) {
    select(paletteKmg({{100, 20}, {100, 21}, {100, 23}, {100, 22}, {100, 24}}));
    page->ShowKmgEntry();
    ASSERT_EQ(state.ImageViewList.size(), 5u);
    EXPECT_EQ(view(0), state.FirstView);
    const int lefts[] = {10, 120, 230, 340, 10};
    for (size_t i = 0; i < 5; ++i) {
        ASSERT_NE(view(i), nullptr);
        EXPECT_EQ(view(i)->parentWidget(), page->content());
        EXPECT_EQ(view(i)->pos().x(), lefts[i]) << i;
        EXPECT_EQ(view(i)->size(), QSize(100, int(20 + (i == 2 ? 3 : i == 3 ? 2 : i == 4 ? 4 : i))));
        EXPECT_EQ(view(i)->picture().row(1)[0], 1 + i);  // its own sub-image's colour
    }
    EXPECT_EQ(view(3)->pos().y(), 10);
    EXPECT_EQ(view(4)->pos().y(), 10 + 23 + 10);  // under the tallest of the first row
    EXPECT_EQ(statusBar->panelText(3), "Type: Kestrom image file (8-bit)");
    EXPECT_EQ(pageControl->currentWidget(), tsImage);
    EXPECT_EQ(captures, 1);
    EXPECT_TRUE(window.updatesEnabled());
    // The scrollable area reaches the lowest view.
    EXPECT_GE(page->content()->height(), 43 + 24);
}

TEST_F(ImagePageTest, NextImageFreesTheExtraViewsOnly) {
    select(paletteKmg({{300, 40}, {200, 30}, {100, 10}}));
    page->ShowKmgEntry();
    ASSERT_EQ(state.ImageViewList.size(), 3u);
    EXPECT_EQ(view(1)->pos(), QPoint(10, 60));
    EXPECT_EQ(view(2)->pos(), QPoint(220, 60));
    QPointer<ImageView> first = view(0), second = view(1), third = view(2);

    select(samples::kmg16(3, 2, {0xF800, 0, 0, 0, 0, 0x001F}));
    page->ShowKmgEntry();
    EXPECT_TRUE(second.isNull());
    EXPECT_TRUE(third.isNull());
    ASSERT_FALSE(first.isNull());
    ASSERT_EQ(state.ImageViewList.size(), 1u);
    EXPECT_EQ(view(0), first.data());
    EXPECT_EQ(first->size(), QSize(3, 2));
    EXPECT_EQ(first->picture().row(0)[2], 248);
    EXPECT_EQ(statusBar->panelText(3), "Type: Kestrom image file (16-bit)");
    EXPECT_EQ(captures, 2);

    page->ResetImageViews();
    EXPECT_EQ(state.ImageViewList.size(), 1u);
    page.reset();  // the page takes every view with it
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(state.ImageViewList.empty());
}

TEST_F(ImagePageTest, ShortReadsEndTheViewerHalfWay) {
    const auto file = paletteKmg({{4, 4}, {5, 5}, {6, 6}});
    // Record 2 cut short: views 0 and 1 stay, element 2 stays empty, nothing else happens.
    selectCut(file, 832 + 16 * 2 + 5);
    EXPECT_THROW(page->ShowKmgEntry(), FileError);
    ASSERT_EQ(state.ImageViewList.size(), 3u);
    EXPECT_NE(view(1), nullptr);
    EXPECT_EQ(view(2), nullptr);
    EXPECT_EQ(view(1)->size(), QSize(5, 5));
    EXPECT_EQ(statusBar->panelText(3), "Type: not supported yet");
    EXPECT_EQ(captures, 0);
    EXPECT_EQ(pageControl->currentWidget(), tsImage);

    // A short header: the earlier views are freed and the first keeps its picture.
    const Bitmap24 before = view(0)->picture();
    QPointer<ImageView> second = view(1);
    selectCut(file, 30);
    EXPECT_THROW(page->ShowKmgEntry(), FileError);
    EXPECT_TRUE(second.isNull());
    ASSERT_EQ(state.ImageViewList.size(), 1u);
    EXPECT_EQ(view(0)->picture(), before);
    EXPECT_TRUE(window.updatesEnabled());
}

TEST_F(ImagePageTest, TargaInTheFirstViewAndUnsupportedDepthsChangeNothing) {
    select(paletteKmg({{4, 4}, {5, 5}}));
    page->ShowKmgEntry();
    ASSERT_EQ(state.ImageViewList.size(), 2u);

    // 16 bits: the message, and everything stays as it was.
    select(samples::tga({2, 2, 2, 16, 0, ""}, std::vector<uint8_t>(8, 1)));
    const Bitmap24 before = view(0)->picture();
    page->ShowTargaEntry();
    ASSERT_EQ(dialogs.infos.size(), 1u);
    EXPECT_EQ(dialogs.infos[0], "Unsupported TGA format: 16-bit");
    EXPECT_EQ(state.ImageViewList.size(), 2u);
    EXPECT_EQ(view(0)->picture(), before);
    EXPECT_EQ(pageControl->currentWidget(), tsText);
    EXPECT_EQ(statusBar->panelText(3), "Type: not supported yet");

    select(samples::tga({2, 2, 2, 24, 0, ""}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    page->ShowTargaEntry();
    ASSERT_EQ(state.ImageViewList.size(), 1u);
    EXPECT_EQ(view(0)->size(), QSize(2, 2));
    EXPECT_EQ(view(0)->picture().row(0)[0], 7);  // the top row is stored last
    EXPECT_EQ(statusBar->panelText(3), "Type: Targa image file (24-bit)");
    EXPECT_EQ(pageControl->currentWidget(), tsImage);
    EXPECT_EQ(captures, 1);  // only KMG images are captured
}

TEST_F(ImagePageTest, RendersTheViewsOnBlack) {
    select(samples::sampleKmgPalette(6));
    page->ShowKmgEntry();
    window.show();
    const QImage shot = page->sbImage()->grab().toImage();
    shot.save(QString::fromStdString(std::string(VORLR_BINARY_DIR) + "/image_page.png"));
    // Between the margins the page is black; a view shows its picture's pixels.
    EXPECT_EQ(shot.pixelColor(3, 3), QColor(Qt::black));
    // Every view, odd row lengths (150 x 3 bytes) included, shows its own picture.
    for (size_t i = 0; i < state.ImageViewList.size(); ++i) {
        ImageView* v = view(i);
        for (const QPoint in : {QPoint(v->width() / 2, v->height() / 2), QPoint(v->width() / 3, v->height() - 5)}) {
            const QPoint at = v->mapTo(page->sbImage(), in);
            if (!QRect(QPoint(0, 0), shot.size()).contains(at)) continue;
            const uint8_t* p = v->picture().row(in.y()) + 3 * in.x();
            EXPECT_EQ(shot.pixelColor(at), QColor(p[2], p[1], p[0])) << i;
        }
    }
}

}  // namespace
