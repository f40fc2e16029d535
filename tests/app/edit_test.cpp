// Editing the archive in the window: each command followed by Save archive writes exactly what
// qar's own command writes for the same change; undo and redo come back to the loaded state; the
// question before pending changes are left, with each answer; failing and refused saves keep the
// window, the changes and the file; a picked file that changed since is named.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>
#include <QUrl>
#include <filesystem>
#include <functional>

#include "app/ArchiveEditor.h"
#include "app/ArchiveList.h"
#include "app/FolderPictures.h"
#include "app/FolderTreeModel.h"
#include "app/ImagePage.h"
#include "app/PictureGrid.h"
#include "app/StatusBar.h"
#include "app/TextPage.h"
#include "app/Unit1.h"
#include "archive/ArchiveChanges.h"
#include "lib/DemoArchive.h"
#include "lib/QarBuilder.h"
#include "lib/SoundSamples.h"
#include "platform/Bitmap24.h"
#include "platform/gui/Dialogs.h"
#include "platform/png/PictureReader.h"
#include "platform/png/PngWriter.h"
#include "support/QarRun.h"
#include "support/WindowTest.h"

namespace vorlr {
namespace {

namespace fs = std::filesystem;
using samples::bytesOf;
using samples::readFile;
using samples::writeFile;
using testing::runQar;

class Editing : public testing::WindowTest {
public:
    using testing::WindowTest::dialogs;
    using testing::WindowTest::dir;

    void SetUp() override {
        original_ = samples::writeDemo(dir.file("orig"));
        fs::remove(dir.file("orig/VORLR.LST"));
    }
    // A fresh copy of the demo archive, opened in a fresh window.
    std::string open(const std::string& name = "game.qar") {
        const std::string path = dir.file(name);
        fs::copy_file(original_, path, fs::copy_options::overwrite_existing);
        if (!f) f = std::make_unique<TForm1>();
        f->OpenArchive(path);
        EXPECT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
        return path;
    }
    ArchiveEditor& ed() { return *f->editor(); }
    ArchiveChanges& changes() { return *ed().changes(); }
    // The node of an entry, by its stored name as it will be saved.
    NodeId entryNode(const std::string& name) {
        const auto id = changes().find(name);
        EXPECT_TRUE(id.has_value()) << name;
        return id ? ed().pendingTree()->nodeOf(*id) : kNoNode;
    }
    // A folder node by its path of texts.
    NodeId folderNode(const std::vector<std::string>& path) {
        NodeId at = kNoNode;
        for (const std::string& segment : path) {
            NodeId found = kNoNode;
            for (int32_t r = 0; r < f->tree().childCount(at); ++r)
                if (f->tree().text(f->tree().child(at, r)) == segment) found = f->tree().child(at, r);
            EXPECT_NE(found, kNoNode) << segment;
            at = found;
        }
        return at;
    }
    void select(NodeId node) { f->tvFiles->setCurrentIndex(f->treeModel()->indexOf(node)); }
    // Shown and active, so that the window's keys work.
    void activate() {
        f->show();
        QApplication::setActiveWindow(f.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(f.get()));
    }
    // The item of the drop-down list that names path.
    int itemOf(const std::string& path) {
        for (int k = 0; k < f->cbFiles->count(); ++k)
            if (ArchiveItemName(*f->cbFiles, k) == path) return k;
        return -1;
    }
    // A file's modification time moved on, so that no clock tick can hide a write.
    static void touchLater(const std::string& path) {
        struct stat st{};
        ::stat(path.c_str(), &st);
        const struct timespec later[2] = {{0, UTIME_OMIT}, {st.st_mtim.tv_sec + 5, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), later, 0);
    }
    std::string file(const std::string& name, const std::string& text) {
        writeFile(dir.file(name), bytesOf(text));
        return dir.file(name);
    }
    // The entry exported by qar as a PNG with one pixel changed.
    std::string editedPicture(const std::string& entry, const std::string& png, bool all = false) {
        std::vector<std::string> args{"convert", original_, entry, dir.file(png)};
        if (all) args.push_back("--all");
        EXPECT_EQ(runQar(args).status, 0);
        const std::string name = all ? dir.file(fs::path(png).stem().string() + "_2.png") : dir.file(png);
        Bitmap24 picture = ReadPictureFile(name);
        uint8_t* p = picture.row(1) + 3;
        p[0] ^= 0x80, p[1] ^= 0x40, p[2] ^= 0x20;
        if (picture.hasAlpha()) picture.alphaRow(1)[1] = 255;
        savePng(picture, name);
        return name;
    }
    std::vector<std::string> diffLines(const std::string& a, const std::string& b) {
        const auto r = runQar({"diff", a, b});
        std::vector<std::string> lines;
        std::string line;
        for (char c : r.out) {
            if (c != '\n') line += c;
            else lines.push_back(std::exchange(line, {}));
        }
        return lines;
    }
    std::string original_;
    std::unique_ptr<TForm1> f;
};

struct CommandCase {
    const char* what;
    // Does the change through the window; returns the path of the file picked, if any.
    std::function<void(Editing&, std::string& picked)> act;
    // qar's words for the same change (ARCHIVE, OUT and FILE stand for the paths).
    std::vector<std::string> qar;
    std::vector<std::string> diff;
};

class EditCommands : public Editing, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(EditCommands, SaveWritesWhatQarWritesForTheSameChange) {
    const CommandCase& c = GetParam();
    const std::string archive = open();
    std::string picked;
    c.act(*this, picked);
    ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
    ASSERT_TRUE(ed().pending());
    EXPECT_TRUE(ed().changesBar()->isVisibleTo(f.get()));
    ASSERT_TRUE(ed().saveArchive());
    ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
    EXPECT_FALSE(ed().pending());
    EXPECT_FALSE(ed().changesBar()->isVisibleTo(f.get()));
    EXPECT_EQ(readFile(archive + ".bak"), readFile(original_));

    const std::string expected = dir.file("expected.qar");
    std::vector<std::string> args;
    for (const std::string& a : c.qar)
        args.push_back(a == "ARCHIVE" ? original_ : a == "OUT" ? expected : a == "FILE" ? picked : a);
    const auto r = runQar(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(readFile(archive) == readFile(expected)) << c.what;
    EXPECT_EQ(diffLines(original_, archive), c.diff);
}

const CommandCase kCommands[] = {
    {"a text replaced",
     [](Editing& t, std::string& picked) {
         picked = t.file("welcome.txt", "Hello again\r\n");
         t.dialogs.fileLists.push_back({picked});
         t.ed().replaceEntry(t.entryNode("DATA\\TEXT\\WELCOME.TXT"));
     },
     {"replace", "ARCHIVE", "DATA\\TEXT\\WELCOME.TXT", "FILE", "-o", "OUT"},
     {"M DATA\\TEXT\\WELCOME.TXT"}},
    {"a sound replaced",
     [](Editing& t, std::string& picked) {
         picked = t.dir.file("chime.wav");
         writeFile(picked, samples::makeWavTone({700, 22050, 1, 880}));
         t.dialogs.fileLists.push_back({picked});
         t.ed().replaceEntry(t.entryNode("SOUND\\CHIME.WAV"));
     },
     {"replace", "ARCHIVE", "SOUND\\CHIME.WAV", "FILE", "-o", "OUT"},
     {"M SOUND\\CHIME.WAV"}},
    {"a 16-bit KMG replaced by a PNG",
     [](Editing& t, std::string& picked) {
         picked = t.editedPicture("GFX\\SKY.KMG", "SKY.png");
         t.dialogs.fileLists.push_back({picked});
         t.ed().replaceEntry(t.entryNode("GFX\\SKY.KMG"));
     },
     {"replace", "ARCHIVE", "GFX\\SKY.KMG", "FILE", "-o", "OUT"},
     {"M GFX\\SKY.KMG"}},
    {"a palette sub-image replaced by NAME_2.png",
     [](Editing& t, std::string& picked) {
         picked = t.editedPicture("GFX\\ICONS.KMG", "ICONS.png", true);
         t.dialogs.fileLists.push_back({picked});
         t.ed().replaceEntry(t.entryNode("GFX\\ICONS.KMG"));
         EXPECT_TRUE(t.dialogs.numberLabels.empty());  // the name says which
     },
     {"replace", "ARCHIVE", "GFX\\ICONS.KMG", "FILE", "-o", "OUT"},
     {"M GFX\\ICONS.KMG"}},
    {"a Targa replaced by a PNG",
     [](Editing& t, std::string& picked) {
         picked = t.editedPicture("GFX\\TGA\\TRUECOLOR.TGA", "TRUECOLOR.png");
         t.dialogs.fileLists.push_back({picked});
         t.ed().replaceEntry(t.entryNode("GFX\\TGA\\TRUECOLOR.TGA"));
     },
     {"replace", "ARCHIVE", "GFX\\TGA\\TRUECOLOR.TGA", "FILE", "-o", "OUT"},
     {"M GFX\\TGA\\TRUECOLOR.TGA"}},
    {"a file added in a nested folder",
     [](Editing& t, std::string&) {
         fs::create_directories(t.dir.file("mod/DATA/WORLD/MAPS/NORTH"));
         const std::string added = t.dir.file("mod/DATA/WORLD/MAPS/NORTH/EXTRA.TXT");
         writeFile(added, bytesOf("An extra note.\r\n"));
         t.dialogs.fileLists.push_back({added});
         // On a file node: its folder.
         t.ed().addFiles(t.entryNode("DATA\\WORLD\\MAPS\\NORTH\\INFO.TXT"));
         const NodeId node = t.entryNode("DATA\\WORLD\\MAPS\\NORTH\\EXTRA.TXT");
         EXPECT_EQ(t.f->tree().parent(node), t.folderNode({"DATA", "WORLD", "MAPS", "NORTH"}));
     },
     {"update", "ARCHIVE", "mod", "-o", "OUT"},
     {"+ DATA\\WORLD\\MAPS\\NORTH\\EXTRA.TXT"}},
    {"a folder deleted",
     [](Editing& t, std::string&) {
         t.dialogs.choices.push_back(0);
         t.ed().deleteNode(t.folderNode({"DATA", "WORLD"}));
         EXPECT_NE(t.dialogs.questions.back().find("2 entries"), std::string::npos)
             << t.dialogs.questions.back();
         EXPECT_EQ(t.dialogs.questionDefaults.back(), (std::pair<int, int>{0, 1}));
     },
     {"delete", "ARCHIVE", "DATA\\WORLD\\*", "-o", "OUT"},
     {"- DATA\\WORLD\\MAPS\\NORTH\\INFO.TXT", "- DATA\\WORLD\\MAPS\\SOUTH\\INFO.TXT"}},
    {"an entry renamed into another folder",
     [](Editing& t, std::string&) {
         t.dialogs.texts.push_back("DOCS/CREDITS.TXT");
         t.ed().renameEntry(t.entryNode("DATA\\TEXT\\CREDITS.TXT"));
         EXPECT_EQ(t.dialogs.textInitials.back(), "DATA\\TEXT\\CREDITS.TXT");
         EXPECT_EQ(t.f->tree().parent(t.entryNode("DOCS\\CREDITS.TXT")), t.folderNode({"DOCS"}));
     },
     {"rename", "ARCHIVE", "DATA\\TEXT\\CREDITS.TXT", "DOCS/CREDITS.TXT", "-o", "OUT"},
     {"R DATA\\TEXT\\CREDITS.TXT -> DOCS\\CREDITS.TXT"}},
};

INSTANTIATE_TEST_SUITE_P(Window, EditCommands, ::testing::ValuesIn(kCommands));

TEST_F(Editing, PendingEntriesShowTheirNewContentAndTheSavedOneIsSelectedAgain) {
    open();
    activate();
    const NodeId welcome = entryNode("DATA\\TEXT\\WELCOME.TXT");
    select(welcome);
    dialogs.fileLists.push_back({file("new.txt", "Brand new words")});
    QTest::keyClick(f->tvFiles, Qt::Key_R, Qt::ControlModifier);  // on the current node
    EXPECT_EQ(f->textPage()->reText()->toPlainText().toStdString(), "Brand new words");
    EXPECT_EQ(f->StatusBar1->panelText(1), "Offset: not saved yet");
    EXPECT_EQ(f->StatusBar1->panelText(2), "Size: $F");
    EXPECT_EQ(ed().changesLabel()->text(), QStringLiteral("1 unsaved change"));
    EXPECT_EQ(dialogs.fileTitles.back(), "Replace DATA\\TEXT\\WELCOME.TXT");
    const QModelIndex index = f->treeModel()->indexOf(welcome);
    EXPECT_TRUE(index.data(FolderTreeModel::kMarkedRole).toBool());
    EXPECT_EQ(index.data().toString(), QStringLiteral("WELCOME.TXT"));  // the mark is not text

    // An unchanged entry shows as always.
    select(entryNode("DATA\\TEXT\\CREDITS.TXT"));
    EXPECT_EQ(f->StatusBar1->panelText(1).rfind("Offset: $", 0), 0u);
    select(welcome);
    dialogs.fileLists.push_back({file("other.txt", "x")});
    ed().addFiles(welcome);
    EXPECT_EQ(ed().changesLabel()->text(), QStringLiteral("2 unsaved changes"));
    EXPECT_EQ(changes().undoLabel(), "Add DATA\\TEXT\\other.txt");
    QTest::keyClick(f->tvFiles, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(changes().redoLabel(), "Add DATA\\TEXT\\other.txt");
    QTest::keyClick(f->tvFiles, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(changes().changeCount(), 2u);
    // The keys act wherever the focus is in the window, the text page's box too.
    f->textPage()->reText()->setFocus();
    QTest::keyClick(f->textPage()->reText(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(changes().changeCount(), 1u);
    QTest::keyClick(f->textPage()->reText(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(changes().changeCount(), 2u);
    f->tvFiles->setFocus();

    QTest::keyClick(f->tvFiles, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
    EXPECT_FALSE(ed().pending());
    EXPECT_EQ(f->treeModel()->nodeOf(f->tvFiles->currentIndex()), entryNode("DATA\\TEXT\\WELCOME.TXT"));
    EXPECT_EQ(f->StatusBar1->panelText(1).rfind("Offset: $", 0), 0u);
    EXPECT_EQ(f->textPage()->reText()->toPlainText().toStdString(), "Brand new words");
}

// A folder's pictures show entries not saved yet with what they hold now.
TEST_F(Editing, ThePictureGridShowsPendingEntries) {
    open();
    const std::string icons = dir.file("NEW.KMG");
    writeFile(icons, bytesOf(runQar({"cat", original_, "GFX\\ICONS.KMG"}).out));
    dialogs.fileLists.push_back({icons});
    ed().addFiles(folderNode({"GFX"}));
    dialogs.fileLists.push_back({file("sky.bin", "no picture")});
    ed().replaceEntry(entryNode("GFX\\SKY.KMG"));
    f->folderPictures()->show(folderNode({"GFX"}));
    PictureGrid* grid = f->imagePage()->grid();
    ASSERT_NE(grid, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid->complete(); }, 10000));
    std::map<std::string, PictureGrid::Cell> cells;
    for (size_t i = 0; i < grid->items().size(); ++i) cells[grid->items()[i].name] = grid->cell(i);
    EXPECT_EQ(cells.at("NEW.KMG"), PictureGrid::Cell::Shown);
    EXPECT_EQ(cells.at("ICONS.KMG"), PictureGrid::Cell::Shown);
    EXPECT_EQ(cells.at("SKY.KMG"), PictureGrid::Cell::Failed);  // its new bytes are no picture
    // A step that builds the tree again leaves the grid, whose nodes it replaces.
    ed().deleteNode(entryNode("GFX\\NEW.KMG"));
    EXPECT_EQ(f->imagePage()->grid(), nullptr);
}

TEST_F(Editing, UndoAndRedoComeBackToTheLoadedStateWhereSavingWritesNothing) {
    const std::string archive = open();
    struct stat before{};
    ASSERT_EQ(::stat(archive.c_str(), &before), 0);
    dialogs.fileLists.push_back({file("a.txt", "changed")});
    ed().replaceEntry(entryNode("README.TXT"));
    dialogs.fileLists.push_back({file("b.txt", "added")});
    ed().addFiles(folderNode({"GFX", "TGA"}));
    ed().deleteNode(entryNode("DATA\\ITEMS.DBS"));
    dialogs.texts.push_back("GFX\\MOVED.INI");
    ed().renameEntry(entryNode("DATA\\CONFIG\\GAME.INI"));
    dialogs.choices.push_back(0);
    ed().deleteNode(folderNode({"SOUND"}));
    ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
    EXPECT_EQ(changes().changeCount(), 6u);
    const auto treeNow = [&] {
        std::vector<std::string> lines;
        f->tree().forEachInPreOrder([&](NodeId n, int32_t, bool) {
            lines.push_back(std::string(static_cast<size_t>(2 * f->tree().depth(n)), ' ') + f->tree().text(n));
        });
        return lines;
    };
    const auto edited = treeNow();
    while (changes().canUndo()) ed().undo();
    EXPECT_FALSE(ed().pending());
    EXPECT_FALSE(ed().changesBar()->isVisibleTo(f.get()));
    ASSERT_TRUE(ed().saveArchive());
    struct stat after{};
    ASSERT_EQ(::stat(archive.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_FALSE(fs::exists(archive + ".bak"));
    while (changes().canRedo()) ed().redo();
    EXPECT_EQ(treeNow(), edited);
    EXPECT_EQ(changes().changeCount(), 6u);
}

TEST_F(Editing, WhatChangesNothingMarksNothing) {
    open();
    const std::string own = dir.file("own.txt");
    ASSERT_EQ(runQar({"cat", original_, "README.TXT"}).status, 0);
    writeFile(own, bytesOf(runQar({"cat", original_, "README.TXT"}).out));
    dialogs.fileLists.push_back({own});
    ed().replaceEntry(entryNode("README.TXT"));
    // The same pixels as a PNG (a palette sub-image chosen in the question) and the same name.
    ASSERT_EQ(runQar({"convert", original_, "GFX\\ICONS.KMG", dir.file("same.png"), "--all"}).status, 0);
    dialogs.fileLists.push_back({dir.file("same_3.png")});  // another name: asked
    dialogs.numbers.push_back(3);
    ed().replaceEntry(entryNode("GFX\\ICONS.KMG"));
    EXPECT_EQ(dialogs.numberCounts.back(), 6);
    EXPECT_EQ(dialogs.numberInitials.back(), 0);
    dialogs.texts.push_back("README.TXT");
    ed().renameEntry(entryNode("README.TXT"));
    ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
    EXPECT_FALSE(changes().canUndo());
    EXPECT_FALSE(ed().changesBar()->isVisibleTo(f.get()));
}

TEST_F(Editing, RefusedCommandsSayWhy) {
    open();
    dialogs.texts.push_back("DATA/TEXT/CREDITS.TXT");
    guarded([&] { ed().renameEntry(entryNode("DATA\\TEXT\\WELCOME.TXT")); });
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_NE(dialogs.errors.back().find("exists already"), std::string::npos) << dialogs.errors.back();
    dialogs.texts.push_back("DATA\\..\\X.TXT");
    guarded([&] { ed().renameEntry(entryNode("DATA\\TEXT\\WELCOME.TXT")); });
    ASSERT_EQ(dialogs.errors.size(), 2u);
    // Adding a name that is there asks; Skip keeps the entry, Cancel adds nothing at all.
    fs::create_directories(dir.file("pick"));
    dialogs.fileLists.push_back({file("pick/README.TXT", "other"), file("pick/NEW.TXT", "n")});
    dialogs.choices.push_back(3);
    ed().addFiles(kNoNode);
    EXPECT_EQ(dialogs.questionButtons.back(),
              (std::vector<std::string>{"Replace", "Skip", "Replace all", "Cancel"}));
    EXPECT_FALSE(ed().pending());
    dialogs.fileLists.push_back({dir.file("pick/README.TXT"), dir.file("pick/NEW.TXT")});
    dialogs.choices.push_back(1);
    ed().addFiles(kNoNode);
    EXPECT_EQ(changes().changeCount(), 1u);
    EXPECT_TRUE(changes().find("NEW.TXT").has_value());
    ASSERT_EQ(dialogs.errors.size(), 2u);
}

// One pending change, then each way of leaving the archive asks, and each answer does what it
// says: Cancel leaves everything, Discard goes on, Save writes first.
TEST_F(Editing, LeavingWithPendingChangesAsks) {
    const std::string other = dir.file("other.qar");
    fs::copy_file(original_, other);
    struct Way {
        const char* what;
        std::function<void(Editing&)> leave;
        std::function<bool(Editing&)> left;  // the other archive loaded, or the window closed
    };
    const auto otherLoaded = [other](Editing& t) { return t.f->state.archive.path() == other; };
    const Way ways[] = {
        {"a list choice",
         [](Editing& t) {
             const int k = t.itemOf(t.dir.file("other.qar"));
             ASSERT_GE(k, 0);
             t.f->cbFiles->setCurrentIndex(k);
             emit t.f->cbFiles->activated(k);
         },
         otherLoaded},
        {"Browse",
         [other](Editing& t) {
             t.dialogs.answers.push_back(other);
             t.f->buBrowse->click();
         },
         otherLoaded},
        {"a drop",
         [other](Editing& t) {
             QMimeData data;
             data.setUrls({QUrl::fromLocalFile(QString::fromStdString(other))});
             const QPoint at(700, 300);  // outside the tree
             QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
             QCoreApplication::sendEvent(t.f.get(), &enter);
             ASSERT_TRUE(enter.isAccepted());
             QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
             QCoreApplication::sendEvent(t.f.get(), &drop);
             ASSERT_TRUE(drop.isAccepted());
             QCoreApplication::processEvents();
         },
         otherLoaded},
        {"closing the window",
         [](Editing& t) { t.f->close(); },
         [](Editing& t) { return !t.f->isVisible(); }},
    };
    for (const Way& way : ways) {
        for (const int answer : {2, 1, 0}) {  // Cancel, Discard, Save
            f.reset();
            const std::string archive = open();
            f->OpenArchive(other);  // both in the list
            f->OpenArchive(archive);
            f->show();
            const std::string cwd = fs::current_path().string();
            dialogs.fileLists.push_back({file("w.txt", "pending words")});
            ed().replaceEntry(entryNode("DATA\\TEXT\\WELCOME.TXT"));
            ASSERT_TRUE(ed().pending());
            const size_t asked = dialogs.questions.size();
            dialogs.choices.push_back(answer);
            way.leave(*this);
            ASSERT_EQ(dialogs.questions.size(), asked + 1) << way.what;
            EXPECT_EQ(dialogs.questions.back(), "Save changes to game.qar?");
            EXPECT_EQ(dialogs.questionButtons.back(), (std::vector<std::string>{"Save", "Discard", "Cancel"}));
            EXPECT_EQ(dialogs.questionDefaults.back(), (std::pair<int, int>{0, 2}));
            const bool saved = readFile(archive) != readFile(original_);
            EXPECT_EQ(saved, answer == 0) << way.what << " " << answer;
            EXPECT_EQ(way.left(*this), answer != 2) << way.what << " " << answer;
            EXPECT_EQ(fs::current_path().string(), cwd) << way.what;
            if (answer == 2) {
                EXPECT_TRUE(ed().pending()) << way.what;
                EXPECT_EQ(f->state.archive.path(), archive);
                EXPECT_EQ(ArchiveItemName(*f->cbFiles, f->cbFiles->currentIndex()), archive) << way.what;
            }
            ASSERT_TRUE(dialogs.errors.empty()) << way.what << ": " << dialogs.errors.front();
        }
    }
}

TEST_F(Editing, FailedAndRefusedSavesKeepTheWindowTheChangesAndTheFile) {
    const std::string archive = open();
    const auto onDisk = readFile(archive);
    const auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    dialogs.fileLists.push_back({file("w.txt", "pending words")});
    ed().replaceEntry(entryNode("DATA\\TEXT\\WELCOME.TXT"));
    const auto files = listing();

    // A size limit midway: the write fails, and the close that asked to save does not happen.
    struct rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    f->show();
    dialogs.choices.push_back(0);
    f->close();
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_TRUE(f->isVisible());
    EXPECT_TRUE(ed().pending());
    EXPECT_EQ(readFile(archive), onDisk);
    EXPECT_EQ(listing(), files);

    // Cancel while it writes.
    ed().duringSave = [&](int64_t, int64_t) { ed().cancelSave(); };
    EXPECT_FALSE(ed().saveArchive());
    ed().duringSave = nullptr;
    EXPECT_TRUE(ed().pending());
    EXPECT_EQ(readFile(archive), onDisk);
    EXPECT_EQ(listing(), files);
    EXPECT_EQ(dialogs.errors.size(), 1u);

    // The picked file written again since: named, nothing written.
    writeFile(dir.file("w.txt"), bytesOf("PENDING WORDS"));
    touchLater(dir.file("w.txt"));
    EXPECT_FALSE(ed().saveArchive());
    ASSERT_EQ(dialogs.errors.size(), 2u);
    EXPECT_NE(dialogs.errors.back().find(dir.file("w.txt") + " changed since it was picked"), std::string::npos)
        << dialogs.errors.back();
    EXPECT_EQ(readFile(archive), onDisk);
    dialogs.fileLists.push_back({dir.file("w.txt")});
    ed().replaceEntry(entryNode("DATA\\TEXT\\WELCOME.TXT"));  // picked again

    // Another program wrote a new file and renamed it over the archive: Save archive is
    // refused, Save archive as... writes from the file the window holds.
    const std::string replacement = dir.file("replacement.qar");
    fs::copy_file(original_, replacement);
    fs::rename(replacement, archive);
    EXPECT_FALSE(ed().saveArchive());
    ASSERT_EQ(dialogs.errors.size(), 3u);
    EXPECT_NE(dialogs.errors.back().find("no longer the file that was loaded"), std::string::npos);
    EXPECT_TRUE(ed().pending());
    const std::string saved = dir.file("saved-as.qar");
    dialogs.saveNames.push_back(saved);
    ASSERT_TRUE(ed().saveArchiveAs()) << dialogs.errors.back();
    ASSERT_EQ(dialogs.errors.size(), 3u) << dialogs.errors.back();
    EXPECT_EQ(diffLines(original_, saved), (std::vector<std::string>{"M DATA\\TEXT\\WELCOME.TXT"}));
    EXPECT_EQ(f->state.archive.path(), saved);  // shown, and in the list
    EXPECT_GE(itemOf(saved), 0);

    // The loaded file itself changed: both are refused.
    dialogs.fileLists.push_back({file("x.txt", "more")});
    ed().replaceEntry(entryNode("README.TXT"));
    {
        std::FILE* out = std::fopen(saved.c_str(), "r+b");
        ASSERT_NE(out, nullptr);
        std::fputc('Z', out);
        std::fclose(out);
        touchLater(saved);
    }
    const auto changedOnDisk = readFile(saved);
    EXPECT_FALSE(ed().saveArchive());
    dialogs.saveNames.push_back(dir.file("third.qar"));
    EXPECT_FALSE(ed().saveArchiveAs());
    ASSERT_EQ(dialogs.errors.size(), 5u);
    EXPECT_NE(dialogs.errors.back().find("changed on disk"), std::string::npos) << dialogs.errors.back();
    EXPECT_FALSE(fs::exists(dir.file("third.qar")));
    EXPECT_EQ(readFile(saved), changedOnDisk);
    EXPECT_TRUE(ed().pending());
}

}  // namespace
}  // namespace vorlr
