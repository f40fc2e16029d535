// qar text: the bytes the viewer would load, for plain and UTF-16 entries of every length.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/QarBuilder.h"
#include "lib/TextSamples.h"
#include "support/Bytes.h"
#include "support/QarRun.h"
#include "support/TempDir.h"
#include "viewers/TextConvert.h"

using namespace vorlr;
using vorlr::samples::QarEntry;
using vorlr::testing::TempDir;

namespace {

using vorlr::testing::runQar;
using vorlr::testing::str;

}  // namespace

TEST(QarText, PlainAndUnicodeEntriesAsTheViewerLoadsThem) {
    TempDir dir;
    // UTF-16 entries whose lengths straddle the 16384-byte copy blocks, odd ones included.
    std::vector<QarEntry> entries;
    std::vector<std::string> expected;
    for (size_t len : {0u, 1u, 2u, 5u, 16383u, 16384u, 16385u, 16386u, 40001u}) {
        std::vector<uint8_t> data(len);
        for (size_t i = 0; i < len; ++i) data[i] = static_cast<uint8_t>((i * 31 + 7) & 0xFF);
        if (len > 0) data[0] = 0xFF;
        entries.push_back(QarEntry{"U" + std::to_string(len) + ".TXT", data, {}, {}, false});
        expected.push_back(len > 0 ? ConvertUnicodeBytes(str(data)) : std::string());
    }
    entries.push_back(QarEntry{"DIR\\PLAIN.TXT", samples::bytesOf("a\r\nb\xe9\n"), {}, {}, false});
    entries.push_back(QarEntry{"BE.TXT", {0xFE, 0xFF, 0x00, 0x41}, {}, {}, false});
    entries.push_back(QarEntry{"INI.INI", samples::utf16LeWithMark("K=\xe2\x82\xac"), {}, {}, false});
    const std::string path = dir.file("t.qar");
    samples::writeQar(path, entries);

    for (size_t i = 0; i < expected.size(); ++i) {
        const auto r = runQar({"text", path, entries[i].name});
        EXPECT_EQ(r.status, 0) << entries[i].name;
        EXPECT_EQ(r.out, expected[i]) << entries[i].name;
    }
    EXPECT_EQ(runQar({"text", path, "DIR/PLAIN.TXT"}).out, "a\r\nb\xe9\n");
    EXPECT_EQ(runQar({"text", path, "DIR\\PLAIN.TXT"}).out, "a\r\nb\xe9\n");
    EXPECT_EQ(runQar({"text", path, "BE.TXT"}).out, std::string("\xFE\xFF\x00\x41", 4));
    EXPECT_EQ(runQar({"text", path, "INI.INI"}).out, "K=\xAC");
}

TEST(QarText, UsageAndLookupErrors) {
    TempDir dir;
    const std::string path = dir.file("t.qar");
    samples::writeQar(path, {QarEntry{"A.TXT", samples::bytesOf("x"), {}, {}, false},
                             QarEntry{"PAST.TXT", {0xFF, 0xFE, 0x41, 0x00}, {}, 1000, false}});
    EXPECT_EQ(runQar({"text", path}).status, 2);
    EXPECT_EQ(runQar({"text", path, "NOPE.TXT"}).status, 1);
    EXPECT_EQ(runQar({"text", dir.file("missing.qar"), "A.TXT"}).status, 1);
    EXPECT_EQ(runQar({"text", path, "#0"}).out, "x");
    // Data recorded past the archive's end: what there is, then a failure status.
    EXPECT_EQ(runQar({"text", path, "PAST.TXT"}).status, 1);
}
