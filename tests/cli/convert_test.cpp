// qar convert, run as the real tool: BMP bytes as Save writes them, PNG pixels, --all, a fresh
// palette, and the failures.

#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>

#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "platform/Bitmap24.h"
#include "platform/gui/BitmapQt.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

using namespace vorlr;
using vorlr::samples::QarEntry;
using vorlr::testing::TempDir;

namespace {

using Result = vorlr::testing::QarResult;

// Sub-image pixels: index or -1 (transparent).
const std::vector<std::vector<int>> kSub = {
    {0, 5, -1, 7, 7, -1},   // 3 x 2; index 0 must come out black
    {9, 9, 9, 9},           // 2 x 2
    {-1, 200, 201},         // 3 x 1
};
const std::pair<int, int> kSubSize[] = {{3, 2}, {2, 2}, {3, 1}};

std::array<uint8_t, 768> rampPalette() {
    std::array<uint8_t, 768> p{};
    for (int k = 0; k < 256; ++k) p[3 * k] = uint8_t(k), p[3 * k + 1] = uint8_t(k / 2), p[3 * k + 2] = 100;
    p[0] = p[1] = p[2] = 77;  // entry 0 from the file is never used
    return p;
}

Bitmap24 expectedSub(size_t i) {
    auto [w, h] = kSubSize[i];
    Bitmap24 b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v = kSub[i][size_t(y) * w + x];
            uint8_t* p = b.row(y) + 3 * x;
            p[0] = v <= 0 ? 0 : 100, p[1] = v <= 0 ? 0 : uint8_t(v / 2), p[2] = v <= 0 ? 0 : uint8_t(v);
        }
    return b;
}

class ConvertCli : public ::testing::Test {
protected:
    TempDir dir;
    std::string archive = dir.file("a.qar");

    void SetUp() override {
        std::vector<samples::KmgSubImage> subs;
        for (size_t i = 0; i < kSub.size(); ++i)
            subs.push_back({int16_t(kSubSize[i].first), int16_t(kSubSize[i].second),
                            samples::kmgCompress(kSub[i])});
        const auto icons = samples::kmgPalette(rampPalette(), subs);
        std::vector<QarEntry> entries{
            {"README.TXT", samples::bytesOf("hello"), {}, {}, false},
            {"GFX\\ICONS.KMG", icons, {}, {}, false},
            {"GFX\\SKY.KMG", samples::kmg16(2, 1, {0xF800, 0x07E0}), {}, {}, false},
            {"GFX\\LOGO.TGA", samples::tga({2, 1, 2, 24, 0, ""}, {1, 2, 3, 4, 5, 6}), {}, {}, false},
            {"GFX\\OLD.TGA", samples::tga({2, 1, 1, 16, 0, ""}, {1, 2}), {}, {}, false},
            {"GFX\\EMPTY.TGA", samples::tga({2, 0, 3, 24, 0, ""}, {}), {}, {}, false},
            {"GFX\\CUT.KMG", std::vector<uint8_t>(icons.begin(), icons.begin() + 40), {}, {}, false},
        };
        // Decoding reads on past an entry's end; only the archive's end cuts it short: place
        // CUT.KMG's data 30 bytes before the end of the file.
        const int32_t size = int32_t(samples::buildQar(entries).size());
        entries.back().offsetOverride = size - 30;
        samples::writeQar(archive, entries);
    }

    Result qar(std::vector<std::string> args) { return vorlr::testing::runQar(std::move(args)); }
};

TEST_F(ConvertCli, BmpIsExactlyTheSavedBitmap) {
    const std::string out = dir.file("icons.bmp");
    ASSERT_EQ(qar({"convert", archive, "GFX/ICONS.KMG", out}).status, 0);
    EXPECT_EQ(samples::readFile(out), expectedSub(0).toBmp());

    // A 16-bit image and a Targa entry, by name and by index.
    ASSERT_EQ(qar({"convert", archive, "GFX\\SKY.KMG", dir.file("sky.BMP")}).status, 0);
    Bitmap24 sky(2, 1);
    std::memcpy(sky.row(0), "\x00\x00\xF8\x00\xFC\x00", 6);
    EXPECT_EQ(samples::readFile(dir.file("sky.BMP")), sky.toBmp());
    ASSERT_EQ(qar({"convert", archive, "#3", dir.file("logo.bmp")}).status, 0);
    Bitmap24 logo(1, 2);
    std::memcpy(logo.row(0), "\x04\x05\x06", 3);
    std::memcpy(logo.row(1), "\x01\x02\x03", 3);
    EXPECT_EQ(samples::readFile(dir.file("logo.bmp")), logo.toBmp());

    // A picture that decodes nothing leaves the first view as a viewer starts it: 1 x 1 black.
    ASSERT_EQ(qar({"convert", archive, "GFX\\EMPTY.TGA", dir.file("empty.bmp")}).status, 0);
    Bitmap24 dot(1, 1);
    std::memset(dot.row(0), 0, 3);
    EXPECT_EQ(samples::readFile(dir.file("empty.bmp")), dot.toBmp());
}

TEST_F(ConvertCli, PngAndAllSubImages) {
    ASSERT_EQ(qar({"convert", archive, "GFX\\ICONS.KMG", dir.file("one.png")}).status, 0);
    EXPECT_EQ(bitmapFromQImage(QImage(QString::fromStdString(dir.file("one.png")))), expectedSub(0));

    ASSERT_EQ(qar({"convert", "--all", archive, "GFX\\ICONS.KMG", dir.file("all.png")}).status, 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("all.png")));
    for (size_t i = 0; i < kSub.size(); ++i) {
        const QImage img(QString::fromStdString(dir.file("all_" + std::to_string(i) + ".png")));
        ASSERT_FALSE(img.isNull()) << i;
        EXPECT_EQ(bitmapFromQImage(img), expectedSub(i)) << i;
    }
    ASSERT_EQ(qar({"convert", archive, "GFX\\ICONS.KMG", dir.file("all.bmp"), "--all"}).status, 0);
    EXPECT_EQ(samples::readFile(dir.file("all_2.bmp")), expectedSub(2).toBmp());
}

TEST_F(ConvertCli, Failures) {
    Result r = qar({"convert", archive, "GFX\\OLD.TGA", dir.file("old.bmp")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: Unsupported TGA format: 16-bit\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("old.bmp")));

    r = qar({"convert", archive, "GFX\\CUT.KMG", dir.file("cut.bmp")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: Read beyond end of file\n");

    EXPECT_EQ(qar({"convert", archive, "GFX\\NONE.KMG", dir.file("x.bmp")}).status, 1);
    EXPECT_EQ(qar({"convert", archive, "README.TXT", dir.file("x.bmp")}).status, 1);
    EXPECT_EQ(qar({"convert", archive, "GFX\\SKY.KMG", dir.file("x.gif")}).status, 2);
    EXPECT_EQ(qar({"convert", archive, "GFX\\SKY.KMG"}).status, 2);
    EXPECT_EQ(qar({"convert", dir.file("missing.qar"), "GFX\\SKY.KMG", dir.file("x.bmp")}).err,
              "qar: File not found\n");
}

}  // namespace
