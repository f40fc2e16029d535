// "Show bytes" in the window: Ctrl+B and the tree's menu show an entry's bytes on a page of their
// own; a drag and Shift+arrows select, Ctrl+C / Ctrl+Shift+C copy hex / text to the clipboard;
// Ctrl+J, Ctrl+K, Ctrl+Shift+K and F3 (the view's only while it has the keyboard: the find box
// keeps it otherwise); selecting another entry goes back to its page; pending, empty, cut short
// and 512 MB entries.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>

#include "app/ArchiveEditor.h"
#include "app/BytesPage.h"
#include "app/BytesView.h"
#include "app/FindBar.h"
#include "app/FolderTreeModel.h"
#include "app/TextPage.h"
#include "app/Unit1.h"
#include "lib/BigArchives.h"
#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "support/Bytes.h"
#include "support/Entries.h"
#include "support/WindowTest.h"

namespace vorlr {
namespace {

using samples::QarEntry;
using testing::byteEntry;
using testing::entry;
using testing::raw;

class Bytes : public testing::WindowTest {
protected:
    TForm1 f;

    void load(const std::vector<QarEntry>& entries, const std::string& name = "B.qar") {
        samples::writeQar(dir.file(name), entries);
        open(name);
    }
    void open(const std::string& name) {
        f.cbFiles->addItem(QString::fromStdString(name), QByteArray::fromStdString(dir.file(name)));
        f.cbFiles->setCurrentIndex(f.cbFiles->count() - 1);
        emit f.cbFiles->activated(f.cbFiles->count() - 1);
        ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
        f.show();
        QApplication::setActiveWindow(&f);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    }
    void select(const std::string& name) {
        const NodeId n = f.tree().findFrom(f.tree().first(), name);
        ASSERT_NE(n, kNoNode) << name;
        const QModelIndex index = f.treeModel()->indexOf(n);
        for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) f.tvFiles->expand(p);
        f.tvFiles->setCurrentIndex(index);
        f.tvFiles->setFocus();
    }
    BytesPage& page() { return *f.bytesPage(); }
    BytesView& view() { return *page().view(); }
    void key(QWidget* to, int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(to, Qt::Key(k), mods);
    }
    void ctrlB() { key(f.tvFiles, Qt::Key_B, Qt::ControlModifier); }
    QString clipboard() { return QApplication::clipboard()->text(); }
    void mouse(QEvent::Type type, const QPoint& at, Qt::MouseButtons buttons) {
        QMouseEvent e(type, at, view().viewport()->mapToGlobal(at), Qt::LeftButton, buttons,
                      Qt::NoModifier);
        QApplication::sendEvent(view().viewport(), &e);
    }
};

std::vector<uint8_t> binary() {
    std::vector<uint8_t> b;
    for (int i = 0; i < 40; ++i) b.push_back(static_cast<uint8_t>(i * 7));
    b[20] = 'H', b[21] = 'i', b[22] = 0x80, b[23] = 0x81;
    return b;
}

TEST_F(Bytes, CtrlBShowsTheEntryCopiesAndSelectingGoesBack) {
    load({entry("A\\ONE.TXT", "Hello"), byteEntry("DATA\\ITEMS.DBS", binary()),
          byteEntry("GFX\\P.KMG", samples::sampleKmg16(8, 8)), entry("DATA\\OTHER.DAT", "zz")});
    select("ONE.TXT");
    ASSERT_EQ(f.PageControl1->currentWidget(), f.tsText);
    ASSERT_EQ(f.PageControl1->count(), 3);
    select("ITEMS.DBS");  // no page of its own: the Text page stays in front
    ctrlB();
    ASSERT_TRUE(page().shown());
    EXPECT_EQ(f.PageControl1->count(), 4);
    EXPECT_EQ(f.PageControl1->currentWidget(), page().page());
    EXPECT_EQ(f.PageControl1->tabText(3), "Bytes");
    EXPECT_TRUE(view().hasFocus());
    ASSERT_EQ(view().bytes()->size(), 40);
    EXPECT_EQ(page().status()->text(), "Offset $00000000");

    // Shift+arrows from the cursor, then copies of what is selected.
    for (int i = 0; i < 3; ++i) key(&view(), Qt::Key_Right, Qt::ShiftModifier);
    key(&view(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(view().selectionBegin(), 0);
    EXPECT_EQ(view().selectionEnd(), 20);
    key(&view(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard(), "00 07 0E 15 1C 23 2A 31 38 3F 46 4D 54 5B 62 69 70 77 7E 85");
    EXPECT_EQ(page().status()->text(), "Selected $00000000-$00000013, 20 bytes");

    // A drag over the second row's "Hi" and the two bytes after them, in the characters.
    mouse(QEvent::MouseButtonPress, view().pointOf(20, true), Qt::LeftButton);
    mouse(QEvent::MouseMove, view().pointOf(23, false), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, view().pointOf(23, false), Qt::NoButton);
    EXPECT_EQ(view().selectionBegin(), 20);
    EXPECT_EQ(view().selectionEnd(), 24);
    key(&view(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(clipboard(), QString::fromUtf8("Hi\xE2\x82\xAC."));
    key(&view(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard(), "48 69 80 81");

    // Another entry: its page as always, the Bytes page gone.
    select("ONE.TXT");
    EXPECT_FALSE(page().shown());
    EXPECT_EQ(f.PageControl1->count(), 3);
    EXPECT_EQ(f.PageControl1->currentWidget(), f.tsText);
    EXPECT_EQ(f.textPage()->reText()->toPlainText(), "Hello");

    // From the Image page, an entry with no page goes back to the page in front before.
    select("P.KMG");
    ASSERT_EQ(f.PageControl1->currentWidget(), f.tsImage);
    select("ITEMS.DBS");
    ctrlB();
    ASSERT_TRUE(page().shown());
    select("OTHER.DAT");
    EXPECT_FALSE(page().shown());
    EXPECT_EQ(f.PageControl1->currentWidget(), f.tsImage);
    // Ctrl+1 (another page) takes the bytes away as well; Ctrl+B on a folder shows nothing.
    ctrlB();
    ASSERT_TRUE(page().shown());
    key(f.tvFiles, Qt::Key_1, Qt::ControlModifier);
    EXPECT_FALSE(page().shown());
    EXPECT_EQ(f.PageControl1->count(), 3);
    select("DATA");
    ctrlB();
    EXPECT_FALSE(page().shown());
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(Bytes, TheWindowLooksAsBeforeOnceTheBytesAreLeft) {
    load({entry("A\\ONE.TXT", "Hello"), byteEntry("DATA\\ITEMS.DBS", binary())});
    select("ITEMS.DBS");  // its folder opened, as it will be
    select("ONE.TXT");
    const QImage before = f.grab().toImage();
    ctrlB();
    ASSERT_TRUE(page().shown());
    EXPECT_NE(f.grab().toImage(), before);
    select("ITEMS.DBS");
    select("ONE.TXT");
    EXPECT_EQ(f.grab().toImage(), before);
}

TEST_F(Bytes, GoToFindAndF3) {
    std::vector<uint8_t> b(300, '.');
    const std::string dragon = "Dragon";
    for (const size_t at : {size_t{40}, size_t{200}}) std::copy(dragon.begin(), dragon.end(), b.begin() + static_cast<long>(at));
    b[250] = 0xDE, b[251] = 0xAD;
    load({byteEntry("MONSTERS.DAT", b), entry("DRAGON.TXT", "x"), entry("DRAGONS.TXT", "y")});
    select("MONSTERS.DAT");
    ctrlB();
    ASSERT_TRUE(page().shown());

    dialogs.texts.push_back("$20");
    key(f.tvFiles, Qt::Key_J, Qt::ControlModifier);  // the page's keys act from the tree too
    EXPECT_EQ(view().cursor(), 0x20);
    dialogs.texts.push_back("1000");
    key(&view(), Qt::Key_J, Qt::ControlModifier);
    EXPECT_EQ(view().cursor(), 299);  // past the end: the last byte
    EXPECT_NE(page().status()->text().indexOf("past the end"), -1);
    key(&view(), Qt::Key_Home, Qt::ControlModifier);

    dialogs.texts.push_back("dRAGON");  // text: A to Z in either case
    key(&view(), Qt::Key_K, Qt::ControlModifier);
    view().settle();
    EXPECT_EQ(view().selectionBegin(), 40);
    EXPECT_EQ(view().selectionEnd(), 46);
    key(&view(), Qt::Key_F3);
    view().settle();
    EXPECT_EQ(view().selectionBegin(), 200);
    key(&view(), Qt::Key_F3);
    view().settle();
    EXPECT_EQ(view().selectionBegin(), 40);
    EXPECT_NE(page().status()->text().indexOf("wrapped round"), -1);
    key(&view(), Qt::Key_F3, Qt::ShiftModifier);
    view().settle();
    EXPECT_EQ(view().selectionBegin(), 200);

    dialogs.texts.push_back("de ad");
    key(&view(), Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    view().settle();
    EXPECT_EQ(view().selectionBegin(), 250);
    EXPECT_EQ(view().selectionEnd(), 252);
    dialogs.texts.push_back("dx");
    key(&view(), Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(dialogs.infos.size(), 1u);
    EXPECT_EQ(dialogs.infos[0], "Not hex bytes: dx");

    // With the find box open, F3 is the view's while the view has the keyboard...
    key(&view(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(f.findBar()->isVisible());
    QTest::keyClicks(f.findBar()->edit(), QStringLiteral("dragon"));
    f.findBar()->settle();
    select("MONSTERS.DAT");
    ctrlB();
    dialogs.texts.push_back("44 72");  // "Dr"
    key(&view(), Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    view().settle();
    ASSERT_EQ(view().selectionBegin(), 40);
    ASSERT_TRUE(view().hasFocus());
    key(&view(), Qt::Key_F3);
    view().settle();
    EXPECT_EQ(view().selectionBegin(), 200);
    EXPECT_TRUE(page().shown());
    EXPECT_EQ(f.tree().text(f.treeModel()->nodeOf(f.tvFiles->currentIndex())), "MONSTERS.DAT");
    // ...and the find box's elsewhere: the next name is selected, its page shown.
    f.tvFiles->setFocus();
    key(f.tvFiles, Qt::Key_F3);
    EXPECT_EQ(f.tree().text(f.treeModel()->nodeOf(f.tvFiles->currentIndex())), "DRAGON.TXT");
    EXPECT_FALSE(page().shown());
    EXPECT_EQ(f.PageControl1->currentWidget(), f.tsText);
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(Bytes, EmptyCutShortAndPendingEntries) {
    // CUT's record claims 100000 bytes: the file ends with the directory after its 4.
    load({entry("EMPTY.DAT"), entry("SOME.DAT", "abcd"),
          {"CUT.DAT", samples::bytesOf("wxyz"), {}, 100000, false}});
    const int64_t fileSize = static_cast<int64_t>(samples::readFile(dir.file("B.qar")).size());
    select("EMPTY.DAT");
    ctrlB();
    ASSERT_TRUE(page().shown());
    EXPECT_EQ(view().bytes()->size(), 0);
    EXPECT_EQ(page().status()->text(), "no bytes");
    QApplication::clipboard()->setText("kept");
    key(&view(), Qt::Key_C, Qt::ControlModifier);
    key(&view(), Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(clipboard(), "kept");

    select("CUT.DAT");
    ctrlB();
    const int64_t held = fileSize - (520 + 4);  // its 4 bytes and the directory's
    ASSERT_EQ(view().bytes()->size(), held);
    EXPECT_EQ(page().status()->text().toStdString(),
              "Offset $00000000; the archive file holds $" +
                  QString::number(held, 16).toUpper().toStdString() + " of the entry's $186A0 bytes");
    key(&view(), Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
    key(&view(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(clipboard().size(), held);
    EXPECT_TRUE(clipboard().startsWith("wxyz"));

    // A pending replacement shows its new bytes.
    samples::writeFile(dir.file("new.dat"), samples::bytesOf("NEW BYTES"));
    dialogs.fileLists.push_back({dir.file("new.dat")});
    select("SOME.DAT");
    f.editor()->replaceEntry(f.treeModel()->nodeOf(f.tvFiles->currentIndex()));
    ASSERT_TRUE(f.editor()->pending());
    select("SOME.DAT");
    ctrlB();
    key(&view(), Qt::Key_A, Qt::ControlModifier);
    key(&view(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(clipboard(), "NEW BYTES");
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(Bytes, A512MegabyteEntryReadsOnlyWhatShows) {
    const int32_t size = 512 << 20;
    samples::writeSparseEntryArchive(dir.file("big.qar"), "HUGE.DAT", size,
                                     {{0, raw({'M', 'Z'})}, {(256 << 20) - 1, raw({'X', 'Y'})},
                                      {size - 3, raw({'E', 'N', 'D'})}});
    open("big.qar");
    select("HUGE.DAT");
    ctrlB();
    ASSERT_TRUE(page().shown());
    ASSERT_EQ(view().bytes()->size(), size);
    EXPECT_EQ(view().verticalScrollBar()->maximum() + view().visibleRows(), size / 16);
    view().viewport()->repaint();
    key(&view(), Qt::Key_End, Qt::ControlModifier);
    view().viewport()->repaint();
    key(&view(), Qt::Key_Left, Qt::ShiftModifier);
    key(&view(), Qt::Key_Left, Qt::ShiftModifier);
    key(&view(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(clipboard(), "END");
    dialogs.texts.push_back("FFFFFFF");  // the byte before the middle, at a block's end
    key(&view(), Qt::Key_J, Qt::ControlModifier);
    view().viewport()->repaint();
    key(&view(), Qt::Key_Right, Qt::ShiftModifier);
    key(&view(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard(), "58 59");
    // The first block, the last, and the two about the middle: never the entry.
    EXPECT_LE(view().bytes()->sourceReads(), 4u);
    EXPECT_TRUE(dialogs.errors.empty());
}

}  // namespace
}  // namespace vorlr
