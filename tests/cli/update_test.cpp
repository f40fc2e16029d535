// qar update and qar diff, run as the real tool: the unchanged round trip (extract, then update)
// gives back the very same bytes for archives with gaps, alignment, unread bytes, duplicates and
// entries outside the data area; edited files change exactly their entries; added, removed and
// refused files; and diff's statuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "lib/DemoArchive.h"
#include "lib/ImageSamples.h"
#include "lib/LayoutArchive.h"
#include "lib/QarBuilder.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

using vorlr::samples::buildLayout;
using vorlr::samples::bytesOf;
using vorlr::samples::LayoutArchive;
using vorlr::samples::LayoutEntry;
using vorlr::samples::readFile;
using vorlr::samples::writeFile;
using vorlr::testing::runQar;
using vorlr::testing::TempDir;
namespace fs = std::filesystem;

namespace {

LayoutEntry item(const std::string& name, std::vector<uint8_t> data) {
    LayoutEntry e;
    e.name = name;
    e.data = std::move(data);
    return e;
}
LayoutEntry item(const std::string& name, const std::string& data) { return item(name, bytesOf(data)); }

LayoutArchive plain() {
    LayoutArchive a;
    a.entries = {item("DATA\\README.TXT", "read me"), item("SND\\HIT.WAV", "RIFF....WAVEfmt "),
                 item("DATA\\MAP.DAT", std::vector<uint8_t>(3000, 7)), item("TOP.TXT", "top")};
    return a;
}

struct Shape {
    const char* what;
    LayoutArchive archive;
};

std::vector<Shape> shapes() {
    std::vector<Shape> out;
    out.push_back({"plain", plain()});
    LayoutArchive gaps = plain();
    gaps.entries[1].gapBefore = 13;
    gaps.entries[3].gapBefore = 1000;
    out.push_back({"gaps between entries", gaps});
    LayoutArchive aligned = plain();
    aligned.alignment = 2048;
    out.push_back({"aligned data", aligned});
    LayoutArchive unread = plain();
    unread.header.assign(512, 0x5A);
    unread.entries[0].nameTail = bytesOf("left over from an older name");
    unread.entries[2].trailing = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    out.push_back({"unread header and record bytes", unread});
    LayoutArchive dup = plain();
    dup.entries.insert(dup.entries.begin() + 1, item("DATA\\README.TXT", "an earlier copy"));
    dup.entries.push_back(item("data/readme.txt", "other case"));
    out.push_back({"duplicate names", dup});
    LayoutArchive outside = plain();
    outside.entries[1].offset = 100;  // inside the header
    outside.entries[1].size = 40;
    outside.entries[2].offset = 600;  // overlapping another entry's data
    outside.entries[2].size = 10;
    outside.entries[3].offset = -8;   // nothing to extract
    out.push_back({"entries outside the data area", outside});
    LayoutArchive pastEnd = plain();
    pastEnd.entries.push_back(item("LAST.BIN", "x"));
    pastEnd.entries.back().size = 1 << 20;  // runs into the directory and past the end
    out.push_back({"data past the end", pastEnd});
    LayoutArchive unsafe = plain();
    unsafe.entries.push_back(item("..\\EVIL.TXT", "evil"));
    unsafe.entries.push_back(item("C:\\X.TXT", "drive"));
    out.push_back({"unsafe names", unsafe});
    LayoutArchive pictures = plain();
    pictures.entries.push_back(item("GFX\\ICONS.KMG", vorlr::samples::sampleKmgPalette(3)));
    pictures.entries.push_back(item("GFX\\SKY.KMG", vorlr::samples::sampleKmg16(20, 10)));
    pictures.entries.push_back(item("GFX\\LOGO.TGA", vorlr::samples::sampleTga(2, 32, 12, 7)));
    out.push_back({"pictures", pictures});
    return out;
}

class UpdateCli : public ::testing::Test {
protected:
    TempDir dir;
    std::string a = dir.file("a.qar"), b = dir.file("b.qar"), tree = dir.file("tree");
    void write(const LayoutArchive& layout) { writeFile(a, buildLayout(layout)); }
    void extract(bool convert = false) {
        std::vector<std::string> args = {"extract", a, "-o", tree};
        if (convert) args.insert(args.end(), {"--convert", "png"});
        runQar(args);  // data past the end makes its status 1; the files are there
    }
    std::string file(const std::string& relative) const { return tree + "/" + relative; }
};

TEST_F(UpdateCli, UnchangedRoundTripGivesTheSameBytes) {
    for (const Shape& shape : shapes()) {
        for (bool convert : {false, true}) {
            SCOPED_TRACE(std::string(shape.what) + (convert ? ", pictures as PNG" : ", raw"));
            fs::remove_all(tree);
            fs::remove(b);
            write(shape.archive);
            extract(convert);
            const auto update = runQar({"update", a, tree, "-o", b});
            EXPECT_EQ(update.status, 0) << update.err;
            EXPECT_EQ(update.out, "");
            ASSERT_TRUE(fs::exists(b));
            EXPECT_EQ(readFile(b), readFile(a));
            const auto diff = runQar({"diff", a, b});
            EXPECT_EQ(diff.status, 0);
            EXPECT_EQ(diff.out, "");
        }
    }
}

TEST_F(UpdateCli, TheDemoArchiveRoundTrips) {
    const std::string demo = vorlr::samples::writeDemo(dir.file("demo"));
    ASSERT_EQ(runQar({"extract", demo, "-o", tree, "--convert", "png"}).status, 0);
    const auto update = runQar({"update", demo, tree, "-o", b});
    EXPECT_EQ(update.status, 0) << update.err;
    EXPECT_EQ(update.out, "");
    EXPECT_EQ(readFile(b), readFile(demo));
}

TEST_F(UpdateCli, EditedFilesChangeExactlyTheirEntries) {
    LayoutArchive layout = shapes()[3].archive;  // unread bytes everywhere
    layout.entries[1].gapBefore = 77;
    write(layout);
    extract();
    writeFile(file("DATA/README.TXT"), bytesOf("read me, edited and longer"));
    writeFile(file("SND/HIT.WAV"), bytesOf("RIFF1234"));
    const auto update = runQar({"update", a, tree, "-o", b});
    EXPECT_EQ(update.status, 0) << update.err;
    EXPECT_EQ(update.out, "M DATA\\README.TXT\nM SND\\HIT.WAV\n");
    const auto diff = runQar({"diff", a, b});
    EXPECT_EQ(diff.status, 1);
    EXPECT_EQ(diff.out, "M DATA\\README.TXT\nM SND\\HIT.WAV\n");
    EXPECT_EQ(runQar({"cat", b, "DATA\\README.TXT"}).out, "read me, edited and longer");
    EXPECT_EQ(runQar({"cat", b, "SND\\HIT.WAV"}).out, "RIFF1234");
    EXPECT_EQ(runQar({"cat", b, "DATA\\MAP.DAT"}).out, std::string(3000, 7));
    const auto head = readFile(b);
    EXPECT_EQ(std::vector<uint8_t>(head.begin(), head.begin() + 512), std::vector<uint8_t>(512, 0x5A));
}

TEST_F(UpdateCli, AddsSortedAndDeletesOnlyWhatExtractWrites) {
    LayoutArchive layout = plain();
    layout.entries.insert(layout.entries.begin(), item("TOP.TXT", "earlier duplicate"));
    layout.entries.push_back(item("..\\EVIL.TXT", "never written"));
    write(layout);
    extract();
    fs::create_directories(file("z"));
    fs::create_directories(file("a"));
    writeFile(file("z/new.txt"), bytesOf("z"));
    writeFile(file("a/new.txt"), bytesOf("a"));
    writeFile(file("B.TXT"), bytesOf("b"));
    fs::remove(file("SND/HIT.WAV"));
    const auto keep = runQar({"update", a, tree, "-o", b});
    EXPECT_EQ(keep.status, 0) << keep.err;
    EXPECT_EQ(keep.out, "A B.TXT\nA a\\new.txt\nA z\\new.txt\n");
    const auto remove = runQar({"update", a, tree, "-o", b, "--delete-missing"});
    EXPECT_EQ(remove.status, 0) << remove.err;
    EXPECT_EQ(remove.out, "D SND\\HIT.WAV\nA B.TXT\nA a\\new.txt\nA z\\new.txt\n");
    EXPECT_EQ(runQar({"diff", a, b}).out, "- SND\\HIT.WAV\n+ B.TXT\n+ a\\new.txt\n+ z\\new.txt\n");
    // Deleting TOP.TXT's file removes both entries of that name.
    fs::remove(file("TOP.TXT"));
    EXPECT_EQ(runQar({"update", a, tree, "-o", b, "--delete-missing", "--dry-run"}).out,
              "D TOP.TXT\nD SND\\HIT.WAV\nD TOP.TXT\nA B.TXT\nA a\\new.txt\nA z\\new.txt\n");
}

TEST_F(UpdateCli, PicturesOfOneNameKeepEveryEntryOfIt) {
    // LOGO.TGA and LOGO.KMG both export as LOGO.png, the later one's left on disk: neither
    // entry is missing, and the file is compared with the entry extraction wrote it from.
    LayoutArchive layout = plain();
    layout.entries.push_back(item("GFX\\LOGO.TGA", vorlr::samples::sampleTga(2, 24, 5, 5)));
    layout.entries.push_back(item("GFX\\LOGO.KMG", vorlr::samples::sampleKmg16(6, 4)));
    // TILE_1.png: first TILE_1.KMG's picture, then overwritten by sub-image 1 of TILE.KMG.
    layout.entries.push_back(item("GFX\\TILE_1.KMG", vorlr::samples::sampleKmg16(7, 3)));
    layout.entries.push_back(item("GFX\\TILE.KMG", vorlr::samples::sampleKmgPalette(3)));
    write(layout);
    extract(true);
    fs::remove(file("TOP.TXT"));
    const auto update = runQar({"update", a, tree, "-o", b, "--delete-missing"});
    EXPECT_EQ(update.status, 0) << update.err;
    EXPECT_EQ(update.out, "D TOP.TXT\n");
    const auto unchanged = runQar({"update", a, tree, "-o", b});
    EXPECT_EQ(unchanged.status, 0) << unchanged.err;
    EXPECT_EQ(unchanged.out, "");
    EXPECT_EQ(readFile(b), readFile(a));
}

TEST_F(UpdateCli, DryRunWritesNothingAndRefusalsWriteNothing) {
    LayoutArchive layout = plain();
    layout.entries.push_back(item("GFX\\LOGO.TGA", vorlr::samples::sampleTga(2, 24, 5, 5)));
    write(layout);
    extract();
    writeFile(file("TOP.TXT"), bytesOf("changed"));
    const auto dry = runQar({"update", a, tree, "-o", b, "--dry-run"});
    EXPECT_EQ(dry.status, 0);
    EXPECT_EQ(dry.out, "M TOP.TXT\n");
    EXPECT_FALSE(fs::exists(b));

    // The raw picture and a PNG of it both stand for the entry.
    writeFile(file("GFX/LOGO.png"), bytesOf("not even a PNG"));
    const auto both = runQar({"update", a, tree, "-o", b});
    EXPECT_EQ(both.status, 1);
    EXPECT_NE(both.err.find("qar: GFX/LOGO.TGA and GFX/LOGO.png both stand for GFX\\LOGO.TGA"), std::string::npos)
        << both.err;
    EXPECT_EQ(both.out, "");
    EXPECT_FALSE(fs::exists(b));
    fs::remove(file("GFX/LOGO.png"));

    // A name too long for an entry, and a backslash in a file name.
    writeFile(file(std::string(200, 'n')), bytesOf("long"));
    writeFile(file("back\\slash"), bytesOf("b"));
    const auto refused = runQar({"update", a, tree, "--in-place"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("name of 200 bytes or more"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("name holds a backslash: back\\slash"), std::string::npos) << refused.err;
    EXPECT_EQ(readFile(a), buildLayout(layout));

    // Wrong usage: no target, two targets, --backup without --in-place.
    EXPECT_EQ(runQar({"update", a, tree}).status, 2);
    EXPECT_EQ(runQar({"update", a, tree, "-o", b, "--in-place"}).status, 2);
    EXPECT_EQ(runQar({"update", a, tree, "-o", b, "--backup"}).status, 2);
}

TEST_F(UpdateCli, NothingIsReadThroughSymbolicLinks) {
    write(plain());
    extract();
    const std::string outside = dir.file("outside");
    fs::create_directories(outside);
    writeFile(outside + "/secret.txt", bytesOf("secret"));
    writeFile(outside + "/TOP.TXT", bytesOf("changed outside"));
    fs::create_directory_symlink(outside, file("linked"));
    fs::remove(file("TOP.TXT"));
    fs::create_symlink(outside + "/TOP.TXT", file("TOP.TXT"));
    fs::remove_all(file("SND"));
    fs::create_directory_symlink(outside, file("SND"));
    const auto update = runQar({"update", a, tree, "-o", b, "--delete-missing"});
    EXPECT_EQ(update.status, 0) << update.err;
    // The linked files are neither read nor added, and the entries they stand in the way of stay.
    EXPECT_EQ(update.out, "");
    EXPECT_EQ(readFile(b), readFile(a));
}

TEST_F(UpdateCli, InPlaceKeepsABackup) {
    write(plain());
    const auto before = readFile(a);
    extract();
    writeFile(file("TOP.TXT"), bytesOf("new top"));
    const auto update = runQar({"update", a, tree, "--in-place", "--backup"});
    EXPECT_EQ(update.status, 0) << update.err;
    EXPECT_EQ(readFile(a + ".bak"), before);
    EXPECT_EQ(runQar({"diff", a + ".bak", a}).out, "M TOP.TXT\n");
}

TEST_F(UpdateCli, EditedPicturesAreEncodedLikeTheirEntries) {
    namespace s = vorlr::samples;
    LayoutArchive layout = plain();
    layout.entries.push_back(item("GFX\\ICONS.KMG", s::sampleKmgPalette(4)));
    layout.entries.push_back(item("GFX\\SKY.KMG", s::sampleKmg16(20, 10)));
    layout.entries.push_back(item("GFX\\LOGO.TGA", s::sampleTga(2, 24, 12, 7)));
    write(layout);
    extract(true);
    // Edited pictures made by the tool itself from other entries: sub-image 2 of the palette KMG
    // becomes sub-image 0, the 16-bit KMG another 16-bit picture of another size.
    LayoutArchive other;
    other.entries = {item("SKY.KMG", s::sampleKmg16(31, 9))};
    writeFile(dir.file("other.qar"), buildLayout(other));
    ASSERT_EQ(runQar({"convert", dir.file("other.qar"), "SKY.KMG", file("GFX/SKY.png")}).status, 0);
    fs::copy_file(file("GFX/ICONS_0.png"), file("GFX/ICONS_2.png"), fs::copy_options::overwrite_existing);
    fs::remove(file("GFX/ICONS_3.png"));  // a sub-image without a file stays as it is
    // The same pixels in another file format (a BMP under the PNG's name): unchanged.
    ASSERT_EQ(runQar({"convert", a, "GFX\\LOGO.TGA", dir.file("logo.bmp")}).status, 0);
    fs::copy_file(dir.file("logo.bmp"), file("GFX/LOGO.png"), fs::copy_options::overwrite_existing);

    for (const char* workers : {"1", "3"}) {
        const auto update = runQar({"update", a, tree, "-o", b, "-j", workers});
        EXPECT_EQ(update.status, 0) << update.err;
        EXPECT_EQ(update.out, "M GFX\\ICONS.KMG\nM GFX\\SKY.KMG\n");
    }
    EXPECT_EQ(runQar({"diff", a, b}).out, "M GFX\\ICONS.KMG\nM GFX\\SKY.KMG\n");
    // Decoded again, the entries show the edited pictures and keep the untouched sub-images.
    const std::string check = dir.file("check");
    fs::create_directories(check);
    ASSERT_EQ(runQar({"convert", b, "GFX\\ICONS.KMG", check + "/I.png", "--all"}).status, 0);
    ASSERT_EQ(runQar({"convert", b, "GFX\\SKY.KMG", check + "/S.png"}).status, 0);
    EXPECT_EQ(readFile(check + "/I_2.png"), readFile(file("GFX/ICONS_0.png")));
    EXPECT_EQ(readFile(check + "/I_1.png"), readFile(file("GFX/ICONS_1.png")));
    EXPECT_EQ(readFile(check + "/S.png"), readFile(file("GFX/SKY.png")));
    ASSERT_EQ(runQar({"convert", a, "GFX\\ICONS.KMG", check + "/old.png", "--all"}).status, 0);
    EXPECT_EQ(readFile(check + "/I_3.png"), readFile(check + "/old_3.png"));

    // A sub-image the entry does not have, and a file that is no picture: refused, nothing written.
    fs::remove(b);
    writeFile(file("GFX/ICONS_9.png"), readFile(file("GFX/ICONS_0.png")));
    const auto beyond = runQar({"update", a, tree, "-o", b});
    EXPECT_EQ(beyond.status, 1);
    EXPECT_NE(beyond.err.find("qar: GFX/ICONS_9.png: "), std::string::npos) << beyond.err;
    EXPECT_FALSE(fs::exists(b));
    fs::remove(file("GFX/ICONS_9.png"));
    writeFile(file("GFX/SKY.png"), bytesOf("scribbles"));
    const auto broken = runQar({"update", a, tree, "-o", b});
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.err.find("qar: GFX/SKY.png: "), 0u) << broken.err;
    EXPECT_FALSE(fs::exists(b));
}

TEST_F(UpdateCli, DiffStatuses) {
    write(plain());
    writeFile(b, bytesOf("not an archive at all"));
    const auto notArchive = runQar({"diff", a, b});
    EXPECT_EQ(notArchive.status, 2);
    EXPECT_EQ(notArchive.out, "");
    EXPECT_EQ(notArchive.err.rfind("qar: ", 0), 0u) << notArchive.err;
    EXPECT_NE(notArchive.err.find(b), std::string::npos);
    EXPECT_EQ(runQar({"diff", a, dir.file("missing.qar")}).status, 2);
    EXPECT_EQ(runQar({"diff", a}).status, 2);
    LayoutArchive other = plain();
    other.header.assign(512, 1);
    writeFile(b, buildLayout(other));
    const auto header = runQar({"diff", a, b});
    EXPECT_EQ(header.status, 1);
    EXPECT_EQ(header.out, "H\n");
}

}  // namespace

namespace {

// Files of a flat folder matched with nested entries by their file names.
class MatchNamesCli : public UpdateCli {
protected:
    std::string flat = dir.file("flat");
    void SetUp() override {
        namespace s = vorlr::samples;
        LayoutArchive layout = plain();
        layout.entries.push_back(item("GFX\\SKY.KMG", s::sampleKmg16(20, 10)));
        layout.entries.push_back(item("GFX\\LOGO.TGA", s::sampleTga(2, 32, 12, 7)));
        layout.entries.push_back(item("DATA\\SUB\\NOTE.TXT", "note one"));
        layout.entries.push_back(item("SND\\NOTE.TXT", "note two"));
        write(layout);
        fs::create_directories(flat);
        writeFile(flat + "/readme.txt", bytesOf("read me, edited"));  // another case
        writeFile(flat + "/HIT.WAV", bytesOf("RIFF....WAVEfmt "));   // unchanged
        writeFile(flat + "/Map.Dat", bytesOf("other map"));
        writeFile(flat + "/NEW.TXT", bytesOf("new"));
        ASSERT_EQ(runQar({"convert", a, "GFX\\LOGO.TGA", flat + "/logo.PNG"}).status, 0);  // the same pixels
        LayoutArchive other;
        other.entries = {item("SKY.KMG", s::sampleKmg16(31, 9))};
        writeFile(dir.file("other.qar"), buildLayout(other));
        ASSERT_EQ(runQar({"convert", dir.file("other.qar"), "SKY.KMG", flat + "/sky.png"}).status, 0);
    }
};

TEST_F(MatchNamesCli, FlatFolderMatchesNestedEntries) {
    // Without matching every file names no entry.
    const auto plainRun = runQar({"update", a, flat, "--dry-run"});
    EXPECT_EQ(plainRun.status, 0) << plainRun.err;
    EXPECT_EQ(plainRun.out, "A HIT.WAV\nA Map.Dat\nA NEW.TXT\nA logo.PNG\nA readme.txt\nA sky.png\n");

    const struct {
        std::vector<std::string> extra;
        std::string lines;
    } cases[] = {
        {{}, "M DATA\\README.TXT\nM DATA\\MAP.DAT\nM GFX\\SKY.KMG\nA NEW.TXT\n"},
        {{"--delete-missing"},
         "M DATA\\README.TXT\nM DATA\\MAP.DAT\nD TOP.TXT\nM GFX\\SKY.KMG\nD DATA\\SUB\\NOTE.TXT\n"
         "D SND\\NOTE.TXT\nA NEW.TXT\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"update", a, flat, "--match-names", "--dry-run"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const auto run = runQar(args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, c.lines);
    }
    ASSERT_EQ(runQar({"update", a, flat, "--match-names", "-o", b}).status, 0);
    EXPECT_EQ(runQar({"cat", b, "DATA\\README.TXT"}).out, "read me, edited");
    EXPECT_EQ(runQar({"cat", b, "DATA\\MAP.DAT"}).out, "other map");
    EXPECT_EQ(runQar({"diff", a, b}).out, "M DATA\\README.TXT\nM DATA\\MAP.DAT\nM GFX\\SKY.KMG\n+ NEW.TXT\n");
}

TEST_F(MatchNamesCli, SharedNamesAndDoubleClaimsWriteNothing) {
    const struct {
        std::string file, message;
    } cases[] = {
        {"note.TXT", "qar: note.TXT: several entries have this file name: DATA\\SUB\\NOTE.TXT, SND\\NOTE.TXT\n"},
        {"DATA/README.TXT", "qar: DATA/README.TXT and readme.txt both stand for DATA\\README.TXT\n"},
    };
    const auto before = readFile(a);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        fs::create_directories(fs::path(flat + "/" + c.file).parent_path());
        writeFile(flat + "/" + c.file, bytesOf("x"));
        for (const char* dry : {"--dry-run", "--in-place"}) {
            const auto run = runQar({"update", a, flat, "--match-names", dry});
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.out, "");
            EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
            EXPECT_NE(run.err.find("qar: nothing written"), std::string::npos) << run.err;
        }
        EXPECT_EQ(readFile(a), before);
        fs::remove(flat + "/" + c.file);
    }
}

}  // namespace
