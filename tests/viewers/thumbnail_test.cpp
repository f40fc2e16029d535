// Thumbnails for the picture grid: small pictures kept pixel for pixel with their transparency,
// large ones averaged into 128 pixels on the longer side, sub-images in their layout, and
// damaged pictures refused by the export's budget before anything is decoded.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "lib/ImageSamples.h"
#include "platform/Errors.h"
#include "viewers/TargaDecoder.h"
#include "viewers/Thumbnail.h"

namespace vorlr {
namespace {

std::array<uint8_t, 768> greyPalette() {
    std::array<uint8_t, 768> p{};
    for (int k = 0; k < 256; ++k) p[3 * k] = p[3 * k + 1] = p[3 * k + 2] = uint8_t(k);
    return p;
}

Bitmap24 thumbnailOf(const std::vector<uint8_t>& file, EntryKind kind) {
    MemoryByteSource source(file);
    return MakeThumbnail(source, static_cast<int64_t>(file.size()), kind);
}

int blue(const Bitmap24& b, int x, int y) { return b.row(y)[3 * x]; }

TEST(Thumbnail, SmallPicturesAsTheyAreWithTheirTransparency) {
    // 4 x 1: index 10, 20, a transparent pixel, index 40.
    const Bitmap24 t = thumbnailOf(samples::kmgPalette(greyPalette(), {{4, 1, {2, 10, 20, 129, 1, 40}}}),
                                   EntryKind::Kmg);
    ASSERT_EQ(t.width(), 4);
    ASSERT_EQ(t.height(), 1);
    ASSERT_TRUE(t.hasAlpha());
    const int blues[] = {10, 20, 0, 40}, alphas[] = {255, 255, 0, 255};
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(blue(t, x, 0), blues[x]) << x;
        EXPECT_EQ(t.alphaRow(0)[x], alphas[x]) << x;
    }
    // An opaque picture has no plane.
    EXPECT_FALSE(thumbnailOf(samples::sampleTga(2, 24, 20, 10), EntryKind::Targa).hasAlpha());
}

TEST(Thumbnail, LargePicturesAreAveragedIntoTheSquareKeepingTheirShape) {
    // 512 x 256 grey Targa: the left half 0, the right half 200, so each thumbnail pixel is the
    // average of a 4 x 4 block of one half; one column of 100 in the left half's last block.
    std::vector<uint8_t> grey(size_t(512) * 256, 0);
    for (int y = 0; y < 256; ++y)
        for (int x = 256; x < 512; ++x) grey[size_t(y) * 512 + x] = 200;
    for (int y = 0; y < 256; ++y) grey[size_t(y) * 512 + 255] = 100;
    const Bitmap24 t = thumbnailOf(samples::tga({3, 512, 256, 8, 0, ""}, grey), EntryKind::Targa);
    ASSERT_EQ(t.width(), 128);
    ASSERT_EQ(t.height(), 64);
    EXPECT_FALSE(t.hasAlpha());
    EXPECT_EQ(blue(t, 0, 0), 0);
    EXPECT_EQ(blue(t, 63, 10), 25);  // three of 0, one of 100
    EXPECT_EQ(blue(t, 64, 63), 200);
}

TEST(Thumbnail, SubImagesStandInTheirLayoutWithTransparentGaps) {
    // 300 and 200 wide: the second starts a row below the first, at the same left. Shrunk by
    // 128 / 300, the gap between them and the area right of the second are transparent.
    auto sub = [](int w, int h, int index) {
        return samples::KmgSubImage{int16_t(w), int16_t(h), samples::kmgCompress(std::vector<int>(size_t(w) * h, index))};
    };
    const Bitmap24 t = thumbnailOf(samples::kmgPalette(greyPalette(), {sub(300, 100, 50), sub(200, 100, 150)}),
                                   EntryKind::Kmg);
    ASSERT_EQ(t.width(), 128);
    ASSERT_EQ(t.height(), 89);  // 210 x 128 / 300
    ASSERT_TRUE(t.hasAlpha());
    EXPECT_EQ(blue(t, 64, 20), 50);
    EXPECT_EQ(t.alphaRow(20)[64], 255);
    EXPECT_EQ(t.alphaRow(44)[64], 0);  // the 10-pixel gap
    EXPECT_EQ(blue(t, 40, 70), 150);
    EXPECT_EQ(t.alphaRow(70)[120], 0);  // right of the narrower second sub-image
}

TEST(Thumbnail, DamagedPicturesAreRefusedAsExportRefusesThem) {
    // A header claiming 4000 x 4000 pixels in a few bytes costs nothing: the budget refuses it.
    const auto big = samples::tga({2, 4000, 4000, 24, 0, ""}, std::vector<uint8_t>(300, 1));
    try {
        thumbnailOf(big, EntryKind::Targa);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("damaged picture: 4000 x 4000 pixels need", 0), 0u) << e.what();
    }
    EXPECT_THROW(thumbnailOf(samples::tga({2, 2, 2, 16, 0, ""}, std::vector<uint8_t>(8, 1)), EntryKind::Targa),
                 UnsupportedTargaFormat);
    EXPECT_THROW(thumbnailOf({1, 2, 3}, EntryKind::Kmg), FileError);
}

}  // namespace
}  // namespace vorlr
