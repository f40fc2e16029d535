// UTF-16 to 8-bit conversion: the pure byte form and the in-place file form through "$$$$".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/QarBuilder.h"
#include "platform/Errors.h"
#include "platform/RuntimeFile.h"
#include "support/Bytes.h"
#include "support/TempDir.h"
#include "viewers/TextConvert.h"

using namespace vorlr;
using vorlr::samples::readFile;
using vorlr::samples::writeFile;
using vorlr::testing::raw;
using vorlr::testing::ScopedCwd;
using vorlr::testing::str;
using vorlr::testing::TempDir;

namespace {

// UTF-16 LE with a mark: unit i of the text is (i % 251) + 256 * (i % 7), so both bytes vary.
std::vector<uint8_t> unicodeFile(size_t units, bool oddTail = false) {
    std::vector<uint8_t> out = {0xFF, 0xFE};
    for (size_t i = 0; i < units; ++i) {
        out.push_back(static_cast<uint8_t>(i % 251));
        out.push_back(static_cast<uint8_t>(i % 7));
    }
    if (oddTail) out.push_back(0x5A);
    return out;
}

std::string expectedLowBytes(size_t units) {
    std::string out;
    for (size_t i = 0; i < units; ++i) out.push_back(static_cast<char>(i % 251));
    return out;
}

// Runs the file conversion on TEMP.TXT holding the given bytes, in a fresh folder.
struct FileRun {
    TempDir dir;
    ScopedCwd cwd{dir.path()};
    WorkBufferBytes buffer{};

    std::string convert(const std::vector<uint8_t>& content) {
        writeFile("TEMP.TXT", content);
        ConvertUnicodeFile("TEMP.TXT", buffer);
        return str(readFile("TEMP.TXT"));
    }
};

}  // namespace

TEST(KeepLowBytes, MovesEveryEvenByteDownAndHalvesTheCount) {
    for (size_t n : {0u, 1u, 2u, 3u, 31u, 32u, 33u, 64u, 100u, 16384u}) {
        std::vector<uint8_t> buf(n);
        for (size_t i = 0; i < n; ++i) buf[i] = static_cast<uint8_t>(i * 7 + 3);
        const std::vector<uint8_t> original = buf;
        ASSERT_EQ(KeepLowBytes(buf.data(), n), n / 2) << n;
        for (size_t k = 0; k < n / 2; ++k) ASSERT_EQ(buf[k], original[2 * k]) << "n=" << n << " k=" << k;
    }
}

TEST(ConvertUnicodeBytes, KeepsLowBytesAfterTheMark) {
    EXPECT_EQ(ConvertUnicodeBytes(str(raw({0xFF, 0xFE, 0x41, 0x00, 0x42, 0x00}))), "AB");
    // U+20AC comes out as its low byte; an odd last byte is dropped.
    EXPECT_EQ(ConvertUnicodeBytes(str(raw({0xFF, 0xFE, 0xAC, 0x20, 0x43}))), "\xAC");
    // The second byte of the mark is not looked at, and nothing follows a lone mark.
    EXPECT_EQ(ConvertUnicodeBytes(str(raw({0xFF, 0x00, 0x61, 0x00}))), "a");
    EXPECT_EQ(ConvertUnicodeBytes(str(raw({0xFF}))), "");
    EXPECT_EQ(ConvertUnicodeBytes(""), "");
}

TEST(ConvertUnicodeFile, SmallFilesAndTheScratchCopy) {
    FileRun run;
    EXPECT_EQ(run.convert(raw({0xFF, 0xFE, 0x41, 0x00, 0x42, 0x00})), "AB");
    EXPECT_TRUE(fileExists("TEMP.TXT"));
    EXPECT_FALSE(fileExists("$$$$"));

    EXPECT_EQ(run.convert(raw({0xFF, 0xFE, 0xAC, 0x20})), "\xAC");
    EXPECT_EQ(run.convert(raw({0xFF, 0xFE, 0x41, 0x00, 0x42})), "A");  // odd length
    EXPECT_EQ(run.convert(raw({0xFF})), "");
    EXPECT_EQ(run.convert({}), "");
    EXPECT_FALSE(fileExists("$$$$"));
}

TEST(ConvertUnicodeFile, BlocksAcrossTheWorkBufferBoundary) {
    FileRun run;
    // Unit counts around one and two work buffers (8192 units each), odd tails included.
    for (size_t units : {8191u, 8192u, 8193u, 16383u, 16384u, 16385u, 40000u}) {
        for (bool odd : {false, true}) {
            const auto content = unicodeFile(units, odd);
            const std::string got = run.convert(content);
            ASSERT_EQ(got.size(), units) << units << (odd ? " odd" : "");
            ASSERT_EQ(got, expectedLowBytes(units)) << units;
            ASSERT_EQ(got, ConvertUnicodeBytes(str(content))) << units;
            ASSERT_FALSE(fileExists("$$$$"));
        }
    }
}

TEST(ConvertUnicodeFile, AnOldScratchCopyIsReplaced) {
    FileRun run;
    writeFile("$$$$", std::vector<uint8_t>(100000, 'x'));
    EXPECT_EQ(run.convert(raw({0xFF, 0xFE, 0x7A, 0x00})), "z");
    EXPECT_FALSE(fileExists("$$$$"));
}

TEST(ConvertUnicodeFile, MissingSourceIsFileNotFound) {
    FileRun run;
    try {
        ConvertUnicodeFile("TEMP.TXT", run.buffer);  // never written, and no "$$$$" either
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.code(), kFileNotFound);
        EXPECT_STREQ(e.what(), "File not found");
    }
}

TEST(ConvertUnicodeFile, AFailedRenameConvertsWhateverScratchCopyExists) {
    FileRun run;
    // TEMP.TXT is missing, so the rename does nothing and the stale copy is read instead.
    writeFile("$$$$", raw({0xFF, 0xFE, 0x51, 0x00, 0x52, 0x00}));
    ConvertUnicodeFile("TEMP.TXT", run.buffer);
    EXPECT_EQ(str(readFile("TEMP.TXT")), "QR");
    EXPECT_FALSE(fileExists("$$$$"));
}
