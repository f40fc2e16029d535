// Targa decoding: row order, depths, colour maps, run-length rows, large rows, damaged input,
// and agreement with ImageMagick on files it writes.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "platform/Errors.h"
#include "support/TempDir.h"
#include "viewers/TargaDecoder.h"

namespace vorlr {
namespace {

using samples::TgaFormat;
using BGR = std::array<uint8_t, 3>;

BGR px(const Bitmap24& b, int x, int y) {
    const uint8_t* p = b.row(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

int decodeBytes(const std::vector<uint8_t>& bytes, DecoderState& state, Bitmap24& picture) {
    MemoryByteSource src(bytes);
    return decodeTarga(src, state, picture);
}

TEST(Targa, TrueColourRowsBottomFirstAndFourthByteDropped) {
    // Stored rows (bottom) B1 B2, then (top) T1 T2.
    const std::vector<uint8_t> rows{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    DecoderState state;
    Bitmap24 b;
    EXPECT_EQ(decodeBytes(samples::tga({2, 2, 2, 24, 0, ""}, rows), state, b), 24);
    ASSERT_EQ(b.width(), 2);
    ASSERT_EQ(b.height(), 2);
    EXPECT_EQ(px(b, 0, 0), (BGR{7, 8, 9}));
    EXPECT_EQ(px(b, 1, 0), (BGR{10, 11, 12}));
    EXPECT_EQ(px(b, 0, 1), (BGR{1, 2, 3}));
    EXPECT_EQ(state.ImageWidth, 2);
    EXPECT_EQ(state.ImageHeight, 2);

    const std::vector<uint8_t> rows32{1, 2, 3, 99, 4, 5, 6, 98};
    Bitmap24 c;
    EXPECT_EQ(decodeBytes(samples::tga({2, 2, 1, 32, 0, ""}, rows32), state, c), 32);
    EXPECT_EQ(px(c, 0, 0), (BGR{1, 2, 3}));
    EXPECT_EQ(px(c, 1, 0), (BGR{4, 5, 6}));

    // The top-left origin bit is ignored: such an image shows upside down; the id is skipped.
    Bitmap24 d;
    decodeBytes(samples::tga({2, 1, 2, 24, 0x20, "hello"}, {1, 1, 1, 2, 2, 2}), state, d);
    EXPECT_EQ(px(d, 0, 0), (BGR{2, 2, 2}));
    EXPECT_EQ(px(d, 0, 1), (BGR{1, 1, 1}));
    EXPECT_EQ(targaTypeText(32), "Type: Targa image file (32-bit)");
}

TEST(Targa, ColourMapAndGreyRampSetTheSharedPalette) {
    std::array<uint8_t, 768> map{};
    for (int k = 0; k < 256; ++k) map[3 * k] = uint8_t(k), map[3 * k + 1] = 7, map[3 * k + 2] = uint8_t(255 - k);
    DecoderState state;
    Bitmap24 b;
    decodeBytes(samples::tga({1, 3, 1, 8, 0, "x"}, {0, 10, 255}, &map), state, b);
    EXPECT_EQ(px(b, 0, 0), (BGR{0, 7, 255}));
    EXPECT_EQ(px(b, 1, 0), (BGR{10, 7, 245}));
    EXPECT_EQ(px(b, 2, 0), (BGR{255, 7, 0}));
    EXPECT_TRUE(std::equal(map.begin(), map.end(), state.SharedPalette.begin()));

    // Grey: each value v shows as (v, v, v) and the palette becomes the ramp.
    Bitmap24 g;
    decodeBytes(samples::tga({3, 2, 1, 8, 0, ""}, {0, 200}), state, g);
    EXPECT_EQ(px(g, 1, 0), (BGR{200, 200, 200}));
    for (int k = 0; k < 256; ++k) ASSERT_EQ(state.SharedPalette[3 * k + 1], k);

    // Type 2 at 8 bits uses the palette as it stands.
    state.SharedPalette[3 * 5] = 1, state.SharedPalette[3 * 5 + 1] = 2, state.SharedPalette[3 * 5 + 2] = 3;
    Bitmap24 t;
    decodeBytes(samples::tga({2, 1, 1, 8, 0, ""}, {5}), state, t);
    EXPECT_EQ(px(t, 0, 0), (BGR{1, 2, 3}));
}

TEST(Targa, TypesNineAndElevenAreReadAsUncompressed) {
    DecoderState state;
    for (int k = 0; k < 256; ++k) std::memset(&state.SharedPalette[3 * k], 255 - k, 3);
    // Type 9 does not read a colour map: the bytes after the header are pixels.
    Bitmap24 a;
    decodeBytes(samples::tga({11, 3, 1, 8, 0, ""}, {0x85, 1, 2}), state, a);
    EXPECT_EQ(px(a, 0, 0), (BGR{0x7A, 0x7A, 0x7A}));  // 0x85 is an index, not a packet
    EXPECT_EQ(px(a, 1, 0), (BGR{254, 254, 254}));
    std::vector<uint8_t> nine{0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 8, 0, 0x81, 3};
    Bitmap24 b;
    decodeBytes(nine, state, b);
    EXPECT_EQ(px(b, 0, 0), (BGR{0x7E, 0x7E, 0x7E}));
    EXPECT_EQ(px(b, 1, 0), (BGR{252, 252, 252}));
}

TEST(TargaRunLength, PacketsCrossRowEnds) {
    // 4 x 2, 24-bit: literal A B, then a run of 5 C starting 2 before the row end, then D.
    const std::vector<uint8_t> data{0x01, 1, 1, 1, 2, 2, 2, 0x84, 3, 3, 3, 0x00, 4, 4, 4};
    DecoderState state;
    Bitmap24 b;
    decodeBytes(samples::tga({10, 4, 2, 24, 0, ""}, data), state, b);
    const BGR A{1, 1, 1}, B{2, 2, 2}, C{3, 3, 3}, D{4, 4, 4};
    EXPECT_EQ(px(b, 0, 1), A);
    EXPECT_EQ(px(b, 1, 1), B);
    EXPECT_EQ(px(b, 2, 1), C);
    EXPECT_EQ(px(b, 3, 1), C);
    EXPECT_EQ(px(b, 0, 0), C);
    EXPECT_EQ(px(b, 2, 0), C);
    EXPECT_EQ(px(b, 3, 0), D);

    // A row that the carry fills completely takes no packet.
    const std::vector<uint8_t> d2{0x85, 9, 9, 9, 9, 0x81, 8, 8, 8, 8};
    Bitmap24 c;
    decodeBytes(samples::tga({10, 3, 3, 32, 0, ""}, d2), state, c);
    EXPECT_EQ(px(c, 2, 2), (BGR{9, 9, 9}));
    EXPECT_EQ(px(c, 2, 1), (BGR{9, 9, 9}));
    EXPECT_EQ(px(c, 0, 0), (BGR{8, 8, 8}));
}

// Random pictures through the run-length coder, in sizes around every buffer limit.
TEST(TargaRunLength, MatchesUncompressedAtEverySize) {
    std::mt19937 rng(3);
    for (int bpp : {1, 3, 4}) {
        for (int w : {1, 2, 127, 129, 1365, 3000, 4097, 5000}) {
            const int h = 3;
            std::vector<uint8_t> raw(size_t(w) * h * bpp);
            for (size_t i = 0; i < raw.size();) {
                // Mostly noise (literal packets need more input than the row's size), some runs.
                const bool run = rng() % 4 == 0;
                const uint8_t v = uint8_t(rng());
                for (int k = 0, n = 1 + int(rng() % 200) * bpp; k < n && i < raw.size(); ++k, ++i)
                    raw[i] = run ? v : uint8_t(rng());
            }
            const uint8_t type = bpp == 1 ? 3 : 2;
            DecoderState s1, s2;
            Bitmap24 plain, coded;
            decodeBytes(samples::tga({type, int16_t(w), int16_t(h), uint8_t(bpp * 8), 0, ""}, raw), s1, plain);
            TgaFormat rle{10, int16_t(w), int16_t(h), uint8_t(bpp * 8), 0, ""};
            if (bpp == 1) {  // type 10 at 8 bits indexes the palette as it stands: use the ramp
                for (int k = 0; k < 256; ++k) std::memset(&s2.SharedPalette[3 * k], k, 3);
            }
            decodeBytes(samples::tga(rle, samples::tgaRunLength(raw, bpp)), s2, coded);
            ASSERT_EQ(plain, coded) << "bpp " << bpp << " width " << w;
        }
    }
}

TEST(TargaLimits, RowsLongerThanTheWorkBuffer) {
    const int w = 6000, h = 2;  // 18000 bytes a row at 24 bits
    std::vector<uint8_t> raw(size_t(w) * h * 3);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = uint8_t(i * 13 / 7);
    DecoderState state;
    Bitmap24 b;
    decodeBytes(samples::tga({2, w, h, 24, 0, ""}, raw), state, b);
    EXPECT_EQ(0, std::memcmp(b.row(1), raw.data(), size_t(w) * 3));
    EXPECT_EQ(0, std::memcmp(b.row(0), raw.data() + size_t(w) * 3, size_t(w) * 3));
}

TEST(TargaDamage, MissingPixelsComeFromTheWorkBuffer) {
    // Only the bottom row arrives: the top row shows what the buffer still held.
    DecoderState state;
    Bitmap24 b;
    decodeBytes(samples::tga({2, 2, 2, 24, 0, ""}, {1, 2, 3, 4, 5, 6}), state, b);
    EXPECT_EQ(px(b, 0, 0), (BGR{1, 2, 3}));
    EXPECT_EQ(px(b, 1, 0), (BGR{4, 5, 6}));
    // A run-length stream that ends inside a row leaves the rest of that row as it was: here
    // the bottom row's pixels.
    Bitmap24 c;
    decodeBytes(samples::tga({10, 3, 2, 24, 0, ""}, {0x82, 7, 7, 7, 0x00, 8, 8, 8}), state, c);
    EXPECT_EQ(px(c, 2, 1), (BGR{7, 7, 7}));
    EXPECT_EQ(px(c, 0, 0), (BGR{8, 8, 8}));
    EXPECT_EQ(px(c, 1, 0), (BGR{7, 7, 7}));
    EXPECT_EQ(px(c, 2, 0), (BGR{7, 7, 7}));
}

TEST(TargaDamage, UnsupportedDepthsAndEmptySizesChangeNothing) {
    DecoderState state;
    state.SharedPalette[7] = 42;
    Bitmap24 b(3, 2);
    const Bitmap24 before = b;
    for (int bits : {16, 15, 0, 1, 255}) {
        try {
            decodeBytes(samples::tga({1, 2, 2, uint8_t(bits), 0, ""}, {}), state, b);
            ADD_FAILURE() << bits;
        } catch (const UnsupportedTargaFormat& e) {
            EXPECT_EQ(e.bits(), bits);
            EXPECT_EQ(std::string(e.what()), "Unsupported TGA format: " + std::to_string(bits) + "-bit");
        }
    }
    EXPECT_EQ(b, before);
    EXPECT_EQ(state.SharedPalette[7], 42);
    for (auto [w, h] : {std::pair{0, 2}, {2, 0}, {-5, 2}, {2, -5}}) {
        decodeBytes(samples::tga({2, int16_t(w), int16_t(h), 24, 0, ""}, {1, 2, 3}), state, b);
        EXPECT_EQ(b, before);
    }
    // A header cut short is a plain read error.
    const auto file = samples::tga({2, 1, 1, 24, 0, ""}, {1, 2, 3});
    MemoryByteSource src(file.data(), 17);
    EXPECT_THROW(decodeTarga(src, state, b), FileError);
}

TEST(TargaDamage, EveryTruncationEndsCleanly) {
    std::vector<std::vector<uint8_t>> files;
    for (auto [type, bits] : {std::pair{1, 8}, {2, 24}, {2, 32}, {3, 8}, {10, 24}, {10, 32}, {10, 8}})
        files.push_back(samples::sampleTga(uint8_t(type), uint8_t(bits), 9, 5));
    for (const auto& file : files) {
        for (size_t n = 0; n <= file.size(); ++n) {
            DecoderState state;
            Bitmap24 b;
            MemoryByteSource src(file.data(), n);
            if (n < kTargaHeaderSize) {
                EXPECT_THROW(decodeTarga(src, state, b), FileError);
            } else {
                decodeTarga(src, state, b);
                EXPECT_EQ(b.width(), 9);
            }
        }
    }
}

// ImageMagick writes the files (bottom-left origin) and reads them back; our pixels must equal
// its reading.
class ImageMagickFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v convert >/dev/null 2>&1") != 0) GTEST_SKIP() << "convert missing";
    }
    testing::TempDir dir;
};

std::vector<uint8_t> readAll(const std::string& path) { return samples::readFile(path); }

TEST_F(ImageMagickFiles, DecodeToTheSamePixels) {
    // Every one of 256 colours in the upper rows (a full colour map), flat bands (runs) below.
    const int w = 67, h = 41;
    std::string ppm = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int k = (y < 20) ? (y * w + x) % 256 : (x / 16) * 5;
            ppm += char(k), ppm += char((k * 7) & 255), ppm += char(255 - k);
        }
    samples::writeFile(dir.file("in.ppm"), samples::bytesOf(ppm));
    struct Case {
        const char* options;
        int type, bits;
    };
    const Case cases[] = {{"", 2, 24},
                          {"-compress RLE", 10, 24},
                          {"-alpha set -type TrueColorAlpha", 2, 32},
                          {"-alpha set -type TrueColorAlpha -compress RLE", 10, 32},
                          {"-type Grayscale", 3, 8},
                          {"-type Palette", 1, 8}};
    for (const Case& c : cases) {
        const std::string tga = dir.file("out.tga"), rgb = dir.file("back.rgb");
        const std::string write = "convert " + dir.file("in.ppm") + " -depth 8 " + c.options +
                                  " " + tga;
        ASSERT_EQ(std::system(write.c_str()), 0) << write;
        // ImageMagick keeps stored row order and only records the origin; -auto-orient applies it.
        const std::string read = "convert " + tga + " -auto-orient -depth 8 rgb:" + rgb;
        ASSERT_EQ(std::system(read.c_str()), 0) << read;
        const auto file = readAll(tga);
        ASSERT_EQ(file[2], c.type) << c.options;
        ASSERT_EQ(file[16], c.bits) << c.options;
        ASSERT_EQ(file[17] & 0x20, 0) << "bottom-left origin expected";
        if (c.type == 1) {
            ASSERT_EQ(file[5] | (file[6] << 8), 256) << "needs a full colour map";
        }
        DecoderState state;
        Bitmap24 b;
        decodeBytes(file, state, b);
        const auto ref = readAll(rgb);
        ASSERT_EQ(ref.size(), size_t(w) * h * 3);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t* r = &ref[(size_t(y) * w + x) * 3];
                ASSERT_EQ(px(b, x, y), (BGR{r[2], r[1], r[0]})) << c.options << " at " << x << "," << y;
            }
    }
}

}  // namespace
}  // namespace vorlr
