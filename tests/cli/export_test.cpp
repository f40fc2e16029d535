// qar extract --convert, run as the real tool: every picture entry written as `qar convert`
// writes it, everything else raw, damaged pictures kept raw and reported in directory order, and
// the same files and messages whatever the number of workers.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "support/Bytes.h"
#include "support/Entries.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

using vorlr::samples::QarEntry;
using vorlr::samples::readFile;
using vorlr::testing::byteEntry;
using vorlr::testing::entry;
using vorlr::testing::runQar;
using vorlr::testing::TempDir;
namespace fs = std::filesystem;

namespace {

// Every file under root, relative path to bytes.
std::map<std::string, std::vector<uint8_t>> filesUnder(const std::string& root) {
    std::map<std::string, std::vector<uint8_t>> files;
    if (!fs::exists(root)) return files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = readFile(e.path());
    return files;
}

std::vector<QarEntry> mixedEntries() {
    namespace s = vorlr::samples;
    std::vector<QarEntry> e;
    e.push_back(entry("README.TXT", "not a picture"));
    e.push_back(byteEntry("GFX\\GRADIENT.KMG", s::sampleKmg16(40, 30)));
    e.push_back(byteEntry("GFX\\ICONS.KMG", s::sampleKmgPalette(4)));
    e.push_back(byteEntry("GFX\\ONE.KMG", s::sampleKmgPalette(1)));
    e.push_back(byteEntry("GFX/TGA/RAW.TGA", s::sampleTga(2, 24, 33, 17)));
    e.push_back(byteEntry("GFX\\TGA\\PACKED.tga", s::sampleTga(10, 32, 64, 20)));
    e.push_back(byteEntry("GFX\\TGA\\MAPPED.TGA", s::sampleTga(1, 8, 20, 20)));
    e.push_back(byteEntry("GFX\\TGA\\GREY.TGA", s::sampleTga(3, 8, 9, 9)));
    e.push_back(byteEntry("GFX\\A.B.TGA", s::sampleTga(2, 24, 4, 4)));  // extension "b.tga"
    e.push_back(entry("SOUND\\X.WAV", "RIFF...."));
    return e;
}

class ExportCli : public ::testing::Test {
protected:
    TempDir dir;
    std::string archive = dir.file("a.qar");
    void write(const std::vector<QarEntry>& entries) { vorlr::samples::writeQar(archive, entries); }
};

// What `qar extract` and `qar convert` give entry by entry: pictures converted one by one
// (sub-images of a palette image with several as NAME_i), the rest raw.
std::map<std::string, std::vector<uint8_t>> oneByOne(const std::string& archive,
                                                     const std::vector<QarEntry>& entries,
                                                     const std::string& work, const char* ext) {
    EXPECT_EQ(runQar({"extract", archive, "-o", work + "/raw"}).status, 0);
    auto files = filesUnder(work + "/raw");
    for (size_t i = 0; i < entries.size(); ++i) {
        std::string rel = entries[i].name;
        for (char& c : rel) if (c == '\\') c = '/';
        const size_t slash = rel.rfind('/');
        const std::string leaf = rel.substr(slash + 1);
        const size_t dot = leaf.find('.');
        const std::string kind = dot == std::string::npos ? "" : leaf.substr(dot + 1);
        if (kind != "KMG" && kind != "TGA" && kind != "tga") continue;
        const std::string stem = rel.substr(0, slash + 1) + leaf.substr(0, dot);
        const std::string out = work + "/one/" + std::to_string(i) + "." + ext;
        fs::create_directories(work + "/one");
        std::vector<std::string> args{"convert", archive, "#" + std::to_string(i), out};
        const bool several = entries[i].name == "GFX\\ICONS.KMG";  // four sub-images
        if (several) args.push_back("--all");
        EXPECT_EQ(runQar(args).status, 0) << rel;
        if (several) {
            for (int k = 0; k < 4; ++k)
                files[stem + "_" + std::to_string(k) + "." + ext] =
                    readFile(work + "/one/" + std::to_string(i) + "_" + std::to_string(k) + "." + ext);
        } else {
            files[stem + "." + ext] = readFile(out);
        }
        files.erase(rel);
    }
    return files;
}

}  // namespace

TEST_F(ExportCli, TheFolderEqualsExtractAndConvertEntryByEntry) {
    const auto entries = mixedEntries();
    write(entries);
    for (const char* ext : {"png", "bmp"}) {
        SCOPED_TRACE(ext);
        const auto expected = oneByOne(archive, entries, dir.file(std::string("ref-") + ext), ext);
        const auto r = runQar({"extract", archive, "-o", dir.file(std::string("out-") + ext),
                               "--convert", ext, "-j", "3"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const auto got = filesUnder(dir.file(std::string("out-") + ext));
        EXPECT_EQ(got.size(), expected.size());
        for (const auto& [path, bytes] : expected) {
            ASSERT_TRUE(got.count(path)) << path;
            EXPECT_TRUE(got.at(path) == bytes) << path;
        }
        EXPECT_TRUE(got.count("GFX/ICONS_3." + std::string(ext)));
        EXPECT_TRUE(got.count("GFX/ONE." + std::string(ext)));      // one sub-image: no number
        EXPECT_TRUE(got.count("GFX/TGA/PACKED." + std::string(ext)));
        EXPECT_TRUE(got.count("GFX/A.B.TGA"));                       // not a picture by its kind
    }
}

TEST_F(ExportCli, DamagedPicturesAreKeptRawAndReportedInDirectoryOrder) {
    namespace s = vorlr::samples;
    std::vector<QarEntry> e;
    for (int i = 0; i < 12; ++i)
        e.push_back(byteEntry("P\\" + std::to_string(i) + ".TGA", s::sampleTga(2, 24, 8 + i, 8)));
    e[3].data[16] = 16;                                       // 16-bit: unsupported
    e[7].data.resize(10);  // cut short: the header runs on into the next entry's bytes
    // Sub-image 0 without pixels keeps the first view's 1 x 1 dot; sub-image 1 has nothing.
    e[9] = byteEntry("P\\9.KMG", s::kmgPalette(s::samplePaletteRgb(), {{3, 3, {3, 1, 2, 3}}, {0, 5, {}}}));
    write(e);
    std::string firstErr;
    std::map<std::string, std::vector<uint8_t>> firstFiles;
    for (const char* workers : {"1", "2", "5"}) {
        SCOPED_TRACE(workers);
        const std::string out = dir.file(std::string("out") + workers);
        const auto r = runQar({"extract", archive, "-o", out, "--convert=png", "-j", workers});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err,
                  "qar: P\\3.TGA: Unsupported TGA format: 16-bit\n"
                  "qar: P\\7.TGA: Unsupported TGA format: 0-bit\n"
                  "qar: P\\9.KMG: sub-image 1 has no pixels\n");
        const auto files = filesUnder(out);
        EXPECT_EQ(files.size(), 12u);
        EXPECT_EQ(files.at("P/3.TGA"), e[3].data);  // nothing lost: written as stored
        EXPECT_EQ(files.at("P/7.TGA"), e[7].data);
        EXPECT_EQ(files.at("P/9.KMG"), e[9].data);
        EXPECT_TRUE(files.count("P/11.png"));
        if (firstFiles.empty()) firstFiles = files;
        EXPECT_TRUE(files == firstFiles) << "the files depend on the number of workers";
    }
}

TEST_F(ExportCli, OptionsAndUsage) {
    write(mixedEntries());
    struct Case {
        std::vector<std::string> args;
        int status;
    } const cases[] = {
        {{"--convert", "jpg"}, 2},  {{"--convert"}, 2},     {{"-j", "0"}, 2},
        {{"-j", "x"}, 2},           {{"-j"}, 2},            {{"-j2", "--convert", "png"}, 0},
        {{"--convert=bmp", "-j", "1", "*.KMG"}, 0},         {{"--convert", "png", "*.NONE"}, 1},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::vector<std::string> args{"extract", archive, "-o", dir.file("o" + std::to_string(n++))};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(runQar(args).status, c.status) << ::testing::PrintToString(c.args);
    }
    // Only the pictures the pattern picked, converted.
    const auto files = filesUnder(dir.file("o6"));
    EXPECT_EQ(files.size(), 1u + 4u + 1u);
    EXPECT_TRUE(files.count("GFX/GRADIENT.bmp"));
}
