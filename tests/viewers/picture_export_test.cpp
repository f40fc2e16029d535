// Pictures exported as PNG keep transparency as alpha (a palette KMG's transparent runs, a 32-bit
// Targa with 8 alpha bits) while their RGB stays exactly the BMP's; the window's decoding gets
// no alpha plane.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/ImageSamples.h"
#include "platform/png/PictureReader.h"
#include "viewers/KmgDecoder.h"
#include "viewers/PictureExport.h"
#include "viewers/TargaDecoder.h"

namespace vorlr {
namespace {

// Expected alpha per picture: empty for none, else one value a pixel, rows top-down.
using AlphaPlanes = std::vector<std::vector<uint8_t>>;

struct ExportCase {
    const char* label;
    std::vector<uint8_t> file;
    EntryKind kind;
    AlphaPlanes alpha;
};

// Palette sub-images: index or -1 (transparent). The first has a transparent run that crosses
// a row end; the second has none.
const std::vector<std::vector<int>> kSubs = {{0, 5, -1, -1, 7, -1}, {9, 9, 9, 9}, {-1, 200, 201}};
const std::pair<int16_t, int16_t> kSubSizes[] = {{3, 2}, {2, 2}, {3, 1}};

std::vector<uint8_t> paletteKmg() {
    std::vector<samples::KmgSubImage> subs;
    for (size_t i = 0; i < kSubs.size(); ++i)
        subs.push_back({kSubSizes[i].first, kSubSizes[i].second, samples::kmgCompress(kSubs[i])});
    return samples::kmgPalette(samples::samplePaletteRgb(), subs);
}

// Stored 32-bit pixels of a 3 x 2 Targa, bottom row first: blue, green, red, alpha.
const std::vector<uint8_t> kBgra = {10, 20, 30, 0,   40, 50, 60, 128, 70, 80, 90, 255,
                                    1,  2,  3,  17,  4,  5,  6,  0,   7,  8,  9,  200};
// The same alpha values top row first (the file's second row is the picture's first).
const std::vector<uint8_t> kBgraAlphaTopDown = {17, 0, 200, 0, 128, 255};

std::vector<uint8_t> tga32(uint8_t type, uint8_t descriptor) {
    const std::vector<uint8_t> stored = type == 10 ? samples::tgaRunLength(kBgra, 4) : kBgra;
    std::vector<uint8_t> file = samples::tga({type, 3, 2, 32, descriptor, "id"}, stored);
    file[17] = descriptor;  // as given: the generator would add the 8 alpha bits
    return file;
}

std::vector<ExportCase> cases() {
    const samples::SamplePicture scene = samples::scenePicture(5, 4);
    const auto sceneTga = [&](uint8_t type, uint8_t bits, uint8_t descriptor) {
        std::vector<uint8_t> px = samples::tgaPixelsOf(scene, bits / 8);
        if (type == 10) px = samples::tgaRunLength(px, bits / 8);
        const auto palette = samples::samplePaletteRgb();
        return samples::tga({type, 5, 4, bits, descriptor, ""}, px, type == 1 ? &palette : nullptr);
    };
    return {
        {"palette KMG", paletteKmg(), EntryKind::Kmg,
         {{255, 255, 0, 0, 255, 0}, {}, {0, 255, 255}}},
        {"16-bit KMG", samples::kmg16(2, 2, {0xF800, 0x07E0, 0x001F, 0xFFFF}), EntryKind::Kmg, {{}}},
        {"tga type 2, 32-bit, 8 alpha bits", tga32(2, 8), EntryKind::Targa, {kBgraAlphaTopDown}},
        {"tga type 10, 32-bit, 8 alpha bits", tga32(10, 8), EntryKind::Targa, {kBgraAlphaTopDown}},
        {"tga 32-bit, 8 alpha bits, top-left flag", tga32(2, 0x28), EntryKind::Targa,
         {kBgraAlphaTopDown}},
        {"tga 32-bit, no alpha bits", tga32(2, 0), EntryKind::Targa, {{}}},
        {"tga 32-bit, 4 alpha bits", tga32(2, 4), EntryKind::Targa, {{}}},
        {"tga 32-bit, 9 alpha bits", tga32(2, 9), EntryKind::Targa, {{}}},
        {"tga type 2, 24-bit", sceneTga(2, 24, 8), EntryKind::Targa, {{}}},
        {"tga type 10, 24-bit", sceneTga(10, 24, 0), EntryKind::Targa, {{}}},
        {"tga type 1, 8-bit", sceneTga(1, 8, 8), EntryKind::Targa, {{}}},
        {"tga type 3, 8-bit", sceneTga(3, 8, 0), EntryKind::Targa, {{}}},
    };
}

TEST(PictureExport, PngKeepsTransparencyAndTheBmpsColours) {
    for (const ExportCase& c : cases()) {
        SCOPED_TRACE(c.label);
        MemoryByteSource source(c.file);
        const EntryPictures decoded = DecodeEntryPictures(source, c.kind);
        ASSERT_EQ(decoded.pictures.size(), c.alpha.size());
        for (size_t i = 0; i < decoded.pictures.size(); ++i) {
            SCOPED_TRACE("picture " + std::to_string(i));
            const Bitmap24 png = ReadPicture(EncodePicture(decoded.pictures[i], PictureFormat::Png),
                                             "out.png");
            const Bitmap24 bmp = ReadPicture(EncodePicture(decoded.pictures[i], PictureFormat::Bmp),
                                             "out.bmp");
            ASSERT_GT(png.width(), 1);
            EXPECT_EQ(png.pixels(), bmp.pixels());
            EXPECT_EQ(png.hasAlpha(), !c.alpha[i].empty());
            if (png.hasAlpha()) {
                EXPECT_EQ(std::vector<uint8_t>(png.alpha().begin(), png.alpha().end()), c.alpha[i]);
                // Transparent pixels are black, as in the BMP.
                for (size_t p = 0; p < c.alpha[i].size(); ++p) {
                    if (c.alpha[i][p] != 0 || c.kind != EntryKind::Kmg) continue;
                    EXPECT_EQ(png.pixels()[3 * p] | png.pixels()[3 * p + 1] | png.pixels()[3 * p + 2], 0);
                }
            }
        }
    }
}

// A state without keepAlpha (qar's single pictures, the benchmarks'): the same entries decode
// without a plane.
class ListTarget final : public KmgTarget {
public:
    std::vector<Bitmap24> pictures{1};
    Bitmap24& firstPicture() override { return pictures[0]; }
    void setSubImageCount(int n) override { pictures.resize(size_t(n)); }
    Bitmap24& beginSubImage(int i, KmgLayout::Position) override { return pictures[size_t(i)]; }
    void pictureDone(int) override {}
};

TEST(PictureExport, DecodingWithoutKeepAlphaHasNoAlphaPlane) {
    DecoderState state;
    Bitmap24 picture;
    for (const auto& file : {tga32(2, 8), tga32(10, 8)}) {
        MemoryByteSource source(file);
        decodeTarga(source, state, picture);
        EXPECT_EQ(picture.width(), 3);
        EXPECT_FALSE(picture.hasAlpha());
    }
    const std::vector<uint8_t> kmg = paletteKmg();
    MemoryByteSource source(kmg);
    ListTarget target;
    decodeKmg(source, state, target);
    ASSERT_EQ(target.pictures.size(), 3u);
    for (const Bitmap24& p : target.pictures) EXPECT_FALSE(p.hasAlpha());

    // A picture reused for an entry without transparency loses the plane an earlier one had.
    state.keepAlpha = true;
    const std::vector<uint8_t> alphaFile = tga32(2, 8);
    MemoryByteSource withAlpha(alphaFile);
    decodeTarga(withAlpha, state, picture);
    EXPECT_TRUE(picture.hasAlpha());
    const std::vector<uint8_t> plain = tga32(2, 0);
    MemoryByteSource without(plain);
    decodeTarga(without, state, picture);
    EXPECT_FALSE(picture.hasAlpha());
    // Nor an index plane a palette KMG left (the window's readout would show its indexes).
    state.keepIndexes = true;
    picture.setHasIndexes(true);
    MemoryByteSource again(plain);
    decodeTarga(again, state, picture);
    EXPECT_FALSE(picture.hasIndexes());
}

}  // namespace
}  // namespace vorlr
