// Pictures read back from PNG and BMP files: every PNG colour type and depth, transparency, the
// files this program writes, and damaged input.
#include <gtest/gtest.h>
#include <spng.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/LittleEndian.h"
#include "platform/png/PictureReader.h"
#include "platform/png/PngWriter.h"
#include "support/TempDir.h"

namespace vorlr {
namespace {

using testing::TempDir;

constexpr int kWidth = 13;  // odd: partial bytes at low depths, short interlace passes
constexpr int kHeight = 11;

// A picture with varied colours (not all channels equal).
Bitmap24 variedPicture(int width, int height) {
    Bitmap24 p(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* px = p.row(y) + x * 3;
            px[0] = static_cast<uint8_t>(x * 19 + y);
            px[1] = static_cast<uint8_t>(y * 23 + 5);
            px[2] = static_cast<uint8_t>(x * y + 200);
        }
    return p;
}

std::string errorOf(std::span<const uint8_t> bytes, const std::string& name = "pic.png") {
    try {
        ReadPicture(bytes, name);
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(PictureReader, ReadsBackWhatThePngWriterAndBmpWrite) {
    for (const auto& [w, h] : {std::pair{1, 1}, {7, 5}, {64, 3}}) {
        const Bitmap24 picture = variedPicture(w, h);
        const Bitmap24 fromPng = ReadPicture(encodePng(picture), "x.png");
        EXPECT_FALSE(fromPng.hasAlpha());
        EXPECT_EQ(fromPng, picture) << w << " x " << h;
        const Bitmap24 fromBmp = ReadPicture(picture.toBmp(), "x.bmp");
        EXPECT_FALSE(fromBmp.hasAlpha());
        EXPECT_EQ(fromBmp, picture) << w << " x " << h;
    }
}

TEST(PictureReader, ReadsFilesByContentNotName) {
    TempDir dir;
    const Bitmap24 picture = variedPicture(5, 4);
    savePng(picture, dir.file("really_png.bmp"));
    picture.saveToFile(dir.file("really_bmp.png"));
    EXPECT_EQ(ReadPictureFile(dir.file("really_png.bmp")), picture);
    EXPECT_EQ(ReadPictureFile(dir.file("really_bmp.png")), picture);
    try {
        ReadPictureFile(dir.file("missing.png"));
        FAIL() << "a missing file was read";
    } catch (const FileError& e) {
        EXPECT_EQ(e.code(), kFileNotFound);
        EXPECT_STREQ(e.what(), "File not found");
    }
}

// --- Every PNG kind, made with libspng's encoder from known samples ---

struct PngCase {
    const char* label;
    uint8_t colorType;
    uint8_t depth;
    bool trns;  // add a tRNS chunk
};

int channelsOf(uint8_t colorType) {
    switch (colorType) {
        case SPNG_COLOR_TYPE_TRUECOLOR: return 3;
        case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA: return 2;
        case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA: return 4;
        default: return 1;
    }
}

// Sample c of pixel (x, y) on the scale of the depth (at most 8 bits; 16-bit files store s * 257
// so that the high and low bytes agree and any reduction to 8 bits gives s back).
unsigned sampleAt(int x, int y, int c, int depth) {
    const unsigned range = 1u << (depth > 8 ? 8 : depth);
    return static_cast<unsigned>(x * 7 + y * 13 + c * 5 + x * y) % range;
}

uint8_t to8(unsigned s, int depth) {
    return depth >= 8 ? static_cast<uint8_t>(s) : static_cast<uint8_t>(s * 255 / ((1u << depth) - 1));
}

spng_plte_entry paletteEntry(unsigned i) {
    return {static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7),
            0};
}
uint8_t paletteAlpha(unsigned i) { return static_cast<uint8_t>(i * 41 + 3); }

struct Made {
    std::vector<uint8_t> png;
    Bitmap24 expected;
};

Made makePng(const PngCase& c, bool interlaced) {
    const int ch = channelsOf(c.colorType);
    const int bytesPer = c.depth == 16 ? 2 : 1;
    const size_t rowBytes = (static_cast<size_t>(kWidth) * ch * c.depth + 7) / 8;
    std::vector<uint8_t> data(rowBytes * kHeight, 0);
    const auto put = [&](int x, int y, int k, unsigned s) {  // sample k of the row's pixel x
        uint8_t* row = data.data() + rowBytes * y;
        const size_t index = static_cast<size_t>(x) * ch + k;
        if (c.depth >= 8) {
            for (int b = 0; b < bytesPer; ++b) row[index * bytesPer + b] = static_cast<uint8_t>(s);
        } else {
            const size_t bit = index * c.depth;
            row[bit / 8] |= static_cast<uint8_t>(s << (8 - c.depth - bit % 8));
        }
    };

    // tRNS keys: the colour of pixel (1, 0), so that some pixels match it.
    const unsigned keyR = sampleAt(1, 0, 0, c.depth), keyG = sampleAt(1, 0, 1, c.depth),
                   keyB = sampleAt(1, 0, 2, c.depth);
    const unsigned paletteSize = c.colorType == SPNG_COLOR_TYPE_INDEXED ? 1u << c.depth : 0;
    const unsigned trnsEntries = paletteSize > 2 ? paletteSize - 2 : 1;  // the last ones opaque

    Made made;
    made.expected = Bitmap24(kWidth, kHeight);
    const bool alpha = c.trns || ch == 2 || ch == 4;
    made.expected.setHasAlpha(alpha);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            unsigned s[4];
            for (int k = 0; k < ch; ++k) {
                s[k] = sampleAt(x, y, k, c.depth);
                put(x, y, k, s[k]);
            }
            uint8_t r, g, b, a = 255;
            if (c.colorType == SPNG_COLOR_TYPE_INDEXED) {
                const unsigned i = s[0] % paletteSize;
                const spng_plte_entry e = paletteEntry(i);
                r = e.red, g = e.green, b = e.blue;
                if (c.trns && i < trnsEntries) a = paletteAlpha(i);
            } else if (ch <= 2) {
                r = g = b = to8(s[0], c.depth);
                if (ch == 2) a = to8(s[1], c.depth);
                if (c.trns && s[0] == keyR) a = 0;
            } else {
                r = to8(s[0], c.depth), g = to8(s[1], c.depth), b = to8(s[2], c.depth);
                if (ch == 4) a = to8(s[3], c.depth);
                if (c.trns && s[0] == keyR && s[1] == keyG && s[2] == keyB) a = 0;
            }
            uint8_t* px = made.expected.row(y) + x * 3;
            px[0] = b, px[1] = g, px[2] = r;
            if (alpha) made.expected.alphaRow(y)[x] = a;
        }

    std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(SPNG_CTX_ENCODER),
                                                      spng_ctx_free);
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = kWidth;
    ihdr.height = kHeight;
    ihdr.bit_depth = c.depth;
    ihdr.color_type = c.colorType;
    ihdr.interlace_method = interlaced ? 1 : 0;
    EXPECT_EQ(spng_set_ihdr(ctx.get(), &ihdr), 0);
    if (paletteSize) {
        spng_plte plte{};
        plte.n_entries = paletteSize;
        for (unsigned i = 0; i < paletteSize; ++i) plte.entries[i] = paletteEntry(i);
        EXPECT_EQ(spng_set_plte(ctx.get(), &plte), 0);
    }
    if (c.trns) {
        spng_trns trns{};
        const unsigned scale = c.depth == 16 ? 257 : 1;
        trns.gray = static_cast<uint16_t>(keyR * scale);
        trns.red = static_cast<uint16_t>(keyR * scale);
        trns.green = static_cast<uint16_t>(keyG * scale);
        trns.blue = static_cast<uint16_t>(keyB * scale);
        trns.n_type3_entries = paletteSize ? trnsEntries : 0;
        for (unsigned i = 0; i < trns.n_type3_entries; ++i) trns.type3_alpha[i] = paletteAlpha(i);
        EXPECT_EQ(spng_set_trns(ctx.get(), &trns), 0);
    }
    EXPECT_EQ(spng_encode_image(ctx.get(), data.data(), data.size(), SPNG_FMT_PNG,
                                SPNG_ENCODE_FINALIZE),
              0)
        << c.label;
    size_t length = 0;
    int error = 0;
    void* png = spng_get_png_buffer(ctx.get(), &length, &error);
    EXPECT_EQ(error, 0);
    const auto* bytes = static_cast<const uint8_t*>(png);
    made.png.assign(bytes, bytes + length);
    std::free(png);
    return made;
}

const PngCase kPngCases[] = {
    {"grey 1", SPNG_COLOR_TYPE_GRAYSCALE, 1, false},
    {"grey 2", SPNG_COLOR_TYPE_GRAYSCALE, 2, false},
    {"grey 4", SPNG_COLOR_TYPE_GRAYSCALE, 4, false},
    {"grey 8", SPNG_COLOR_TYPE_GRAYSCALE, 8, false},
    {"grey 16", SPNG_COLOR_TYPE_GRAYSCALE, 16, false},
    {"grey 4 + tRNS", SPNG_COLOR_TYPE_GRAYSCALE, 4, true},
    {"grey 16 + tRNS", SPNG_COLOR_TYPE_GRAYSCALE, 16, true},
    {"rgb 8", SPNG_COLOR_TYPE_TRUECOLOR, 8, false},
    {"rgb 16", SPNG_COLOR_TYPE_TRUECOLOR, 16, false},
    {"rgb 8 + tRNS", SPNG_COLOR_TYPE_TRUECOLOR, 8, true},
    {"rgb 16 + tRNS", SPNG_COLOR_TYPE_TRUECOLOR, 16, true},
    {"palette 1", SPNG_COLOR_TYPE_INDEXED, 1, false},
    {"palette 2", SPNG_COLOR_TYPE_INDEXED, 2, false},
    {"palette 4", SPNG_COLOR_TYPE_INDEXED, 4, false},
    {"palette 8", SPNG_COLOR_TYPE_INDEXED, 8, false},
    {"palette 2 + tRNS", SPNG_COLOR_TYPE_INDEXED, 2, true},
    {"palette 8 + tRNS", SPNG_COLOR_TYPE_INDEXED, 8, true},
    {"grey+alpha 8", SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 8, false},
    {"grey+alpha 16", SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 16, false},
    {"rgba 8", SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8, false},
    {"rgba 16", SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 16, false},
};

TEST(PictureReader, EveryPngColourTypeDepthAndInterlace) {
    for (const PngCase& c : kPngCases)
        for (bool interlaced : {false, true}) {
            SCOPED_TRACE(std::string(c.label) + (interlaced ? ", interlaced" : ""));
            const Made made = makePng(c, interlaced);
            ASSERT_FALSE(made.png.empty());
            const Bitmap24 got = ReadPicture(made.png, "case.png");
            ASSERT_EQ(got.width(), kWidth);
            ASSERT_EQ(got.height(), kHeight);
            EXPECT_EQ(got.hasAlpha(), made.expected.hasAlpha());
            EXPECT_EQ(got.pixels(), made.expected.pixels());
            EXPECT_EQ(got.alpha(), made.expected.alpha());
        }
}

// --- Damaged and refused input ---

// A BMP header as toBmp writes it, with fields changed.
std::vector<uint8_t> bmpWith(int bits, int32_t height, uint32_t compression) {
    std::vector<uint8_t> bmp = variedPicture(4, 3).toBmp();
    putLe16(bmp.data() + 28, static_cast<uint16_t>(bits));
    putLe32(bmp.data() + 22, static_cast<uint32_t>(height));
    putLe32(bmp.data() + 30, compression);
    return bmp;
}

// A valid PNG header (and CRC) for a picture of the given size, followed by a tiny IDAT.
std::vector<uint8_t> pngClaiming(uint32_t width, uint32_t height) {
    std::vector<uint8_t> png = encodePng(variedPicture(2, 2));
    const auto be32 = [](uint8_t* p, uint32_t v) {
        p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
    };
    be32(png.data() + 16, width);
    be32(png.data() + 20, height);
    // IHDR's CRC covers its type and data (bytes 12..28).
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 12; i < 29; ++i) {
        crc ^= png[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    be32(png.data() + 29, ~crc);
    return png;
}

TEST(PictureReader, DamagedOrRefusedInputIsAClearErrorNamingTheFile) {
    const std::vector<uint8_t> png = encodePng(variedPicture(40, 30));
    std::vector<uint8_t> badCrc = png;
    badCrc[40] ^= 0x55;  // inside the IDAT chunk
    const std::vector<uint8_t> bmp = bmpWith(24, 3, 0);
    std::vector<uint8_t> badHeaderType = png;
    badHeaderType[25] = 5;  // no such colour type

    struct Case {
        const char* label;
        std::vector<uint8_t> bytes;
        const char* expected;  // part of the message after "pic.png: "
    };
    const Case cases[] = {
        {"empty", {}, "not a PNG or BMP picture"},
        {"other bytes", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, "not a PNG or BMP picture"},
        {"signature only", std::vector<uint8_t>(png.begin(), png.begin() + 8), "damaged PNG"},
        {"cut in IHDR", std::vector<uint8_t>(png.begin(), png.begin() + 20), "damaged PNG"},
        {"cut in IDAT", std::vector<uint8_t>(png.begin(), png.begin() + 60), "damaged PNG"},
        {"no IEND", std::vector<uint8_t>(png.begin(), png.end() - 12), "damaged PNG"},
        {"IDAT CRC", badCrc, "damaged PNG"},
        {"colour type", badHeaderType, "damaged PNG"},
        {"header claims more than the data holds", pngClaiming(16000, 16000),
         "too little data for 16000 x 16000"},
        {"past the picture limit", pngClaiming(100000, 100000), "too large (100000 x 100000)"},
        {"BMP cut short", std::vector<uint8_t>(bmp.begin(), bmp.end() - 5), "damaged BMP"},
        {"BMP header only", std::vector<uint8_t>{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "damaged BMP"},
        {"BMP 32 bits", bmpWith(32, 3, 0), "BMP with 32 bits a pixel; only 24-bit"},
        {"BMP 8 bits", bmpWith(8, 3, 0), "BMP with 8 bits a pixel"},
        {"BMP top-down", bmpWith(24, -3, 0), "BMP with top-down rows"},
        {"BMP compressed", bmpWith(24, 3, 1), "BMP with compression 1"},
        {"BMP no rows", bmpWith(24, 0, 0), "the picture has no pixels"},
    };
    for (const Case& c : cases) {
        const std::string message = errorOf(c.bytes);
        EXPECT_EQ(message.rfind("pic.png: ", 0), 0u) << c.label << ": " << message;
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.label << ": " << message;
    }
    // Every cut of a good file fails cleanly (no crash, no picture from half a file); only the
    // end chunk's own checksum is not looked at.
    for (size_t n = 0; n + 4 < png.size(); ++n)
        EXPECT_NE(errorOf(std::span(png.data(), n)), "(no error)") << "cut at " << n << " of " << png.size();
}

}  // namespace
}  // namespace vorlr
