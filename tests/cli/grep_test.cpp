// qar grep against a reference written out here: the archive's records read by hand, texts
// turned into the lines the Text page shows (the RTF's plain text written down with it), and
// std::regex's POSIX extended grammar (or a plain find for -F) deciding which lines match.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "lib/QarBuilder.h"
#include "lib/TextSamples.h"
#include "support/Bytes.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

using namespace vorlr;
using vorlr::samples::QarEntry;
using vorlr::testing::runQar;
using vorlr::testing::str;
using vorlr::testing::TempDir;

namespace {

std::vector<uint8_t> bytesOf(const std::string& s) { return samples::bytesOf(s); }

std::vector<uint8_t> utf16Be(const std::string& ascii) {
    std::vector<uint8_t> out{0xFE, 0xFF};
    for (const char c : ascii) out.push_back(0), out.push_back(static_cast<uint8_t>(c));
    return out;
}

const std::string kRtf =
    "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red255\\green0\\blue0;}\\f0 "
    "The {\\b dragon}'s health=\\cf1 90\\cf0\\par Caf\\'e9 dragon\\line DRAGON lair\\par}";
// What the Text page shows of it, line by line.
const std::vector<std::string> kRtfLines = {"The dragon's health=90", "Caf\xe9 dragon", "DRAGON lair"};

// The archive of the tests: texts of every form, entries that are no texts, a damaged one.
std::vector<QarEntry> sampleEntries() {
    return {
        {"DATA\\PLAIN.TXT", bytesOf("dragon health=50\r\nno match here\rDragon\nlast dragon"), {}, {}, false},
        {"DATA\\UNI.INI", samples::utf16LeWithMark("[Dragon]\r\nhealth=70\r\nname=red dragon\r\n"), {}, {}, false},
        {"DATA\\BE.TXT", utf16Be("dragon be"), {}, {}, false},
        {"DATA\\LAIR.TXT", bytesOf(kRtf), {}, {}, false},
        {"GFX\\DRAGON.TGA", bytesOf(std::string("\x00\x01dragon\x00\xff\nxx", 13)), {}, {}, false},
        {"SND\\ROAR.WAV", bytesOf(std::string("RIFF\x00\x00WAVE no beast", 19)), {}, {}, false},
        {"DATA\\PLAIN.TXT", bytesOf("second copy: dragon\n"), {}, {}, false},
        {"ITEMS.DAT", bytesOf("a\nDRAGON\ndragon\n"), {}, {}, false},
        {"DATA\\DOTS.INI", bytesOf("a.c\nabc\n"), {}, {}, false},
        // Recorded as far longer than the file: searched as far as the file goes.
        {"DATA\\PAST.TXT", bytesOf("dragon at the end\n"), {}, 100000, false},
    };
}

struct RefEntry {
    std::string name;
    bool text = false;
    std::vector<std::string> lines;
    bool damaged = false;
};

bool endsWithCi(const std::string& s, const char* ext) {
    const size_t n = std::strlen(ext);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != ext[i]) return false;
    return true;
}

std::vector<std::string> splitLines(const std::string& t, bool crToo) {
    std::vector<std::string> lines;
    std::string cur;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '\n' || (crToo && t[i] == '\r')) {
            if (crToo && t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ++i;
            lines.push_back(cur);
            cur.clear();
        } else {
            cur += t[i];
        }
    }
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

// The records of the written archive, read by hand: name, offset, size at the end of the file.
std::vector<RefEntry> reference(const std::string& path, size_t count) {
    const std::string file = str(samples::readFile(path));
    std::vector<RefEntry> out;
    const size_t dir = file.size() - count * 280;
    for (size_t i = 0; i < count; ++i) {
        const char* rec = file.data() + dir + i * 280;
        RefEntry e;
        e.name = std::string(rec, strnlen(rec, 200));
        int32_t offset, size;
        std::memcpy(&offset, rec + 256, 4);
        std::memcpy(&size, rec + 260, 4);
        const size_t end = std::min<size_t>(file.size(), static_cast<size_t>(offset) + static_cast<size_t>(size));
        e.damaged = end < static_cast<size_t>(offset) + static_cast<size_t>(size);
        std::string data = file.substr(static_cast<size_t>(offset), end - static_cast<size_t>(offset));
        e.text = endsWithCi(e.name, ".txt") || endsWithCi(e.name, ".ini");
        if (e.text && !data.empty() && static_cast<unsigned char>(data[0]) == 0xFF) {
            std::string low;
            for (size_t k = 2; k + 1 < data.size(); k += 2) low += data[k];
            data = low;
        }
        if (e.text && data.rfind("{\\rtf", 0) == 0) e.lines = kRtfLines;
        else e.lines = splitLines(data, e.text);
        out.push_back(e);
    }
    return out;
}

struct Flags {
    bool i = false, F = false, l = false, c = false, n = false, textOnly = false;
};

bool lineMatches(const std::string& line, const std::string& pattern, const Flags& f) {
    if (f.F) {
        if (!f.i) return line.find(pattern) != std::string::npos;
        const auto lower = [](std::string s) {
            for (char& c : s)
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            return s;
        };
        return lower(line).find(lower(pattern)) != std::string::npos;
    }
    auto flags = std::regex::extended;
    if (f.i) flags |= std::regex::icase;
    return std::regex_search(line, std::regex(pattern, flags));
}

// grep's output over the reference entries of several archives.
std::string expectedOutput(const std::vector<std::pair<std::string, std::vector<RefEntry>>>& archives,
                           const std::string& pattern, const Flags& f) {
    std::string out;
    for (const auto& [path, entries] : archives) {
        const std::string prefix = archives.size() > 1 ? path + ":" : "";
        for (const RefEntry& e : entries) {
            if (f.textOnly && !e.text) continue;
            std::vector<std::pair<size_t, std::string>> hits;
            for (size_t k = 0; k < e.lines.size(); ++k)
                if (lineMatches(e.lines[k], pattern, f)) hits.emplace_back(k + 1, e.lines[k]);
            if (f.l) {
                if (!hits.empty()) out += prefix + e.name + "\n";
            } else if (f.c) {
                out += prefix + e.name + ":" + std::to_string(hits.size()) + "\n";
            } else if (!e.text) {
                if (!hits.empty()) out += prefix + e.name + ": binary entry matches\n";
            } else {
                for (const auto& [number, line] : hits)
                    out += prefix + e.name + ":" + (f.n ? std::to_string(number) + ":" : "") + line + "\n";
            }
        }
    }
    return out;
}

std::vector<std::string> argsOf(const std::string& pattern, const Flags& f) {
    std::vector<std::string> args{"grep"};
    if (f.i) args.push_back("-i");
    if (f.F) args.push_back("-F");
    if (f.l) args.push_back("-l");
    if (f.c) args.push_back("-c");
    if (f.n) args.push_back("-n");
    if (f.textOnly) args.push_back("--text-only");
    args.push_back(pattern);
    return args;
}

TEST(QarGrep, OutputEqualsTheReferenceForEachOption) {
    TempDir dir;
    const std::string a = dir.file("a.qar"), b = dir.file("b.qar");
    const auto entries = sampleEntries();
    samples::writeQar(a, entries);
    samples::writeQar(b, {{"README.TXT", bytesOf("Dragons live here.\nnothing\n"), {}, {}, false},
                          {"BIN.DAT", bytesOf("xdragonx"), {}, {}, false}});
    const auto refA = reference(a, entries.size());
    const auto refB = reference(b, 2);
    ASSERT_TRUE(refA.back().damaged);

    struct Case {
        const char* pattern;
        Flags flags;
        bool both;  // both archives
    };
    const Case cases[] = {
        {"dragon", {}, false},
        {"dragon", {.i = true}, false},
        {"drag.n|lair", {.n = true}, false},
        {"^(dragon|Dragon)$", {.n = true}, false},
        {"health=[0-9]+", {.c = true}, false},
        {"dragon", {.l = true}, false},
        {"dragon", {.i = true, .c = true}, false},
        {"a.c", {.F = true}, false},  // no dot as a wildcard with -F
        {"DRAGON", {.i = true, .F = true, .n = true}, false},
        {"Caf\xe9", {}, false},
        {"CAF\xc9|LAIR", {.i = true}, false},  // no folding above A-Z
        {"dragon", {.textOnly = true}, false},
        {"dragon", {.c = true, .textOnly = true}, false},
        {"[Dd]ragon", {.n = true}, true},
        {"dragon", {.l = true}, true},
        {"dragon", {.c = true}, true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = argsOf(c.pattern, c.flags);
        args.push_back(a);
        std::vector<std::pair<std::string, std::vector<RefEntry>>> archives{{a, refA}};
        if (c.both) {
            args.push_back(b);
            archives.emplace_back(b, refB);
        }
        std::string line;
        for (const auto& w : args) line += w + " ";
        SCOPED_TRACE(line);
        const auto r = runQar(args);
        const std::string expected = expectedOutput(archives, c.pattern, c.flags);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(r.out, expected);
        // The damaged entry is reported and makes the status 2, as an error makes grep's.
        EXPECT_NE(r.err.find("DATA\\PAST.TXT: data beyond the end of the archive"), std::string::npos) << r.err;
        EXPECT_EQ(r.status, 2);
        // The same with one worker, and with the archive that has no damage alone.
        args.insert(args.begin() + 1, {"-j", "1"});
        EXPECT_EQ(runQar(args).out, expected);
    }
}

TEST(QarGrep, StatusesAndMessages) {
    TempDir dir;
    const std::string a = dir.file("a.qar");
    samples::writeQar(a, {{"A.TXT", bytesOf("alpha\nbeta\n"), {}, {}, false},
                          {"B.DAT", bytesOf("gamma"), {}, {}, false}});
    EXPECT_EQ(runQar({"grep", "beta", a}).status, 0);
    const auto none = runQar({"grep", "delta", a});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "");
    EXPECT_EQ(runQar({"grep", "-c", "delta", a}).out, "A.TXT:0\nB.DAT:0\n");
    EXPECT_EQ(runQar({"grep", "-c", "delta", a}).status, 1);
    for (const char* bad : {"a(", "[b", "x{3,1}", "a\\", "(a)\\2"}) {
        const auto r = runQar({"grep", bad, a});
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_EQ(r.out, "") << bad;
        EXPECT_EQ(r.err.rfind("qar: bad pattern '" + std::string(bad) + "': ", 0), 0u) << r.err;
    }
    // The same pattern is fine as fixed bytes.
    EXPECT_EQ(runQar({"grep", "-F", "a(", a}).status, 1);
    // An archive that cannot be read is reported; the others are still searched.
    const auto missing = runQar({"grep", "beta", dir.file("none.qar"), a});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, a + ":A.TXT:beta\n");
    EXPECT_NE(missing.err.find("none.qar"), std::string::npos);
    EXPECT_EQ(runQar({"grep", "beta"}).status, 2);  // no ARCHIVE
    EXPECT_EQ(runQar({"grep", "-j", "0", "beta", a}).status, 2);
}

// Lines of a large text and of entries larger than a read block, each found once, in order.
TEST(QarGrep, LargeEntriesAndManyEntriesKeepTheirOrder) {
    TempDir dir;
    const std::string a = dir.file("big.qar");
    std::vector<QarEntry> entries;
    std::string expected;
    std::string bigBinary(3 << 20, 'x');
    for (size_t k = 0; k < bigBinary.size(); k += 100) bigBinary[k] = '\n';
    bigBinary.replace((2 << 20) + 7, 6, "needle");  // past the first blocks, inside one line
    entries.push_back({"BIG.DAT", bytesOf(bigBinary), {}, {}, false});
    expected += "BIG.DAT:1\n";
    for (int i = 0; i < 300; ++i) {
        const std::string name = "T\\" + std::to_string(i) + ".TXT";
        std::string text;
        for (int l = 0; l < i % 7; ++l) text += (l == 3 ? "a needle\r\n" : "hay\r\n");
        entries.push_back({name, bytesOf(text), {}, {}, false});
        expected += name + ":" + std::to_string(i % 7 > 3 ? 1 : 0) + "\n";
    }
    samples::writeQar(a, entries);
    const auto r = runQar({"grep", "-c", "-j", "3", "-F", "needle", a});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected);
}

}  // namespace
