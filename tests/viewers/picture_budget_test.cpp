// What a picture's bytes are worth in batch conversion: the fewest bytes each format's declared
// size needs, and pictures of less than half of that reported as damaged instead of decoded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/Container.h"
#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "platform/Errors.h"
#include "support/TempDir.h"
#include "viewers/PictureBudget.h"
#include "viewers/PictureExport.h"

using namespace vorlr;
namespace s = vorlr::samples;
using Bytes = std::vector<uint8_t>;

namespace {

struct NeedCase {
    const char* label;
    EntryKind kind;
    Bytes header;    // the entry's first bytes: the header, and a palette image's records
    int64_t need;    // the fewest bytes at the format's best compression
    std::string what;
};

std::vector<NeedCase> needCases() {
    const auto palette = s::samplePaletteRgb();
    const auto tga = [](uint8_t type, uint8_t bits, int16_t w, int16_t h, std::string id = "") {
        return s::tga(s::TgaFormat{type, w, h, bits, 0, std::move(id)}, {});
    };
    return {
        {"KMG 16-bit: two bytes a pixel", EntryKind::Kmg, s::kmg16(300, 200, {}), 64 + 300 * 200 * 2,
         "300 x 200 pixels"},
        {"KMG 16-bit, no pixels", EntryKind::Kmg, s::kmg16(0, 200, {}), 64, "0 x 200 pixels"},
        // Records of 16 bytes each; one run byte per 127 transparent pixels, across rows.
        {"KMG palette", EntryKind::Kmg,
         s::kmgPalette(palette, {{127, 10, {}}, {0, 9, {}}, {1, 128, {}}}), 832 + 48 + 10 + 2,
         "3 sub-images"},
        {"TGA raw 24-bit", EntryKind::Targa, tga(2, 24, 100, 50), 18 + 100 * 50 * 3, "100 x 50 pixels"},
        {"TGA raw 32-bit with an id", EntryKind::Targa, tga(2, 32, 10, 10, "abc"), 18 + 3 + 400,
         "10 x 10 pixels"},
        {"TGA grey 8-bit", EntryKind::Targa, tga(3, 8, 64, 64), 18 + 4096, "64 x 64 pixels"},
        {"TGA colour-mapped: the map is always 768 bytes", EntryKind::Targa, tga(1, 8, 16, 16),
         18 + 768 + 256, "16 x 16 pixels"},
        // 1 + bpp bytes per 128 pixels, packets running across rows.
        {"TGA run-length 24-bit", EntryKind::Targa, tga(10, 24, 1000, 1000), 18 + 7813 * 4,
         "1000 x 1000 pixels"},
        {"TGA run-length 8-bit", EntryKind::Targa, tga(10, 8, 256, 1), 18 + 2 * 2, "256 x 1 pixels"},
    };
}

TEST(PictureBudget, EachFormatsBestCompressionAndTheHalfThatPasses) {
    for (const NeedCase& c : needCases()) {
        SCOPED_TRACE(c.label);
        Bytes bytes = c.header;
        bytes.insert(bytes.begin(), 7, 0xEE);  // the entry starts inside a larger file
        MemoryByteSource source(bytes);
        source.seek(7);
        const PictureNeed need = LeastPictureBytes(source, c.kind);
        EXPECT_EQ(need.bytes, c.need);
        EXPECT_EQ(need.what, c.what);
        EXPECT_EQ(source.position(), 7);  // left where the decoder starts
        const int64_t half = (c.need + 1) / 2;
        EXPECT_EQ(PictureShortfall(need, half), "");
        EXPECT_EQ(PictureShortfall(need, half - 1),
                  c.what + " need at least " + std::to_string(c.need) + " bytes, the entry holds " +
                      std::to_string(half - 1));
    }
}

TEST(PictureBudget, WhatTheDecoderReportsItselfNeedsNothing) {
    struct Case {
        const char* label;
        EntryKind kind;
        Bytes bytes;
    } cases[] = {
        {"16-bit Targa: unsupported", EntryKind::Targa, s::tga(s::TgaFormat{2, 4000, 4000, 16, 0, ""}, {})},
        {"header cut off", EntryKind::Targa, Bytes(17, 0)},
        {"KMG header cut off", EntryKind::Kmg, Bytes(63, 0)},
        {"not a picture", EntryKind::Text, s::kmg16(3000, 3000, {})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        MemoryByteSource source(c.bytes);
        EXPECT_EQ(LeastPictureBytes(source, c.kind).bytes, 0);
        EXPECT_EQ(source.position(), 0);
        EXPECT_EQ(PictureShortfall(LeastPictureBytes(source, c.kind), 0), "");
    }
}

// Through the conversion batch extraction uses: pictures at their best compression convert,
// the same pictures cut to less than half are refused before any decoding.
TEST(PictureBudget, ConversionRefusesOnlyThePicturesTheirBytesCannotFill) {
    // All one colour / all transparent: each format at its best compression.
    const Bytes flatTga = s::tga(s::TgaFormat{10, 2000, 300, 24, 0, ""},
                                 s::tgaRunLength(Bytes(2000 * 300 * 3, 0x40), 3));
    const Bytes clearKmg = s::kmgPalette(s::samplePaletteRgb(),
                                         {{1000, 1000, s::kmgCompress(std::vector<int>(1000000, -1))}});
    const Bytes rawKmg = s::kmg16(100, 100, std::vector<uint16_t>(10000, 0x1234));
    struct Case {
        const char* name;
        Bytes bytes;
    };
    std::vector<Case> cases = {{"FLAT.TGA", flatTga}, {"CLEAR.KMG", clearKmg}, {"RAW.KMG", rawKmg}};
    for (const Case& whole : std::vector<Case>(cases)) {
        Bytes cut(whole.bytes.begin(), whole.bytes.begin() + (whole.bytes.size() - 1) / 2);
        cases.push_back({whole.name[0] == 'F'   ? "CUTFLAT.TGA"
                         : whole.name[0] == 'C' ? "CUTCLEAR.KMG"
                                                : "CUTRAW.KMG",
                         cut});
    }
    // Recorded sizes past the end of the file count only what the file has; a negative one
    // holds nothing.
    std::vector<s::QarEntry> entries;
    for (const Case& c : cases) entries.push_back({c.name, c.bytes, {}, {}, false});
    const Bytes small = s::tga(s::TgaFormat{2, 20, 20, 24, 0, ""}, Bytes(1200, 1));
    entries.push_back({"NEG.TGA", small, {}, -5, false});
    entries.push_back({"ENDS.TGA", small, {}, 1 << 30, false});
    vorlr::testing::TempDir dir;
    const std::string path = dir.file("a.qar");
    Bytes file = s::buildQar(entries);
    s::writeFile(path, file);
    Archive archive;
    archive.open(path);
    ReadDirectory(archive);
    ASSERT_EQ(archive.entryCount(), entries.size());

    const EntryConversion conversion = PictureConversion(PictureFormat::Bmp, 1);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(conversion.convert(archive, i).size(), 1u);
    }
    for (size_t i = 3; i < 6; ++i) {
        SCOPED_TRACE(cases[i].name);
        try {
            conversion.convert(archive, i);
            ADD_FAILURE() << "converted";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("damaged picture: ", 0), 0u) << e.what();
        }
    }
    const ArchiveEntry negative = archive.entry(6), last = archive.entry(7);
    EXPECT_EQ(EntryBytesHeld(archive, negative), 0);
    EXPECT_THROW(conversion.convert(archive, 6), Error);
    EXPECT_EQ(EntryBytesHeld(archive, last), archive.size() - last.offset);
    EXPECT_EQ(conversion.convert(archive, 7).size(), 1u);
}

}  // namespace
