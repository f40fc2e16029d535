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
}

}  // namespace
}  // namespace vorlr
