// The main window: controls, start and end, the archive list, Browse and directory loading.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTreeView>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/FolderTreeModel.h"
#include "app/ImageView.h"
#include "app/StatusBar.h"
#include "app/Unit1.h"
#include "lib/DemoArchive.h"
#include "lib/QarBuilder.h"
#include "platform/Bitmap24.h"
#include "platform/gui/Dialogs.h"
#include "platform/Errors.h"
#include "platform/RuntimeFile.h"
#include "support/Activation.h"
#include "support/Bytes.h"
#include "support/TempDir.h"
#include "support/WindowTest.h"

namespace vorlr {
namespace {

namespace fs = std::filesystem;
using samples::bytesOf;
using samples::QarEntry;
using testing::fileText;

QarEntry entry(std::string name, std::string data = "x") {
    return QarEntry{std::move(name), bytesOf(data), {}, {}, false};
}

std::vector<QarEntry> numberedEntries(int n) {
    std::vector<QarEntry> out;
    for (int i = 0; i < n; ++i) out.push_back(entry("F" + std::to_string(i) + ".BIN"));
    return out;
}

// The tree as the view sees it: one line per node, two spaces of indent per level.
void walk(const QAbstractItemModel& m, const QModelIndex& parent, int depth,
          std::vector<std::string>& out) {
    for (int r = 0; r < m.rowCount(parent); ++r) {
        const QModelIndex i = m.index(r, 0, parent);
        out.push_back(std::string(2 * depth, ' ') + i.data().toString().toStdString());
        walk(m, i, depth + 1, out);
    }
}
std::vector<std::string> shownTree(const TForm1& f) {
    std::vector<std::string> out;
    walk(*f.treeModel(), {}, 0, out);
    return out;
}

// Counts what QAbstractItemModelTester reports (it warns instead of failing).
int modelTestWarnings = 0;
void countModelTestWarnings(QtMsgType, const QMessageLogContext& context, const QString& text) {
    if (context.category && std::string(context.category) == "qt.modeltest") {
        ++modelTestWarnings;
        ADD_FAILURE() << text.toStdString();
    }
}

class MainWindow : public testing::WindowTest {
protected:

    std::string archive(const std::string& name, const std::vector<QarEntry>& entries) {
        const std::string path = dir.file(name);
        samples::writeQar(path, entries);
        return path;
    }
    static void choose(TForm1& f, int k) {
        f.cbFiles->setCurrentIndex(k);
        emit f.cbFiles->activated(k);  // what a user's pick raises
    }
};

TEST_F(MainWindow, ControlsStandWhereTheyBelong) {
    TForm1 f;
    EXPECT_TRUE(f.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(f.size(), QSize(800, 600));
    EXPECT_EQ(f.font().family(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(f.font().pointSize(), 8);
    struct Expect { const char* name; const char* parent; QRect geometry; };
    const Expect expected[] = {
        {"paMain", "Form1", {0, 0, 800, 600}},      {"imBack", "paMain", {0, 0, 800, 600}},
        {"cbFiles", "paMain", {10, 10, 200, 21}},   {"buBrowse", "paMain", {220, 10, 100, 25}},
        {"buSave", "paMain", {330, 10, 100, 25}},   {"Button1", "paMain", {440, 10, 100, 25}},
        {"buQuit", "paMain", {690, 10, 100, 25}},   {"tvFiles", "paMain", {10, 40, 200, 520}},
        {"PageControl1", "paMain", {220, 40, 570, 520}},
        {"StatusBar1", "paMain", {10, 570, 780, 20}}, {"paLoad", "Form1", {200, 270, 400, 60}},
        {"pbLoad", "paLoad", {10, 30, 320, 20}},    {"buStop", "paLoad", {340, 10, 50, 40}},
    };
    for (const Expect& e : expected) {
        auto* w = f.findChild<QWidget*>(QString::fromLatin1(e.name));
        ASSERT_NE(w, nullptr) << e.name;
        EXPECT_EQ(w->parentWidget()->objectName(), QString::fromLatin1(e.parent)) << e.name;
        EXPECT_EQ(w->geometry(), e.geometry) << e.name;
    }
    EXPECT_EQ(f.laLoad->pos(), QPoint(10, 10));
    EXPECT_EQ(f.buBrowse->text(), "Browse");
    EXPECT_EQ(f.buSave->text(), "Save");
    EXPECT_EQ(f.buQuit->text(), "Quit");
    EXPECT_EQ(f.buStop->text(), "Stop");
    EXPECT_EQ(f.Button1->text(), "Testing");
    EXPECT_TRUE(f.Button1->isHidden());
    EXPECT_TRUE(f.paLoad->isHidden());
    EXPECT_FALSE(f.cbFiles->isEditable());
    EXPECT_EQ(f.tvFiles->indentation(), 19);
    EXPECT_TRUE(f.tvFiles->uniformRowHeights());
    EXPECT_TRUE(f.tvFiles->rootIsDecorated());
    EXPECT_FALSE(f.tvFiles->isSortingEnabled());
    EXPECT_EQ(f.PageControl1->count(), 3);
    const char* const pages[] = {"tsText", "tsImage", "tsMedia"};
    const char* const captions[] = {"Text", "Image", "Media"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f.PageControl1->widget(i)->objectName(), pages[i]);
        EXPECT_EQ(f.PageControl1->tabText(i), captions[i]);
    }
    EXPECT_EQ(f.PageControl1->currentWidget(), f.tsText);
    EXPECT_EQ(f.StatusBar1->panelText(0), "File name:");
}

TEST_F(MainWindow, TabOrderFollowsTheControlOrder) {
    TForm1 f;
    const std::vector<QWidget*> order{f.buBrowse, f.buSave, f.buQuit, f.cbFiles, f.tvFiles,
                                      f.PageControl1};
    std::vector<QWidget*> seen;
    QWidget* w = f.buBrowse;
    for (int guard = 0; guard < 200 && seen.size() < order.size(); ++guard, w = w->nextInFocusChain())
        if (std::find(order.begin(), order.end(), w) != order.end() &&
            std::find(seen.begin(), seen.end(), w) == seen.end())
            seen.push_back(w);
    EXPECT_EQ(seen, order);
}

TEST_F(MainWindow, ShownCentredOnTheScreen) {
    TForm1 f;
    f.show();
    const QPoint offset = f.geometry().center() - f.screen()->geometry().center();
    EXPECT_LE(offset.manhattanLength(), 2);
}

TEST_F(MainWindow, StartsWithoutListFileAndWritesAnEmptyOne) {
    {
        TForm1 f;
        EXPECT_EQ(f.cbFiles->count(), 0);
        EXPECT_EQ(f.state.StartDirectory, dir.path());
        EXPECT_EQ(f.treeModel()->rowCount(), 0);
    }
    ASSERT_TRUE(fs::exists(dir.file("VORLR.LST")));
    EXPECT_EQ(fs::file_size(dir.file("VORLR.LST")), 0u);
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(MainWindow, ListFileItemsLoadUnsortedWithNothingSelected) {
    const std::string a = archive("a.qar", {entry("A.TXT")});
    samples::writeFile(dir.file("VORLR.LST"), bytesOf("/z/b.qar\n" + a + "\r\n\r\n/z/b.qar"));
    {
        TForm1 f;
        ASSERT_EQ(f.cbFiles->count(), 4);
        EXPECT_EQ(f.cbFiles->itemText(0), "/z/b.qar");
        EXPECT_EQ(f.cbFiles->itemText(2), "");
        EXPECT_EQ(f.cbFiles->currentIndex(), -1);
        EXPECT_EQ(f.state.CurrentArchiveName, "");
        EXPECT_FALSE(f.state.archive.isOpen());
        EXPECT_EQ(f.treeModel()->rowCount(), 0);
    }
    // Written back at the end as it stood, CR LF after every item.
    EXPECT_EQ(fileText(dir.file("VORLR.LST")), "/z/b.qar\r\n" + a + "\r\n\r\n/z/b.qar\r\n");
}

TEST_F(MainWindow, ListFileGoesToTheStartDirectoryAndWriteErrorsAreShown) {
    testing::TempDir other;
    {
        TForm1 f;
        setCurrentDirectory(other.path());
    }
    EXPECT_TRUE(fs::exists(dir.file("VORLR.LST")));
    EXPECT_FALSE(fs::exists(other.file("VORLR.LST")));
    setCurrentDirectory(dir.path());
    fs::remove(dir.file("VORLR.LST"));
    {
        TForm1 f;
        fs::create_directory(dir.file("VORLR.LST"));  // cannot be replaced by a file
    }
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_EQ(dialogs.errors[0].rfind("Cannot create file \"" + dir.file("VORLR.LST") + "\". ", 0), 0u)
        << dialogs.errors[0];
}

TEST_F(MainWindow, BrowseAcceptedLoadsAndSelectsTheArchive) {
    testing::TempDir elsewhere;
    const std::string a = elsewhere.file("a.qar");
    samples::writeQar(a, {entry("A\\X.TXT"), entry("A\\Y.TXT"), entry("B\\Z.TXT")});
    TForm1 f;
    dialogs.answers.push_back(a);
    f.buBrowse->click();
    EXPECT_TRUE(dialogs.errors.empty());
    ASSERT_EQ(f.cbFiles->count(), 1);
    EXPECT_EQ(f.cbFiles->currentIndex(), 0);
    EXPECT_EQ(f.state.CurrentArchiveName, a);
    EXPECT_EQ(shownTree(f), (std::vector<std::string>{"A", "  X.TXT", "  Y.TXT", "B", "  Z.TXT"}));
    EXPECT_EQ(f.laLoad->text(), "Loading 3 file names ...");
    EXPECT_TRUE(f.paMain->isEnabled());
    EXPECT_TRUE(f.paLoad->isHidden());
    EXPECT_EQ(currentDirectory(), dir.path());  // set back on the accepted path
}

TEST_F(MainWindow, BrowseRejectedOrCancelledChangesNothing) {
    samples::writeFile(dir.file("bad.qar"), std::vector<uint8_t>(600, 0));
    samples::writeFile(dir.file("VORLR.LST"), bytesOf("/z/keep.qar\r\n"));
    TForm1 f;
    f.buBrowse->click();  // cancelled
    EXPECT_EQ(dialogs.opened, 1);
    EXPECT_TRUE(dialogs.infos.empty());
    EXPECT_TRUE(dialogs.errors.empty());
    EXPECT_EQ(f.cbFiles->count(), 1);
    EXPECT_EQ(f.cbFiles->currentIndex(), -1);
    EXPECT_EQ(currentDirectory(), dir.path());

    testing::TempDir elsewhere;
    fs::copy_file(dir.file("bad.qar"), elsewhere.file("bad.qar"));
    dialogs.answers.push_back(elsewhere.file("bad.qar"));
    f.buBrowse->click();
    EXPECT_EQ(dialogs.infos, std::vector<std::string>{"Not a valid vorlund packed-file!"});
    EXPECT_EQ(f.cbFiles->count(), 1);
    EXPECT_EQ(f.state.CurrentArchiveName, "");
    // A rejected file leaves the current directory in the folder the dialog closed in.
    EXPECT_EQ(currentDirectory(), elsewhere.path());
}

// The dialog hands back any name; opening one that is not there fails as any open does.
TEST_F(MainWindow, BrowseToAMissingFileShowsFileNotFound) {
    testing::TempDir elsewhere;
    samples::writeFile(dir.file("VORLR.LST"), bytesOf("/z/keep.qar\r\n"));
    struct Case {
        std::string chosen;
        std::string directoryAfter;  // the folder the dialog closed in, when there is one
    };
    const Case cases[] = {
        {elsewhere.file("missing.qar"), elsewhere.path()},
        {elsewhere.file("no-such-folder/missing.qar"), dir.path()},
        {"missing.qar", dir.path()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chosen);
        setCurrentDirectory(dir.path());
        dialogs.errors.clear();
        TForm1 f;
        dialogs.answers.push_back(c.chosen);
        f.buBrowse->click();
        EXPECT_EQ(dialogs.errors, std::vector<std::string>{"File not found."});
        EXPECT_TRUE(dialogs.infos.empty());
        EXPECT_EQ(f.cbFiles->count(), 1);
        EXPECT_EQ(f.state.CurrentArchiveName, "");
        EXPECT_EQ(currentDirectory(), c.directoryAfter);
    }
}

// After a rejected file the folder it was chosen in is the current directory: the scratch files,
// saved files and the background check follow it, and the next accepted Browse goes back to the
// start directory.
TEST_F(MainWindow, ARejectedFilesFolderServesUntilTheNextAcceptedBrowse) {
    const std::string a = archive("a.qar", {entry("README.TXT", "hello"), entry("OTHER.TXT", "more")});
    samples::writeFile(dir.file("VORLR.LST"), bytesOf(a + "\r\n"));
    testing::TempDir rejected, accepted;
    samples::writeFile(rejected.file("bad.qar"), std::vector<uint8_t>(600, 0));
    Bitmap24(128, 128).saveToFile(rejected.file("BACK.BMP"));
    const std::string b = accepted.file("b.qar");
    samples::writeQar(b, {entry("B.TXT", "b")});
    {
        TForm1 f;
        dialogs.answers.push_back(rejected.file("bad.qar"));
        f.buBrowse->click();
        ASSERT_EQ(dialogs.infos, std::vector<std::string>{"Not a valid vorlund packed-file!"});

        choose(f, 0);  // a pick in the list leaves the directory alone
        f.tvFiles->setCurrentIndex(f.treeModel()->index(0, 0));
        EXPECT_EQ(fileText(rejected.file("TEMP.TXT")), "hello");
        EXPECT_FALSE(fs::exists(dir.file("TEMP.TXT")));
        f.buSave->click();
        EXPECT_EQ(fileText(rejected.file("README.txt")), "hello");
        EXPECT_FALSE(fs::exists(dir.file("README.txt")));
        f.FormActivate();
        EXPECT_TRUE(f.state.HasBackground);

        dialogs.answers.push_back(b);
        f.buBrowse->click();
        EXPECT_EQ(f.state.CurrentArchiveName, b);
        EXPECT_EQ(currentDirectory(), dir.path());
        f.tvFiles->setCurrentIndex(f.treeModel()->index(0, 0));
        EXPECT_EQ(fileText(dir.file("TEMP.TXT")), "b");
        f.FormActivate();
        EXPECT_FALSE(f.state.HasBackground);
    }
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(MainWindow, BrowseToAShortFileShowsTheReadError) {
    samples::writeFile(dir.file("short.qar"), std::vector<uint8_t>(519, 0));
    TForm1 f;
    dialogs.answers.push_back(dir.file("short.qar"));
    f.buBrowse->click();
    EXPECT_EQ(dialogs.errors, std::vector<std::string>{"Read beyond end of file."});
    EXPECT_TRUE(dialogs.infos.empty());
    EXPECT_EQ(f.cbFiles->count(), 0);
}

TEST_F(MainWindow, BrowseKeepsTheListSortedAndWritesItAtTheEnd) {
    const std::string b = archive("b.qar", {entry("B.TXT")});
    const std::string a = archive("A.qar", {entry("A1.TXT"), entry("A2.TXT")});
    {
        TForm1 f;
        dialogs.answers = {b, a};
        f.buBrowse->click();
        f.buBrowse->click();
        ASSERT_EQ(f.cbFiles->count(), 2);
        EXPECT_EQ(f.cbFiles->itemText(0).toStdString(), a);
        EXPECT_EQ(f.cbFiles->itemText(1).toStdString(), b);
        EXPECT_EQ(f.cbFiles->currentIndex(), 0);
        EXPECT_EQ(shownTree(f), (std::vector<std::string>{"A1.TXT", "A2.TXT"}));
    }
    EXPECT_EQ(fileText(dir.file("VORLR.LST")), a + "\r\n" + b + "\r\n");
}

TEST_F(MainWindow, BrowseToANameDifferingInCaseKeepsTheOneEntryAndSelectsIt) {
    const std::string present = archive("Demo.qar", {entry("OLD.TXT")});
    const std::string chosen = archive("DEMO.QAR", {entry("NEW.TXT")});
    samples::writeFile(dir.file("VORLR.LST"), bytesOf(present + "\r\n"));
    TForm1 f;
    dialogs.answers.push_back(chosen);
    f.buBrowse->click();
    ASSERT_EQ(f.cbFiles->count(), 1);
    EXPECT_EQ(f.cbFiles->itemText(0).toStdString(), present);
    EXPECT_EQ(f.cbFiles->currentIndex(), 0);
    EXPECT_EQ(f.state.CurrentArchiveName, present);  // the entry already present is loaded
    EXPECT_EQ(shownTree(f), std::vector<std::string>{"OLD.TXT"});
}

TEST_F(MainWindow, CaseOutsideAToZDropsTheNameButSelectsNothing) {
    const std::string present = archive("\xC3\xA9t\xC3\xA9.qar", {entry("OLD.TXT")});
    const std::string chosen = archive("\xC3\x89T\xC3\x89.qar", {entry("NEW.TXT")});
    samples::writeFile(dir.file("VORLR.LST"), bytesOf(present + "\r\n"));
    TForm1 f;
    dialogs.answers.push_back(chosen);
    f.buBrowse->click();
    EXPECT_EQ(f.cbFiles->count(), 1);
    EXPECT_EQ(f.cbFiles->currentIndex(), -1);
    EXPECT_EQ(f.state.CurrentArchiveName, "");
    EXPECT_EQ(f.treeModel()->rowCount(), 0);
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(MainWindow, ChoosingAnArchiveReplacesTheTree) {
    const std::string a = archive("a.qar", {entry("X\\Y\\F1"), entry("Y\\Z\\F2")});
    const std::string b = archive("b.qar", {entry("ONLY.TXT")});
    samples::writeFile(dir.file("VORLR.LST"), bytesOf(a + "\r\n" + b + "\r\n\r\n"));
    TForm1 f;
    choose(f, 0);
    EXPECT_EQ(shownTree(f), (std::vector<std::string>{"X", "  Y", "    F1", "    Z", "      F2"}));
    choose(f, 1);
    EXPECT_EQ(shownTree(f), std::vector<std::string>{"ONLY.TXT"});
    EXPECT_EQ(f.state.EntryOffsetTable.size(), 1u);
    choose(f, 2);  // an empty item loads nothing and keeps the tree
    EXPECT_EQ(shownTree(f), std::vector<std::string>{"ONLY.TXT"});
    EXPECT_EQ(f.state.CurrentArchiveName, b);
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(MainWindow, LoadingShowsThePanelAndHidesHalfBuiltRows) {
    const std::string a = archive("a.qar", numberedEntries(51));
    samples::writeFile(dir.file("VORLR.LST"), bytesOf(a + "\r\n"));
    TForm1 f;
    f.show();
    int dispatches = 0;
    f.onLoadDispatch = [&] {
        ++dispatches;
        EXPECT_TRUE(f.paLoad->isVisible());
        EXPECT_FALSE(f.paMain->isEnabled());
        EXPECT_TRUE(f.buStop->isEnabled());
        EXPECT_EQ(f.pbLoad->maximum(), 51);
        EXPECT_EQ(f.treeModel()->rowCount(), 0);
    };
    choose(f, 0);
    EXPECT_EQ(dispatches, 2);  // 50 records, then the rest
    EXPECT_EQ(f.pbLoad->value(), 50);
    EXPECT_EQ(f.treeModel()->rowCount(), 51);
    EXPECT_FALSE(f.paLoad->isVisible());
    EXPECT_TRUE(f.paMain->isEnabled());
}

TEST_F(MainWindow, StopEndsTheLoadAfterTheEntryInHand) {
    const std::string a = archive("a.qar", numberedEntries(1000));
    samples::writeFile(dir.file("VORLR.LST"), bytesOf(a + "\r\n"));
    TForm1 f;
    f.show();
    int dispatches = 0;
    f.onLoadDispatch = [&] {
        if (++dispatches == 2) f.buStop->click();  // during the second chunk's dispatch (i = 50)
    };
    choose(f, 0);
    EXPECT_EQ(f.treeModel()->rowCount(), 51);  // entries 0 to 50
    EXPECT_EQ(f.treeModel()->index(50, 0).data().toString(), "F50.BIN");
    EXPECT_EQ(f.pbLoad->value(), 49);  // the stop check comes before the bar moves to 50
    EXPECT_EQ(f.state.EntryOffsetTable.size(), 1000u);
    EXPECT_TRUE(f.state.archive.isOpen());
    EXPECT_TRUE(f.paMain->isEnabled());
    EXPECT_FALSE(f.paLoad->isVisible());
    // The next load starts afresh.
    f.onLoadDispatch = nullptr;
    choose(f, 0);
    EXPECT_EQ(f.treeModel()->rowCount(), 1000);
    EXPECT_EQ(f.pbLoad->value(), 999);  // the last position is N - 1
}

TEST_F(MainWindow, ErrorsDuringLoadingRestoreThePanels) {
    const std::string a = archive("a.qar", numberedEntries(120));
    samples::writeFile(dir.file("VORLR.LST"), bytesOf(a + "\r\n" + dir.file("gone.qar") + "\r\n"));
    TForm1 f;
    f.show();
    f.onLoadDispatch = [&] { throw Error("Interrupted"); };
    choose(f, 0);
    EXPECT_EQ(dialogs.errors, std::vector<std::string>{"Interrupted."});
    EXPECT_TRUE(f.paMain->isEnabled());
    EXPECT_FALSE(f.paLoad->isVisible());
    EXPECT_FALSE(f.isLoading());
    EXPECT_EQ(f.treeModel()->rowCount(), 0);
    // A missing archive: the tree is emptied and the name kept; the window carries on.
    f.onLoadDispatch = nullptr;
    choose(f, 0);
    EXPECT_EQ(f.treeModel()->rowCount(), 120);
    choose(f, 1);
    EXPECT_EQ(dialogs.errors.back(), "File not found.");
    EXPECT_EQ(f.treeModel()->rowCount(), 0);
    EXPECT_EQ(f.state.CurrentArchiveName, dir.file("gone.qar"));
    EXPECT_TRUE(f.paMain->isEnabled());
    choose(f, 0);
    EXPECT_EQ(f.treeModel()->rowCount(), 120);
}

TEST_F(MainWindow, ClosingDuringALoadWaitsForTheLoaderToStop) {
    const std::string a = archive("a.qar", numberedEntries(300));
    samples::writeFile(dir.file("VORLR.LST"), bytesOf(a + "\r\n"));
    TForm1 f;
    f.show();
    bool stillShown = false;
    f.onLoadDispatch = [&] {
        if (f.isLoading() && !f.state.StopRequested) {
            f.close();
            stillShown = f.isVisible();
        }
    };
    choose(f, 0);
    EXPECT_TRUE(stillShown);
    EXPECT_FALSE(f.isVisible());  // closed once the loader returned
    EXPECT_EQ(f.treeModel()->rowCount(), 1);  // the loop ended after entry 0
    // Quit when idle closes at once.
    f.show();
    f.buQuit->click();
    EXPECT_FALSE(f.isVisible());
}

TEST_F(MainWindow, TreeModelIsConsistent) {
    std::vector<QarEntry> entries{entry("D"), entry("D\\F"), entry("A\\B\\C.TXT"), entry("A\\B\\D.TXT"),
                                  entry("A\\E.TXT"), entry("ROOT.TXT"), entry("D\\D\\G")};
    const std::string a = archive("a.qar", entries);
    samples::writeFile(dir.file("VORLR.LST"), bytesOf(a + "\r\n"));
    TForm1 f;
    modelTestWarnings = 0;
    const QtMessageHandler previous = qInstallMessageHandler(countModelTestWarnings);
    QAbstractItemModelTester tester(f.treeModel(), QAbstractItemModelTester::FailureReportingMode::Warning);
    choose(f, 0);
    EXPECT_EQ(shownTree(f), (std::vector<std::string>{"D", "  F", "  G", "A", "  B", "    C.TXT",
                                                       "    D.TXT", "  E.TXT", "ROOT.TXT"}));
    FolderTreeModel& m = *f.treeModel();
    const QModelIndex b = m.index(0, 0, m.index(1, 0));
    EXPECT_EQ(m.parent(m.index(1, 0, b)), b);
    EXPECT_EQ(m.parent(b).row(), 1);
    EXPECT_TRUE(m.hasChildren(b));
    EXPECT_FALSE(m.hasChildren(m.index(0, 0, b)));
    EXPECT_FALSE(m.index(0, 1).isValid());
    EXPECT_FALSE(m.index(9, 0).isValid());
    EXPECT_TRUE(m.flags(b) & Qt::ItemIsEditable);
    choose(f, 0);  // a reload under the tester
    EXPECT_EQ(m.rowCount(), 3);
    f.tvFiles->expandAll();
    EXPECT_TRUE(m.setData(m.index(2, 0), QStringLiteral("RENAMED.TXT")));
    qInstallMessageHandler(previous);
    EXPECT_EQ(modelTestWarnings, 0);
}

// The tree as a classic tree view draws it, whatever the style: dotted lines from each node to
// its parent's line and on to its next sibling, boxed expand buttons, rows 13 pixels high.
TEST_F(MainWindow, TreeDrawsLinesAndExpandButtonsInRowsOf13) {
    TForm1 f;
    f.cbFiles->addItem(
        QStringLiteral("t.qar"),
        QByteArray::fromStdString(
            archive("t.qar", {entry("DATA\\A.TXT"), entry("DATA\\B.TXT"), entry("TOP.TXT")})));
    choose(f, 0);
    f.show();
    f.tvFiles->expandAll();
    FolderTreeModel& m = *f.treeModel();
    const QModelIndex data = m.index(0, 0), a = m.index(0, 0, data), b = m.index(1, 0, data),
                      top = m.index(1, 0);
    ASSERT_EQ(data.data().toString(), "DATA");
    ASSERT_EQ(top.data().toString(), "TOP.TXT");
    const int indent = f.tvFiles->indentation();
    for (const QString& name : QStyleFactory::keys()) {
        SCOPED_TRACE(name.toStdString());
        std::unique_ptr<QStyle> style(QStyleFactory::create(name));
        f.tvFiles->setStyle(style.get());
        for (const QModelIndex& i : {data, a, b, top})
            EXPECT_EQ(f.tvFiles->visualRect(i).height(), 13);
        const QImage shot =
            f.tvFiles->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QRgb base = f.tvFiles->palette().color(QPalette::Base).rgb();
        // Pixels other than the background in a column; adjacent ones would be no dotted line.
        auto inkInColumn = [&](int x, int y0, int y1, bool* solid = nullptr) {
            int ink = 0;
            for (int y = y0; y <= y1; ++y) {
                const bool here = shot.pixel(x, y) != base;
                if (here && solid && y > y0 && shot.pixel(x, y - 1) != base) *solid = true;
                ink += here;
            }
            return ink;
        };
        const QRect ra = f.tvFiles->visualRect(a), rb = f.tvFiles->visualRect(b),
                    rdata = f.tvFiles->visualRect(data), rtop = f.tvFiles->visualRect(top);
        // The children's line: under the parent, down through A to B's middle, and into each child.
        const int childX = ra.left() - indent + indent / 2;
        bool solid = false;
        EXPECT_GE(inkInColumn(childX, ra.top(), rb.center().y(), &solid), 7);
        EXPECT_FALSE(solid);
        int across = 0;
        for (int x = childX + 2; x < ra.left(); ++x) across += shot.pixel(x, ra.top() + 6) != base;
        EXPECT_GE(across, 3);
        // The root line passes the children on its way from DATA to TOP.
        const int rootX = rdata.left() - indent + indent / 2;
        EXPECT_GE(inkInColumn(rootX, ra.top(), rb.bottom()), 10);
        EXPECT_GE(inkInColumn(rootX, rtop.top(), rtop.top() + 5), 2);
        // DATA's expand button: a box around its line, with a minus (open).
        const int midY = rdata.top() + 6;
        for (const QPoint p :
             {QPoint(rootX - 4, midY), QPoint(rootX + 4, midY), QPoint(rootX, midY - 4),
              QPoint(rootX, midY + 4), QPoint(rootX - 2, midY), QPoint(rootX + 2, midY)})
            EXPECT_NE(shot.pixel(p), base) << p.x() << "," << p.y();
        EXPECT_EQ(shot.pixel(rootX, midY - 2), base);
        EXPECT_EQ(shot.pixel(rootX - 3, midY - 3), base);
        f.tvFiles->collapse(data);
        const QImage closed =
            f.tvFiles->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_NE(closed.pixel(rootX, midY - 2), base);  // plus when closed
        f.tvFiles->expand(data);
        f.tvFiles->setStyle(nullptr);
    }
}

// Renders the window on the demo archive to PNG files (into VORLR_SCREENSHOT_DIR when set).
TEST_F(MainWindow, ScreenshotOfTheDemoArchive) {
    const std::string demo = samples::writeDemo(dir.path());
    const char* outDir = std::getenv("VORLR_SCREENSHOT_DIR");
    const std::string out = outDir && *outDir ? std::string(outDir) : dir.path();
    TForm1 f;
    f.show();
    ASSERT_EQ(f.cbFiles->count(), 1);
    const QImage before = f.grab().toImage();
    choose(f, 0);
    f.tvFiles->expandAll();
    auto selectNamed = [&](const char* name) {
        const QModelIndexList found = f.treeModel()->match(
            f.treeModel()->index(0, 0), Qt::DisplayRole, QString::fromLatin1(name), 1,
            Qt::MatchStartsWith | Qt::MatchRecursive);
        ASSERT_EQ(found.size(), 1) << name;
        f.tvFiles->setCurrentIndex(found[0]);
    };
    selectNamed("README.TXT");
    EXPECT_EQ(f.state.CurrentEntryName, "README.TXT");
    const QImage after = f.grab().toImage();
    EXPECT_EQ(after.size(), QSize(800, 600));
    EXPECT_NE(before, after);
    EXPECT_TRUE(before.save(QString::fromStdString(out + "/vorlr-start.png")));
    EXPECT_TRUE(after.save(QString::fromStdString(out + "/vorlr-demo.png")));
    selectNamed("SKY.KMG");
    EXPECT_EQ(f.PageControl1->currentWidget(), f.tsImage);
    EXPECT_TRUE(f.grab().toImage().save(QString::fromStdString(out + "/vorlr-image-page.png")));
    // Viewing the dialog background makes BACK.BMP; the next activation tiles it.
    selectNamed("DIALOGBACKGROUND_LIGHT.KMG");
    EXPECT_TRUE(fileExists("BACK.BMP"));
    ASSERT_TRUE(testing::returnFromMessageBox(f));
    EXPECT_TRUE(f.imBack->isVisible());
    EXPECT_TRUE(f.grab().toImage().save(QString::fromStdString(out + "/vorlr-background.png")));
    EXPECT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
}

}  // namespace
}  // namespace vorlr
