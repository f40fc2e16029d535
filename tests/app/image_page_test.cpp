// The Image page: views made and freed by ShowKmgEntry/ResetImageViews, their places, the
// status text, failures half-way, and Targa entries in the first view; zoom, Fit, the
// checkerboard and the pixel readout, and the page exactly as before while they are off.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QWheelEvent>
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
#include "app/PixelReadout.h"
#include "app/StatusBar.h"
#include "app/ViewerState.h"
#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "platform/gui/Dialogs.h"
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

// A 4 x 2 palette sub-image (indexes 100, 200, two transparent; one transparent, 50, 60, 70)
// beside a 3 x 1 one (indexes 10, 20, 30).
std::vector<uint8_t> transparentKmg() {
    return samples::kmgPalette(greyPalette(), {{4, 2, {2, 100, 200, 131, 3, 50, 60, 70}},
                                               {3, 1, {3, 10, 20, 30}}});
}
// A 32-bit Targa with 8 alpha bits, 3 x 1: alpha 127, 128 and 0.
std::vector<uint8_t> alphaTga() {
    return samples::tga({2, 3, 1, 32, 8, ""}, {1, 2, 3, 127, 4, 5, 6, 128, 7, 8, 9, 0});
}

QRgb colourAt(const Bitmap24& b, int x, int y) {
    const uint8_t* p = b.row(y) + 3 * x;
    return qRgb(p[2], p[1], p[0]);
}

class ZoomedPage : public ImagePageTest {
protected:
    void SetUp() override {
        ImagePageTest::SetUp();
        window.show();
    }
    QImage grabViewport() { return page->sbImage()->viewport()->grab().toImage(); }
    std::pair<int, int> scrollRanges() {
        return {page->sbImage()->horizontalScrollBar()->maximum(), page->sbImage()->verticalScrollBar()->maximum()};
    }
    void hover(ImageView* v, QPoint at) {
        QMouseEvent e(QEvent::MouseMove, QPointF(at), QPointF(v->mapToGlobal(at)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(v, &e);
    }
    std::string readout() {
        QLabel* l = page->readout().label();
        return l->isVisible() ? l->text().toStdString() : "(hidden)";
    }
};

TEST_F(ZoomedPage, WithEveryOptionOffThePageIsThePicturesOneToOne) {
    select(samples::sampleKmgPalette(6));
    page->ShowKmgEntry();
    QCoreApplication::processEvents();
    const QImage before = grabViewport();
    const auto ranges = scrollRanges();
    const QSize content = page->content()->size();
    // Black, with every view's picture at its place, pixel for pixel.
    QImage expected(before.size(), QImage::Format_RGB32);
    expected.fill(Qt::black);
    for (ImageView* v : state.ImageViewList)
        for (int y = 0; y < v->picture().height(); ++y)
            for (int x = 0; x < v->picture().width(); ++x)
                if (expected.rect().contains(v->pos() + QPoint(x, y)))
                    expected.setPixel(v->pos() + QPoint(x, y), colourAt(v->picture(), x, y));
    EXPECT_TRUE(before.convertToFormat(QImage::Format_RGB32) == expected);
    EXPECT_EQ(readout(), "(hidden)");

    // Zoomed, checkered and back: the same pixels, sizes and scroll ranges as before.
    page->zoomIn();
    page->toggleCheckerboard();
    page->zoomFit();
    page->zoomReset();
    page->toggleCheckerboard();
    QCoreApplication::processEvents();
    EXPECT_TRUE(grabViewport() == before);
    EXPECT_EQ(scrollRanges(), ranges);
    EXPECT_EQ(page->content()->size(), content);
}

TEST_F(ZoomedPage, StepsEnlargeEveryPixelToASharpSquareAndKeepTheLayout) {
    select(transparentKmg());
    page->ShowKmgEntry();
    const QSize layout = page->content()->size();
    const std::vector<double> in = {2, 4, 8, 16, 16}, out = {8, 4, 2, 1, 0.5, 0.25, 0.25};
    for (double z : in) {
        page->zoomIn();
        EXPECT_EQ(page->zoom().factor(), z);
    }
    for (double z : out) {
        page->zoomOut();
        EXPECT_EQ(page->zoom().factor(), z);
    }
    page->zoomReset();
    page->zoomIn();
    page->zoomIn();
    ASSERT_EQ(page->zoom().factor(), 4);
    // Side by side as at 100 %, every place and size four times as large.
    EXPECT_EQ(page->content()->size(), layout * 4);
    for (ImageView* v : state.ImageViewList) {
        EXPECT_EQ(v->pos(), v->place() * 4);
        ASSERT_EQ(v->size(), QSize(v->picture().width(), v->picture().height()) * 4);
        const QImage shot = v->grab().toImage();
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                ASSERT_EQ(shot.pixel(x, y), colourAt(v->picture(), x / 4, y / 4)) << x << "," << y;
    }
    // The views' pictures stay the decoded ones (Save and the background read them).
    EXPECT_EQ(view(0)->picture().width(), 4);
}

TEST_F(ZoomedPage, FitShowsTheWholeLayoutAndStaysForTheNextPicture) {
    const QSize viewport = page->sbImage()->maximumViewportSize();
    auto fits = [&] {
        QCoreApplication::processEvents();
        const QSize c = page->content()->size();
        return c.width() <= viewport.width() && c.height() <= viewport.height() &&
               (c.width() >= viewport.width() - 1 || c.height() >= viewport.height() - 1) &&
               scrollRanges() == std::pair(0, 0);
    };
    select(paletteKmg({{300, 400}, {250, 300}, {400, 500}}));  // larger than the page: shrunk
    page->ShowKmgEntry();
    page->zoomFit();
    EXPECT_LT(page->zoom().factor(), 1);
    EXPECT_TRUE(fits()) << page->content()->width() << "x" << page->content()->height();

    select(samples::tga({2, 16, 12, 24, 0, ""}, std::vector<uint8_t>(16 * 12 * 3, 7)));  // enlarged
    page->ShowTargaEntry();
    EXPECT_TRUE(page->zoom().fitting());
    EXPECT_GT(page->zoom().factor(), 8);
    EXPECT_TRUE(fits());
    // From Fit, a step goes to the next step beyond the fit factor.
    page->zoomIn();
    EXPECT_EQ(page->zoom().factor(), 16);
    EXPECT_FALSE(page->zoom().fitting());
}

TEST_F(ZoomedPage, CtrlWheelZoomsAboutThePointer) {
    select(paletteKmg({{200, 300}, {200, 300}}));
    page->ShowKmgEntry();
    QWidget* viewport = page->sbImage()->viewport();
    const QPoint at(300, 100);
    auto wheel = [&](int delta, Qt::KeyboardModifiers mods) {
        QWheelEvent e(QPointF(at), QPointF(viewport->mapToGlobal(at)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, mods, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &e);
    };
    wheel(120, Qt::ControlModifier);
    wheel(240, Qt::ControlModifier);
    ASSERT_EQ(page->zoom().factor(), 8);
    QCoreApplication::processEvents();
    // Layout point (300, 100) stays under the pointer.
    EXPECT_EQ(page->sbImage()->horizontalScrollBar()->value(), 300 * 8 - 300);
    EXPECT_EQ(page->sbImage()->verticalScrollBar()->value(), 100 * 8 - 100);
    wheel(-120, Qt::ControlModifier);
    EXPECT_EQ(page->zoom().factor(), 4);
    wheel(-120, Qt::NoModifier);  // a plain turn scrolls and leaves the zoom
    EXPECT_EQ(page->zoom().factor(), 4);

    // Over a picture the view gets the turn first: the same point stays under the pointer.
    page->zoomReset();
    page->sbImage()->horizontalScrollBar()->setValue(0);
    page->sbImage()->verticalScrollBar()->setValue(0);
    const QPoint local = at - view(1)->pos();  // (300, 100) is on the second view
    ASSERT_TRUE(view(1)->rect().contains(local));
    hover(view(1), local + QPoint(1, 0));  // the pointer moves: the next zoom is about it
    hover(view(1), local);
    QWheelEvent e(QPointF(local), QPointF(view(1)->mapToGlobal(local)), QPoint(), QPoint(0, 120),
                  Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view(1), &e);
    ASSERT_EQ(page->zoom().factor(), 2);
    EXPECT_EQ(page->sbImage()->horizontalScrollBar()->value(), 300 * 2 - 300);
    EXPECT_EQ(page->sbImage()->verticalScrollBar()->value(), 100 * 2 - 100);

    // A page too short to scroll at 200 %: two steps to 400 % keep the point all the same.
    select(paletteKmg({{200, 200}, {200, 200}}));
    page->ShowKmgEntry();
    page->zoomReset();
    hover(view(1), local + QPoint(1, 0));
    hover(view(1), local);
    wheel(240, Qt::ControlModifier);
    ASSERT_EQ(page->zoom().factor(), 4);
    EXPECT_EQ(page->sbImage()->horizontalScrollBar()->value(), 300 * 4 - 300);
    EXPECT_EQ(page->sbImage()->verticalScrollBar()->value(), 100 * 4 - 100);
}

TEST_F(ZoomedPage, CheckerboardOnlyBehindTransparentPixelsAndOnlyWhenOn) {
    struct Case {
        std::vector<uint8_t> file;
        bool kmg;
        std::vector<bool> transparent;  // row by row, first view
    };
    const Case cases[] = {
        {transparentKmg(), true, {false, false, true, true, true, false, false, false}},
        {alphaTga(), false, {true, false, true}},
    };
    for (const Case& c : cases) {
        select(c.file);
        c.kmg ? page->ShowKmgEntry() : page->ShowTargaEntry();
        const Bitmap24& p = view(0)->picture();
        for (const double zoom : {1.0, 4.0}) {
            page->zoomReset();
            if (zoom == 4) page->zoomIn(), page->zoomIn();
            for (const bool on : {false, true}) {
                if (on != page->checkerboard()) page->toggleCheckerboard();
                const QImage shot = view(0)->grab().toImage();
                for (int i = 0; i < p.width() * p.height(); ++i) {
                    const int x = i % p.width(), y = i / p.width();
                    const QPoint at(int(x * zoom + zoom / 2), int(y * zoom + zoom / 2));
                    const QRgb want = on && c.transparent[size_t(i)] ? ImageView::checkerColour(at.x(), at.y())
                                                                     : colourAt(p, x, y);
                    EXPECT_EQ(shot.pixel(at), want) << "pixel " << i << " zoom " << zoom << " on " << on;
                }
            }
        }
        if (page->checkerboard()) page->toggleCheckerboard();
    }
    // The second sub-image has no transparency: checkered or not, its pixels show.
    select(transparentKmg());
    page->ShowKmgEntry();
    page->toggleCheckerboard();
    EXPECT_EQ(view(1)->grab().toImage().pixel(0, 0), colourAt(view(1)->picture(), 0, 0));
}

TEST_F(ZoomedPage, ReadoutNamesThePixelUnderThePointer) {
    select(transparentKmg());
    page->ShowKmgEntry();
    EXPECT_EQ(readout(), "(hidden)");
    hover(view(0), {1, 0});
    EXPECT_EQ(readout(), "Sub-image 0: x 1, y 0, #C8C8C8, index 200");
    hover(view(0), {2, 1});
    EXPECT_EQ(readout(), "Sub-image 0: x 2, y 1, #3C3C3C, index 60");
    hover(view(0), {3, 0});
    EXPECT_EQ(readout(), "Sub-image 0: x 3, y 0, #000000, transparent");
    hover(view(1), {2, 0});
    EXPECT_EQ(readout(), "Sub-image 1: x 2, y 0, #1E1E1E, index 30");
    // At 400 % a point of the view names the picture pixel it shows.
    page->zoomIn();
    page->zoomIn();
    hover(view(0), {7, 5});
    EXPECT_EQ(readout(), "Sub-image 0: x 1, y 1, #323232, index 50");
    // Onto the black margin, then out of the page.
    QWidget* viewport = page->sbImage()->viewport();
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view(0), &leave);
    QMouseEvent margin(QEvent::MouseMove, QPointF(2, 2), QPointF(viewport->mapToGlobal(QPoint(2, 2))),
                       Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &margin);
    EXPECT_EQ(readout(), "(hidden)");
    hover(view(0), {7, 5});
    EXPECT_NE(readout(), "(hidden)");
    QApplication::sendEvent(viewport, &leave);
    EXPECT_EQ(readout(), "(hidden)");
    page->zoomReset();

    select(alphaTga());
    page->ShowTargaEntry();
    hover(view(0), {0, 0});
    EXPECT_EQ(readout(), "Sub-image 0: x 0, y 0, #030201, alpha 127");
    hover(view(0), {2, 0});
    EXPECT_EQ(readout(), "Sub-image 0: x 2, y 0, #090807, alpha 0");
    select(samples::kmg16(2, 1, {0xF800, 0x07E0}));
    page->ShowKmgEntry();
    EXPECT_EQ(readout(), "(hidden)");  // a new picture hides it until the pointer moves
    hover(view(0), {1, 0});
    EXPECT_EQ(readout(), "Sub-image 0: x 1, y 0, #00FC00");
    EXPECT_EQ(statusBar->panelText(3), "Type: Kestrom image file (16-bit)");
}

}  // namespace
