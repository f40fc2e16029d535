// KMG decoding: pixel rules, run-length streams, palette handling, layout and damaged input.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "lib/ImageSamples.h"
#include "platform/Errors.h"
#include "viewers/KmgDecoder.h"

namespace vorlr {
namespace {

using samples::KmgSubImage;

struct Pictures final : KmgTarget {
    std::vector<Bitmap24> pictures = std::vector<Bitmap24>(1);
    std::vector<KmgLayout::Position> placed = std::vector<KmgLayout::Position>(1);
    std::vector<int> begun, done;
    int counts = 0;
    Bitmap24& firstPicture() override { return pictures[0]; }
    void setSubImageCount(int count) override {
        ++counts;
        pictures.resize(count > 0 ? count : 1);
        placed.resize(pictures.size());
    }
    Bitmap24& beginSubImage(int index, KmgLayout::Position at) override {
        begun.push_back(index);
        placed[index] = at;
        return pictures[index];
    }
    void pictureDone(int index) override { done.push_back(index); }
};

std::array<uint8_t, 3> px(const Bitmap24& b, int x, int y) {
    const uint8_t* p = b.row(y) + 3 * x;
    return {p[0], p[1], p[2]};
}
using BGR = std::array<uint8_t, 3>;
constexpr BGR kBlack{0, 0, 0}, kWhite{255, 255, 255};

// Palette whose entry k is red k, green 255-k, blue k/2 (as stored: red, green, blue).
std::array<uint8_t, 768> testPalette() {
    std::array<uint8_t, 768> p{};
    for (int k = 0; k < 256; ++k) {
        p[3 * k] = static_cast<uint8_t>(k);
        p[3 * k + 1] = static_cast<uint8_t>(255 - k);
        p[3 * k + 2] = static_cast<uint8_t>(k / 2);
    }
    return p;
}
BGR paletteColour(int k) { return {uint8_t(k / 2), uint8_t(255 - k), uint8_t(k)}; }

KmgKind decode(const std::vector<uint8_t>& bytes, DecoderState& state, Pictures& out) {
    MemoryByteSource src(bytes);
    return decodeKmg(src, state, out);
}

int readError(const std::function<void()>& f) {
    try {
        f();
    } catch (const FileError& e) {
        return e.code();
    }
    return 0;
}

TEST(Kmg16, PixelRulesLeaveLowBitsEmpty) {
    const auto file = samples::kmg16(5, 1, {0xF800, 0x07E0, 0x001F, 0xFFFF, 0x0000});
    DecoderState state;
    Pictures out;
    EXPECT_EQ(decode(file, state, out), KmgKind::Rgb16);
    EXPECT_STREQ(kmgTypeText(KmgKind::Rgb16), "Type: Kestrom image file (16-bit)");
    const Bitmap24& b = out.pictures[0];
    ASSERT_EQ(b.width(), 5);
    ASSERT_EQ(b.height(), 1);
    EXPECT_EQ(px(b, 0, 0), (BGR{0, 0, 248}));
    EXPECT_EQ(px(b, 1, 0), (BGR{0, 252, 0}));
    EXPECT_EQ(px(b, 2, 0), (BGR{248, 0, 0}));
    EXPECT_EQ(px(b, 3, 0), (BGR{248, 252, 248}));
    EXPECT_EQ(px(b, 4, 0), kBlack);
    EXPECT_EQ(state.ImageWidth, 5);
    EXPECT_EQ(state.ImageHeight, 1);
    EXPECT_EQ(out.done, std::vector<int>{0});
}

TEST(Kmg16, RowsTopFirstAndWideRowsReadInParts) {
    // 3000 pixels need 6000 bytes a row, more than the 4096-byte row buffer.
    const int w = 3000, h = 3;
    std::vector<uint16_t> v(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) v[size_t(y) * w + x] = static_cast<uint16_t>(x * 31 + y * 977);
    DecoderState state;
    Pictures out;
    decode(samples::kmg16(w, h, v), state, out);
    const Bitmap24& b = out.pictures[0];
    ASSERT_EQ(b.width(), w);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const unsigned p = v[size_t(y) * w + x];
            ASSERT_EQ(px(b, x, y), (BGR{uint8_t((p & 31) << 3), uint8_t(((p >> 5) & 63) << 2),
                                        uint8_t((p >> 11) << 3)}))
                << x << "," << y;
        }
}

TEST(Kmg16, ResizesThePreviousPictureAndStopsWhereInputEnds) {
    DecoderState state;
    Pictures out;
    out.pictures[0] = Bitmap24(6, 1);
    std::memset(out.pictures[0].row(0), 7, 18);
    // 4 x 2 image with only 5 pixels of data: the rest keeps the old or the white pixels.
    auto file = samples::kmg16(4, 2, {0xF800, 0xF800, 0xF800, 0xF800, 0x001F});
    decode(file, state, out);
    const Bitmap24& b = out.pictures[0];
    ASSERT_EQ(b.width(), 4);
    ASSERT_EQ(b.height(), 2);
    EXPECT_EQ(px(b, 3, 0), (BGR{0, 0, 248}));
    EXPECT_EQ(px(b, 0, 1), (BGR{248, 0, 0}));
    EXPECT_EQ(px(b, 1, 1), kWhite);

    // No pixel data at all: the old top-left pixels stay.
    file.resize(64);
    decode(samples::kmg16(2, 2, {}), state, out);
    EXPECT_EQ(out.pictures[0].width(), 2);
    EXPECT_EQ(px(out.pictures[0], 1, 0), (BGR{0, 0, 248}));
}

TEST(Kmg16, EmptyOrNegativeSizesLeaveTheFirstPicture) {
    for (auto [w, h] : {std::pair{0, 5}, {5, 0}, {-3, 4}, {4, -1}}) {
        DecoderState state;
        Pictures out;
        out.pictures[0] = Bitmap24(2, 2);
        const Bitmap24 before = out.pictures[0];
        decode(samples::kmg16(int16_t(w), int16_t(h), {1, 2, 3, 4}), state, out);
        EXPECT_EQ(out.pictures[0], before) << w << "x" << h;
    }
}

TEST(KmgPalette, LiteralAndTransparentRuns) {
    // 3, i1, i2, i3, 130 on a 5 x 1 sub-image: three palette pixels, two black.
    const auto file = samples::kmgPalette(testPalette(), {{5, 1, {3, 10, 20, 30, 130}}});
    DecoderState state;
    Pictures out;
    EXPECT_EQ(decode(file, state, out), KmgKind::Palette);
    const Bitmap24& b = out.pictures[0];
    ASSERT_EQ(b.width(), 5);
    EXPECT_EQ(px(b, 0, 0), paletteColour(10));
    EXPECT_EQ(px(b, 1, 0), paletteColour(20));
    EXPECT_EQ(px(b, 2, 0), paletteColour(30));
    EXPECT_EQ(px(b, 3, 0), kBlack);
    EXPECT_EQ(px(b, 4, 0), kBlack);
    EXPECT_STREQ(kmgTypeText(KmgKind::Palette), "Type: Kestrom image file (8-bit)");
}

TEST(KmgPalette, ControlByteLimitsZeroBytesAndRunsAcrossRows) {
    // 128 is a literal run of 128; 129 a transparent run of one.
    std::vector<uint8_t> s{128};
    for (int i = 0; i < 128; ++i) s.push_back(uint8_t(1 + i));
    s.push_back(129);
    s.insert(s.end(), {1, 200});
    DecoderState state;
    Pictures out;
    decode(samples::kmgPalette(testPalette(), {{130, 1, s}}), state, out);
    const Bitmap24& b = out.pictures[0];
    EXPECT_EQ(px(b, 127, 0), paletteColour(128));
    EXPECT_EQ(px(b, 128, 0), kBlack);
    EXPECT_EQ(px(b, 129, 0), paletteColour(200));

    // 3 x 3: zero control bytes are skipped; a literal run of 5 and a transparent run of 2
    // continue into the following rows.
    const std::vector<uint8_t> t{0, 5, 1, 2, 3, 4, 5, 0, 0, 130, 0, 2, 6, 7};
    Pictures out2;
    decode(samples::kmgPalette(testPalette(), {{3, 3, t}}), state, out2);
    const Bitmap24& c = out2.pictures[0];
    EXPECT_EQ(px(c, 2, 0), paletteColour(3));
    EXPECT_EQ(px(c, 0, 1), paletteColour(4));
    EXPECT_EQ(px(c, 1, 1), paletteColour(5));
    EXPECT_EQ(px(c, 2, 1), kBlack);
    EXPECT_EQ(px(c, 0, 2), kBlack);
    EXPECT_EQ(px(c, 1, 2), paletteColour(6));
    EXPECT_EQ(px(c, 2, 2), paletteColour(7));
}

TEST(KmgPalette, EntryZeroKeepsItsColourAndOthersComeFromTheFile) {
    DecoderState state;  // a viewer just started: entry 0 black
    Pictures out;
    const auto file = samples::kmgPalette(testPalette(), {{2, 1, {2, 0, 9}}});
    decode(file, state, out);
    EXPECT_EQ(px(out.pictures[0], 0, 0), kBlack);
    EXPECT_EQ(px(out.pictures[0], 1, 0), paletteColour(9));
    // Stored as blue, green, red.
    EXPECT_EQ(state.SharedPalette[3 * 9 + 0], 4);
    EXPECT_EQ(state.SharedPalette[3 * 9 + 1], 246);
    EXPECT_EQ(state.SharedPalette[3 * 9 + 2], 9);

    // Entry 0 left by an earlier image (a Targa colour map, say) shows through.
    state.SharedPalette[0] = 11, state.SharedPalette[1] = 22, state.SharedPalette[2] = 33;
    Pictures again;
    decode(file, state, again);
    EXPECT_EQ(px(again.pictures[0], 0, 0), (BGR{11, 22, 33}));
}

TEST(KmgPalette, UndecodedPixelsAreWhiteExceptTheDotCorner) {
    // A stream that ends after one pixel: the picture is the 1 x 1 black dot enlarged.
    DecoderState state;
    Pictures out;
    out.pictures[0] = Bitmap24(4, 3);  // same size as before: still starts from the dot
    std::memset(out.pictures[0].row(0), 9, out.pictures[0].stride() * 3);
    decode(samples::kmgPalette(testPalette(), {{4, 3, {}}}), state, out);
    EXPECT_EQ(px(out.pictures[0], 0, 0), kBlack);
    EXPECT_EQ(px(out.pictures[0], 1, 0), kWhite);
    EXPECT_EQ(px(out.pictures[0], 3, 2), kWhite);
    Pictures out2;
    decode(samples::kmgPalette(testPalette(), {{5, 2, {2, 40, 50}}}), state, out2);
    EXPECT_EQ(px(out2.pictures[0], 1, 0), paletteColour(50));
    EXPECT_EQ(px(out2.pictures[0], 2, 0), kWhite);
}

// The window's side planes: each literal pixel's index, alpha 0 in transparent runs, no index
// where the input ended; the colours exactly those of a decoding without planes; and a 16-bit
// image or a Targa decoded into the same picture takes no stale plane along.
TEST(KmgPalette, IndexAndAlphaPlanesBesideUnchangedColours) {
    // 5 x 2: three literals, two transparent, four literals, and the last pixel never reached.
    const auto file = samples::kmgPalette(testPalette(), {{5, 2, {3, 10, 20, 30, 130, 4, 40, 41, 42, 43}}});
    DecoderState plain, planes;
    planes.keepAlpha = planes.keepIndexes = true;
    Pictures without, with;
    decode(file, plain, without);
    decode(file, planes, with);
    const Bitmap24& b = with.pictures[0];
    ASSERT_TRUE(b.hasIndexes());
    ASSERT_TRUE(b.hasAlpha());
    EXPECT_FALSE(without.pictures[0].hasIndexes());
    EXPECT_TRUE(std::equal(b.pixels().begin(), b.pixels().end(), without.pictures[0].pixels().begin(),
                           without.pictures[0].pixels().end()));
    constexpr uint16_t N = Bitmap24::kNoIndex;
    const uint16_t indexes[2][5] = {{10, 20, 30, N, N}, {40, 41, 42, 43, N}};
    const uint8_t alpha[2][5] = {{255, 255, 255, 0, 0}, {255, 255, 255, 255, 255}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(b.indexRow(y)[x], indexes[y][x]) << x << "," << y;
            EXPECT_EQ(b.alphaRow(y)[x], alpha[y][x]) << x << "," << y;
        }

    // A second palette image of the same size starts from fresh planes.
    decode(samples::kmgPalette(testPalette(), {{5, 2, {1, 7}}}), planes, with);
    EXPECT_EQ(with.pictures[0].indexRow(0)[0], 7);
    EXPECT_EQ(with.pictures[0].indexRow(1)[0], N);
    EXPECT_FALSE(with.pictures[0].hasAlpha());

    decode(file, planes, with);
    decode(samples::kmg16(5, 2, std::vector<uint16_t>(10, 0xF800)), planes, with);
    EXPECT_FALSE(with.pictures[0].hasIndexes());
    EXPECT_FALSE(with.pictures[0].hasAlpha());
}

TEST(KmgPalette, LongStreamsMatchTheirPixelsAcrossInputBlocks) {
    // Random runs over several 1024-byte input blocks and several sub-images at odd offsets.
    std::mt19937 rng(7);
    std::vector<KmgSubImage> subs;
    std::vector<std::vector<int>> expected;
    for (int s = 0; s < 3; ++s) {
        const int w = 37 + 50 * s, h = 29 + 7 * s;
        std::vector<int> p(size_t(w) * h);
        for (size_t i = 0; i < p.size();) {
            const int len = 1 + int(rng() % 300);
            const bool transparent = rng() % 3 == 0;
            for (int k = 0; k < len && i < p.size(); ++k, ++i)
                p[i] = transparent ? -1 : 1 + int(rng() % 255);
        }
        subs.push_back({int16_t(w), int16_t(h), samples::kmgCompress(p)});
        expected.push_back(p);
    }
    DecoderState state;
    Pictures out;
    decode(samples::kmgPalette(testPalette(), subs), state, out);
    ASSERT_EQ(out.pictures.size(), 3u);
    EXPECT_EQ(out.begun, (std::vector<int>{0, 1, 2}));
    for (int s = 0; s < 3; ++s) {
        const Bitmap24& b = out.pictures[s];
        ASSERT_EQ(b.width(), subs[s].width);
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x) {
                const int v = expected[s][size_t(y) * b.width() + x];
                ASSERT_EQ(px(b, x, y), v < 0 ? kBlack : paletteColour(v)) << s << ":" << x << "," << y;
            }
    }
}

TEST(KmgLayout, FlowsInsideTheBand) {
    KmgLayout a;
    auto p = a.place(300, 50);
    EXPECT_EQ(p.left, 10);
    EXPECT_EQ(p.top, 10);
    p = a.place(200, 40);  // 520 - 320 = 200 is not greater than 200: new row
    EXPECT_EQ(p.left, 10);
    EXPECT_EQ(p.top, 70);
    p = a.place(100, 10);
    EXPECT_EQ(p.left, 220);
    EXPECT_EQ(p.top, 70);
    p = a.place(400, 5);  // below the lowest image of the row before (70 + 40)
    EXPECT_EQ(p.left, 10);
    EXPECT_EQ(p.top, 120);

    KmgLayout b;
    std::vector<int64_t> lefts;
    int64_t lastTop = 0;
    for (int i = 0; i < 5; ++i) {
        p = b.place(100, 30 + i);
        lefts.push_back(p.left);
        lastTop = p.top;
    }
    EXPECT_EQ(lefts, (std::vector<int64_t>{10, 120, 230, 340, 10}));
    EXPECT_EQ(lastTop, 10 + 33 + 10);  // under the tallest of the first row
}

TEST(KmgLayout, DecoderPlacesSubImages) {
    std::vector<KmgSubImage> subs(5, KmgSubImage{100, 20, {}});
    DecoderState state;
    Pictures out;
    decode(samples::kmgPalette(testPalette(), subs), state, out);
    ASSERT_EQ(out.placed.size(), 5u);
    EXPECT_EQ(out.placed[3].left, 340);
    EXPECT_EQ(out.placed[4].left, 10);
    EXPECT_EQ(out.placed[4].top, 40);
}

TEST(KmgDamage, ShortHeaderPaletteAndRecords) {
    const auto file = samples::kmgPalette(testPalette(), {{2, 2, {4, 1, 2, 3, 4}}, {3, 1, {3, 5, 6, 7}},
                                                          {1, 1, {1, 8}}});
    DecoderState state;
    // Short header: nothing touched.
    {
        Pictures out;
        out.pictures[0] = Bitmap24(1, 1);
        const auto cut = std::vector<uint8_t>(file.begin(), file.begin() + 40);
        EXPECT_EQ(readError([&] { decode(cut, state, out); }), kReadBeyondEof);
        EXPECT_EQ(out.counts, 0);
        EXPECT_EQ(out.pictures[0], Bitmap24(1, 1));
    }
    // Short palette: the shared palette keeps its colours.
    {
        Pictures out;
        const auto cut = std::vector<uint8_t>(file.begin(), file.begin() + 64 + 700);
        EXPECT_EQ(readError([&] { decode(cut, state, out); }), kReadBeyondEof);
        EXPECT_EQ(state.SharedPalette[3 * 100], 0);
        EXPECT_TRUE(out.begun.empty());
    }
    // Record 1 cut short: sub-image 0 is done, the later ones never start.
    {
        Pictures out;
        const auto cut = std::vector<uint8_t>(file.begin(), file.begin() + 832 + 16 + 8);
        EXPECT_EQ(readError([&] { decode(cut, state, out); }), kReadBeyondEof);
        EXPECT_EQ(out.pictures.size(), 3u);
        EXPECT_EQ(out.begun, std::vector<int>{0});
        EXPECT_EQ(out.pictures[0].width(), 2);
        EXPECT_TRUE(out.pictures[1].empty());
    }
}

TEST(KmgDamage, ZeroCountsAndEmptySubImagesDecodeNothing) {
    DecoderState state;
    Pictures out;
    out.pictures[0] = Bitmap24(3, 3);
    const Bitmap24 before = out.pictures[0];
    decode(samples::kmgPalette(testPalette(), {}), state, out);
    EXPECT_EQ(out.pictures.size(), 1u);
    EXPECT_EQ(out.pictures[0], before);

    Pictures mixed;
    decode(samples::kmgPalette(testPalette(), {{0, 4, {}}, {2, -1, {}}, {2, 1, {2, 3, 4}}}), state, mixed);
    EXPECT_EQ(mixed.begun, std::vector<int>{2});
    EXPECT_EQ(mixed.placed[2].left, 10);  // the empty ones take no room
    EXPECT_EQ(px(mixed.pictures[2], 1, 0), paletteColour(4));
}

TEST(KmgDamage, HugeSubImagesAreRefusedBeforeAllocating) {
    std::vector<KmgSubImage> subs{{30000, 30000, {}}, {1, 1, {1, 1}}};
    DecoderState state;
    Pictures out;
    try {
        decode(samples::kmgPalette(testPalette(), subs), state, out);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Out of memory");
    }
    // Two that fit one by one add up past the limit: neither starts, and the process never
    // holds more than a few megabytes (measured in a child, whose peak is its own).
    std::vector<KmgSubImage> two(2, KmgSubImage{32767, 5462, {}});
    const auto file = samples::kmgPalette(testPalette(), two);
    Pictures out2;
    EXPECT_THROW(decode(file, state, out2), Error);
    EXPECT_TRUE(out2.begun.empty());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        DecoderState fresh;
        Pictures none;
        const int code = [&] {
            try {
                decode(file, fresh, none);
            } catch (const Error& e) {
                return std::string(e.what()) == "Out of memory" ? 0 : 2;
            }
            return 3;
        }();
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        ::_exit(code != 0 ? code : usage.ru_maxrss < 64 * 1024 ? 0 : 4);  // KiB
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2/3: wrong error, 4: peak memory 64 MB or more";
}

TEST(KmgDamage, LimitsInTheStateAreCheckedBeforeAnyPicture) {
    // A table adding up past the total fails before the first sub-image, even a small one;
    // one picture past its own limit too; within both, everything decodes.
    const std::vector<KmgSubImage> subs{{10, 10, {}}, {100, 100, {}}, {100, 100, {}}};
    const auto file = samples::kmgPalette(testPalette(), subs);
    struct Case {
        size_t picture, total;
        bool fails;
    } const cases[] = {{100 * 100 * 3, 2 * 100 * 100 * 3, true},
                       {100 * 100 * 3 - 1, 1 << 20, true},
                       {100 * 100 * 3, 10 * 10 * 3 + 2 * 100 * 100 * 3, false}};
    for (const Case& c : cases) {
        DecoderState state;
        state.limits.maxPictureBytes = c.picture;
        state.limits.maxTotalBytes = c.total;
        Pictures out;
        if (c.fails) {
            EXPECT_THROW(decode(file, state, out), Error) << c.picture << " " << c.total;
            EXPECT_TRUE(out.begun.empty());
        } else {
            decode(file, state, out);
            EXPECT_EQ(out.begun, (std::vector<int>{0, 1, 2}));
        }
    }
    // A 16-bit image past the limit for one picture leaves the first picture alone.
    DecoderState state;
    state.limits.maxPictureBytes = 8 * 8 * 3 - 1;
    Pictures out;
    out.pictures[0] = Bitmap24(2, 2);
    EXPECT_THROW(decode(samples::sampleKmg16(8, 8), state, out), Error);
    EXPECT_EQ(out.pictures[0].width(), 2);
}

TEST(KmgDamage, EveryTruncationEndsCleanly) {
    std::vector<int> a(8 * 6, 3), b(5 * 9, -1), c(300, 4);
    for (size_t i = 0; i < b.size(); i += 4) b[i] = int(i);
    const std::vector<std::vector<uint8_t>> files{
        samples::kmgPalette(testPalette(), {{8, 6, samples::kmgCompress(a)},
                                            {5, 9, samples::kmgCompress(b)},
                                            {20, 15, samples::kmgCompress(c)}}),
        samples::sampleKmg16(9, 7)};
    for (const auto& file : files) {
        for (size_t n = 0; n <= file.size(); ++n) {
            const std::vector<uint8_t> cut(file.begin(), file.begin() + n);
            DecoderState state;
            Pictures out;
            const int code = readError([&] { decode(cut, state, out); });
            EXPECT_TRUE(code == 0 || code == kReadBeyondEof) << n;
            // Once the header and table are whole, decoding completes without error.
            if (n == file.size()) {
                EXPECT_EQ(code, 0);
            }
        }
    }
}

}  // namespace
}  // namespace vorlr
