// qar encode, run as the real tool: every kind decodes (qar convert) back to the picture given,
// --like gives an unchanged entry back byte for byte, and wrong usage and failures leave OUT
// as it was.
#include <gtest/gtest.h>

#include <QImage>
#include <cstring>
#include <filesystem>

#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "platform/Bitmap24.h"
#include "platform/LittleEndian.h"
#include "platform/png/PictureReader.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

using namespace vorlr;
using vorlr::samples::QarEntry;
using vorlr::testing::TempDir;

namespace {

using Result = vorlr::testing::QarResult;
Result qar(std::vector<std::string> args) { return vorlr::testing::runQar(std::move(args)); }

// A picture whose colours are f(x, y); alpha 0 where clear(x, y).
template <class F, class C>
Bitmap24 picture(int w, int h, F colour, C clear) {
    Bitmap24 b(w, h);
    b.setHasAlpha(true);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t c = colour(x, y);
            uint8_t* p = b.row(y) + 3 * x;
            p[0] = uint8_t(c), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c >> 16);
            b.alphaRow(y)[x] = clear(x, y) ? 0 : 255;
        }
    return b;
}

// An RGBA PNG through Qt, so the tool reads the alpha channel as a user's file gives it.
void savePngWithAlpha(const Bitmap24& b, const std::string& path) {
    QImage img(b.width(), b.height(), QImage::Format_ARGB32);
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const uint8_t* p = b.row(y) + 3 * x;
            img.setPixel(x, y, qRgba(p[2], p[1], p[0], b.alphaRow(y)[x]));
        }
    ASSERT_TRUE(img.save(QString::fromStdString(path), "PNG"));
}

// OUT put into an archive and decoded by qar convert.
Bitmap24 convertBack(const TempDir& dir, const std::string& file, const std::string& ext) {
    const std::string archive = dir.file("back.qar");
    samples::writeQar(archive, {{"PIC." + ext, samples::readFile(file), {}, {}, false}});
    const Result r = qar({"convert", archive, "PIC." + ext, dir.file("back.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    return ReadPictureFile(dir.file("back.png"));
}

// The colours the viewer shows for a picture: transparent pixels black, alpha dropped.
Bitmap24 shown(Bitmap24 b, bool transparentBlack) {
    if (transparentBlack && b.hasAlpha())
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x)
                if (b.alphaRow(y)[x] < 128) std::memset(b.row(y) + 3 * x, 0, 3);
    b.setHasAlpha(false);
    return b;
}

TEST(EncodeCli, EveryKindDecodesBackToThePictureGiven) {
    TempDir dir;
    auto none = [](int, int) { return false; };
    auto holes = [](int x, int y) { return (x + 2 * y) % 7 == 0; };
    auto onSteps = [](int x, int y) { return uint32_t((x * 8) << 16 | (y * 4) << 8 | ((x + y) * 8 & 255)); };
    auto wild = [](int x, int y) { return uint32_t(x * 2654435761u ^ y * 40503u) & 0xFFFFFF; };
    auto few = [](int x, int y) { return uint32_t(((x / 3) * 40 + y) % 200) * 0x010203u & 0xFFFFFF; };
    auto grey = [](int x, int y) { return uint32_t((x * 9 + y) & 255) * 0x010101u; };
    struct Case {
        const char* kind;
        const char* ext;
        Bitmap24 input;
        bool alphaKept;  // the tool reads a PNG with alpha; BMP otherwise
    } cases[] = {
        {"rgb16", "kmg", picture(31, 17, onSteps, none), false},
        {"palette", "kmg", picture(31, 17, few, holes), true},
        {"tga8", "tga", picture(31, 17, few, none), false},
        {"tga24", "tga", picture(31, 17, wild, none), false},
        {"tga32", "tga", picture(31, 17, wild, holes), true},
        {"grey", "tga", picture(31, 17, grey, none), false},
        {"tga24rle", "tga", picture(131, 5, few, none), false},
        {"tga32rle", "tga", picture(131, 5, few, holes), true},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.kind);
        std::string in = dir.file(std::string(c.kind) + ".png");
        if (c.alphaKept) {
            savePngWithAlpha(c.input, in);
        } else {
            in = dir.file(std::string(c.kind) + ".bmp");
            c.input.setHasAlpha(false);
            c.input.saveToFile(in);
        }
        const std::string out = dir.file(std::string("out.") + c.ext);
        const Result r = qar({"encode", in, out, "--kind", c.kind});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        const Bitmap24 given = ReadPictureFile(in);
        EXPECT_EQ(given.hasAlpha(), c.alphaKept);
        const Bitmap24 back = convertBack(dir, out, c.ext);
        EXPECT_TRUE(shown(back, false) == shown(given, std::string(c.kind) == "palette"));
    }
}

TEST(EncodeCli, LikeAnEntryGivesItBackAndDefaultsFollowThePictures) {
    TempDir dir;
    // A palette KMG of two sub-images whose runs and indices are what the encoder chooses,
    // with unread bytes set.
    std::array<uint8_t, 768> pal{};
    for (size_t k = 0; k < 256; ++k) pal[3 * k] = uint8_t(k), pal[3 * k + 1] = uint8_t(k * 3), pal[3 * k + 2] = 9;
    std::vector<samples::KmgSubImage> subs;
    for (int s = 0; s < 2; ++s) {
        std::vector<int> plane(size_t(40) * (3 + s));
        for (size_t i = 0; i < plane.size(); ++i) plane[i] = 1 + int(i / 5 + s * 50) % 255;
        subs.push_back({40, int16_t(3 + s), samples::kmgCompress(plane)});
    }
    std::vector<uint8_t> kmg = samples::kmgPalette(pal, subs);
    kmg[0] = 'K', kmg[40] = 7, kmg[832 + 5] = 3;
    const std::string archive = dir.file("a.qar");
    samples::writeQar(archive, {{"GFX\\ICONS.KMG", kmg, {}, {}, false},
                                {"GFX\\README.TXT", samples::bytesOf("hi"), {}, {}, false},
                                {"GFX\\LOGO.TGA", samples::sampleTga(2, 24, 9, 4), {}, {}, false}});
    ASSERT_EQ(qar({"convert", archive, "GFX/ICONS.KMG", dir.file("i.png"), "--all"}).status, 0);
    const std::string out = dir.file("icons.kmg");
    Result r = qar({"encode", dir.file("i_0.png"), dir.file("i_1.png"), out, "--like", archive, "GFX/ICONS.KMG"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samples::readFile(out), kmg);

    // Without --like: few colours make a palette file, many a 16-bit one; alpha a 32-bit Targa.
    auto none = [](int, int) { return false; };
    picture(20, 20, [](int x, int) { return uint32_t(x % 3) * 0x404040u; }, none).saveToFile(dir.file("few.bmp"));
    picture(20, 20, [](int x, int y) { return uint32_t(x * 13 + y * 4000); }, none).saveToFile(dir.file("many.bmp"));
    savePngWithAlpha(picture(4, 4, [](int, int) { return 5u; }, [](int x, int) { return x == 1; }),
                     dir.file("clear.png"));
    ASSERT_EQ(qar({"encode", dir.file("few.bmp"), dir.file("few.kmg")}).status, 0);
    ASSERT_EQ(qar({"encode", dir.file("many.bmp"), dir.file("many.KMG")}).status, 0);
    ASSERT_EQ(qar({"encode", dir.file("clear.png"), dir.file("clear.tga")}).status, 0);
    const auto fewBytes = samples::readFile(dir.file("few.kmg"));
    const auto manyBytes = samples::readFile(dir.file("many.KMG"));
    const auto clearBytes = samples::readFile(dir.file("clear.tga"));
    EXPECT_NE(leU32(&fewBytes[4]), leU32(&fewBytes[8]));
    EXPECT_EQ(leU32(&manyBytes[4]), leU32(&manyBytes[8]));
    EXPECT_EQ(clearBytes[16], 32);
    EXPECT_EQ(clearBytes[17], 8);
    EXPECT_EQ(clearBytes[18 + 4 + 3], 0);  // the second pixel's alpha

    // Failures: exit 1 with a message, and OUT stays as it was with nothing left beside it.
    struct Failure {
        std::vector<std::string> args;
        std::string message;
    } failures[] = {
        {{dir.file("few.bmp"), dir.file("nope.png"), out}, "qar: " + dir.file("nope.png") + ": File not found\n"},
        {{dir.file("few.bmp"), out, "--like", archive, "GFX/README.TXT"}, "qar: GFX/README.TXT: not a .kmg or .tga entry\n"},
        {{dir.file("few.bmp"), out, "--like", archive, "GFX/LOGO.TGA"}, "qar: GFX/LOGO.TGA is a .tga entry; OUT must end in the same\n"},
        {{dir.file("few.bmp"), out, "--like", archive, "GFX/NONE"}, "qar: no entry named GFX/NONE\n"},
        {{dir.file("few.bmp"), dir.file("few.bmp"), dir.file("x.tga"), "--like", archive, "GFX/LOGO.TGA"},
         "qar: several pictures make only a palette .kmg, not tga24\n"},
    };
    for (Failure& f : failures) {
        f.args.insert(f.args.begin(), "encode");
        r = qar(f.args);
        EXPECT_EQ(r.status, 1) << f.message;
        EXPECT_EQ(r.err, f.message);
        EXPECT_EQ(samples::readFile(out), kmg);
    }
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

TEST(EncodeCli, WrongUsageExitsTwo) {
    TempDir dir;
    const std::string in = dir.file("p.bmp");
    Bitmap24(2, 2).saveToFile(in);
    struct Case {
        std::vector<std::string> args;
        std::string firstLine;  // of standard error
    } cases[] = {
        {{}, "qar encode: missing PICTURE\nusage: qar encode"},
        {{in}, "qar encode: missing OUT\nusage: qar encode"},
        {{in, dir.file("o.png")}, "qar encode: OUT must end in .kmg or .tga"},
        {{in, dir.file("o.kmg"), "--kind", "rgb24"}, "qar encode: unknown kind 'rgb24'"},
        {{in, dir.file("o.kmg"), "--kind", "tga24"}, "qar encode: kind tga24 makes a .tga file"},
        {{in, in, dir.file("o.tga"), "--kind", "tga24"}, "qar encode: several PICTUREs make only a palette .kmg"},
        {{in, in, dir.file("o.tga")}, "qar encode: several PICTUREs make only a palette .kmg"},
        {{in, dir.file("o.kmg"), "--keep-palette"}, "qar encode: --keep-palette needs --like ARCHIVE NAME"},
        {{in, dir.file("o.kmg"), "--like", "a.qar", "X", "--kind", "palette"}, "qar encode: --like and --kind exclude each other"},
        {{in, dir.file("o.kmg"), "--like", "a.qar"}, "qar encode: --like needs ARCHIVE and NAME"},
        {{in, dir.file("o.kmg"), "--fast"}, "qar encode: unknown option --fast\nusage: qar encode"},
    };
    for (Case& c : cases) {
        c.args.insert(c.args.begin(), "encode");
        const Result r = qar(c.args);
        EXPECT_EQ(r.status, 2) << c.firstLine;
        EXPECT_EQ(r.err.substr(0, c.firstLine.size()), c.firstLine);
        EXPECT_NE(r.err.find("usage: qar encode PICTURE... OUT"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("o.kmg")));
}

}  // namespace

namespace {

// A picture put back with the pixels it already has is no change: the archive comes out byte for
// byte, however its encoder would lay the same pixels out again (run lengths, palette order).
TEST(ReplaceCli, UnchangedPixelsLeaveTheEntryAsItIs) {
    TempDir dir;
    const std::string archive = dir.file("a.qar"), out = dir.file("out.qar");
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* file;  // as extract --convert png names it
    } cases[] = {
        {"GFX\\SKY.KMG", samples::sampleKmg16(9, 5), "SKY.png"},
        {"GFX\\ICONS.KMG", samples::sampleKmgPalette(3), "ICONS_1.png"},
        {"GFX\\RLE.TGA", samples::sampleTga(10, 32, 7, 3), "RLE.png"},
    };
    std::vector<QarEntry> entries;
    for (const auto& c : cases) entries.push_back({c.name, c.bytes, {}, {}, false});
    samples::writeQar(archive, entries);
    const std::vector<uint8_t> before = samples::readFile(archive);
    for (const auto& c : cases) {
        const Result x = qar({"extract", archive, "-o", dir.file("x"), "--convert", "png", c.name});
        ASSERT_EQ(x.status, 0) << x.err;
        const std::string png = dir.file("x/GFX/" + std::string(c.file));
        const Result r = qar({"replace", archive, c.name, png, "-o", out});
        ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
        EXPECT_EQ(samples::readFile(out), before) << c.name;
    }
}

}  // namespace
