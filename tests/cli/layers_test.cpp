// qar layers and qar merge over three stacked archives: overrides at every depth, a name one
// archive holds twice, names apart only in A-Z case, both separators, an unsafe name, a file
// where a folder would go and a file named as its neighbour folder's name and its file's run
// together. Both agree with the tree qar mount serves for the same archives
// (MountTree, driven here without FUSE), and the merged archive holds the winners with their
// own archive's record bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "archive/Container.h"
#include "lib/QarBuilder.h"
#include "mount/MountTree.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

using vorlr::testing::runQar;
using vorlr::testing::TempDir;
namespace fs = std::filesystem;

namespace {

// The stack: every entry's data names its archive and index ("L1#4"); every record's unread
// bytes and every archive's first 512 bytes are its own.
const std::vector<std::vector<std::string>> kLayers = {
    {"ROOT.TXT", "DATA\\A.TXT", "DATA\\SUB\\DEEP\\X.TXT", "DATA\\KEEP.TXT", "DUP.TXT", "FILE",
     "Mixed\\Case.txt", "..\\EVIL.TXT", "DATA\\SUB\\B.TXT", "DATA\\SUBXB.TXT"},
    {"DATA\\A.TXT", "ROOT.TXT", "DATA/SUB/DEEP/X.TXT", "NEW1.TXT", "FILE\\UNDER.TXT", "DUP.TXT",
     "DUP.TXT"},
    {"DATA\\SUB\\DEEP\\X.TXT", "mixed\\case.TXT", "NEW2\\Y.TXT", "NEW1.TXT", "data\\keep.txt"},
};

std::string contentOf(size_t layer, size_t index) {
    return "L" + std::to_string(layer) + "#" + std::to_string(index);
}

uint8_t headByte(size_t layer) { return static_cast<uint8_t>('B' + layer); }

// The 16 trailing bytes of a record and the byte at 250, after any name's zero.
std::vector<uint8_t> unreadOf(size_t layer, size_t index) {
    std::vector<uint8_t> u(17);
    for (size_t k = 0; k < u.size(); ++k) u[k] = static_cast<uint8_t>(0x80 + layer * 0x20 + index + k);
    return u;
}

std::vector<uint8_t> unreadIn(const uint8_t* record) {
    std::vector<uint8_t> u(record + 264, record + 280);
    u.insert(u.begin(), record[250]);
    return u;
}

class QarLayers : public ::testing::Test {
protected:
    void SetUp() override {
        for (size_t l = 0; l < kLayers.size(); ++l) {
            std::vector<vorlr::samples::QarEntry> entries;
            for (size_t i = 0; i < kLayers[l].size(); ++i)
                entries.push_back({kLayers[l][i], vorlr::samples::bytesOf(contentOf(l, i)), {}, {}, false});
            vorlr::samples::QarOptions options;
            options.header.assign(512, headByte(l));
            auto bytes = vorlr::samples::buildQar(entries, options);
            const size_t dir = bytes.size() - entries.size() * 280;
            for (size_t i = 0; i < entries.size(); ++i) {
                const auto u = unreadOf(l, i);
                bytes[dir + i * 280 + 250] = u[0];
                std::copy(u.begin() + 1, u.end(), bytes.begin() + static_cast<long>(dir + i * 280 + 264));
            }
            paths_.push_back(dir_.file("layer" + std::to_string(l) + ".qar"));
            vorlr::samples::writeFile(paths_.back(), bytes);
        }
    }

    std::vector<std::string> args(std::vector<std::string> head, std::vector<std::string> tail = {}) const {
        head.insert(head.end(), paths_.begin(), paths_.end());
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    }

    // The files MountTree serves over archives, by their bytes ("L1#4"), each once.
    static std::multiset<std::string> mounted(const std::vector<std::string>& paths, bool ignoreCase) {
        std::vector<std::unique_ptr<vorlr::Archive>> archives;
        for (const auto& p : paths) {
            archives.push_back(std::make_unique<vorlr::Archive>());
            archives.back()->open(p);
            vorlr::ReadDirectory(*archives.back());
        }
        vorlr::MountOptions options;
        options.ignoreCase = ignoreCase;
        vorlr::MountTree tree(std::move(archives), options, [](const std::string&) {});
        std::multiset<std::string> out;
        std::vector<uint64_t> folders{vorlr::MountTree::kRootId};
        while (!folders.empty()) {
            const uint64_t id = folders.back();
            folders.pop_back();
            std::vector<vorlr::MountTree::Child> children;
            EXPECT_TRUE(tree.children(id, children));
            for (const auto& c : children) {
                if (tree.attributes(c.id)->folder) {
                    folders.push_back(c.id);
                    continue;
                }
                vorlr::MountTree::Content content;
                EXPECT_TRUE(tree.content(c.id, content));
                std::string bytes(static_cast<size_t>(content.size), '\0');
                EXPECT_EQ(::pread(content.fd, bytes.data(), bytes.size(), content.offset), content.size);
                out.insert(bytes);
            }
        }
        return out;
    }

    // Each winner line of qar layers as the bytes of the entry it names: the last entry of that
    // name in that archive.
    static std::multiset<std::string> winnersOf(const std::string& layersOut) {
        std::multiset<std::string> out;
        std::istringstream in(layersOut);
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '-') continue;
            const size_t layer = std::stoul(line.substr(0, line.find('\t')));
            const std::string name = line.substr(line.rfind('\t') + 1);
            const auto& names = kLayers.at(layer);
            const auto it = std::find(names.rbegin(), names.rend(), name);
            EXPECT_NE(it, names.rend()) << line;
            if (it != names.rend()) out.insert(contentOf(layer, static_cast<size_t>(names.rend() - it - 1)));
        }
        return out;
    }

    TempDir dir_;
    std::vector<std::string> paths_;
};

TEST_F(QarLayers, ListsTheWinnersInMergedOrderWithWhatTheyHide) {
    struct Case {
        std::vector<std::string> options;
        std::string expected;
    };
    const Case cases[] = {
        {{},
         "1\t1\tROOT.TXT\n1\t1\tDATA\\A.TXT\n2\t2\tDATA\\SUB\\DEEP\\X.TXT\n0\t0\tDATA\\KEEP.TXT\n"
         "1\t2\tDUP.TXT\n0\t0\tFILE\n0\t0\tMixed\\Case.txt\n0\t0\tDATA\\SUB\\B.TXT\n"
         "0\t0\tDATA\\SUBXB.TXT\n2\t1\tNEW1.TXT\n2\t0\tmixed\\case.TXT\n"
         "2\t0\tNEW2\\Y.TXT\n2\t0\tdata\\keep.txt\n"},
        {{"--ignore-case"},
         "1\t1\tROOT.TXT\n1\t1\tDATA\\A.TXT\n2\t2\tDATA\\SUB\\DEEP\\X.TXT\n2\t1\tdata\\keep.txt\n"
         "1\t2\tDUP.TXT\n0\t0\tFILE\n2\t1\tmixed\\case.TXT\n0\t0\tDATA\\SUB\\B.TXT\n"
         "0\t0\tDATA\\SUBXB.TXT\n2\t1\tNEW1.TXT\n2\t0\tNEW2\\Y.TXT\n"},
        {{"--hidden"},
         "1\t1\tROOT.TXT\n-0\tROOT.TXT\n1\t1\tDATA\\A.TXT\n-0\tDATA\\A.TXT\n"
         "2\t2\tDATA\\SUB\\DEEP\\X.TXT\n-0\tDATA\\SUB\\DEEP\\X.TXT\n-1\tDATA/SUB/DEEP/X.TXT\n"
         "0\t0\tDATA\\KEEP.TXT\n1\t2\tDUP.TXT\n-0\tDUP.TXT\n-1\tDUP.TXT\n0\t0\tFILE\n"
         "0\t0\tMixed\\Case.txt\n0\t0\tDATA\\SUB\\B.TXT\n0\t0\tDATA\\SUBXB.TXT\n2\t1\tNEW1.TXT\n"
         "-1\tNEW1.TXT\n2\t0\tmixed\\case.TXT\n"
         "2\t0\tNEW2\\Y.TXT\n2\t0\tdata\\keep.txt\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.empty() ? "exact" : c.options[0]);
        const auto r = runQar(args({"layers"}, c.options));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.expected);
        // The unsafe name is left out and said so, as mount says it; the file under a file
        // simply has no place.
        EXPECT_EQ(r.err, "qar: " + paths_[0] + ": #7 ..\\EVIL.TXT: skipped, name with a \".\" or \"..\" segment\n");
    }
}

TEST_F(QarLayers, AgreeWithTheMountsTree) {
    for (const bool ignoreCase : {false, true}) {
        SCOPED_TRACE(ignoreCase ? "ignore case" : "exact");
        const auto r = runQar(args({"layers"}, ignoreCase ? std::vector<std::string>{"--ignore-case"}
                                                         : std::vector<std::string>{}));
        ASSERT_EQ(r.status, 0) << r.err;
        const auto shown = mounted(paths_, ignoreCase);
        EXPECT_EQ(winnersOf(r.out), shown);
        // Nothing hidden by a later version is served.
        EXPECT_EQ(shown.count(contentOf(1, 5)), 0u);
        EXPECT_EQ(shown.count(contentOf(1, 6)), 1u);
    }
}

TEST_F(QarLayers, MergeWritesTheWinnersWithTheirOwnRecordBytes) {
    for (const bool ignoreCase : {false, true}) {
        SCOPED_TRACE(ignoreCase ? "ignore case" : "exact");
        const std::vector<std::string> option = ignoreCase ? std::vector<std::string>{"--ignore-case"}
                                                           : std::vector<std::string>{};
        const std::string out = dir_.file(ignoreCase ? "folded.qar" : "merged.qar");
        auto tail = option;
        tail.insert(tail.end(), {"-o", out});
        const auto written = runQar(args({"merge"}, tail));
        ASSERT_EQ(written.status, 0) << written.err;
        const auto layers = runQar(args({"layers"}, option));
        ASSERT_EQ(layers.status, 0);

        // qar list of the merged archive: the names of qar layers, in its order.
        const auto list = runQar({"list", out});
        ASSERT_EQ(list.status, 0) << list.err;
        const auto lastFields = [](const std::string& text) {
            std::vector<std::string> out;
            std::istringstream in(text);
            for (std::string line; std::getline(in, line);) out.push_back(line.substr(line.rfind('\t') + 1));
            return out;
        };
        EXPECT_EQ(lastFields(list.out), lastFields(layers.out));

        // Each entry: the winner's bytes and record; the head is the base's.
        vorlr::Archive merged;
        merged.open(out);
        vorlr::ReadDirectory(merged);
        const auto bytes = vorlr::samples::readFile(out);
        EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + 512, [](uint8_t b) { return b == headByte(0); }));
        const size_t dir = bytes.size() - merged.entryCount() * 280;
        for (size_t i = 0; i < merged.entryCount(); ++i) {
            const vorlr::ArchiveEntry e = merged.entry(i);
            const std::string data(bytes.begin() + e.offset, bytes.begin() + e.offset + e.size);
            const size_t layer = static_cast<size_t>(data[1] - '0');
            const size_t index = std::stoul(data.substr(3));
            SCOPED_TRACE(data);
            EXPECT_EQ(std::string(e.name), kLayers.at(layer).at(index));
            EXPECT_EQ(unreadIn(bytes.data() + dir + i * 280), unreadOf(layer, index));
        }
        // The merged archive alone mounts as the stack does.
        EXPECT_EQ(mounted({out}, ignoreCase), mounted(paths_, ignoreCase));
        // Its names hide nothing any more.
        const auto alone = runQar({"layers", out});
        EXPECT_EQ(alone.out.find("\t1\t"), std::string::npos) << alone.out;
        EXPECT_EQ(lastFields(alone.out), lastFields(layers.out));
    }
}

TEST_F(QarLayers, MergeRefusesAnArchiveOfTheStackAsOutAndWrongUsage) {
    const auto before = vorlr::samples::readFile(paths_[1]);
    const auto over = runQar(args({"merge"}, {"-o", paths_[1]}));
    EXPECT_EQ(over.status, 1);
    const std::string refusal = "qar: " + paths_[1] + " is one of the archives merged; nothing written\n";
    EXPECT_EQ(over.err.substr(over.err.size() - std::min(over.err.size(), refusal.size())), refusal);
    EXPECT_EQ(vorlr::samples::readFile(paths_[1]), before);

    const auto missing = runQar(args({"merge"}));
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err.substr(0, missing.err.find('\n')), "qar merge: missing -o OUT");

    const auto invalid = runQar({"layers", paths_[0], dir_.file("none.qar")});
    EXPECT_EQ(invalid.status, 1);
    EXPECT_EQ(invalid.out, "");
    EXPECT_NE(invalid.err.find(dir_.file("none.qar") + ": "), std::string::npos) << invalid.err;
}

TEST_F(QarLayers, JsonHasTheTextsFields) {
    const auto r = runQar({"layers", paths_[0], paths_[1], "--hidden", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    std::string first, second;
    std::getline(in, first);
    std::getline(in, second);
    EXPECT_EQ(first, R"({"archive":1,"hides":1,"name":"ROOT.TXT"})");
    EXPECT_EQ(second, R"({"hidden":true,"archive":0,"name":"ROOT.TXT"})");
}

}  // namespace
