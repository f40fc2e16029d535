// --json as scripts read it: every line parses as one JSON object whose fields equal the text
// output's, names keep every byte; and each command's synopsis in --help equals the man page's.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "lib/DemoArchive.h"
#include "lib/QarBuilder.h"
#include "support/Entries.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

using vorlr::samples::buildQar;
using vorlr::samples::bytesOf;
using vorlr::samples::QarEntry;
using vorlr::samples::writeFile;
using vorlr::testing::entry;
using vorlr::testing::runQar;
using vorlr::testing::TempDir;

namespace {

// A flat JSON object: strings (UTF-8), integers, booleans. Anything else fails the test.
using Value = std::variant<std::string, int64_t, bool>;
using Object = std::map<std::string, Value>;

class Parser {
public:
    explicit Parser(const std::string& text) : s_(text) {}
    bool object(Object& out) {
        if (!eat('{')) return false;
        if (eat('}')) return done();
        do {
            std::string key;
            Value v;
            if (!string(key) || !eat(':') || !value(v) || out.count(key)) return false;
            out[key] = v;
        } while (eat(','));
        return eat('}') && done();
    }

private:
    bool done() const { return i_ == s_.size(); }
    bool eat(char c) {
        if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
        return false;
    }
    bool word(const char* w) {
        const std::string t(w);
        if (s_.compare(i_, t.size(), t) != 0) return false;
        i_ += t.size();
        return true;
    }
    bool value(Value& v) {
        std::string text;
        if (i_ < s_.size() && s_[i_] == '"') return string(text) && (v = text, true);
        if (word("true")) return v = true, true;
        if (word("false")) return v = false, true;
        const size_t start = i_;
        eat('-');
        while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
        if (i_ == start || s_[i_ - 1] == '-') return false;
        v = static_cast<int64_t>(std::stoll(s_.substr(start, i_ - start)));
        return true;
    }
    void utf8(uint32_t u, std::string& out) {
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    bool string(std::string& out) {
        if (!eat('"')) return false;
        while (i_ < s_.size() && s_[i_] != '"') {
            const auto c = static_cast<unsigned char>(s_[i_++]);
            if (c < 0x20) return false;  // raw control characters are not JSON
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (i_ >= s_.size()) return false;
            const char e = s_[i_++];
            const std::string simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
            if (const size_t k = simple.find(e); k != std::string::npos) {
                out += meaning[k];
            } else if (e == 'u' && i_ + 4 <= s_.size()) {
                utf8(static_cast<uint32_t>(std::stoul(s_.substr(i_, 4), nullptr, 16)), out);
                i_ += 4;
            } else {
                return false;
            }
        }
        return eat('"');
    }
    const std::string& s_;
    size_t i_ = 0;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<Object> parseLines(const std::string& text) {
    std::vector<Object> out;
    for (const std::string& line : lines(text)) {
        Object o;
        EXPECT_TRUE(Parser(line).object(o)) << line;
        out.push_back(o);
    }
    return out;
}

// Windows-1252 bytes as UTF-8, written out here so that the tool's own table is not reused.
std::string cp1252(const std::string& bytes) {
    static const uint16_t high[32] = {0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020,
                                      0x2021, 0x2C6,  0x2030, 0x160,  0x2039, 0x152,  0x8D,
                                      0x17D,  0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D,
                                      0x2022, 0x2013, 0x2014, 0x2DC,  0x2122, 0x161,  0x203A,
                                      0x153,  0x9D,   0x17E,  0x178};
    std::string out;
    for (unsigned char b : bytes) {
        const uint32_t u = b >= 0x80 && b < 0xA0 ? high[b - 0x80] : b;
        if (u < 0x80) out += static_cast<char>(u);
        else if (u < 0x800) out += {static_cast<char>(0xC0 | (u >> 6)), static_cast<char>(0x80 | (u & 0x3F))};
        else out += {static_cast<char>(0xE0 | (u >> 12)), static_cast<char>(0x80 | ((u >> 6) & 0x3F)), static_cast<char>(0x80 | (u & 0x3F))};
    }
    return out;
}

std::string hex(const std::string& bytes) {
    std::string out;
    char two[3];
    for (unsigned char b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

// A stored name given back: the text always, the raw bytes exactly when a byte is undefined.
void expectName(const Object& o, const std::string& key, const std::string& bytes) {
    ASSERT_TRUE(o.count(key)) << key;
    EXPECT_EQ(std::get<std::string>(o.at(key)), cp1252(bytes));
    const bool undefined = bytes.find_first_of("\x81\x8D\x8F\x90\x9D") != std::string::npos;
    EXPECT_EQ(o.count(key + "_hex"), undefined ? 1u : 0u) << bytes;
    if (undefined) {
        EXPECT_EQ(std::get<std::string>(o.at(key + "_hex")), hex(bytes));
    }
}

int64_t num(const Object& o, const std::string& key) { return std::get<int64_t>(o.at(key)); }

class JsonCli : public ::testing::Test {
protected:
    void SetUp() override {
        demo_ = vorlr::samples::writeDemo(dir_.file("demo"));
        // Names with undefined and control bytes, a quote, and letters of the upper half.
        std::vector<QarEntry> odd = {entry("ODD\\A\x81" "B.TXT", "a"), entry("ODD\\Q\"\\T\x01.TXT", "q"),
                                     entry("ODD\\\xE9T\xC9\x80.TXT", "e"), entry("ODD\\A\x81" "B.TXT", "dup")};
        odd.push_back(QarEntry{"BAD", {}, 100000, 5, false});  // data outside the file: check
        writeFile(odd_, buildQar(odd));
    }
    TempDir dir_;
    std::string demo_;
    const std::string odd_ = dir_.file("odd.qar");
};

TEST_F(JsonCli, ListTreeInfoCheckEqualTheText) {
    for (const std::string& archive : {demo_, odd_}) {
        // list: INDEX OFFSET SIZE NAME.
        auto text = runQar({"list", archive}), json = runQar({"list", archive, "--json"});
        EXPECT_EQ(json.status, text.status);
        auto objects = parseLines(json.out);
        auto rows = lines(text.out);
        ASSERT_EQ(objects.size(), rows.size());
        ASSERT_GT(rows.size(), 4u);
        for (size_t i = 0; i < rows.size(); ++i) {
            std::smatch m;
            ASSERT_TRUE(std::regex_match(rows[i], m, std::regex("(-?\\d+)\t(-?\\d+)\t(-?\\d+)\t(.*)")));
            EXPECT_EQ(num(objects[i], "index"), std::stoll(m[1]));
            EXPECT_EQ(num(objects[i], "offset"), std::stoll(m[2]));
            EXPECT_EQ(num(objects[i], "size"), std::stoll(m[3]));
            expectName(objects[i], "name", m[4]);
        }

        // tree: two spaces per depth, the text, TAB #INDEX for an entry.
        text = runQar({"tree", archive});
        json = runQar({"tree", archive, "--json"});
        EXPECT_EQ(json.status, text.status);
        objects = parseLines(json.out);
        rows = lines(text.out);
        ASSERT_EQ(objects.size(), rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            const std::string& row = rows[i];
            const size_t depth = row.find_first_not_of(' ') / 2;
            const size_t tab = row.rfind("\t#");
            const std::string node = row.substr(depth * 2, tab == std::string::npos ? std::string::npos : tab - depth * 2);
            EXPECT_EQ(num(objects[i], "depth"), static_cast<int64_t>(depth));
            expectName(objects[i], "text", node);
            if (tab == std::string::npos) EXPECT_EQ(objects[i].count("entry"), 0u) << row;
            else EXPECT_EQ(num(objects[i], "entry"), std::stoll(row.substr(tab + 2))) << row;
        }

        // info: one object of the five figures and whether the archive is past the limit.
        text = runQar({"info", archive});
        json = runQar({"info", archive, "--json"});
        EXPECT_EQ(json.status, text.status);
        objects = parseLines(json.out);
        ASSERT_EQ(objects.size(), 1u);
        const Object& f = objects[0];
        EXPECT_EQ(text.out, std::string("valid: ") + (std::get<bool>(f.at("valid")) ? "yes" : "no") +
                                "\nentries: " + std::to_string(num(f, "entries")) +
                                "\nsecond count: " + std::to_string(num(f, "second_count")) +
                                "\nfile size: " + std::to_string(num(f, "file_size")) +
                                "\ndirectory offset: " + std::to_string(num(f, "directory_offset")) + "\n");
        EXPECT_EQ(std::get<bool>(f.at("over_size_limit")), false);

        // check: a problem per object, or ok.
        text = runQar({"check", archive});
        json = runQar({"check", archive, "--json"});
        EXPECT_EQ(json.status, text.status);
        objects = parseLines(json.out);
        rows = lines(text.out);
        ASSERT_EQ(objects.size(), rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i] == "ok") EXPECT_EQ(std::get<bool>(objects[i].at("ok")), true);
            else EXPECT_EQ(std::get<std::string>(objects[i].at("problem")), rows[i]);
        }
        EXPECT_EQ(text.status, archive == odd_ ? 1 : 0);
    }
}

TEST_F(JsonCli, DiffAndUpdateEqualTheText) {
    // Both archives differ in every way diff tells: header, removed, added, changed, renamed,
    // unread bytes.
    const std::string a = dir_.file("a.qar"), b = dir_.file("b.qar");
    writeFile(a, buildQar({entry("GONE\x81", "gone"), entry("KEEP", "k"), entry("OLDNAME", "moved"),
                           entry("SAME", "s")}));
    vorlr::samples::QarOptions header;
    header.header = bytesOf("other head");
    writeFile(b, buildQar({entry("KEEP", "changed"), entry("NEW\x90NAME", "moved"), entry("SAME", "s"),
                           entry("ADDED", "new")},
                          header));
    const std::map<char, std::string> kinds = {{'H', "header"}, {'-', "removed"}, {'+', "added"},
                                               {'M', "modified"}, {'R', "renamed"}, {'X', "unread"}};
    auto text = runQar({"diff", a, b});
    auto json = runQar({"diff", a, b, "--json"});
    EXPECT_EQ(text.status, 1);
    EXPECT_EQ(json.status, 1);
    auto objects = parseLines(json.out);
    auto rows = lines(text.out);
    ASSERT_EQ(objects.size(), rows.size());
    ASSERT_GE(rows.size(), 5u);
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string& row = rows[i];
        EXPECT_EQ(std::get<std::string>(objects[i].at("change")), kinds.at(row[0])) << row;
        if (row[0] == 'H') continue;
        if (row[0] == 'R') {
            const size_t arrow = row.find(" -> ");
            expectName(objects[i], "name", row.substr(2, arrow - 2));
            expectName(objects[i], "new_name", row.substr(arrow + 4));
        } else {
            expectName(objects[i], "name", row.substr(2));
        }
    }
    EXPECT_EQ(runQar({"diff", a, a, "--json"}).out, "");

    // update --dry-run: M, A, D NAME.
    const std::string tree = dir_.file("tree");
    ASSERT_EQ(runQar({"extract", a, "-o", tree}).status, 0);
    writeFile(tree + "/KEEP", bytesOf("edited"));
    writeFile(tree + "/ADDED\xE9", bytesOf("added"));
    std::filesystem::remove(tree + "/SAME");
    text = runQar({"update", a, tree, "--dry-run", "--delete-missing"});
    json = runQar({"update", a, tree, "--dry-run", "--delete-missing", "--json"});
    EXPECT_EQ(json.status, text.status);
    objects = parseLines(json.out);
    rows = lines(text.out);
    ASSERT_EQ(rows, (std::vector<std::string>{"M KEEP", "D SAME", "A ADDED\xE9"}));
    ASSERT_EQ(objects.size(), rows.size());
    const std::map<char, std::string> changes = {{'M', "replaced"}, {'A', "added"}, {'D', "removed"}};
    const int64_t indexes[] = {1, 3, -1};
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(std::get<std::string>(objects[i].at("change")), changes.at(rows[i][0]));
        expectName(objects[i], "name", rows[i].substr(2));
        if (indexes[i] < 0) EXPECT_EQ(objects[i].count("index"), 0u);
        else EXPECT_EQ(num(objects[i], "index"), indexes[i]);
    }
}

// The man page's synopsis lines, from its roff source: font macros joined as troff joins them.
std::map<std::string, std::string> manSynopses() {
    std::ifstream in(VORLR_SOURCE_DIR "/packaging/qar.1");
    std::map<std::string, std::string> out;
    bool inSynopsis = false;
    std::string current;
    const auto flush = [&] {
        if (current.rfind("qar ", 0) == 0) out[current.substr(4, current.find(' ', 4) - 4)] = current;
        current.clear();
    };
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(".SH", 0) == 0) {
            if (inSynopsis) break;
            inSynopsis = line == ".SH SYNOPSIS";
            continue;
        }
        if (!inSynopsis) continue;
        if (line == ".br") {
            flush();
            continue;
        }
        // Words of a macro line: quoted ones keep their spaces; .B and .I join them with spaces,
        // .BR, .IR, .RB, .RI without.
        std::vector<std::string> words;
        std::string macro;
        size_t i = 0;
        if (line[0] == '.') {
            i = line.find(' ');
            macro = line.substr(1, i == std::string::npos ? std::string::npos : i - 1);
        }
        for (; i != std::string::npos && i < line.size();) {
            while (i < line.size() && line[i] == ' ') ++i;
            if (i >= line.size()) break;
            std::string w;
            if (line[i] == '"') {
                const size_t end = line.find('"', i + 1);
                w = line.substr(i + 1, end - i - 1);
                i = end + 1;
            } else {
                const size_t end = line.find(' ', i);
                w = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
                i = end;
            }
            words.push_back(w);
        }
        const bool alternating = macro.size() == 2;
        std::string text;
        for (size_t k = 0; k < words.size(); ++k) text += (k && !alternating ? " " : "") + words[k];
        for (size_t p; (p = text.find("\\-")) != std::string::npos;) text.replace(p, 2, "-");
        current += (current.empty() ? "" : " ") + text;
    }
    flush();
    return out;
}

TEST(QarHelp, EachCommandsSynopsisIsTheManPages) {
    const auto man = manSynopses();
    ASSERT_GE(man.size(), 16u);
    const auto main = lines(runQar({"--help"}).out);
    size_t commands = 0;
    for (const std::string& line : main) {
        std::smatch m;
        if (!std::regex_search(line, m, std::regex("^  qar ([a-z]+) ")) || m[1] == "COMMAND") continue;
        ++commands;
        const std::string name = m[1];
        const auto help = runQar({name, "--help"});
        ASSERT_EQ(help.status, 0) << name;
        const std::string usage = lines(help.out).at(0);
        ASSERT_TRUE(man.count(name)) << name << " is not in the man page";
        EXPECT_EQ("usage: " + man.at(name), usage) << name;
        // The man page describes every option the help's synopsis names.
        const std::regex option("--[a-z-]+");
        for (std::sregex_iterator o(usage.begin(), usage.end(), option), end; o != end; ++o) {
            std::string roff = o->str();
            for (size_t p = 0; (p = roff.find('-', p)) != std::string::npos; p += 2) roff.insert(p, "\\");
            std::ifstream page(VORLR_SOURCE_DIR "/packaging/qar.1");
            const std::string all((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
            EXPECT_NE(all.find(roff), std::string::npos) << roff;
        }
    }
    EXPECT_EQ(commands, man.size()) << "commands of qar --help against the man page";
}

}  // namespace
