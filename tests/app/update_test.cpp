// "Update from folder..." in the window: Ctrl+U opens the review of the folder the dialog seam
// gives, its rows are qar update's lines, Enter applies them as one step whose save writes what
// qar update writes; an unchanged folder says so with Apply off; Escape while comparing leaves
// nothing pending; the item is on folder nodes' menus only.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <filesystem>

#include "app/ArchiveEditor.h"
#include "app/FolderTreeModel.h"
#include "app/Unit1.h"
#include "app/UpdateFromFolder.h"
#include "archive/ArchiveChanges.h"
#include "lib/DemoArchive.h"
#include "lib/QarBuilder.h"
#include "support/QarRun.h"
#include "support/WindowTest.h"

namespace vorlr {
namespace {

namespace fs = std::filesystem;
using samples::bytesOf;
using samples::readFile;
using samples::writeFile;
using testing::runQar;

class UpdateWindow : public testing::WindowTest {
protected:
    void SetUp() override {
        archive = samples::writeDemo(dir.file("demo"));
        fs::remove(dir.file("demo/VORLR.LST"));
        ASSERT_EQ(runQar({"extract", archive, "-o", folder, "--convert", "png"}).status, 0);
        f = std::make_unique<TForm1>();
        f->OpenArchive(archive);
        ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
        f->show();
        QApplication::setActiveWindow(f.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(f.get()));
    }
    // Ctrl+U with the folder answered; the list once the comparison is over.
    ReviewDialog* review() {
        dialogs.updateFolders.push_back(folder);
        QTest::keyClick(f.get(), Qt::Key_U, Qt::ControlModifier);
        ReviewDialog* d = f->updateFromFolder()->dialog();
        if (!d) return nullptr;
        EXPECT_TRUE(QTest::qWaitFor([&] { return !d->comparing() && !d->progress()->isVisible(); }, 20000));
        return d;
    }
    static std::string lines(const ReviewDialog& d) {
        std::string out;
        for (int k = 0; k < d.list()->topLevelItemCount(); ++k) {
            const QTreeWidgetItem* item = d.list()->topLevelItem(k);
            out += item->text(0).toStdString() + " " + item->text(1).toStdString() + "\n";
        }
        return out;
    }
    // The first .TXT file of the exported folder.
    std::string someText() const {
        for (const auto& e : fs::recursive_directory_iterator(folder))
            if (e.is_regular_file() && e.path().extension() == ".TXT") return e.path().string();
        return {};
    }

    std::string archive, folder = dir.file("tree");
    std::unique_ptr<TForm1> f;
};

TEST_F(UpdateWindow, ApplyIsOneStepAndSavesWhatUpdateWrites) {
    const std::string text = someText();
    ASSERT_FALSE(text.empty());
    writeFile(text, bytesOf("edited in the folder"));
    writeFile(folder + "/ADDED.TXT", bytesOf("added"));
    ReviewDialog* d = review();
    ASSERT_NE(d, nullptr);
    const auto dry = runQar({"update", archive, folder, "--dry-run"});
    ASSERT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(lines(*d), dry.out);
    EXPECT_EQ(d->list()->topLevelItemCount(), 2);
    EXPECT_TRUE(d->applyButton()->isEnabled());
    QTest::keyClick(d, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !f->updateFromFolder()->dialog(); }, 5000));
    ASSERT_TRUE(f->editor()->pending());
    EXPECT_EQ(f->editor()->changes()->undoLabel(), "Update from tree: 1 changed, 1 added");

    const std::string saved = dir.file("saved.qar"), expected = dir.file("expected.qar");
    ASSERT_EQ(runQar({"update", archive, folder, "-o", expected}).status, 0);
    dialogs.saveNames.push_back(saved);
    ASSERT_TRUE(f->editor()->saveArchiveAs());
    EXPECT_EQ(readFile(saved), readFile(expected));
}

TEST_F(UpdateWindow, UnchangedFolderHasNothingToApply) {
    ReviewDialog* d = review();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->list()->topLevelItemCount(), 0);
    EXPECT_EQ(d->status()->text().toStdString(), "Nothing to change.");
    EXPECT_FALSE(d->applyButton()->isEnabled());
    // An option compares again: with deletions, a file taken away is a D row.
    fs::remove(someText());
    d->deleteMissing()->setChecked(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !d->comparing() && !d->progress()->isVisible(); }, 20000));
    EXPECT_EQ(d->list()->topLevelItemCount(), 1);
    EXPECT_EQ(d->list()->topLevelItem(0)->text(0).toStdString(), "D");
    QTest::keyClick(d, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !f->updateFromFolder()->dialog(); }, 5000));
    EXPECT_FALSE(f->editor()->pending());
}

TEST_F(UpdateWindow, EscapeWhileComparingLeavesNothingPending) {
    writeFile(someText(), bytesOf("edited"));
    dialogs.updateFolders.push_back(folder);
    QTest::keyClick(f.get(), Qt::Key_U, Qt::ControlModifier);
    ReviewDialog* d = f->updateFromFolder()->dialog();
    ASSERT_NE(d, nullptr);
    QTest::keyClick(d, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !f->updateFromFolder()->dialog(); }, 5000));
    EXPECT_FALSE(f->editor()->pending());
    EXPECT_FALSE(f->editor()->changes()->canUndo());
}

TEST_F(UpdateWindow, OnFolderNodesMenusOnly) {
    const FolderTree& tree = f->tree();
    NodeId folderNode = kNoNode, fileNode = kNoNode;
    for (NodeId n = tree.first(); n != kNoNode; n = tree.next(n)) {
        NodeId& first = tree.hasChildren(n) ? folderNode : fileNode;
        if (first == kNoNode) first = n;
    }
    ASSERT_NE(folderNode, kNoNode);
    ASSERT_NE(fileNode, kNoNode);
    QMenu folderMenu, fileMenu;
    f->updateFromFolder()->addToMenu(folderMenu, folderNode);
    f->updateFromFolder()->addToMenu(fileMenu, fileNode);
    ASSERT_EQ(folderMenu.actions().size(), 1);
    EXPECT_EQ(folderMenu.actions()[0]->text().toStdString(), "Update from folder...");
    EXPECT_EQ(folderMenu.actions()[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_U));
    EXPECT_TRUE(fileMenu.actions().isEmpty());
    // The whole archive's (the empty tree of a new archive offers it).
    QMenu wholeMenu;
    f->updateFromFolder()->addToMenu(wholeMenu, kNoNode);
    EXPECT_EQ(wholeMenu.actions().size(), 1);
}

}  // namespace
}  // namespace vorlr

namespace vorlr {
namespace {

class NewArchiveWindow : public UpdateWindow {};

TEST_F(NewArchiveWindow, StepsAndUndoThenSaveAsArePacksBytes) {
    QTest::keyClick(f.get(), Qt::Key_N, Qt::ControlModifier);
    ASSERT_TRUE(f->editor()->session().isNew());
    EXPECT_TRUE(f->editor()->pending());
    EXPECT_EQ(f->tree().size(), 0);
    // With no entry it cannot be saved, and says why.
    dialogs.saveNames.push_back(dir.file("empty.qar"));
    EXPECT_FALSE(f->editor()->saveArchive());
    ASSERT_FALSE(dialogs.errors.empty());
    EXPECT_NE(dialogs.errors.back().find("at least one entry"), std::string::npos) << dialogs.errors.back();
    EXPECT_FALSE(fs::exists(dir.file("empty.qar")));

    const std::string files = dir.file("files"), packed = dir.file("packed");
    fs::create_directories(files + "/SUB");
    fs::create_directories(packed);
    for (const char* name : {"A.TXT", "B.TXT", "C.TXT"}) writeFile(files + "/" + name, bytesOf(name));
    writeFile(files + "/SUB/D.TXT", bytesOf("d"));
    dialogs.fileLists.push_back({files + "/B.TXT", files + "/A.TXT"});
    f->editor()->addFiles(kNoNode);
    dialogs.fileLists.push_back({files + "/C.TXT"});
    f->editor()->addFiles(kNoNode);
    f->editor()->undo();  // C.TXT goes again
    dialogs.addFolders.push_back(files + "/SUB");
    f->editor()->addFolder(kNoNode);
    ASSERT_EQ(f->editor()->changes()->presentCount(), 3u);

    for (const char* name : {"A.TXT", "B.TXT"}) fs::copy_file(files + "/" + name, packed + "/" + name);
    fs::copy_file(files + "/SUB/D.TXT", packed + "/D.TXT");  // a folder's files come in by themselves
    ASSERT_EQ(runQar({"pack", packed, dir.file("pack.qar")}).status, 0);
    const std::string saved = dir.file("new.qar");
    dialogs.saveNames.push_back(saved);
    QTest::keyClick(f.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);  // Save archive
    ASSERT_TRUE(fs::exists(saved)) << (dialogs.errors.empty() ? "" : dialogs.errors.back());
    EXPECT_EQ(readFile(saved), readFile(dir.file("pack.qar")));
    EXPECT_FALSE(f->editor()->session().isNew());  // the saved file is loaded
    EXPECT_EQ(f->state.archive.path(), saved);
}

TEST_F(NewArchiveWindow, CloseAsksAboutIt) {
    QTest::keyClick(f.get(), Qt::Key_N, Qt::ControlModifier);
    dialogs.choices.push_back(2);  // Cancel
    EXPECT_FALSE(f->close());
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(dialogs.questions.back(), "Save changes to new archive?");
    dialogs.choices.push_back(1);  // Discard
    EXPECT_TRUE(f->close());
}

TEST_F(NewArchiveWindow, UpdateFromFolderFillsIt) {
    QTest::keyClick(f.get(), Qt::Key_N, Qt::ControlModifier);
    ReviewDialog* d = review();
    ASSERT_NE(d, nullptr);
    const auto dry = runQar({"pack", folder, dir.file("pack.qar")});
    ASSERT_EQ(dry.status, 0) << dry.err;
    for (int k = 0; k < d->list()->topLevelItemCount(); ++k)
        EXPECT_EQ(d->list()->topLevelItem(k)->text(0).toStdString(), "A");
    d->applyButton()->click();
    const std::string saved = dir.file("new.qar");
    dialogs.saveNames.push_back(saved);
    ASSERT_TRUE(f->editor()->saveArchiveAs());
    EXPECT_EQ(readFile(saved), readFile(dir.file("pack.qar")));
}

}  // namespace
}  // namespace vorlr
