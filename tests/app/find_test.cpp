// The find box: next and previous in tree order with wrapping, folders opened on the way,
// "k of n", no archive and no match, a load while it is open, and a found entry shown exactly as
// a clicked one.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>

#include "app/FindBar.h"
#include "app/FolderTreeModel.h"
#include "app/ImageView.h"
#include "app/StatusBar.h"
#include "app/TextPage.h"
#include "app/Unit1.h"
#include "lib/QarBuilder.h"
#include "support/Bytes.h"
#include "support/Entries.h"
#include "support/WindowTest.h"

namespace vorlr {
namespace {

using samples::QarEntry;
using testing::entry;

class Find : public testing::WindowTest {
protected:
    TForm1 f;

    void load(const std::vector<QarEntry>& entries, const std::string& name = "F.qar") {
        samples::writeQar(dir.file(name), entries);
        f.cbFiles->addItem(QString::fromStdString(name), QByteArray::fromStdString(dir.file(name)));
        f.cbFiles->setCurrentIndex(f.cbFiles->count() - 1);
        emit f.cbFiles->activated(f.cbFiles->count() - 1);
        ASSERT_TRUE(dialogs.errors.empty());
    }
    void activate() {
        f.show();
        QApplication::setActiveWindow(&f);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    }
    FindBar& bar() { return *f.findBar(); }
    void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(&f, Qt::Key(k), mods);
    }
    // Ctrl+F, then the text typed into the box; the search and its count run to their end.
    void find(const std::string& text) {
        key(Qt::Key_F, Qt::ControlModifier);
        ASSERT_TRUE(bar().isVisible());
        QTest::keyClicks(bar().edit(), QString::fromLatin1(text));
        bar().settle();
    }
    // The stored name of the current node's entry ("" for none or a folder).
    std::string current() {
        const NodeId n = f.treeModel()->nodeOf(f.tvFiles->currentIndex());
        const int32_t e = n == kNoNode ? -1 : f.tree().entryIndex(n);
        return e < 0 ? std::string()
                     : std::string(f.state.archive.entry(static_cast<size_t>(e)).name);
    }
    // What each Enter, F3 or Shift+F3 lands on.
    std::vector<std::string> steps(int k, Qt::KeyboardModifiers mods, int count) {
        std::vector<std::string> out;
        for (int i = 0; i < count; ++i) {
            if (k == Qt::Key_Return)
                QTest::keyClick(bar().edit(), Qt::Key_Return, mods);
            else
                key(k, mods);
            out.push_back(current() + " " + bar().statusText());
        }
        return out;
    }
};

// Directory order A\1, B\2, A\3, C: the tree shows A (1, 3), B (2), C, so tree order is not
// directory order. NOTE\X is below the file node NOTE, which the window treats as a folder.
std::vector<QarEntry> orderEntries() {
    return {entry("A\\ONE.TXT", "1"), entry("B\\TWO.TXT", "2"), entry("A\\THREE.TXT", "3"),
            entry("CAT.INI", "c"),    entry("NOTE", "n"),       entry("NOTE\\NOTED.TXT", "x")};
}

TEST_F(Find, NextAndPreviousFollowTheTreeAndWrap) {
    load(orderEntries());
    activate();
    find("t");  // every name but NOTE (NOTE\NOTED.TXT holds a T and is found)
    EXPECT_EQ(current(), "A\\ONE.TXT");
    EXPECT_EQ(bar().statusText(), "1 of 5");
    EXPECT_EQ(
        steps(Qt::Key_F3, Qt::NoModifier, 5),
        (std::vector<std::string>{"A\\THREE.TXT 2 of 5", "B\\TWO.TXT 3 of 5", "CAT.INI 4 of 5",
                                  "NOTE\\NOTED.TXT 5 of 5", "A\\ONE.TXT 1 of 5"}));
    EXPECT_EQ(steps(Qt::Key_F3, Qt::ShiftModifier, 2),
              (std::vector<std::string>{"NOTE\\NOTED.TXT 5 of 5", "CAT.INI 4 of 5"}));
    EXPECT_EQ(steps(Qt::Key_Return, Qt::NoModifier, 2),
              (std::vector<std::string>{"NOTE\\NOTED.TXT 5 of 5", "A\\ONE.TXT 1 of 5"}));
    EXPECT_EQ(steps(Qt::Key_Return, Qt::ShiftModifier, 1),
              (std::vector<std::string>{"NOTE\\NOTED.TXT 5 of 5"}));

    // From a node that is no match (or a folder), the next match is the one after it in the tree.
    f.tvFiles->setCurrentIndex(f.treeModel()->indexOf(f.tree().findFrom(f.tree().first(), "B")));
    EXPECT_EQ(bar().statusText(), "5 matches");
    EXPECT_EQ(steps(Qt::Key_F3, Qt::NoModifier, 1),
              (std::vector<std::string>{"B\\TWO.TXT 3 of 5"}));
    f.tvFiles->setCurrentIndex(f.treeModel()->indexOf(f.tree().findFrom(f.tree().first(), "B")));
    EXPECT_EQ(steps(Qt::Key_F3, Qt::ShiftModifier, 1),
              (std::vector<std::string>{"A\\THREE.TXT 2 of 5"}));
    // The file node with a child is no match of its own: its name is found only for the child.
    bar().edit()->setText(QStringLiteral("note"));
    bar().settle();
    EXPECT_EQ(current(), "NOTE\\NOTED.TXT");
    EXPECT_EQ(bar().statusText(), "1 of 1");
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(Find, AMatchInCollapsedFoldersIsOpenedAndShown) {
    std::vector<QarEntry> entries;
    for (int i = 0; i < 300; ++i) entries.push_back(entry("TOP\\F" + std::to_string(i) + ".BIN"));
    entries.push_back(entry("DEEP\\ER\\DEEPEST\\TARGET.TXT", "found"));
    load(entries);
    activate();
    f.tvFiles->expand(f.treeModel()->index(0, 0));  // TOP open, scrolled to its top
    find("target");
    const QModelIndex at = f.tvFiles->currentIndex();
    ASSERT_EQ(current(), "DEEP\\ER\\DEEPEST\\TARGET.TXT");
    for (QModelIndex p = at.parent(); p.isValid(); p = p.parent())
        EXPECT_TRUE(f.tvFiles->isExpanded(p));
    EXPECT_TRUE(f.tvFiles->viewport()->rect().contains(f.tvFiles->visualRect(at)));
    EXPECT_EQ(f.state.CurrentEntryName, "TARGET.TXT");
}

TEST_F(Find, WildcardsMakeAPatternOnTheWholeStoredName) {
    load({entry("SND\\A.WAV"), entry("TXT\\WAV.TXT"), entry("SND\\B.wav"), entry("SND\\X\\C.WAV")});
    activate();
    find("snd\\?.wav");
    EXPECT_EQ(current(), "SND\\A.WAV");
    EXPECT_EQ(bar().statusText(), "1 of 2");
    EXPECT_EQ(steps(Qt::Key_F3, Qt::NoModifier, 2),
              (std::vector<std::string>{"SND\\B.wav 2 of 2", "SND\\A.WAV 1 of 2"}));
    bar().edit()->setText(QStringLiteral("*.wav"));  // not WAV.TXT: the pattern is anchored
    bar().settle();
    EXPECT_EQ(bar().statusText(), "1 of 3");
    EXPECT_EQ(steps(Qt::Key_F3, Qt::NoModifier, 2),
              (std::vector<std::string>{"SND\\B.wav 2 of 3", "SND\\X\\C.WAV 3 of 3"}));
}

TEST_F(Find, NoMatchNoArchiveAndEscape) {
    activate();
    key(Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(bar().isVisible());
    EXPECT_TRUE(bar().edit()->hasFocus());
    EXPECT_EQ(bar().statusText(), "no archive");
    QTest::keyClicks(bar().edit(), QStringLiteral("x"));
    bar().settle();
    key(Qt::Key_F3);
    EXPECT_EQ(bar().statusText(), "no archive");
    QTest::keyClick(bar().edit(), Qt::Key_Escape);
    EXPECT_FALSE(bar().isVisible());

    load(orderEntries());
    activate();
    f.tvFiles->setCurrentIndex(f.treeModel()->index(2, 0));  // CAT.INI
    const std::string panel = f.StatusBar1->panelText(0);
    find("zz");  // replaces the "x" kept from before, which the box selects when it opens
    EXPECT_EQ(bar().edit()->text(), QStringLiteral("zz"));
    EXPECT_EQ(bar().statusText(), "no match");
    key(Qt::Key_F3);
    key(Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(current(), "CAT.INI");
    EXPECT_EQ(f.StatusBar1->panelText(0), panel);
    // A character no stored name can hold is no wildcard either.
    bar().edit()->setText(QStringLiteral("\u4E00"));
    bar().settle();
    EXPECT_EQ(bar().statusText(), "no match");
    bar().edit()->clear();
    bar().settle();
    EXPECT_EQ(bar().statusText(), "");
    EXPECT_EQ(current(), "CAT.INI");
    QTest::keyClick(bar().edit(), Qt::Key_Escape);
    EXPECT_FALSE(bar().isVisible());
    EXPECT_TRUE(f.tvFiles->hasFocus());
}

// The box takes letters that are window keys elsewhere (S and Space on the Media page), and it
// covers none of the window's controls.
TEST_F(Find, TheBoxTakesItsKeysAndLeavesTheControlsFree) {
    load(orderEntries());
    activate();
    key(Qt::Key_3, Qt::ControlModifier);
    ASSERT_EQ(f.PageControl1->currentWidget(), f.tsMedia);
    find("s ");
    EXPECT_EQ(bar().edit()->text(), QStringLiteral("s "));
    for (QWidget* w : f.paMain->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        // The background stands behind everything; hidden controls are covered by nothing.
        if (w != &bar() && w != f.imBack && w->isVisible()) {
            EXPECT_FALSE(w->geometry().intersects(bar().geometry()))
                << w->objectName().toStdString();
        }
    }
    EXPECT_EQ(bar().parentWidget(), f.paMain);  // disabled with it while a load runs
}

// Beyond the few nodes looked at straight away, the first match comes with the count.
TEST_F(Find, AFarMatchIsSelectedOnceCounted) {
    std::vector<QarEntry> entries;
    for (int i = 0; i < 6000; ++i)
        entries.push_back(entry("D" + std::to_string(i % 7) + "\\N" + std::to_string(i)));
    entries.push_back(entry("D6\\LAST"));  // the last of 6001 nodes in tree order
    load(entries);
    activate();
    key(Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(bar().edit(), QStringLiteral("last"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return current() == "D6\\LAST"; }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar().statusText() == "1 of 1"; }));
    EXPECT_FALSE(bar().counting());
}

TEST_F(Find, ANewLoadClosesTheBoxAndStopsItsSearch) {
    load(orderEntries());
    activate();
    find("three");
    ASSERT_EQ(current(), "A\\THREE.TXT");
    f.state.CurrentEntryName = "untouched";
    QTest::keyClicks(bar().edit(), QStringLiteral(".txt"));  // a search waits for a pause
    std::vector<bool> shownWhileLoading;
    f.onLoadDispatch = [&] {
        shownWhileLoading.push_back(bar().isVisible());
        key(Qt::Key_F, Qt::ControlModifier);  // no box while loading
        key(Qt::Key_F3);
    };
    load({entry("Q\\THREE.TXT.X"), entry("P\\THREE.TXT", "3")}, "G.qar");
    EXPECT_FALSE(shownWhileLoading.empty());
    EXPECT_EQ(shownWhileLoading, std::vector<bool>(shownWhileLoading.size(), false));
    EXPECT_FALSE(bar().isVisible());
    QTest::qWait(50);  // what the box had pending would run now
    EXPECT_FALSE(f.tvFiles->currentIndex().isValid());
    EXPECT_FALSE(bar().counting());
    EXPECT_EQ(f.state.CurrentEntryName, "untouched");

    // Opened again: its text, counted in the new tree; the next match is there.
    f.onLoadDispatch = nullptr;
    key(Qt::Key_F, Qt::ControlModifier);
    bar().settle();
    EXPECT_EQ(bar().edit()->text(), QStringLiteral("three.txt"));
    EXPECT_EQ(bar().statusText(), "2 matches");
    key(Qt::Key_F3);
    EXPECT_EQ(current(), "Q\\THREE.TXT.X");
    EXPECT_EQ(bar().statusText(), "1 of 2");
}

// A found entry: status bar, page, scratch file and state exactly as after a click on it. A
// label edited in the tree does not change what finds the entry.
TEST_F(Find, AFoundEntryIsShownExactlyAsAClickedOne) {
    load({entry("DOCS\\OTHER.TXT", "other\r\n"),
          entry("DOCS\\GUIDE.TXT", "line one\r\nline two\r\n"),
          entry("DOCS\\MORE\\CAT.INI", "[cat]\r\n")});
    activate();
    f.tvFiles->expandAll();
    auto shown = [&] {
        std::vector<std::string> s;
        for (int k = 0; k < StatusBar::kPanels; ++k) s.push_back(f.StatusBar1->panelText(k));
        s.push_back(f.PageControl1->currentWidget()->objectName().toStdString());
        s.push_back(f.textPage()->reText()->toPlainText().toStdString());
        s.push_back(testing::fileText(dir.file("TEMP.TXT")));
        s.push_back(f.state.CurrentEntryName + "|" + f.state.CurrentExtension + "|" +
                    std::to_string(f.state.CurrentEntryOffset) + "|" + f.state.TempFileName);
        return s;
    };
    auto click = [&](const std::string& text) {
        const QModelIndex i = f.treeModel()->indexOf(f.tree().findFrom(f.tree().first(), text));
        f.tvFiles->scrollTo(i);
        QTest::mouseClick(f.tvFiles->viewport(), Qt::LeftButton, {},
                          f.tvFiles->visualRect(i).center());
    };
    FolderTreeModel& m = *f.treeModel();
    m.setData(m.indexOf(f.tree().findFrom(f.tree().first(), "GUIDE.TXT")),
              QStringLiteral("RENAMED.TXT"));
    m.setData(m.indexOf(f.tree().findFrom(f.tree().first(), "OTHER.TXT")),
              QStringLiteral("GUIDE.TXT"));
    click("RENAMED.TXT");
    ASSERT_EQ(current(), "DOCS\\GUIDE.TXT");
    const auto clicked = shown();
    EXPECT_EQ(clicked[0], "File name: RENAMED.TXT");  // the label is the entry's name
    EXPECT_EQ(clicked[3], "Type: Simple text file");
    click("CAT.INI");
    ASSERT_NE(shown(), clicked);

    find("guide");
    EXPECT_EQ(current(), "DOCS\\GUIDE.TXT");
    EXPECT_EQ(bar().statusText(), "1 of 1");
    EXPECT_EQ(shown(), clicked);
    EXPECT_TRUE(dialogs.errors.empty());
}

}  // namespace
}  // namespace vorlr
