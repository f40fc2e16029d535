// Bitmap24: resizing, rectangle copies, the BMP layout and round trips through BMP files.
#include <gtest/gtest.h>

#include <QImage>

#include "lib/QarBuilder.h"
#include "platform/Bitmap24.h"
#include "platform/gui/BitmapQt.h"
#include "platform/Errors.h"
#include "support/TempDir.h"

using namespace vorlr;
using vorlr::testing::TempDir;

namespace {

void setPixel(Bitmap24& b, int x, int y, uint8_t blue, uint8_t green, uint8_t red) {
    uint8_t* p = b.row(y) + x * 3;
    p[0] = blue;
    p[1] = green;
    p[2] = red;
}

std::array<uint8_t, 3> pixel(const Bitmap24& b, int x, int y) {
    const uint8_t* p = b.row(y) + x * 3;
    return {p[0], p[1], p[2]};
}

constexpr std::array<uint8_t, 3> kWhite{255, 255, 255};

TEST(Bitmap24Resize, KeepsTopLeftAndFillsWhite) {
    Bitmap24 b(1, 1);
    setPixel(b, 0, 0, 0, 0, 0);
    b.setSize(3, 2);
    EXPECT_EQ(pixel(b, 0, 0), (std::array<uint8_t, 3>{0, 0, 0}));
    EXPECT_EQ(pixel(b, 2, 0), kWhite);
    EXPECT_EQ(pixel(b, 0, 1), kWhite);
    setPixel(b, 1, 1, 1, 2, 3);
    b.setSize(2, 2);  // shrink then grow again: cut pixels come back white
    EXPECT_EQ(pixel(b, 1, 1), (std::array<uint8_t, 3>{1, 2, 3}));
    b.setSize(1, 1);
    b.setSize(2, 2);
    EXPECT_EQ(pixel(b, 1, 1), kWhite);
}

TEST(Bitmap24Resize, NegativeSizesAreEmptyAndHugeOnesRefused) {
    Bitmap24 b(4, 4);
    b.setSize(-3, 5);
    EXPECT_EQ(b.width(), 0);
    EXPECT_TRUE(b.empty());
    EXPECT_THROW(b.setSize(32767, 32767), Error);
    EXPECT_EQ(b.width(), 0);  // unchanged after the refusal
}

TEST(Bitmap24Copy, TileCopiedOntoCellsOfTheSameBitmap) {
    Bitmap24 b(6, 4);
    setPixel(b, 0, 0, 10, 20, 30);
    setPixel(b, 1, 1, 40, 50, 60);
    b.copyRect(Rect{2, 0, 4, 2}, Rect{0, 0, 2, 2});
    b.copyRect(Rect{4, 2, 6, 4}, Rect{0, 0, 2, 2});  // touches the last column and row
    b.copyRect(Rect{5, 3, 7, 5}, Rect{0, 0, 2, 2});  // clipped at the edge
    EXPECT_EQ(pixel(b, 2, 0), (std::array<uint8_t, 3>{10, 20, 30}));
    EXPECT_EQ(pixel(b, 3, 1), (std::array<uint8_t, 3>{40, 50, 60}));
    EXPECT_EQ(pixel(b, 5, 3), (std::array<uint8_t, 3>{10, 20, 30}));
    EXPECT_EQ(pixel(b, 4, 3), kWhite);
}

TEST(BmpWriter, ByteForByteLayout) {
    Bitmap24 b(2, 2);
    setPixel(b, 0, 0, 1, 2, 3);    // top row
    setPixel(b, 1, 0, 4, 5, 6);
    setPixel(b, 0, 1, 7, 8, 9);    // bottom row, written first
    setPixel(b, 1, 1, 10, 11, 12);
    const std::vector<uint8_t> expected = {
        'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,                   // file header
        40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0,   // info header ...
        16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    // image size, zeros
        7, 8, 9, 10, 11, 12, 0, 0,                                        // bottom row + pad
        1, 2, 3, 4, 5, 6, 0, 0};                                          // top row + pad
    EXPECT_EQ(b.toBmp(), expected);
}

TEST(BmpWriter, RowPaddingForEveryWidthMod4) {
    for (int w = 1; w <= 5; ++w) {
        Bitmap24 b(w, 3);
        const auto bmp = b.toBmp();
        const size_t rowBytes = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
        EXPECT_EQ(bmp.size(), 54 + rowBytes * 3) << w;
    }
}

TEST(BmpFiles, RoundTripThroughFileAndQImage) {
    TempDir dir;
    Bitmap24 b(5, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) setPixel(b, x, y, uint8_t(x * 40), uint8_t(y * 70), uint8_t(x + y));
    b.saveToFile(dir.file("p.bmp"));
    EXPECT_EQ(samples::readFile(dir.file("p.bmp")), b.toBmp());
    EXPECT_EQ(loadBitmapFile(dir.file("p.bmp")), b);
    EXPECT_EQ(bitmapFromQImage(bitmapToQImage(b)), b);
}

TEST(BmpFiles, LoadsOtherBmpVariantsQtReads) {
    TempDir dir;
    QImage img(3, 2, QImage::Format_Indexed8);
    img.setColorTable({qRgb(255, 0, 0), qRgb(0, 0, 255)});
    img.fill(1);
    img.setPixel(0, 0, 0);
    ASSERT_TRUE(img.save(QString::fromStdString(dir.file("pal.bmp")), "BMP"));
    const Bitmap24 b = loadBitmapFile(dir.file("pal.bmp"));
    ASSERT_EQ(b.width(), 3);
    EXPECT_EQ(pixel(b, 0, 0), (std::array<uint8_t, 3>{0, 0, 255}));
    EXPECT_EQ(pixel(b, 1, 0), (std::array<uint8_t, 3>{255, 0, 0}));
}

TEST(BmpFiles, NotABitmapAndWriteFailures) {
    TempDir dir;
    samples::writeFile(dir.file("bad.bmp"), samples::bytesOf("BM this is not a bitmap"));
    samples::writeFile(dir.file("png.bmp"), samples::bytesOf("\x89PNG\r\n"));
    for (const char* name : {"bad.bmp", "png.bmp"}) {
        try {
            loadBitmapFile(dir.file(name));
            ADD_FAILURE() << name;
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), "Bitmap image is not valid");
        }
    }
    EXPECT_THROW(loadBitmapFile(dir.file("missing.bmp")), FileError);
    try {
        Bitmap24(1, 1).saveToFile(dir.file("no/such/folder.bmp"));
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot create file", 0), 0u) << e.what();
    }
}

}  // namespace
