// Entries edited in other programs and dragged in and out: every way an editor saves a working
// copy gives one pending step with its content, and the save then writes what qar replace writes
// with the same file; several working copies at once; a save of the same content is no change and
// a picture that cannot be read is named; drops give the steps Add files... and Replace... give;
// dragging out writes what Extract... writes; Open with... runs the command and remembers it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QDrag>
#include <QMimeData>
#include <QTest>
#include <QTreeView>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <set>

#include "app/ArchiveEditor.h"
#include "app/ExternalEditing.h"
#include "app/FolderTreeModel.h"
#include "app/Unit1.h"
#include "archive/ArchiveChanges.h"
#include "lib/DemoArchive.h"
#include "lib/QarBuilder.h"
#include "platform/Bitmap24.h"
#include "platform/png/PictureReader.h"
#include "platform/png/PngWriter.h"
#include "support/Drops.h"
#include "support/QarRun.h"
#include "support/WindowTest.h"

namespace vorlr {
namespace {

namespace fs = std::filesystem;
using samples::bytesOf;
using samples::readFile;
using samples::writeFile;
using testing::runQar;

std::vector<uint8_t> editedPng(const std::string& png) {
    Bitmap24 picture = ReadPictureFile(png);
    uint8_t* p = picture.row(2) + 6;
    p[0] ^= 0xF0, p[1] ^= 0x0F, p[2] ^= 0x3C;
    const std::string temp = png + ".edited";
    savePng(picture, temp);
    auto bytes = readFile(temp);
    fs::remove(temp);
    return bytes;
}

// The ways editors save: in place, in several parts with pauses, a new file renamed over it.
using Save = std::function<void(const std::string& path, const std::vector<uint8_t>& bytes)>;
void inPlace(const std::string& path, const std::vector<uint8_t>& bytes) { writeFile(path, bytes); }
void inParts(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    const size_t third = bytes.size() / 3;
    for (size_t start = 0; start < bytes.size(); start += third) {
        std::fwrite(bytes.data() + start, 1, std::min(third, bytes.size() - start), f);
        std::fflush(f);
        QTest::qWait(120);
    }
    std::fclose(f);
}
void renamedOver(const std::string& path, const std::vector<uint8_t>& bytes) {
    writeFile(path + ".tmp~", bytes);
    fs::rename(path + ".tmp~", path);
}

class External : public testing::WindowTest {
public:
    using testing::WindowTest::dialogs;
    using testing::WindowTest::dir;

    void SetUp() override {
        home_ = dir.file("home");
        fs::create_directories(home_);
        ::setenv("XDG_CACHE_HOME", (home_ + "/cache").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home_ + "/config").c_str(), 1);
        original_ = samples::writeDemo(dir.file("orig"));
        fs::remove(dir.file("orig/VORLR.LST"));
        archive_ = dir.file("game.qar");
        fs::copy_file(original_, archive_);
        f = std::make_unique<TForm1>();
        f->OpenArchive(archive_);
        ext().openUrl = [this](const QUrl& url) {
            opened.push_back(url.toLocalFile().toStdString());
            return true;
        };
    }
    void TearDown() override {
        f.reset();
        ::unsetenv("XDG_CACHE_HOME");
        ::unsetenv("XDG_CONFIG_HOME");
    }
    ArchiveEditor& ed() { return *f->editor(); }
    ExternalEditing& ext() { return *f->external(); }
    ArchiveChanges& changes() { return *ed().changes(); }
    NodeId entryNode(const std::string& name) {
        return ed().pendingTree()->nodeOf(*changes().find(name));
    }
    NodeId folderNode(const std::vector<std::string>& path) {
        NodeId at = kNoNode;
        for (const std::string& segment : path)
            for (int32_t r = 0; r < f->tree().childCount(at); ++r)
                if (f->tree().text(f->tree().child(at, r)) == segment) {
                    at = f->tree().child(at, r);
                    break;
                }
        return at;
    }
    // Opens the entry in the "default application" and returns the working copy handed to it.
    std::string openEntry(const std::string& name) {
        const size_t before = opened.size();
        ext().openInDefaultApplication(entryNode(name));
        EXPECT_EQ(opened.size(), before + 1) << name;
        return opened.size() > before ? opened.back() : std::string();
    }
    bool waitForChanges(size_t n) {
        return QTest::qWaitFor([&] { return changes().changeCount() >= n; }, 5000);
    }
    int steps() {
        int n = 0;
        while (changes().canUndo()) {
            changes().undo();
            ++n;
        }
        for (int k = 0; k < n; ++k) changes().redo();
        return n;
    }
    // Drops urls on a node of the tree as a file manager would.
    bool dropOn(NodeId node, const std::vector<std::string>& paths) {
        f->show();
        f->tvFiles->expandAll();
        const QModelIndex index = f->treeModel()->indexOf(node);
        f->tvFiles->scrollTo(index);
        const QPoint at = f->tvFiles->visualRect(index).center();
        const bool accepted = testing::dropFiles(f->tvFiles->viewport(), at, paths, [&] {
            EXPECT_NE(f->treeModel()->dropTarget(), kNoNode);  // shown while dragging
        });
        EXPECT_EQ(f->treeModel()->dropTarget(), kNoNode);
        return accepted;
    }
    // What the pending changes hold, name by name.
    std::map<std::string, std::string> pendingEntries() {
        std::map<std::string, std::string> out;
        for (EntryId id = 0; id < changes().endId(); ++id)
            if (changes().marked(id)) {
                const auto b = changes().read(id, 1 << 26);
                out[std::string(changes().name(id))] = std::string(b.begin(), b.end());
            }
        return out;
    }

    std::string home_, original_, archive_;
    std::unique_ptr<TForm1> f;
    std::vector<std::string> opened;
};

TEST_F(External, EachWayOfSavingGivesOneStepAndTheSaveWritesWhatQarReplaceWrites) {
    const std::pair<const char*, Save> ways[] = {
        {"in place", inPlace}, {"in parts", inParts}, {"renamed over", renamedOver}};
    for (const auto& [what, save] : ways) {
        fs::copy_file(original_, archive_, fs::copy_options::overwrite_existing);
        f->OpenArchive(archive_);
        const std::string copy = openEntry("GFX\\SKY.KMG");
        ASSERT_EQ(fs::path(copy).filename(), "SKY.png");
        EXPECT_EQ(fs::path(copy).string().rfind(home_ + "/cache/vorlr/", 0), 0u) << copy;
        const std::vector<uint8_t> edited = editedPng(copy);
        save(copy, edited);
        ASSERT_TRUE(waitForChanges(1)) << what;
        QTest::qWait(700);  // longer than the watcher waits: nothing more comes
        EXPECT_EQ(steps(), 1) << what;
        EXPECT_EQ(changes().undoLabel(), "Edit GFX\\SKY.KMG");
        EXPECT_TRUE(changes().marked(*changes().find("GFX\\SKY.KMG")));

        writeFile(dir.file("SKY.png"), edited);
        ASSERT_TRUE(ed().saveArchive());
        ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
        EXPECT_FALSE(fs::exists(copy)) << "working copies stay until the save";
        ASSERT_EQ(runQar({"replace", original_, "GFX\\SKY.KMG", dir.file("SKY.png"), "-o", dir.file("want.qar")}).status, 0);
        EXPECT_TRUE(readFile(archive_) == readFile(dir.file("want.qar"))) << what;
        fs::remove(dir.file("want.qar"));
    }
}

TEST_F(External, SeveralAtOnceSameContentAndUnreadablePictures) {
    const std::string welcome = openEntry("DATA\\TEXT\\WELCOME.TXT");
    const std::string credits = openEntry("DATA\\TEXT\\CREDITS.TXT");
    const std::string icons = openEntry("GFX\\ICONS.KMG");
    EXPECT_EQ(fs::path(icons).filename(), "ICONS_0.png");  // one per sub-image, the first opened
    EXPECT_TRUE(fs::exists(fs::path(icons).parent_path() / "ICONS_5.png"));
    EXPECT_EQ(fs::path(welcome).filename(), "WELCOME.TXT");
    EXPECT_EQ(readFile(welcome), bytesOf(runQar({"cat", original_, "DATA\\TEXT\\WELCOME.TXT"}).out));

    // The same bytes again, and the same pixels in another file: no change.
    writeFile(credits, readFile(credits));
    const std::string sub3 = (fs::path(icons).parent_path() / "ICONS_3.png").string();
    savePng(ReadPictureFile(sub3), sub3 + ".same");
    fs::rename(sub3 + ".same", sub3);
    // Two programs saving at once.
    writeFile(welcome, bytesOf("Welcome, edited.\r\n"));
    writeFile(credits, bytesOf("Credits, edited.\r\n"));
    ASSERT_TRUE(waitForChanges(2));
    QTest::qWait(700);
    EXPECT_EQ(changes().changeCount(), 2u);
    EXPECT_EQ(pendingEntries(), (std::map<std::string, std::string>{
                                    {"DATA\\TEXT\\CREDITS.TXT", "Credits, edited.\r\n"},
                                    {"DATA\\TEXT\\WELCOME.TXT", "Welcome, edited.\r\n"}}));
    // Opened again: the working copy keeps what the program saved.
    EXPECT_EQ(openEntry("DATA\\TEXT\\WELCOME.TXT"), welcome);
    EXPECT_EQ(readFile(welcome), bytesOf("Welcome, edited.\r\n"));

    // A sub-image saved in another size, then one that is no picture at all.
    Bitmap24 wrong(7, 3);
    savePng(wrong, sub3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.errors.size() == 1; }, 5000));
    EXPECT_NE(dialogs.errors.back().find(sub3), std::string::npos) << dialogs.errors.back();
    writeFile((fs::path(icons).parent_path() / "ICONS_1.png").string(), bytesOf("not a picture"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.errors.size() == 2; }, 5000));
    EXPECT_NE(dialogs.errors.back().find("ICONS_1.png"), std::string::npos) << dialogs.errors.back();
    EXPECT_FALSE(changes().marked(*changes().find("GFX\\ICONS.KMG")));
    EXPECT_EQ(changes().changeCount(), 2u);
    // Discarded: the working copies go.
    ed().discardChanges();
    EXPECT_FALSE(fs::exists(welcome));
}

TEST_F(External, DropsGiveTheStepsOfAddFilesAndReplace) {
    fs::create_directories(dir.file("drop/more"));
    const std::string one = dir.file("drop/NOTE.TXT"), two = dir.file("drop/more/DEEP.TXT");
    writeFile(one, bytesOf("a note"));
    writeFile(two, bytesOf("deeper"));

    // On a folder node: added to it, a folder's files under their relative paths.
    ASSERT_TRUE(dropOn(folderNode({"DATA", "TEXT"}), {one, dir.file("drop/more")}));
    ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
    const auto dropped = pendingEntries();
    EXPECT_EQ(changes().undoLabel(), "Add 2 files");
    ed().undo();
    dialogs.fileLists.push_back({one});
    ed().addFiles(folderNode({"DATA", "TEXT"}));
    dialogs.addFolders.push_back(dir.file("drop/more"));
    ed().addFolder(folderNode({"DATA", "TEXT"}));
    EXPECT_EQ(pendingEntries(), dropped);
    EXPECT_EQ(dropped, (std::map<std::string, std::string>{{"DATA\\TEXT\\DEEP.TXT", "deeper"},
                                                           {"DATA\\TEXT\\NOTE.TXT", "a note"}}));
    changes().discard();

    // One file on a file node replaces it.
    ASSERT_TRUE(dropOn(entryNode("DATA\\CONFIG\\GAME.INI"), {one}));
    EXPECT_EQ(changes().undoLabel(), "Replace DATA\\CONFIG\\GAME.INI");
    const auto replaced = pendingEntries();
    changes().discard();
    dialogs.fileLists.push_back({one});
    ed().replaceEntry(entryNode("DATA\\CONFIG\\GAME.INI"));
    EXPECT_EQ(pendingEntries(), replaced);
    EXPECT_EQ(replaced.at("DATA\\CONFIG\\GAME.INI"), "a note");
}

// The written files, relative path to bytes.
std::map<std::string, std::vector<uint8_t>> treeOf(const std::string& root) {
    std::map<std::string, std::vector<uint8_t>> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) out[fs::relative(e.path(), root).string()] = readFile(e.path().string());
    return out;
}

TEST_F(External, DraggingOutWritesWhatExtractWrites) {
    std::vector<QList<QUrl>> drags;
    ext().runDrag = [&](QDrag& drag) { drags.push_back(drag.mimeData()->urls()); };
    dialogs.fileLists.push_back({dir.file("w.txt")});
    writeFile(dir.file("w.txt"), bytesOf("pending"));
    ed().replaceEntry(entryNode("DATA\\TEXT\\WELCOME.TXT"));  // dragged as it will be saved

    ext().dragOut(folderNode({"DATA"}));
    ASSERT_EQ(drags.size(), 1u);
    ASSERT_EQ(drags[0].size(), 1);
    const std::string folder = drags[0][0].toLocalFile().toStdString();
    EXPECT_EQ(fs::path(folder).filename(), "DATA");
    EXPECT_EQ(folder.rfind(home_ + "/cache/vorlr/drag-", 0), 0u) << folder;
    dialogs.folders.push_back(dir.file("extracted"));
    f->tvFilesExtract(folderNode({"DATA"}));
    auto expected = treeOf(dir.file("extracted/DATA"));
    expected["TEXT/WELCOME.TXT"] = bytesOf("pending");
    EXPECT_EQ(treeOf(folder), expected);

    ext().dragOut(entryNode("SOUND\\CHIME.WAV"));
    ASSERT_EQ(drags.size(), 2u);
    const std::string file = drags[1][0].toLocalFile().toStdString();
    EXPECT_EQ(fs::path(file).filename(), "CHIME.WAV");
    EXPECT_EQ(readFile(file), bytesOf(runQar({"cat", original_, "SOUND\\CHIME.WAV"}).out));
    // The dragged files live until the window closes.
    const std::string root = ext().dragFolder();
    EXPECT_TRUE(fs::exists(folder));
    f.reset();
    EXPECT_FALSE(fs::exists(root));
}

TEST_F(External, OpenWithRunsTheCommandAndRemembersIt) {
    const std::string script = dir.file("editor.sh"), seen = dir.file("seen");
    writeFile(script, bytesOf("#!/bin/sh\nprintf '%s' \"$1\" > '" + seen + "'\n"));
    fs::permissions(script, fs::perms::owner_all);
    dialogs.applications.push_back(ApplicationChoice{-1, script + " %f"});
    ext().openWith(entryNode("DATA\\TEXT\\WELCOME.TXT"));
    ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(seen) && fs::file_size(seen) > 0; }, 5000));
    const std::vector<uint8_t> said = readFile(seen);
    const std::string copy(said.begin(), said.end());
    EXPECT_EQ(fs::path(copy).filename(), "WELCOME.TXT");
    // Offered again for the same type, the command is there.
    ext().openWith(entryNode("DATA\\TEXT\\CREDITS.TXT"));
    ASSERT_EQ(dialogs.applicationShown.size(), 2u);
    EXPECT_EQ(dialogs.applicationShown[1], (std::pair<int, std::string>{-1, script + " %f"}));
    EXPECT_EQ(dialogs.applicationFiles[1], "CREDITS.TXT");
}

}  // namespace
}  // namespace vorlr
