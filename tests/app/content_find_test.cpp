// Find in contents: the window's results against qar grep's for the same search, a result shown
// on the Text page with its match selected, a pending edit found, a bad pattern and nothing found
// told in the bar, Cancel, and the window unchanged once the search is closed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>
#include <chrono>
#include <sstream>
#include <thread>

#include "app/ArchiveEditor.h"
#include "app/ContentFind.h"
#include "app/FolderTreeModel.h"
#include "app/TextPage.h"
#include "app/Unit1.h"
#include "edit/EditSession.h"
#include "lib/QarBuilder.h"
#include "platform/Text.h"
#include "support/Bytes.h"
#include "support/Entries.h"
#include "support/QarRun.h"
#include "support/WindowTest.h"

namespace vorlr {
namespace {

using samples::QarEntry;
using testing::entry;

std::string utf16le(const std::string& ascii) {
    std::string s = "\xFF\xFE";
    for (char c : ascii) s += std::string{c, '\0'};
    return s;
}

std::vector<QarEntry> mixedEntries() {
    return {entry("DATA\\PLAIN.TXT", "first line\r\nthe Dragon's health: 100\r\nnone\r\ndragon and dragon\n"),
            entry("DATA\\WIDE.TXT", utf16le("hello\r\nDRAGON wide\r\nbye\r\n")),
            entry("DATA\\RICH.INI", "{\\rtf1\\ansi plain\\par a dragon in rtf\\par end}"),
            entry("BIN\\BLOB.DAT", std::string("xx\0dragon\0yy", 12)),
            entry("BIN\\NONE.DAT", std::string("no\0such\0word", 12)),
            entry("DATA\\EMPTY.TXT", "")};
}

class ContentFindTest : public testing::WindowTest {
protected:
    TForm1 f;
    std::string path;

    void load(const std::vector<QarEntry>& entries) {
        path = dir.file("C.qar");
        samples::writeQar(path, entries);
        f.cbFiles->addItem(QStringLiteral("C.qar"), QByteArray::fromStdString(path));
        f.cbFiles->setCurrentIndex(f.cbFiles->count() - 1);
        emit f.cbFiles->activated(f.cbFiles->count() - 1);
        ASSERT_TRUE(dialogs.errors.empty());
        f.show();
        QApplication::setActiveWindow(&f);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    }
    ContentFind& cf() { return *f.contentFind(); }
    // Ctrl+Shift+F, the pattern typed and Enter; the search runs to its end.
    void search(const std::string& pattern, bool matchCase = false, bool textOnly = false) {
        QTest::keyClick(&f, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        ASSERT_TRUE(cf().isOpen());
        cf().matchCase()->setChecked(matchCase);
        cf().textOnly()->setChecked(textOnly);
        cf().edit()->clear();
        QTest::keyClicks(cf().edit(), QString::fromLatin1(pattern));
        QTest::keyClick(cf().edit(), Qt::Key_Return);
        cf().settle();
    }
    std::vector<std::string> shown() {
        std::vector<std::string> out;
        const QAbstractItemModel* m = cf().list()->model();
        for (int r = 0; r < m->rowCount(); ++r) out.push_back(toCp1252(m->index(r, 0).data().toString()));
        return out;
    }
    // qar grep -n's lines for the same search, "binary entry matches" as the window words it.
    std::vector<std::string> grep(std::vector<std::string> args) {
        args.insert(args.begin(), "grep");
        args.push_back("-n");
        args.push_back(path);
        const testing::QarResult r = testing::runQar(args);
        EXPECT_LE(r.status, 1) << r.err;
        std::vector<std::string> out;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);) {
            const std::string tail = ": binary entry matches";
            if (line.size() > tail.size() && line.ends_with(tail))
                line = line.substr(0, line.size() - tail.size()) + ": binary";
            out.push_back(line);
        }
        return out;
    }
};

TEST_F(ContentFindTest, ResultsAreQarGrepsForTheSameSearch) {
    load(mixedEntries());
    struct Case {
        std::string pattern;
        bool matchCase, textOnly;
        std::vector<std::string> args;
    } cases[] = {
        {"drag[o]n", false, false, {"-i", "drag[o]n"}},
        {"drag[o]n", true, false, {"drag[o]n"}},
        {"DRAGON|^n", true, true, {"--text-only", "DRAGON|^n"}},
        {"(dragon).*\\1", false, true, {"-i", "--text-only", "(dragon).*\\1"}},
    };
    for (const Case& c : cases) {
        search(c.pattern, c.matchCase, c.textOnly);
        const std::vector<std::string> expected = grep(c.args);
        EXPECT_FALSE(expected.empty()) << c.pattern;
        EXPECT_EQ(shown(), expected) << c.pattern;
    }
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(ContentFindTest, AResultShowsItsLineWithTheMatchSelected) {
    load(mixedEntries());
    search("drag[o]n");
    const auto& rows = cf().results().rows();
    ASSERT_EQ(rows.size(), 5u);  // PLAIN twice, WIDE, RICH, BLOB
    int texts = 0;
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const QModelIndex index = cf().list()->model()->index(r, 0);
        if (r % 2 == 0) {
            QTest::mouseClick(cf().list()->viewport(), Qt::LeftButton, {},
                              cf().list()->visualRect(index).center());
        } else {
            cf().list()->setCurrentIndex(index);
            QTest::keyClick(cf().list(), Qt::Key_Return);
        }
        const NodeId node = f.treeModel()->nodeOf(f.tvFiles->currentIndex());
        ASSERT_NE(node, kNoNode);
        EXPECT_EQ(f.state.archive.entry(static_cast<size_t>(f.tree().entryIndex(node))).name, rows[r].name);
        if (rows[r].line == 0) continue;
        ++texts;
        EXPECT_EQ(f.PageControl1->currentWidget(), f.tsText) << rows[r].name;
        const QTextCursor c = f.textPage()->reText()->textCursor();
        EXPECT_EQ(c.selectedText().toLower(), QStringLiteral("dragon")) << rows[r].name;
        // The selection stands on the result's line of the page.
        QTextCursor line = c;
        line.movePosition(QTextCursor::StartOfLine);
        line.movePosition(QTextCursor::EndOfLine, QTextCursor::KeepAnchor);
        EXPECT_EQ(toCp1252(line.selectedText()), rows[r].text) << rows[r].name;
    }
    EXPECT_EQ(texts, 4);
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(ContentFindTest, APendingEditIsFound) {
    load(mixedEntries());
    search("wyvern");
    EXPECT_EQ(cf().statusText(), "nothing found");
    EditSession& s = *f.session();
    ASSERT_TRUE(s.editable());
    const EntryId none = 4, plain = 0;  // BIN\NONE.DAT, DATA\PLAIN.TXT
    ASSERT_EQ(s.entryName(none), "BIN\\NONE.DAT");
    s.replace(none, PendingData::fromBytes(samples::bytesOf(std::string("a\0wyvern", 8))), "Replace");
    s.replace(plain, PendingData::fromBytes(samples::bytesOf("one\r\ntwo wyverns\r\n")), "Replace");
    search("wyvern");
    EXPECT_EQ(shown(), (std::vector<std::string>{"DATA\\PLAIN.TXT:2:two wyverns", "BIN\\NONE.DAT: binary"}));
    cf().openResult(0);
    EXPECT_EQ(f.textPage()->reText()->textCursor().selectedText(), QStringLiteral("wyvern"));

    // With changes pending the search stands beside the changes bar, never over its count.
    QTest::keyClick(&f, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    QFrame* bar = f.editor()->changesBar();
    ASSERT_TRUE(bar->isVisibleTo(&f));
    const QRect field(cf().edit()->mapTo(&f, QPoint(0, 0)), cf().edit()->size());
    const QRect changes(bar->mapTo(&f, QPoint(0, 0)), bar->size());
    EXPECT_FALSE(field.intersects(changes)) << field.x() << " " << changes.right();
    cf().closeSearch();
    EXPECT_EQ(bar->width(), 245);
}

TEST_F(ContentFindTest, BadPatternAndNothingFoundAreToldInTheBar) {
    load(mixedEntries());
    search("a[b");
    EXPECT_TRUE(cf().statusText().starts_with("bad pattern: ")) << cf().statusText();
    EXPECT_EQ(cf().results().rows().size(), 0u);
    search("zz+q");
    EXPECT_EQ(cf().statusText(), "nothing found");
    EXPECT_TRUE(dialogs.errors.empty());
    EXPECT_TRUE(dialogs.infos.empty());
}

TEST_F(ContentFindTest, EscapeCancelsThenCloses) {
    std::vector<QarEntry> many;
    for (int i = 0; i < 400; ++i) many.push_back(entry("T\\N" + std::to_string(i) + ".TXT", "a needle\n"));
    load(many);
    cf().afterEntry = [] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); };
    QTest::keyClick(&f, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClicks(cf().edit(), QStringLiteral("needle"));
    QTest::keyClick(cf().edit(), Qt::Key_Return);
    ASSERT_TRUE(cf().running());
    QTest::qWait(100);  // results come in meanwhile
    EXPECT_GT(cf().results().rows().size(), 0u);
    QTest::keyClick(cf().edit(), Qt::Key_Escape);
    EXPECT_FALSE(cf().running());
    EXPECT_LT(cf().results().rows().size(), 400u);
    EXPECT_TRUE(cf().statusText().ends_with("(cancelled)")) << cf().statusText();
    EXPECT_TRUE(cf().isOpen());
    QTest::keyClick(cf().edit(), Qt::Key_Escape);
    EXPECT_FALSE(cf().isOpen());
}

TEST_F(ContentFindTest, ClosedTheWindowIsAsBefore) {
    load(mixedEntries());
    f.tvFiles->setFocus();
    QApplication::processEvents();
    const QImage before = f.grab().toImage();
    search("dragon");
    ASSERT_FALSE(cf().results().rows().empty());
    EXPECT_NE(f.grab().toImage(), before);
    QTest::keyClick(cf().edit(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_FALSE(cf().isOpen());
    EXPECT_EQ(f.grab().toImage(), before);
    // Ctrl+F takes the place back, and Ctrl+Shift+F gives it to the search again.
    search("dragon");
    QTest::keyClick(&f, Qt::Key_F, Qt::ControlModifier);
    EXPECT_FALSE(cf().isOpen());
}

}  // namespace
}  // namespace vorlr
