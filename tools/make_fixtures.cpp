// Writes fixtures as files, for programs that take files rather than code:
//   make_fixtures seeds DIR     a starting corpus per fuzz target: DIR/<target>/<n>
//   make_fixtures damaged DIR   the demo archive cut at many lengths and with 1% of its bytes
//                               flipped (fixed seeds), as the robustness test makes them, and
//                               two pictures whose headers claim far more than their bytes
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "lib/DemoArchive.h"
#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "lib/SoundSamples.h"
#include "lib/TextSamples.h"

namespace fs = std::filesystem;
namespace s = vorlr::samples;
using Bytes = std::vector<uint8_t>;

namespace {

struct Corpus {
    std::string dir;
    int next = 0;
    void add(const Bytes& bytes) {
        char name[32];
        std::snprintf(name, sizeof name, "seed-%03d", next++);
        s::writeFile(dir + "/" + name, bytes);
    }
};

Corpus corpusIn(const std::string& root, const std::string& target) {
    fs::create_directories(root + "/" + target);
    return Corpus{root + "/" + target};
}

// Small inputs only: a fuzzer's speed follows the size of what it mutates.
void writeSeeds(const std::string& root) {
    Corpus kmg = corpusIn(root, "kmg_fuzz");
    kmg.add(s::sampleKmg16(40, 30));
    kmg.add(s::sampleKmg16(3, 2));
    for (int n : {1, 2, 4}) kmg.add(s::sampleKmgPalette(n));
    kmg.add(s::kmgPalette(s::samplePaletteRgb(), {{3, 3, {3, 1, 2, 3}}, {0, 5, {}}}));
    kmg.add(s::kmgPalette(s::samplePaletteRgb(), {{20, 4, s::kmgCompress(std::vector<int>(80, -1))}}));

    Corpus targa = corpusIn(root, "targa_fuzz");
    for (uint8_t bits : {8, 24, 32}) {
        targa.add(s::sampleTga(2, bits, 33, 17));
        targa.add(s::sampleTga(10, bits, 64, 20));
    }
    targa.add(s::sampleTga(1, 8, 20, 20));
    targa.add(s::sampleTga(3, 8, 9, 9));
    targa.add(s::tga(s::TgaFormat{2, 4, 4, 24, 0x20, "id"}, Bytes(48, 0x7F)));

    Corpus rtf = corpusIn(root, "rtf_fuzz");
    rtf.add(s::bytesOf(s::formattedRtf()));
    rtf.add(s::bytesOf(s::largeRtf(600)));
    rtf.add(s::bytesOf(s::largeChineseRtf(900)));
    rtf.add(s::bytesOf("{\\rtf1\\ansi\\ansicpg932{\\fonttbl{\\f0\\fcharset128\\cpg932 M;}}\\f0 \\'83A"
                       "\\'93\\'fa\\uc2\\u8364\\'a1\\'ea\\trowd\\intbl a\\nestcell b\\nestcell"
                       "{\\*\\nesttableprops\\nestrow}{\\nonesttables x}\\cell\\row}"));
    rtf.add(s::bytesOf("{\\rtf1{\\colortbl;\\red1\\green2\\blue3;}\\qc\\cf1\\b x\\par\\u-10179?\\u-8704?}"));

    // qar grep: an options byte, the pattern, a zero byte, the entry.
    Corpus grep = corpusIn(root, "grep_fuzz");
    const auto grepSeed = [](uint8_t flags, const std::string& pattern, const Bytes& entry) {
        Bytes b{flags};
        b.insert(b.end(), pattern.begin(), pattern.end());
        b.push_back(0);
        b.insert(b.end(), entry.begin(), entry.end());
        return b;
    };
    grep.add(grepSeed(0, "dra(g|k)on+ [[:digit:]]{2,}$", s::bytesOf("dragon 50\r\nno\rdrakon 7\n")));
    grep.add(grepSeed(2, "\\<h[^a-c]*th\\>|^x?+", s::utf16LeWithMark("Health=90\r\nx\r\n")));
    grep.add(grepSeed(1, "a.b", s::bytesOf("a.b\na+b\n")));
    grep.add(grepSeed(3, "LAIR\nGold", s::bytesOf(s::formattedRtf())));
    grep.add(grepSeed(0, "(a*)*\\1{,3}[]x-]", s::bytesOf("{\\rtf1 x\\'0d\\'0ay\\line ]\\par z}")));

    Corpus archive = corpusIn(root, "archive_fuzz");
    archive.add(s::buildQar({{"DATA\\TEXT\\A.TXT", s::bytesOf("Hello"), {}, {}, false},
                             {"DATA\\TEXT\\B.INI", s::bytesOf("[x]"), {}, {}, false},
                             {"DATA\\ITEMS.DBS", {}, {}, {}, false}}));
    archive.add(s::buildQar({{"A\\B.TXT", s::bytesOf("x"), {}, {}, false},
                             {"A\\C\\D.TGA", s::sampleTga(2, 24, 2, 2), {}, {}, false},
                             {"E", {}, {}, {}, false}}));
    archive.add(s::buildQar({{"X", s::bytesOf("yz"), -3, 99, true}}));
    archive.add(s::buildQar({}));

    Corpus desktop = corpusIn(root, "desktop_fuzz");
    desktop.add(s::bytesOf("[Desktop Entry]\nType=Application\nName=Viewer\nName[de]=Betrachter\n"
                           "Icon=viewer\nExec=\"/opt/my app/view\" --name=%c %i %U\nTryExec=view\n"
                           "MimeType=image/png;image/x-tga;\nNoDisplay=true\n# comment\n"
                           "[Desktop Action New]\nExec=view --new\n"));
    desktop.add(s::bytesOf("[Default Applications]\nimage/png=a.desktop;b.desktop;\n"
                           "[Added Associations]\ntext/plain=c.desktop;\n"
                           "[Removed Associations]\ntext/plain=d.desktop;\n"));
    desktop.add(s::bytesOf("[MIME Cache]\napplication/x-vorlund-qar=vorlr.desktop;\n"
                           "text/x-csrc=a\\;b.desktop;c.desktop;\n"));
    desktop.add(s::bytesOf("prog \"a \\\"b\\\" \\$c\" %f 100%% %k\nedit --file=%u\tx%d\n"));

    // Flags, pattern length, pattern, then the entry's bytes.
    Corpus rows = corpusIn(root, "byte_rows_fuzz");
    rows.add(s::bytesOf(std::string("\x00\x02" "ab", 4) + "xxabyyAB\tzzab\x80\x81"));
    rows.add(s::bytesOf(std::string("\x71\x03$1F") + std::string(70, '$')));
    rows.add(s::bytesOf(std::string("\xF0\x04" "4d5a", 6) + std::string("MZ\x90\x00\x4d\x5a", 6) +
                        std::string(40, '\0')));

    Corpus media = corpusIn(root, "media_fuzz");
    media.add(s::makeWavTone({50, 8000, 1, 440.0, 0}));
    media.add(s::makeWavTone({30, 22050, 2, 880.0, 0}));
    media.add(s::makeMp3Tone({100, 22050, 1, 440.0, 0}));
}

// As tests/app/robustness_test.cpp: every length for small inputs, about 300 spread lengths
// for larger ones; every seventh length of the last directory record; 100 rounds of flips.
void writeDamaged(const std::string& root) {
    fs::create_directories(root);
    const Bytes whole = s::buildQar(s::demoEntries());
    std::vector<Bytes> damaged;
    const size_t step = whole.size() <= 2048 ? 1 : whole.size() / 300;
    for (size_t n = 0; n < whole.size(); n += step) damaged.emplace_back(whole.begin(), whole.begin() + n);
    for (size_t n = whole.size() - 280; n < whole.size(); n += 7) damaged.emplace_back(whole.begin(), whole.begin() + n);
    std::mt19937 rng(7);
    const size_t count = std::max<size_t>(1, whole.size() / 100);
    for (int round = 0; round < 100; ++round) {
        Bytes b = whole;
        for (size_t k = 0; k < count; ++k) b[rng() % b.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        damaged.push_back(std::move(b));
    }
    // Headers damaged to claim pictures of hundreds of megapixels, with the bytes of a small one.
    damaged.push_back(s::buildQar({{"GFX\\HUGE.TGA", s::tga(s::TgaFormat{10, 16000, 16000, 24, 0, ""},
                                                            Bytes(5000, 0x81)), {}, {}, false}}));
    damaged.push_back(s::buildQar({{"GFX\\HUGE.KMG", s::kmg16(10000, 10000, std::vector<uint16_t>(64000, 7)),
                                    {}, {}, false}}));
    for (size_t i = 0; i < damaged.size(); ++i) {
        char name[48];
        std::snprintf(name, sizeof name, "damaged-%04zu.qar", i);
        s::writeFile(root + "/" + name, damaged[i]);
    }
    std::printf("%zu archives\n", damaged.size());
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc == 3 ? argv[1] : "";
    if (what != "seeds" && what != "damaged") {
        std::fprintf(stderr, "usage: make_fixtures seeds|damaged DIR\n");
        return 2;
    }
    try {
        if (what == "seeds")
            writeSeeds(argv[2]);
        else
            writeDamaged(argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_fixtures: %s\n", e.what());
        return 1;
    }
    return 0;
}
