// "Compare with archive..." in the window, driven by its keys: against a copy changed by qar
// update, rename and delete, the tree's marks are qar diff's lines; F6 shows the other archive's
// bytes and back; removed rows show their bytes and no command acts on them; "Changes only";
// leaving brings the tree back exactly (model, folders, current node, scroll, pixels); an edit
// ends the comparison first; pending changes refuse it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>

#include "app/ArchiveComparison.h"
#include "app/ArchiveEditor.h"
#include "app/ComparisonModel.h"
#include "app/FindBar.h"
#include "app/FolderTreeModel.h"
#include "app/StatusBar.h"
#include "app/TextPage.h"
#include "app/Unit1.h"
#include "archive/ArchiveChanges.h"
#include "lib/DemoArchive.h"
#include "lib/QarBuilder.h"
#include "platform/Text.h"
#include "support/QarRun.h"
#include "support/WindowTest.h"

namespace vorlr {
namespace {

namespace fs = std::filesystem;
using testing::runQar;

class Compare : public testing::WindowTest {
protected:
    void SetUp() override {
        const std::string demo = samples::writeDemo(dir.file("demo"));
        loaded = dir.file("game.qar");
        fs::copy_file(demo, loaded);
        // The other archive: the loaded one with a text changed and a file added by update, an
        // entry renamed and one deleted.
        older = dir.file("older.qar");
        fs::create_directories(dir.file("put/DATA/TEXT"));
        samples::writeFile(dir.file("put/DATA/TEXT/WELCOME.TXT"),
                           samples::bytesOf("An older welcome.\r\n"));
        samples::writeFile(dir.file("put/DATA/EXTRA.TXT"),
                           samples::bytesOf("Only in the older one.\r\n"));
        ASSERT_EQ(runQar({"update", loaded, dir.file("put"), "-o", older}).status, 0);
        ASSERT_EQ(runQar({"rename", older, "DATA\\CONFIG\\GAME.INI", "DATA\\CONFIG\\OLDGAME.INI",
                          "--in-place"})
                      .status,
                  0);
        ASSERT_EQ(runQar({"delete", older, "SOUND\\CHIME.WAV", "--in-place"}).status, 0);
        f = std::make_unique<TForm1>();
        f->OpenArchive(loaded);
        ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
        f->show();
        QApplication::setActiveWindow(f.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(f.get()));
    }
    void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(f->tvFiles, Qt::Key(k), mods);
    }
    ArchiveComparison& cmp() { return *f->comparison(); }
    QAbstractItemModel& shown() { return *f->tvFiles->model(); }
    // A row of the shown model by its path of texts.
    QModelIndex row(const std::string& path) {
        QModelIndex at;
        std::string rest = path;
        while (true) {
            const size_t slash = rest.find('\\');
            const std::string segment = rest.substr(0, slash);
            QModelIndex found;
            for (int r = 0; r < shown().rowCount(at); ++r)
                if (shown().index(r, 0, at).data().toString() == fromCp1252(segment))
                    found = shown().index(r, 0, at);
            if (!found.isValid() || slash == std::string::npos) return found;
            at = found;
            rest = rest.substr(slash + 1);
        }
    }
    std::string pathOf(QModelIndex i) {
        std::string p = toCp1252(i.data().toString());
        for (i = i.parent(); i.isValid(); i = i.parent())
            p = toCp1252(i.data().toString()) + "\\" + p;
        return p;
    }
    void forEachRow(const std::function<void(const QModelIndex&)>& visit,
                    const QModelIndex& parent = {}) {
        for (int r = 0; r < shown().rowCount(parent); ++r) {
            const QModelIndex i = shown().index(r, 0, parent);
            visit(i);
            forEachRow(visit, i);
        }
    }
    // The tree's marks written as qar diff writes its lines, sorted (H from the summary).
    std::vector<std::string> markLines() {
        std::vector<std::string> lines;
        forEachRow([&](const QModelIndex& i) {
            const int m = i.data(ComparisonModel::kMarkRole).toInt();
            const std::string p = pathOf(i);
            if (m & Comparison::kAdded) lines.push_back("+ " + p);
            if (m & Comparison::kRemoved) lines.push_back("- " + p);
            if (m & Comparison::kModified) lines.push_back("M " + p);
            if (m & Comparison::kUnread) lines.push_back("X " + p);
            if (m & Comparison::kRenamed)
                lines.push_back("R " + toCp1252(i.data(ComparisonModel::kOldNameRole).toString()) +
                                " -> " + p);
        });
        if (cmp().summary()->toolTip().contains(QStringLiteral("the first 512 bytes differ")))
            lines.push_back("H");
        std::sort(lines.begin(), lines.end());
        return lines;
    }
    // The bytes at the offset and size the status bar gives for the current entry: in the
    // other archive while one of its versions is shown, else in the loaded one.
    std::string pageBytes() {
        const bool other = f->state.PendingFile != nullptr;
        EXPECT_TRUE(!other || cmp().comparison());
        const auto hex = [&](int panel) {
            const std::string text = f->StatusBar1->panelText(panel);
            return std::stoll(text.substr(text.find('$') + 1), nullptr, 16);
        };
        ArchiveReader file(other ? cmp().comparison()->other() : f->state.archive);
        file.seek(hex(1));
        std::string bytes(static_cast<size_t>(hex(2)), '\0');
        bytes.resize(static_cast<size_t>(
            file.readCounted(bytes.data(), static_cast<int64_t>(bytes.size()))));
        return bytes;
    }
    std::string pageText() { return f->textPage()->reText()->toPlainText().toStdString(); }
    void compare() {
        dialogs.answers.push_back(older);
        key(Qt::Key_D, Qt::ControlModifier);
        ASSERT_TRUE(cmp().active());
        ASSERT_EQ(&shown(), cmp().comparisonModel());
    }

    std::unique_ptr<TForm1> f;
    std::string loaded, older;
};

TEST_F(Compare, MarksSwitchingAndLeaving) {
    // The tree as the user left it: two folders open, an entry current, scrolled a little.
    f->tvFiles->expand(row("DATA"));
    f->tvFiles->expand(row("DATA\\TEXT"));
    f->tvFiles->expand(row("DATA\\WORLD"));
    f->tvFiles->setCurrentIndex(row("DATA\\TEXT\\WELCOME.TXT"));
    f->tvFiles->verticalScrollBar()->setValue(1);
    f->tvFiles->setFocus();
    const int scrolled = f->tvFiles->verticalScrollBar()->value();
    const NodeId welcome = f->treeModel()->nodeOf(f->tvFiles->currentIndex());
    ASSERT_NE(welcome, kNoNode);
    const std::string thisWelcome = pageBytes();
    ASSERT_EQ(thisWelcome.rfind("Welcome to Vorlund!", 0), 0u);
    const QImage before = f->tvFiles->grab().toImage();
    QItemSelectionModel* selection = f->tvFiles->selectionModel();

    compare();
    const testing::QarResult diff = runQar({"diff", older, loaded});
    ASSERT_EQ(diff.status, 1);
    const std::vector<std::string> expected = testing::sortedLines(diff.out);
    ASSERT_EQ(expected.size(), 4u) << diff.out;  // M, -, R, +
    EXPECT_EQ(markLines(), expected);
    EXPECT_TRUE(cmp().summary()->isVisible());
    // The same folders open and the same entry current, in the comparison's rows.
    EXPECT_TRUE(f->tvFiles->isExpanded(row("DATA\\TEXT")));
    EXPECT_EQ(f->tvFiles->currentIndex(), row("DATA\\TEXT\\WELCOME.TXT"));

    // F6: the other archive's version, and back.
    key(Qt::Key_F6);
    EXPECT_TRUE(cmp().showingOther());
    EXPECT_EQ(pageBytes(), runQar({"cat", older, "DATA\\TEXT\\WELCOME.TXT"}).out);
    EXPECT_EQ(pageText().rfind("An older welcome.", 0), 0u) << pageText();
    EXPECT_TRUE(cmp().summary()->text().contains(QStringLiteral("older.qar")));
    key(Qt::Key_F6);
    EXPECT_FALSE(cmp().showingOther());
    EXPECT_EQ(pageBytes(), thisWelcome);
    EXPECT_EQ(pageText().rfind("Welcome to Vorlund!", 0), 0u) << pageText();

    // A removed row shows its bytes; the commands of the loaded archive's nodes leave it alone.
    const QModelIndex extra = row("DATA\\EXTRA.TXT");
    ASSERT_TRUE(extra.isValid());
    f->tvFiles->setCurrentIndex(extra);
    EXPECT_EQ(pageBytes(), runQar({"cat", older, "DATA\\EXTRA.TXT"}).out);
    EXPECT_EQ(f->StatusBar1->panelText(0), "File name: EXTRA.TXT");
    key(Qt::Key_E, Qt::ControlModifier);
    key(Qt::Key_Delete);
    key(Qt::Key_F6);
    EXPECT_EQ(dialogs.folderAsked, 0);
    EXPECT_EQ(f->editor()->changes()->changeCount(), 0u);
    EXPECT_FALSE(cmp().showingOther());
    EXPECT_TRUE(cmp().active());

    // Changes only, and every row again.
    key(Qt::Key_H, Qt::ControlModifier);
    EXPECT_TRUE(cmp().changesOnly());
    EXPECT_FALSE(row("DATA\\ITEMS.DBS").isValid());
    EXPECT_FALSE(row("DATA\\WORLD").isValid());
    EXPECT_EQ(f->tvFiles->currentIndex(), row("DATA\\EXTRA.TXT"));
    EXPECT_EQ(markLines(), expected);
    forEachRow([&](const QModelIndex& i) {
        EXPECT_TRUE(shown().hasChildren(i) || i.data(ComparisonModel::kMarkRole).toInt() != 0)
            << pathOf(i);
    });
    key(Qt::Key_H, Qt::ControlModifier);
    EXPECT_TRUE(row("DATA\\ITEMS.DBS").isValid());
    EXPECT_TRUE(f->tvFiles->isExpanded(row("DATA\\WORLD")));

    // Escape in the tree leaves: the tree as it was, down to its pixels, and its entry's page.
    key(Qt::Key_Escape);
    EXPECT_FALSE(cmp().active());
    EXPECT_EQ(&shown(), f->treeModel());
    EXPECT_EQ(f->tvFiles->selectionModel(), selection);
    EXPECT_EQ(f->treeModel()->nodeOf(f->tvFiles->currentIndex()), welcome);
    EXPECT_TRUE(f->tvFiles->isExpanded(row("DATA")));
    EXPECT_TRUE(f->tvFiles->isExpanded(row("DATA\\WORLD")));
    EXPECT_EQ(f->tvFiles->verticalScrollBar()->value(), scrolled);
    EXPECT_FALSE(cmp().summary()->isVisible());
    EXPECT_EQ(f->state.CurrentEntryName, "WELCOME.TXT");
    EXPECT_EQ(pageBytes(), thisWelcome);
    EXPECT_EQ(f->tvFiles->grab().toImage(), before);
}

TEST_F(Compare, TheSameKeyLeavesAndTheMenuNamesTheCommands) {
    QMenu menu;
    cmp().addMenuItems(menu);
    ASSERT_EQ(menu.actions().size(), 1);
    EXPECT_EQ(menu.actions()[0]->text(), QStringLiteral("Compare with archive..."));
    EXPECT_EQ(menu.actions()[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_D));

    compare();
    QMenu during;
    cmp().addMenuItems(during);
    QStringList texts;
    for (QAction* a : during.actions())
        if (!a->isSeparator()) texts << a->text();
    EXPECT_EQ(texts,
              (QStringList{QStringLiteral("Show other version"), QStringLiteral("Changes only"),
                           QStringLiteral("Leave comparison")}));
    key(Qt::Key_D, Qt::ControlModifier);
    EXPECT_FALSE(cmp().active());
    EXPECT_EQ(&shown(), f->treeModel());
}

TEST_F(Compare, AnEditEndsTheComparisonFirstAndActsOnTheLoadedTree) {
    f->tvFiles->expand(row("DATA"));
    compare();
    f->tvFiles->setCurrentIndex(row("DATA\\ITEMS.DBS"));
    key(Qt::Key_Delete);
    EXPECT_FALSE(cmp().active());
    EXPECT_EQ(&shown(), f->treeModel());
    EXPECT_EQ(f->editor()->changes()->changeCount(), 1u);
    EXPECT_FALSE(row("DATA\\ITEMS.DBS").isValid());
    EXPECT_TRUE(row("DATA\\TEXT").isValid());

    // With the change pending, comparing is refused until it is saved or discarded.
    dialogs.answers.push_back(older);
    key(Qt::Key_D, Qt::ControlModifier);
    EXPECT_FALSE(cmp().active());
    ASSERT_EQ(dialogs.infos.size(), 1u);
    EXPECT_EQ(dialogs.infos[0],
              "This archive has unsaved changes: save or discard them before comparing it.");
}

// The find box finds in the compared tree, passing over the rows "Changes only" hides, and in
// the loaded tree again once the comparison is left.
TEST_F(Compare, TheFindBoxFindsInTheComparedTree) {
    compare();
    FindBar& find = *f->findBar();
    const auto type = [&](const QString& text) {
        find.edit()->clear();
        QTest::keyClicks(find.edit(), text);
        find.settle();
    };
    key(Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(find.isVisible());
    type(QStringLiteral("CREDITS"));
    EXPECT_TRUE(cmp().active());
    EXPECT_EQ(pathOf(f->tvFiles->currentIndex()), "DATA\\TEXT\\CREDITS.TXT");
    EXPECT_EQ(find.statusText(), "1 of 1");

    // Of the .TXT entries only the changed one has a row: typing, F3 and Shift+F3 stay on it.
    f->tvFiles->setFocus();
    key(Qt::Key_H, Qt::ControlModifier);
    ASSERT_TRUE(cmp().changesOnly());
    key(Qt::Key_F, Qt::ControlModifier);
    type(QStringLiteral(".TXT"));
    EXPECT_EQ(pathOf(f->tvFiles->currentIndex()), "DATA\\TEXT\\WELCOME.TXT");
    for (const auto modifiers : {Qt::NoModifier, Qt::ShiftModifier}) {
        QTest::keyClick(find.edit(), Qt::Key_F3, modifiers);
        EXPECT_EQ(pathOf(f->tvFiles->currentIndex()), "DATA\\TEXT\\WELCOME.TXT");
    }
    // Past three hidden matches to the renamed entry, and back.
    type(QStringLiteral("."));
    QTest::keyClick(find.edit(), Qt::Key_F3);
    EXPECT_EQ(pathOf(f->tvFiles->currentIndex()), "DATA\\CONFIG\\GAME.INI");
    QTest::keyClick(find.edit(), Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(pathOf(f->tvFiles->currentIndex()), "DATA\\TEXT\\WELCOME.TXT");
    type(QStringLiteral("CREDITS"));  // hidden: nothing to go to
    EXPECT_EQ(pathOf(f->tvFiles->currentIndex()), "DATA\\TEXT\\WELCOME.TXT");
    QTest::keyClick(find.edit(), Qt::Key_Escape);
    EXPECT_TRUE(cmp().active());
    EXPECT_EQ(&shown(), cmp().comparisonModel());

    key(Qt::Key_D, Qt::ControlModifier);
    ASSERT_FALSE(cmp().active());
    key(Qt::Key_F, Qt::ControlModifier);
    type(QStringLiteral("CREDITS"));
    const NodeId found = f->treeModel()->nodeOf(f->tvFiles->currentIndex());
    ASSERT_NE(found, kNoNode);
    EXPECT_EQ(f->tree().text(found), "CREDITS.TXT");
}

TEST_F(Compare, NotWhileLoadingNorAfterAStoppedLoad) {
    const int asked = dialogs.opened;
    f->onLoadDispatch = [&] {
        key(Qt::Key_D, Qt::ControlModifier);  // the window's keys are silent while it loads
        f->state.StopRequested = true;
    };
    f->cbFilesChange();
    f->onLoadDispatch = nullptr;
    EXPECT_EQ(dialogs.opened, asked);
    ASSERT_LT(f->state.archive.entryCount(), f->state.EntryOffsetTable.size());
    EXPECT_FALSE(cmp().compareWith(older));
    EXPECT_FALSE(cmp().active());
    ASSERT_FALSE(dialogs.infos.empty());
    EXPECT_EQ(dialogs.infos.back(),
              "The loading of this archive was stopped: load it again to its end to compare it.");
}

TEST_F(Compare, ANotValidArchiveIsReported) {
    samples::writeFile(dir.file("bad.qar"), std::vector<uint8_t>(600, 0));
    EXPECT_FALSE(cmp().compareWith(dir.file("bad.qar")));
    EXPECT_FALSE(cmp().active());
    ASSERT_EQ(dialogs.infos.size(), 1u);
    EXPECT_EQ(dialogs.infos[0], "Not a valid vorlund packed-file!");
    EXPECT_EQ(&shown(), f->treeModel());
}

}  // namespace
}  // namespace vorlr
