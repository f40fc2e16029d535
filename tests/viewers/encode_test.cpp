// Encoders: what the decoders produce goes back to the same pixels and transparency, unchanged
// files come back byte for byte, and new colours get a palette the format can hold.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "lib/ImageSamples.h"
#include "platform/Errors.h"
#include "platform/LittleEndian.h"
#include "viewers/KmgDecoder.h"
#include "viewers/encoders/KmgEncoder.h"
#include "viewers/encoders/PictureEncoder.h"
#include "viewers/PictureExport.h"
#include "viewers/TargaDecoder.h"
#include "viewers/encoders/TargaEncoder.h"

namespace vorlr {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bitmap24> decodeAll(const Bytes& bytes, EntryKind kind) {
    MemoryByteSource source(bytes);
    return DecodeEntryPictures(source, kind).pictures;
}

// Each sub-image's indices as the stream gives them, -1 for a transparent pixel.
std::vector<std::vector<int>> kmgIndexPlanes(const Bytes& f) {
    const int count = leU16(&f[28]);
    std::vector<std::vector<int>> planes;
    for (int i = 0; i < count; ++i) {
        const uint8_t* rec = &f[832 + 16 * size_t(i)];
        const size_t n = size_t(leI16(rec + 12)) * size_t(leI16(rec + 14));
        size_t pos = 832 + 16 * size_t(count) + leU32(rec);
        std::vector<int> plane;
        while (plane.size() < n) {
            const int c = f.at(pos++);
            EXPECT_NE(c, 0) << "empty control byte";
            if (c > 128)
                plane.insert(plane.end(), size_t(c - 128), -1);
            else
                for (int k = 0; k < c; ++k) plane.push_back(f.at(pos++));
        }
        EXPECT_EQ(plane.size(), n) << "a run passes the sub-image's end";
        planes.push_back(plane);
    }
    return planes;
}

// Alpha as a file with transparency gives it: 0 where the stream is transparent.
void setAlpha(Bitmap24& picture, const std::vector<int>& plane) {
    picture.setHasAlpha(true);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.alphaRow(y)[x] = plane[size_t(y) * picture.width() + x] < 0 ? 0 : 255;
}

void expectSamePixels(const Bitmap24& a, const Bitmap24& b) {
    ASSERT_EQ(a.width(), b.width());
    ASSERT_EQ(a.height(), b.height());
    EXPECT_TRUE(a.pixels() == b.pixels());
}

Bitmap24 randomPicture(int w, int h, std::mt19937& rng, int colours) {
    std::vector<uint32_t> set(static_cast<size_t>(colours));
    for (auto& c : set) c = rng() & 0xFFFFFF;
    Bitmap24 p(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t c = set[rng() % set.size()];
            uint8_t* px = p.row(y) + 3 * x;
            px[0] = uint8_t(c), px[1] = uint8_t(c >> 8), px[2] = uint8_t(c >> 16);
        }
    return p;
}

// CIE Lab of a 0xRRGGBB colour (sRGB, D65), in double precision.
std::array<double, 3> labOf(uint32_t rgb) {
    auto lin = [](int v) {
        const double c = v / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const double r = lin(int(rgb >> 16)), g = lin(int((rgb >> 8) & 255)), b = lin(int(rgb & 255));
    const double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / 0.95047;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    const double z = (0.0193339 * r + 0.1191920 * g + 0.9503041 * b) / 1.08883;
    auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; };
    return {116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))};
}
double labDistance2(uint32_t a, uint32_t b) {
    const auto p = labOf(a), q = labOf(b);
    return std::pow(p[0] - q[0], 2) + std::pow(p[1] - q[1], 2) + std::pow(p[2] - q[2], 2);
}

// ---- 16-bit KMG ----

TEST(EncodeKmg16, DecodedPicturesComeBackByteForByteWithTheirSizeFields) {
    std::mt19937 rng(1);
    std::vector<uint16_t> values(7 * 5);
    for (auto& v : values) v = uint16_t(rng());
    values[0] = 0xFFFF;
    const Bytes base = samples::kmg16(7, 5, values);  // both size fields: the entry size
    struct Case {
        uint32_t first, second;
    } cases[] = {{uint32_t(base.size()), uint32_t(base.size())}, {70, 70}, {12345, 12345}};
    for (const Case& c : cases) {
        Bytes model = base;
        for (int i : {0, 1, 2, 3, 12, 19, 24, 28, 29, 63}) model[size_t(i)] = uint8_t(rng());
        putLe32(&model[4], c.first);
        putLe32(&model[8], c.second);
        const std::vector<Bitmap24> pictures = decodeAll(model, EntryKind::Kmg);
        EXPECT_EQ(EncodePicturesLike(pictures, EntryKind::Kmg, model), model) << c.first;

        // Another size: a field that stood for a size now gives the new one.
        Bitmap24 small(3, 2);
        const Bytes out = EncodePicturesLike({small}, EntryKind::Kmg, model);
        ASSERT_EQ(out.size(), 64u + 12);
        const uint32_t want = c.first == base.size() ? 76 : c.first == 70 ? 12 : 12345;
        EXPECT_EQ(leU32(&out[4]), want);
        EXPECT_EQ(leU32(&out[8]), want);
        EXPECT_EQ(std::memcmp(out.data(), model.data(), 4), 0);
        EXPECT_EQ(out[63], model[63]);
    }
}

TEST(EncodeKmg16, NewFileKeepsTheTopBitsAndDitheringSpreadsTheRest) {
    // Without a model both size fields hold the pixel data size; low bits are dropped.
    Bitmap24 p(2, 1);
    const uint8_t px[6] = {0x0F, 0x07, 0xFF, 0x10, 0x21, 0x09};
    std::memcpy(p.row(0), px, 6);
    const Bytes out = EncodePictures({p}, PictureKind::Rgb16);
    EXPECT_EQ(leU32(&out[4]), 4u);
    EXPECT_EQ(leU32(&out[8]), 4u);
    const Bitmap24 back = decodeAll(out, EntryKind::Kmg)[0];
    const uint8_t want[6] = {0x08, 0x04, 0xF8, 0x10, 0x20, 0x08};
    EXPECT_EQ(std::memcmp(back.row(0), want, 6), 0);

    // A flat colour between two steps: plain coding loses it, dithering keeps it on average,
    // and a picture already on the steps is left alone by either.
    Bitmap24 flat(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            uint8_t* q = flat.row(y) + 3 * x;
            q[0] = 4, q[1] = 2, q[2] = 4;
        }
    for (Dither d : {Dither::None, Dither::Ordered, Dither::FloydSteinberg}) {
        const Bitmap24 dec = decodeAll(EncodeKmg16(flat, nullptr, d), EntryKind::Kmg)[0];
        double sum[3] = {};
        for (size_t i = 0; i < dec.pixels().size(); ++i) sum[i % 3] += dec.pixels()[i];
        for (int c = 0; c < 3; ++c) {
            const double mean = sum[c] / (64 * 64), target = c == 1 ? 2 : 4;
            if (d == Dither::None)
                EXPECT_EQ(mean, 0);
            else
                EXPECT_NEAR(mean, target, 0.6) << int(d) << " channel " << c;
        }
        const Bytes on = samples::sampleKmg16(40, 30);
        const std::vector<Bitmap24> pics = decodeAll(on, EntryKind::Kmg);
        EXPECT_EQ(EncodeKmg16(pics[0], nullptr, d), EncodeKmg16(pics[0], nullptr, Dither::None));
    }
}

// ---- palette KMG ----

// A palette file whose every byte the encoder would choose itself: runs split greedily, each
// colour at its lowest index, unread bytes anything (they are copied).
struct PaletteFixture {
    std::array<uint8_t, 768> palette{};
    std::vector<std::vector<int>> planes;  // -1 transparent
    Bytes bytes;
};

PaletteFixture paletteFixture(uint32_t seed) {
    std::mt19937 rng(seed);
    PaletteFixture f;
    for (auto& b : f.palette) b = uint8_t(rng());
    std::memcpy(&f.palette[3 * 7], &f.palette[3 * 3], 3);  // entry 7 repeats entry 3
    const std::array<std::array<int, 2>, 3> sizes = {{{37, 9}, {130, 3}, {5, 40}}};
    std::vector<samples::KmgSubImage> subs;
    for (const auto& s : sizes) {
        std::vector<int> plane(static_cast<size_t>(s[0] * s[1]));
        int v = 1 + int(rng() % 255);
        for (size_t i = 0; i < plane.size(); ++i) {
            // Long stretches of transparency and of colour, crossing row ends.
            if (rng() % 9 == 0) v = rng() % 3 == 0 ? -1 : 1 + int(rng() % 255);
            plane[i] = v == 7 ? 3 : v;
        }
        plane[0] = -1;
        f.planes.push_back(plane);
        subs.push_back({int16_t(s[0]), int16_t(s[1]), samples::kmgCompress(plane)});
    }
    f.bytes = samples::kmgPalette(f.palette, subs);
    for (int i : {0, 1, 2, 3, 12, 13, 19, 20, 23, 24, 30, 63, 64, 65, 66}) f.bytes[size_t(i)] = uint8_t(rng());
    for (size_t r = 0; r < 3; ++r)
        for (int k = 4; k < 12; ++k) f.bytes[832 + 16 * r + size_t(k)] = uint8_t(rng());
    return f;
}

std::vector<Bitmap24> decodeWithTransparency(const PaletteFixture& f) {
    std::vector<Bitmap24> pictures = decodeAll(f.bytes, EntryKind::Kmg);
    for (size_t i = 0; i < pictures.size(); ++i) setAlpha(pictures[i], f.planes[i]);
    return pictures;
}

TEST(EncodeKmgPalette, UnchangedSubImagesComeBackByteForByte) {
    for (uint32_t seed : {1u, 2u, 3u}) {
        const PaletteFixture f = paletteFixture(seed);
        const std::vector<Bitmap24> pictures = decodeWithTransparency(f);
        PictureKind kind{};
        const Bytes out = EncodePicturesLike(pictures, EntryKind::Kmg, f.bytes, {}, &kind);
        EXPECT_EQ(kind, PictureKind::Palette);
        EXPECT_EQ(out, f.bytes) << seed;
        // --keep-palette changes nothing when every colour is there.
        EXPECT_EQ(EncodePicturesLike(pictures, EntryKind::Kmg, f.bytes, {true, false}), f.bytes);
    }
}

TEST(EncodeKmgPalette, PaletteSizeFieldsAreRecomputedAndKeepTheKindApart) {
    const PaletteFixture f = paletteFixture(4);
    std::vector<Bitmap24> pictures = decodeWithTransparency(f);
    pictures.pop_back();
    const Bytes plain = EncodePictures(pictures, PictureKind::Palette);
    const size_t tableEnd = 832 + 16 * 2;
    EXPECT_EQ(leU32(&plain[4]), plain.size());
    EXPECT_EQ(leU32(&plain[8]), plain.size() - tableEnd);

    Bytes model = f.bytes;
    const uint32_t modelData = uint32_t(model.size() - 832 - 16 * 3);
    putLe32(&model[4], modelData);
    putLe32(&model[8], 99);
    Bytes out = EncodePicturesLike(pictures, EntryKind::Kmg, model);
    EXPECT_EQ(leU32(&out[4]), out.size() - tableEnd);
    EXPECT_EQ(leU32(&out[8]), 99u);

    // A copied value that happens to equal the recomputed one would read as a 16-bit file.
    putLe32(&model[4], uint32_t(plain.size()));
    putLe32(&model[8], uint32_t(model.size()));
    out = EncodePicturesLike(pictures, EntryKind::Kmg, model);
    EXPECT_NE(leU32(&out[4]), leU32(&out[8]));
    MemoryByteSource source(out);
    EXPECT_TRUE(DecodeEntryPictures(source, EntryKind::Kmg).palette);
}

TEST(EncodeKmgPalette, EditedPicturesGetAPaletteThatFits) {
    const PaletteFixture f = paletteFixture(5);
    std::vector<Bitmap24> pictures = decodeWithTransparency(f);
    // A gradient painted over part of the first sub-image, a hole cut into the second.
    Bitmap24& a = pictures[0];
    for (int y = 0; y < a.height(); ++y)
        for (int x = 10; x < a.width(); ++x) {
            uint8_t* p = a.row(y) + 3 * x;
            p[0] = uint8_t(x * 7), p[1] = uint8_t(y * 28), p[2] = uint8_t(200 - x);
            a.alphaRow(y)[x] = 255;
        }
    for (int x = 0; x < 40; ++x) pictures[1].alphaRow(1)[x] = uint8_t(x * 3);  // 0..117
    PaletteSource source{};
    KmgModel model = ReadKmgModel(f.bytes.data(), f.bytes.size());
    std::vector<const Bitmap24*> ptrs;
    for (const auto& p : pictures) ptrs.push_back(&p);
    const Bytes out = EncodeKmgPalette(ptrs, &model, {}, &source);
    EXPECT_EQ(source, PaletteSource::Quantised);

    const std::vector<std::vector<int>> planes = kmgIndexPlanes(out);
    const std::vector<Bitmap24> back = decodeAll(out, EntryKind::Kmg);
    ASSERT_EQ(back.size(), 3u);
    std::set<uint32_t> colours;
    double sum = 0, count = 0, worst = 0;
    for (size_t i = 0; i < 3; ++i) {
        const Bitmap24& want = pictures[i];
        for (int y = 0; y < want.height(); ++y)
            for (int x = 0; x < want.width(); ++x) {
                const int k = planes[i][size_t(y) * want.width() + x];
                ASSERT_NE(k, 0);
                ASSERT_EQ(k < 0, want.alphaRow(y)[x] < 128) << i << ": " << x << "," << y;
                if (k < 0) continue;
                const uint32_t got = rgbAt(back[i].row(y) + 3 * x);
                colours.insert(got);
                const double d = std::sqrt(labDistance2(got, rgbAt(want.row(y) + 3 * x)));
                sum += d, ++count, worst = std::max(worst, d);
            }
    }
    EXPECT_LE(colours.size(), 255u);
    EXPECT_GT(colours.size(), 200u);  // the room is used
    EXPECT_LT(sum / count, 2.0);      // mean CIE76 difference: barely visible
    EXPECT_LT(worst, 12.0);
}

TEST(EncodeKmgPalette, PaletteChoiceByColourCount) {
    // 255 colours fit a new exact palette, 256 do not; a Targa colour map holds 256.
    struct Case {
        int first, colours;
        PaletteSource want;
    } cases[] = {{1, 255, PaletteSource::Exact}, {1, 256, PaletteSource::Quantised},
                 {0, 256, PaletteSource::Exact}, {0, 257, PaletteSource::Quantised}};
    for (const Case& c : cases) {
        Bitmap24 p(c.colours, 2);
        for (int x = 0; x < c.colours; ++x) {
            uint8_t* q = p.row(0) + 3 * x;
            q[0] = uint8_t(x), q[1] = uint8_t(x >> 8), q[2] = uint8_t(255 - x);
            std::memcpy(p.row(1) + 3 * x, q, 3);
        }
        PaletteRequest r;
        r.first = c.first;
        r.transparency = c.first == 1;
        const IndexedPictures ix = ChoosePalette({&p}, r);
        EXPECT_EQ(ix.source, c.want) << c.first << " " << c.colours;
        std::set<int> used(ix.indices[0].begin(), ix.indices[0].end());
        EXPECT_LE(int(used.size()), 256 - c.first);
        if (c.first == 1) {
            EXPECT_EQ(used.count(0), 0u);
        }
        if (c.want == PaletteSource::Exact) {
            EXPECT_EQ(ix.used, c.colours);
            for (int x = 0; x < c.colours; ++x)  // in order of appearance
                ASSERT_EQ(ix.indices[0][size_t(x)], c.first + x);
        }
    }
}

TEST(EncodeKmgPalette, KeptPaletteMapsToTheNearestAndDuplicatesToTheLowest) {
    std::mt19937 rng(9);
    std::array<uint32_t, 256> pal{};
    for (auto& c : pal) c = rng() & 0xFFFFFF;
    pal[200] = pal[40];
    NearestColour nearest(pal, 1, 255, 5000);
    // Brute force in the same Lab space: the pruned search must agree.
    int mismatches = 0;
    for (int i = 0; i < 1500; ++i) {
        const uint32_t q = rng() & 0xFFFFFF;
        double best = 1e30;
        int bestK = 0;
        for (int k = 1; k < 256; ++k) {
            const double d = labDistance2(pal[size_t(k)], q);
            if (d < best - 1e-6) best = d, bestK = k;
        }
        const int got = nearest.find(q);
        if (got != bestK) {
            // Only a near tie may go either way between float and double.
            const double dg = labDistance2(pal[size_t(got)], q);
            EXPECT_NEAR(dg, best, 1e-2 * (1 + best)) << std::hex << q;
            ++mismatches;
        }
        EXPECT_EQ(nearest.find(q), got);  // from the cache now
    }
    EXPECT_LT(mismatches, 5);
    EXPECT_EQ(nearest.find(pal[200]), 40);

    // Through the encoder: the kept palette's bytes stay, indices are the nearest entries.
    const PaletteFixture f = paletteFixture(6);
    std::vector<Bitmap24> pictures = decodeWithTransparency(f);
    uint8_t* p = pictures[0].row(3) + 3 * 5;
    pictures[0].alphaRow(3)[5] = 255;
    p[0] = uint8_t(p[0] ^ 1);  // a colour one step off
    const Bytes out = EncodePicturesLike(pictures, EntryKind::Kmg, f.bytes, {true, false});
    EXPECT_TRUE(std::equal(out.begin() + 64, out.begin() + 832, f.bytes.begin() + 64));
    const auto planes = kmgIndexPlanes(out);
    for (size_t i = 1; i < 3; ++i) EXPECT_EQ(planes[i], f.planes[i]);
}

TEST(EncodeKmgPalette, RunsAsTheFormatAllows) {
    // Boundaries of both run kinds, against the fixture generator's run splitting.
    std::mt19937 rng(3);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<int> plane;
        const int pieces = 1 + int(rng() % 6);
        for (int p = 0; p < pieces; ++p) {
            const int len = int(rng() % 300) + 1;
            const bool clear = rng() % 2;
            for (int i = 0; i < len; ++i) plane.push_back(clear ? -1 : 1 + int(rng() % 255));
        }
        std::vector<uint8_t> idx;
        for (int v : plane) idx.push_back(uint8_t(v < 0 ? 0 : v));
        Bytes out;
        AppendKmgRuns(idx.data(), idx.size(), out);
        ASSERT_EQ(out, samples::kmgCompress(plane));
    }
    const std::vector<uint8_t> clear(128, 0);
    Bytes out;
    AppendKmgRuns(clear.data(), clear.size(), out);
    EXPECT_EQ(out, (Bytes{255, 129}));
}

// ---- Targa ----

struct TgaCase {
    uint8_t type, bits;
    PictureKind kind;
};
constexpr TgaCase kTgaCases[] = {{1, 8, PictureKind::Tga8},      {2, 24, PictureKind::Tga24},
                                 {2, 32, PictureKind::Tga32},    {3, 8, PictureKind::Grey},
                                 {10, 24, PictureKind::Tga24Rle}, {10, 32, PictureKind::Tga32Rle}};

// Checks the packets of a run-length file: none crosses a row end, and literal packets hold no
// two equal neighbours.
void expectRowPackets(const Bytes& f, int width, int height, int bpp) {
    size_t pos = kTargaHeaderSize + f[0];
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width;) {
            const int c = f.at(pos++), n = (c & 127) + 1;
            ASSERT_LE(x + n, width) << "packet crosses the end of row " << y;
            if (c & 128) {
                pos += size_t(bpp);
            } else {
                for (int k = 1; k < n; ++k)
                    ASSERT_NE(std::memcmp(&f.at(pos + size_t(k - 1) * bpp), &f.at(pos + size_t(k) * bpp), size_t(bpp)), 0)
                        << "equal neighbours in a literal packet";
                pos += size_t(n) * bpp;
            }
            x += n;
        }
    EXPECT_EQ(pos, f.size());
}

TEST(EncodeTarga, EveryTypeAndDepthComesBackAsDecoded) {
    std::mt19937 rng(2);
    const int w = 150, h = 7;
    const samples::SamplePicture scene = samples::scenePicture(w, h);
    std::array<uint8_t, 768> map{};
    for (size_t k = 0; k < 256; ++k) {
        map[3 * k] = uint8_t(k), map[3 * k + 1] = uint8_t(255 - k), map[3 * k + 2] = uint8_t(k * 7);
    }
    for (const TgaCase& c : kTgaCases) {
        const int bpp = c.bits / 8;
        std::vector<uint8_t> stored;
        if (bpp == 1) {
            for (int i = 0; i < w * h; ++i) stored.push_back(uint8_t(i % 9 ? i / 13 : 200));
        } else {
            stored = samples::tgaPixelsOf(scene, bpp);
            if (bpp == 4)
                for (size_t i = 3; i < stored.size(); i += 4) stored[i] = uint8_t(rng());
        }
        samples::TgaFormat format{c.type, int16_t(w), int16_t(h), c.bits, 0, "model id"};
        const Bytes data = c.type == 10 ? samples::tgaRunLength(stored, bpp) : stored;
        Bytes model = samples::tga(format, data, c.type == 1 ? &map : nullptr);
        for (int i : {1, 3, 4, 5, 6, 7, 8, 9, 10, 11}) model[size_t(i)] = uint8_t(rng());
        model[17] = uint8_t(bpp == 4 ? 0x28 : 0x20);

        Bitmap24 picture = decodeAll(model, EntryKind::Targa)[0];
        if (bpp == 4) {  // the fourth byte is alpha when the descriptor gives 8 alpha bits
            picture.setHasAlpha(true);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    picture.alphaRow(y)[x] = stored[(size_t(h - 1 - y) * w + x) * 4 + 3];
        }
        PictureKind kind{};
        const Bytes out = EncodePicturesLike({picture}, EntryKind::Targa, model, {}, &kind);
        EXPECT_EQ(kind, c.kind);
        expectSamePixels(decodeAll(out, EntryKind::Targa)[0], picture);
        if (c.type == 10) {
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + 18 + 8, model.begin()));
            expectRowPackets(out, w, h, bpp);
            // Same pixels, alpha included, as the model's stream holds.
            MemoryByteSource src(out);
            DecoderState state;
            const TargaHeader header = readTargaHeader(src, state);
            readTargaPrelude(src, state, header);
            TargaRleState rle;
            std::vector<uint8_t> row((size_t(w) + 128) * bpp);
            for (int y = 0; y < h; ++y) {
                DecodeTargaRleRow(src, state, rle, row.data(), w, bpp);
                ASSERT_EQ(std::memcmp(row.data(), &stored[size_t(y) * w * bpp], size_t(w) * bpp), 0);
            }
        } else {
            EXPECT_EQ(out, model) << int(c.type) << "/" << int(c.bits);
        }

        // Without a model: the kind's type and depth, a valid header, the same pixels.
        const Bytes plain = EncodePictures({picture}, c.kind);
        EXPECT_EQ(plain[2], c.type);
        EXPECT_EQ(plain[16], c.bits);
        EXPECT_EQ(plain[0], 0);
        EXPECT_EQ(plain[17], bpp == 4 ? 8 : 0);
        EXPECT_EQ(plain[1], c.type == 1 ? 1 : 0);
        expectSamePixels(decodeAll(plain, EntryKind::Targa)[0], picture);
    }
}

TEST(EncodeTarga, RunLengthPacketsAtRowEndsAndTheirLimits) {
    Bitmap24 p(300, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 300; ++x) {
            uint8_t* q = p.row(y) + 3 * x;
            // Row 0 all equal; row 1 all different; row 2 pairs.
            const int v = y == 0 ? 5 : y == 1 ? x : x / 2;
            q[0] = uint8_t(v), q[1] = uint8_t(v >> 8), q[2] = uint8_t(y);
        }
    const Bytes out = EncodeTarga(p, 10, 24);
    expectRowPackets(out, 300, 3, 3);
    // Bottom row first: pairs make 150 two-pixel runs; then literal 128+128+44; then 128+128+44 runs.
    const uint8_t* d = out.data() + 18;
    EXPECT_EQ(d[0], 0x81);
    size_t pos = 150 * 4;
    EXPECT_EQ(d[pos], 127);
    pos += 1 + 128 * 3;
    EXPECT_EQ(d[pos], 127);
    pos += 1 + 128 * 3;
    EXPECT_EQ(d[pos], 43);
    pos += 1 + 44 * 3;
    EXPECT_EQ(d[pos], 0xFF);
    EXPECT_EQ(d[pos + 4], 0xFF);
    EXPECT_EQ(d[pos + 8], 0x80 | 43);
    expectSamePixels(decodeAll(out, EntryKind::Targa)[0], p);
}

TEST(EncodeTarga, GreyOfColoursAndColourMapsBeyond256Colours) {
    Bitmap24 p(3, 1);
    const uint8_t px[9] = {10, 10, 10, 0, 0, 255, 255, 255, 255};
    std::memcpy(p.row(0), px, 9);
    const Bytes grey = EncodePictures({p}, PictureKind::Grey);
    EXPECT_EQ(std::vector<uint8_t>(grey.end() - 3, grey.end()), (std::vector<uint8_t>{10, 76, 255}));

    std::mt19937 rng(4);
    const Bitmap24 many = randomPicture(64, 64, rng, 1000);
    PaletteSource source{};
    const Bytes mapped = EncodeTarga(many, 1, 8, {}, &source);
    EXPECT_EQ(source, PaletteSource::Quantised);
    EXPECT_EQ(mapped.size(), 18u + 768 + 64 * 64);
}

// ---- choices and refusals ----

TEST(EncodeChoices, DefaultKindsAndRefusals) {
    std::mt19937 rng(5);
    const Bitmap24 few = randomPicture(20, 20, rng, 255), many = randomPicture(40, 40, rng, 600);
    Bitmap24 clear = many;
    clear.setHasAlpha(true);
    EXPECT_EQ(DefaultPictureKind(EntryKind::Kmg, {few}), PictureKind::Palette);
    EXPECT_EQ(DefaultPictureKind(EntryKind::Kmg, {many}), PictureKind::Rgb16);
    EXPECT_EQ(DefaultPictureKind(EntryKind::Kmg, {clear}), PictureKind::Rgb16);  // alpha all 255
    clear.alphaRow(3)[4] = 127;
    EXPECT_EQ(DefaultPictureKind(EntryKind::Kmg, {clear}), PictureKind::Palette);
    EXPECT_EQ(DefaultPictureKind(EntryKind::Kmg, {many, many}), PictureKind::Palette);
    EXPECT_EQ(DefaultPictureKind(EntryKind::Targa, {many}), PictureKind::Tga24);
    EXPECT_EQ(DefaultPictureKind(EntryKind::Targa, {clear}), PictureKind::Tga32);

    auto message = [](auto&& f) -> std::string {
        try {
            f();
        } catch (const Error& e) {
            return e.what();
        }
        return "no error";
    };
    const Bytes kmg = samples::sampleKmg16(4, 4);
    Bytes tga16 = samples::tga({2, 2, 2, 16, 0, ""}, Bytes(8, 0));
    const Bitmap24 wide(32768, 1);
    EXPECT_EQ(message([&] { EncodePicturesLike({few}, EntryKind::Kmg, Bytes(kmg.begin(), kmg.begin() + 63)); }),
              "Read beyond end of file");
    EXPECT_EQ(message([&] { EncodePicturesLike({few}, EntryKind::Targa, tga16); }),
              "Unsupported TGA format: 16-bit");
    EXPECT_NE(message([&] { EncodePictures({few, few}, PictureKind::Tga24); }), "no error");
    EXPECT_NE(message([&] { EncodePicturesLike({few, few}, EntryKind::Kmg, kmg); }), "no error");
    EXPECT_NE(message([&] { EncodePictures({wide}, PictureKind::Rgb16); }), "no error");
    EXPECT_NE(message([&] { EncodePictures({wide}, PictureKind::Tga24); }), "no error");
    EXPECT_NE(message([&] { EncodePictures({Bitmap24()}, PictureKind::Palette); }), "no error");
    EXPECT_NE(message([&] { EncodePicturesLike({few}, EntryKind::Kmg, kmg, {true, false}); }), "no error");
    // A model cut inside its sub-image table is refused before anything is allocated.
    Bytes table = samples::sampleKmgPalette(2);
    putLe16(&table[28], 65535);
    EXPECT_EQ(message([&] { ReadKmgModel(table.data(), table.size()); }), "Read beyond end of file");
}

}  // namespace
}  // namespace vorlr
