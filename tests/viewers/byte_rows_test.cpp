// An entry's bytes as rows: blocks read only where rows are asked for, bytes ending where the
// reads end, the row text and its columns, Windows-1252 characters, a selection as hex and as
// text, offsets typed in, and searches over piece boundaries, both ways and wrapping.
#include <gtest/gtest.h>

#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "support/Bytes.h"
#include "viewers/ByteRows.h"

using namespace vorlr;
using vorlr::testing::raw;
using Bytes = std::vector<uint8_t>;

namespace {

// A source of any size whose byte at p is p's low byte xor its third byte (no two blocks
// alike), counting the bytes handed out; it ends at `length`.
class CountingSource final : public ByteSource {
public:
    explicit CountingSource(int64_t length, int64_t start = 0) : length_(length), pos_(start) {}
    int64_t readCounted(void* buffer, int64_t count) override {
        const int64_t n = std::max<int64_t>(0, std::min(count, length_ - pos_));
        auto* out = static_cast<uint8_t*>(buffer);
        for (int64_t i = 0; i < n; ++i) out[i] = byteAt(pos_ + i);
        pos_ += n;
        handedOut += n;
        return n;
    }
    void seek(int64_t position) override {
        if (position < 0) throwFileError(kNegativeSeek);
        pos_ = position;
    }
    int64_t position() override { return pos_; }
    int64_t size() override { return length_; }
    static uint8_t byteAt(int64_t p) { return static_cast<uint8_t>(p ^ (p >> 16)); }
    int64_t handedOut = 0;

private:
    int64_t length_, pos_;
};

// A memory source owning its bytes; the entry starts `skip` bytes into them, as an entry
// starts inside its archive.
struct Held {
    explicit Held(Bytes b) : bytes(std::move(b)) {}
    Bytes bytes;
};
std::unique_ptr<ByteSource> memory(const std::shared_ptr<Held>& held, int64_t skip = 0) {
    struct Owning final : ByteSource {
        std::shared_ptr<Held> h;
        MemoryByteSource m;
        explicit Owning(std::shared_ptr<Held> held) : h(std::move(held)), m(h->bytes) {}
        int64_t readCounted(void* b, int64_t n) override { return m.readCounted(b, n); }
        void seek(int64_t p) override { m.seek(p); }
        int64_t position() override { return m.position(); }
        int64_t size() override { return m.size(); }
    };
    auto s = std::make_unique<Owning>(held);
    s->seek(skip);
    return s;
}

ByteBlocks blocksOf(const Bytes& bytes, size_t blockSize = 8, int64_t skip = 0) {
    Bytes all(static_cast<size_t>(skip), 0xEE);
    all.insert(all.end(), bytes.begin(), bytes.end());
    return ByteBlocks(memory(std::make_shared<Held>(all), skip),
                      static_cast<int64_t>(bytes.size()), blockSize, 2);
}

}  // namespace

TEST(ByteBlocks, SizeEndsWhereTheReadsEnd) {
    struct Case {
        const char* label;
        int64_t inSource;  // bytes the source has after the entry's start
        int64_t held;      // bytes the entry is said to hold
        int64_t sizeAfterReading;
        bool cut;
    };
    const Case cases[] = {
        {"empty entry", 100, 0, 0, false},
        {"held bytes all there", 100, 40, 40, false},
        {"entry past the end of the file", 30, 100, 30, true},
        {"past the end on a block boundary", 16, 100, 16, true},
        {"nothing there at all", 0, 100, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ByteBlocks b(std::make_unique<CountingSource>(1000 + c.inSource, 1000), c.held, 8, 2);
        EXPECT_EQ(b.size(), c.held);  // nothing is read before it is asked for
        std::string got(200, '\0');
        got.resize(b.read(0, reinterpret_cast<uint8_t*>(got.data()), got.size()));
        EXPECT_EQ(static_cast<int64_t>(got.size()), c.sizeAfterReading);
        EXPECT_EQ(b.size(), c.sizeAfterReading);
        EXPECT_EQ(b.rows(), (c.sizeAfterReading + 15) / 16);
        EXPECT_EQ(!b.cutReason().empty(), c.cut);
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(static_cast<uint8_t>(got[i]), CountingSource::byteAt(1000 + static_cast<int64_t>(i)));
    }
    // A read that fails ends the bytes there, with the failure's text as the reason.
    struct Failing final : ByteSource {
        int64_t pos = 0;
        int64_t readCounted(void*, int64_t) override { throwFileError(kAccessDenied); }
        void seek(int64_t p) override { pos = p; }
        int64_t position() override { return pos; }
        int64_t size() override { return 1 << 20; }
    };
    ByteBlocks failing(std::make_unique<Failing>(), 4096);
    uint8_t one = 0;
    EXPECT_EQ(failing.read(10, &one, 1), 0u);
    EXPECT_EQ(failing.size(), 0);
    EXPECT_EQ(failing.cutReason(), runtimeErrorText(kAccessDenied));
    ByteBlocks none;
    EXPECT_EQ(none.size(), 0);
    EXPECT_EQ(none.read(0, &one, 1), 0u);
}

TEST(ByteBlocks, RowsOfAHugeEntryCostTheirBlocksOnly) {
    const int64_t huge = int64_t{512} << 20;
    auto source = std::make_unique<CountingSource>(huge);
    CountingSource& counted = *source;
    ByteBlocks b(std::move(source), huge, 4096, 4);
    const int64_t places[] = {0, huge / 2 + 4090, huge - 16, huge / 2 + 4090, 0};
    for (const int64_t at : places) {
        uint8_t row[64];
        ASSERT_EQ(b.read(at, row, sizeof row), static_cast<size_t>(std::min<int64_t>(64, huge - at)));
        for (int i = 0; i < 16; ++i) ASSERT_EQ(row[i], CountingSource::byteAt(at + i));
    }
    // Four blocks for the five places (one row straddles two); the ones seen again are kept.
    EXPECT_EQ(b.sourceReads(), 4u);
    EXPECT_LE(counted.handedOut, 4 * 4096);
}

TEST(ByteRows, OffsetsRowsAndColumns) {
    EXPECT_EQ(OffsetText(0), "00000000");
    EXPECT_EQ(OffsetText(0x10), "00000010");
    EXPECT_EQ(OffsetText(0x7FFFFFF0), "7FFFFFF0");
    const Bytes full = raw({'M', 'Z', 0x90, 0, 3, 0, 0, 0, 4, 0, 0, 0, 0xFF, 0xFF, 0x80, 'a'});
    EXPECT_EQ(RowText(0x1230, full.data(), 16).toStdString(),
              "00001230  4D 5A 90 00 03 00 00 00  04 00 00 00 FF FF 80 61  MZ..........\xC3\xBF\xC3\xBF\xE2\x82\xAC"
              "a");
    // A last row of three bytes: the rest blank, the characters where a full row has them.
    EXPECT_EQ(RowText(0x20, full.data(), 3).toStdString(),
              "00000020  4D 5A 90" + std::string(42, ' ') + "MZ." + std::string(13, ' '));
    EXPECT_EQ(RowText(0, full.data(), 16).size(), kRowColumns);

    // Every byte's two hex columns and its character column lead back to it; the gaps to the
    // byte before, the margins to the first and last byte.
    for (int k = 0; k < kBytesPerRow; ++k) {
        SCOPED_TRACE(k);
        for (const int col : {HexColumnOf(k), HexColumnOf(k) + 1, HexColumnOf(k) + 2}) {
            EXPECT_EQ(ByteAtColumn(col).byte, k);
            EXPECT_FALSE(ByteAtColumn(col).inCharacters);
        }
        EXPECT_EQ(ByteAtColumn(CharColumnOf(k)).byte, k);
        EXPECT_TRUE(ByteAtColumn(CharColumnOf(k)).inCharacters);
    }
    EXPECT_EQ(ByteAtColumn(HexColumnOf(8) - 1).byte, 7);  // the wider gap in the middle
    EXPECT_EQ(ByteAtColumn(0).byte, 0);
    EXPECT_EQ(ByteAtColumn(kCharColumn - 1).byte, 15);
    EXPECT_EQ(ByteAtColumn(500).byte, 15);
    EXPECT_TRUE(ByteAtColumn(500).inCharacters);
}

TEST(ByteRows, BytesShowAsWindows1252Characters) {
    const struct {
        int byte;
        char16_t shown;
    } cases[] = {
        {'A', u'A'},     {' ', u' '},     {'~', u'~'},      {0x00, u'.'},    {0x09, u'.'},
        {0x0A, u'.'},    {0x1F, u'.'},    {0x7F, u'.'},     {0x80, u'\u20AC'}, {0x81, u'.'},
        {0x8D, u'.'},    {0x8F, u'.'},    {0x90, u'.'},     {0x9D, u'.'},    {0x8A, u'\u0160'},
        {0x99, u'\u2122'}, {0x9F, u'\u0178'}, {0xA0, u'\u00A0'}, {0xAD, u'.'}, {0xE9, u'\u00E9'},
        {0xFF, u'\u00FF'},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShownCharacter(static_cast<uint8_t>(c.byte)), c.shown) << "byte " << c.byte;
}

TEST(ByteRows, ASelectionCopiesAsHexAndAsText) {
    const Bytes bytes = raw({'A', 'B', '\t', 'C', 0, 0x80, '\r', '\n', 0x81, 0xE9, 'z', 0x7F});
    const struct {
        const char* label;
        int64_t begin, end;
        const char* hex;
        const char* text;  // UTF-8
    } cases[] = {
        {"all, over three blocks", 0, 12, "41 42 09 43 00 80 0D 0A 81 E9 7A 7F",
         "AB\tC.\xE2\x82\xAC\r\n.\xC3\xA9z."},
        {"one byte", 5, 6, "80", "\xE2\x82\xAC"},
        {"across a block boundary", 3, 6, "43 00 80", "C.\xE2\x82\xAC"},
        {"running past the end stops at it", 10, 40, "7A 7F", "z."},
        {"empty", 4, 4, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ByteBlocks b = blocksOf(bytes, 4, 7);
        EXPECT_EQ(SelectionText(b, c.begin, c.end, CopyAs::Hex).toStdString(), c.hex);
        EXPECT_EQ(SelectionText(b, c.begin, c.end, CopyAs::Text).toStdString(), c.text);
    }
    // Too much to copy: refused before a byte is read.
    const int64_t huge = kCopyLimit * 2;
    ByteBlocks big(std::make_unique<CountingSource>(huge), huge);
    EXPECT_NO_THROW(SelectionText(big, 0, 64, CopyAs::Hex));
    const uint64_t reads = big.sourceReads();
    EXPECT_THROW(SelectionText(big, 0, kCopyLimit + 1, CopyAs::Text), Error);
    EXPECT_EQ(big.sourceReads(), reads);
}

TEST(ByteRows, TypedInOffsetsAndHexBytes) {
    const struct {
        const char* text;
        int64_t size;
        bool valid;
        int64_t offset;
        bool pastEnd;
    } offsets[] = {
        {"10", 32, true, 16, false},     {"$1f", 32, true, 31, false},
        {"0x1F", 32, true, 31, false},   {"  #16 ", 32, true, 16, false},
        {"0", 32, true, 0, false},       {"20", 32, true, 31, true},
        {"#32", 32, true, 31, true},     {"FFFFFFFFFFFFFFFFFFFFFF", 32, true, 31, true},
        {"0", 0, true, 0, true},         {"", 32, false, 0, false},
        {"$", 32, false, 0, false},      {"#1A", 32, false, 0, false},
        {"-1", 32, false, 0, false},     {"12 34", 32, false, 0, false},
        {"g", 32, false, 0, false},
    };
    for (const auto& c : offsets) {
        SCOPED_TRACE(c.text);
        const std::optional<GoTo> g = ParseGoTo(c.text, c.size);
        ASSERT_EQ(g.has_value(), c.valid);
        if (!g) continue;
        EXPECT_EQ(g->offset, c.offset);
        EXPECT_EQ(g->pastEnd, c.pastEnd);
    }
    const struct {
        const char* text;
        std::optional<std::string> bytes;
    } hex[] = {
        {"4D5A", std::string("MZ")},       {"4d 5a\t90", std::string("MZ\x90")},
        {"00", std::string(1, '\0')},      {"4D5", std::nullopt},
        {"4G", std::nullopt},              {"", std::nullopt},
        {"  ", std::nullopt},              {"0x4D", std::nullopt},
    };
    for (const auto& c : hex) EXPECT_EQ(ParseHexBytes(c.text), c.bytes) << c.text;
}

TEST(ByteSearch, FindsAcrossPiecesBothWaysAndWraps) {
    // "ab" at 3, "AB" at 9 (across the 4-start pieces and the 4-byte blocks), "ab" at 14 (last).
    Bytes bytes(16, '.');
    for (const auto& [at, s] : std::vector<std::pair<size_t, std::string>>{{3, "ab"}, {9, "AB"}, {14, "ab"}})
        for (size_t i = 0; i < s.size(); ++i) bytes[at + i] = static_cast<uint8_t>(s[i]);
    const struct {
        const char* label;
        std::string pattern;
        bool ignoreCase;
        int64_t from;
        bool forward;
        std::optional<int64_t> match;
        bool wrapped;
    } cases[] = {
        {"first from the top", "ab", false, -1, true, 3, false},
        {"next after a match", "ab", false, 3, true, 14, false},
        {"case ignored", "ab", true, 3, true, 9, false},
        {"past the last: round to the first", "ab", false, 14, true, 3, true},
        {"the only match found again round", "AB", false, 9, true, 9, true},
        {"previous", "ab", true, 14, false, 9, false},
        {"previous from the first wraps to the last", "ab", false, 3, false, 14, true},
        {"previous from past the end", "ab", false, 16, false, 14, false},
        {"hex bytes at the very start", "..", false, -1, true, 0, false},
        {"no match", "abc", false, -1, true, std::nullopt, false},
        {"longer than the entry", std::string(17, '.'), false, -1, true, std::nullopt, false},
        {"empty pattern", "", false, -1, true, std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ByteBlocks b = blocksOf(bytes, 4, 5);
        ByteSearch search(b, c.pattern, c.ignoreCase, 4);
        search.start(c.from, c.forward);
        int slices = 0;
        while (!search.run(4)) ASSERT_LT(++slices, 100);
        EXPECT_EQ(search.match(), c.match);
        if (c.match) {
            EXPECT_EQ(search.wrapped(), c.wrapped);
        }
        EXPECT_TRUE(search.done());
    }
    // Every place a match can stand relative to the pieces, in a longer entry.
    for (int64_t at = 0; at + 3 <= 40; ++at) {
        Bytes zeros(40, 0);
        zeros[static_cast<size_t>(at)] = 1, zeros[static_cast<size_t>(at) + 1] = 2,
        zeros[static_cast<size_t>(at) + 2] = 3;
        ByteBlocks b = blocksOf(zeros, 8);
        ByteSearch forward(b, "\x01\x02\x03", false, 5);
        forward.start(-1, true);
        forward.run(1000);
        EXPECT_EQ(forward.match(), at);
        ByteSearch backward(b, "\x01\x02\x03", false, 5);
        backward.start(40, false);
        backward.run(1000);
        EXPECT_EQ(backward.match(), at);
    }
    // A slice of the budget leaves the search partway, its progress between.
    ByteBlocks b = blocksOf(Bytes(1000, 0), 64);
    ByteSearch slow(b, "x", false, 10);
    slow.start(-1, true);
    EXPECT_FALSE(slow.run(100));
    EXPECT_GT(slow.progress(), 0.0);
    EXPECT_LT(slow.progress(), 1.0);
    EXPECT_TRUE(slow.run(1000));
    EXPECT_FALSE(slow.match());
    EXPECT_EQ(slow.progress(), 1.0);
}
