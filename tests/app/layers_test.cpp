// "Open patch archive over this..." in the window: two patch archives over the loaded one by
// Ctrl+P; the tree's winners and marks, the top row's line, a hidden version's bytes on the
// page, Extract... and "Save merged as..." of what the tree shows (qar merge's bytes, with and
// without case), the loaded archive's edits kept off the merged tree and no file changed;
// "Remove layer" down to the base brings the tree back exactly.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/ArchiveComparison.h"
#include "app/ArchiveEditor.h"
#include "app/ArchiveLayers.h"
#include "app/BytesPage.h"
#include "app/BytesView.h"
#include "app/ContentFind.h"
#include "app/FindBar.h"
#include "app/FolderTreeModel.h"
#include "app/ImagePage.h"
#include "app/PictureGrid.h"
#include "app/TextPage.h"
#include "app/Unit1.h"
#include "archive/ArchiveChanges.h"
#include "edit/Layers.h"
#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "platform/Text.h"
#include "support/QarRun.h"
#include "support/CoreApp.h"
#include "support/Drops.h"
#include "support/Entries.h"
#include "support/StackedArchives.h"
#include "support/WindowTest.h"

namespace vorlr {
namespace {

namespace fs = std::filesystem;
using testing::runQar;

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class LayersWindow : public testing::WindowTest {
protected:
    void SetUp() override {
        paths = testing::writeStacked(dir);
        for (const std::string& p : paths) before.push_back(fileBytes(p));
        f = std::make_unique<TForm1>();
        f->OpenArchive(paths[0]);
        ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
        f->show();
        QApplication::setActiveWindow(f.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(f.get()));
    }
    void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(f->tvFiles, Qt::Key(k), mods);
    }
    ArchiveLayers& layers() { return *f->layers(); }
    QAbstractItemModel& shown() { return *f->tvFiles->model(); }
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
    void addLayer(const std::string& path) {
        dialogs.answers.push_back(path);
        key(Qt::Key_P, Qt::ControlModifier);
    }
    // Drops files on a row of the shown tree as a file manager would; the row marked meanwhile.
    bool dropOn(const QModelIndex& index, const std::vector<std::string>& files, bool* marked) {
        f->tvFiles->scrollTo(index);
        const QPoint at = f->tvFiles->visualRect(index).center();
        return testing::dropFiles(f->tvFiles->viewport(), at, files, [&] {
            *marked = index.data(FolderTreeModel::kDropTargetRole).toBool();
        });
    }
    std::string pageText() { return f->textPage()->reText()->toPlainText().toStdString(); }
    // The layered menu's item of that text (in the submenu when one is named).
    QAction* item(QMenu& menu, const QString& text, const QString& submenu = {}) {
        for (QAction* a : menu.actions()) {
            if (!submenu.isEmpty() && a->menu() && a->text() == submenu)
                return item(*a->menu(), text);
            if (submenu.isEmpty() && a->text() == text) return a;
        }
        ADD_FAILURE() << text.toStdString();
        static QAction none;
        return &none;
    }
    void trigger(const QString& text, const QString& submenu = {}) {
        QMenu menu;
        layers().addLayeredItems(menu, layers().currentNode());
        item(menu, text, submenu)->trigger();
    }
    std::string qarMerge(bool ignoreCase) {
        const std::string out = dir.file(ignoreCase ? "ref-folded.qar" : "ref.qar");
        std::vector<std::string> args{"merge", paths[0], paths[1], paths[2], "-o", out};
        if (ignoreCase) args.push_back("--ignore-case");
        EXPECT_EQ(runQar(args).status, 0);
        return fileBytes(out);
    }

    std::unique_ptr<TForm1> f;
    std::vector<std::string> paths, before;
};

TEST_F(LayersWindow, PatchesOverTheLoadedArchiveAndBackToIt) {
    // The tree as the user left it: a folder open, an entry current, scrolled a little.
    f->tvFiles->expand(row("DATA"));
    f->tvFiles->setCurrentIndex(row("DATA\\KEEP.TXT"));
    f->tvFiles->verticalScrollBar()->setValue(1);
    f->tvFiles->setFocus();
    const int scrolled = f->tvFiles->verticalScrollBar()->value();
    const NodeId keep = f->treeModel()->nodeOf(f->tvFiles->currentIndex());
    ASSERT_NE(keep, kNoNode);
    const QImage tree = f->tvFiles->grab().toImage();
    QItemSelectionModel* selection = f->tvFiles->selectionModel();
    QMenu plain;
    layers().addMenuItems(plain);
    ASSERT_EQ(plain.actions().size(), 1);
    EXPECT_EQ(plain.actions()[0]->text(), QStringLiteral("Open patch archive over this..."));
    EXPECT_EQ(plain.actions()[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));

    addLayer(paths[1]);
    addLayer(paths[2]);
    ASSERT_TRUE(layers().active());
    ASSERT_EQ(&shown(), layers().model());
    EXPECT_TRUE(dialogs.infos.empty());
    EXPECT_TRUE(layers().line()->isVisible());
    EXPECT_TRUE(layers().line()->toolTip().startsWith(
        QStringLiteral("3 layers: layer0.qar + layer1.qar + layer2.qar")));

    // The winner on the page; the line names its layer and what it hides; marks on hiders only.
    f->tvFiles->setCurrentIndex(row("DATA\\SUB\\DEEP\\X.TXT"));
    EXPECT_EQ(pageText(), "L2#0");
    EXPECT_TRUE(layers().line()->toolTip().endsWith(
        QStringLiteral("\nfrom layer2.qar, hides layer0.qar, layer1.qar")))
        << layers().line()->toolTip().toStdString();
    EXPECT_TRUE(f->tvFiles->currentIndex().data(FolderTreeModel::kMarkedRole).toBool());
    EXPECT_FALSE(row("DATA\\KEEP.TXT").data(FolderTreeModel::kMarkedRole).toBool());
    EXPECT_TRUE(row("NEW2\\Y.TXT").isValid());
    EXPECT_FALSE(row("FILE\\UNDER.TXT").isValid());

    // A hidden version's bytes, and the winner again.
    trigger(QStringLiteral("layer0.qar"), QStringLiteral("Show hidden versions"));
    EXPECT_EQ(pageText(), "L0#2");
    EXPECT_TRUE(layers().line()->toolTip().endsWith(
        QStringLiteral("; shown: layer0.qar's hidden version")));
    trigger(QStringLiteral("layer1.qar"), QStringLiteral("Show hidden versions"));
    EXPECT_EQ(pageText(), "L1#2");
    trigger(QStringLiteral("layer2.qar"), QStringLiteral("Show hidden versions"));
    EXPECT_EQ(pageText(), "L2#0");

    // Show bytes: of the version on the page; selecting the entry again goes back to its page.
    BytesPage& bytes = *f->bytesPage();
    key(Qt::Key_B, Qt::ControlModifier);
    ASSERT_TRUE(bytes.shown());
    bytes.view()->selectAll();
    EXPECT_EQ(bytes.view()->selectionAs(CopyAs::Text), QStringLiteral("L2#0"));
    trigger(QStringLiteral("layer1.qar"), QStringLiteral("Show hidden versions"));
    EXPECT_FALSE(bytes.shown());
    trigger(QStringLiteral("Show bytes"));
    ASSERT_TRUE(bytes.shown());
    bytes.view()->selectAll();
    EXPECT_EQ(bytes.view()->selectionAs(CopyAs::Text), QStringLiteral("L1#2"));
    trigger(QStringLiteral("layer2.qar"), QStringLiteral("Show hidden versions"));
    EXPECT_FALSE(bytes.shown());

    // Delete edits the top layer (what it hid shows), Ctrl+Z takes it back; the loaded
    // archive is untouched, and Ctrl+D starts no comparison.
    key(Qt::Key_Delete);
    EXPECT_EQ(pageText(), "L1#2");
    EXPECT_TRUE(layers().layers()->pending());
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(pageText(), "L2#0");
    EXPECT_FALSE(layers().layers()->pending());
    key(Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(f->editor()->changes()->changeCount(), 0u);
    EXPECT_FALSE(f->comparison()->active());
    ASSERT_EQ(dialogs.infos.size(), 1u);  // said, not silently ignored
    EXPECT_TRUE(dialogs.infos.back().starts_with("Comparing works on the loaded archive alone"));
    dialogs.infos.clear();
    EXPECT_TRUE(layers().active());

    // Extract... of a folder writes its winners.
    const std::string out = dir.file("out");
    dialogs.folders.push_back(out);
    f->tvFiles->setCurrentIndex(row("DATA"));
    trigger(QStringLiteral("Extract..."));
    EXPECT_EQ(fileBytes(out + "/DATA/A.TXT"), "L1#0");
    EXPECT_EQ(fileBytes(out + "/DATA/KEEP.TXT"), "L0#3");
    EXPECT_EQ(fileBytes(out + "/DATA/SUB/B.TXT"), "L1#7");
    EXPECT_EQ(fileBytes(out + "/DATA/SUB/DEEP/X.TXT"), "L2#0");
    EXPECT_FALSE(fs::exists(out + "/ROOT.TXT"));

    // "Save merged as...": qar merge's bytes, with case and without.
    for (const bool ignoreCase : {false, true}) {
        SCOPED_TRACE(ignoreCase ? "ignore case" : "exact");
        if (ignoreCase) trigger(QStringLiteral("Ignore case of A\u2013Z"));
        EXPECT_EQ(layers().layers()->ignoreCase(), ignoreCase);
        const std::string saved = dir.file(ignoreCase ? "folded.qar" : "merged.qar");
        dialogs.saveNames.push_back(saved);
        trigger(QStringLiteral("Save merged as..."));
        EXPECT_EQ(fileBytes(saved), qarMerge(ignoreCase));
    }
    // With case ignored, Extract... writes each winner where the merged tree shows it:
    // data\keep.txt in DATA, beside the others.
    const std::string folded = dir.file("folded-out");
    dialogs.folders.push_back(folded);
    f->tvFiles->setCurrentIndex(row("DATA"));
    trigger(QStringLiteral("Extract..."));
    EXPECT_EQ(fileBytes(folded + "/DATA/keep.txt"), "L2#4");
    EXPECT_EQ(fileBytes(folded + "/DATA/SUB/DEEP/X.TXT"), "L2#0");
    EXPECT_FALSE(fs::exists(folded + "/data"));
    EXPECT_FALSE(fs::exists(folded + "/DATA/KEEP.TXT"));
    // Over one of the layers: refused, nothing written.
    dialogs.saveNames.push_back(paths[1]);
    trigger(QStringLiteral("Save merged as..."));
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_NE(dialogs.errors[0].find("is one of the archives merged"), std::string::npos);

    // Remove layer: the top one, then the last, and the tree is as it was (the focus back in it
    // after the progress dialogs).
    QApplication::setActiveWindow(f.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(f.get()));
    f->tvFiles->setFocus();
    f->tvFiles->setCurrentIndex(row("DATA\\SUB\\DEEP\\X.TXT"));
    trigger(QStringLiteral("Remove layer"));
    ASSERT_TRUE(layers().active());
    EXPECT_TRUE(layers().line()->toolTip().startsWith(QStringLiteral("2 layers: layer0.qar + layer1.qar\n")));
    EXPECT_EQ(f->tvFiles->currentIndex(), row("DATA\\SUB\\DEEP\\X.TXT"));
    EXPECT_EQ(pageText(), "L1#2");
    EXPECT_FALSE(row("NEW2").isValid());
    key(Qt::Key_B, Qt::ControlModifier);  // a layer's bytes go with the layers
    ASSERT_TRUE(bytes.shown());
    f->tvFiles->setFocus();  // as the right click that opens the tree's menu
    trigger(QStringLiteral("Remove layer"));
    EXPECT_FALSE(bytes.shown());
    EXPECT_FALSE(layers().active());
    EXPECT_EQ(&shown(), f->treeModel());
    EXPECT_EQ(f->tvFiles->selectionModel(), selection);
    EXPECT_EQ(f->treeModel()->nodeOf(f->tvFiles->currentIndex()), keep);
    EXPECT_TRUE(f->tvFiles->isExpanded(row("DATA")));
    EXPECT_EQ(f->tvFiles->verticalScrollBar()->value(), scrolled);
    EXPECT_FALSE(layers().line()->isVisible());
    EXPECT_EQ(pageText(), "L0#3");
    EXPECT_EQ(f->tvFiles->grab().toImage(), tree);
    for (size_t l = 0; l < paths.size(); ++l) EXPECT_EQ(fileBytes(paths[l]), before[l]) << l;
}

TEST_F(LayersWindow, EditsGoToTheTopLayerAndSaveWritesItsFileAlone) {
    addLayer(paths[1]);
    addLayer(paths[2]);
    ASSERT_TRUE(layers().active());
    // A lower layer's winner cannot be deleted from here.
    f->tvFiles->setCurrentIndex(row("ROOT.TXT"));
    key(Qt::Key_Delete);
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_NE(dialogs.errors[0].find("comes from layer1.qar"), std::string::npos) << dialogs.errors[0];
    EXPECT_FALSE(layers().layers()->pending());

    f->tvFiles->setCurrentIndex(row("DATA\\SUB\\DEEP\\X.TXT"));
    key(Qt::Key_Delete);
    EXPECT_EQ(pageText(), "L1#2");
    EXPECT_TRUE(layers().line()->toolTip().contains(QStringLiteral("layer2.qar: 1 unsaved change")));
    // Leaving asks first: Cancel keeps the layer and its change.
    dialogs.choices.push_back(2);
    trigger(QStringLiteral("Remove layer"));
    EXPECT_EQ(dialogs.questions.back(), "Save changes to layer2.qar?");
    EXPECT_EQ(layers().layers()->count(), 3u);
    EXPECT_TRUE(layers().layers()->pending());

    // A file dropped on a lower layer's entry replaces it in the top layer; a drop on a folder
    // is refused, the loaded archive left alone.
    samples::writeFile(dir.file("dropped.txt"), samples::bytesOf("DROPPED"));
    bool marked = false;
    f->tvFiles->expandAll();
    EXPECT_TRUE(dropOn(row("ROOT.TXT"), {dir.file("dropped.txt")}, &marked));
    EXPECT_TRUE(marked);
    EXPECT_EQ(layers().layers()->top()->changes()->changeCount(), 2u);
    f->tvFiles->setCurrentIndex(row("ROOT.TXT"));
    EXPECT_EQ(pageText(), "DROPPED");
    dialogs.infos.clear();
    EXPECT_TRUE(dropOn(row("DATA"), {dir.file("dropped.txt")}, &marked));
    EXPECT_FALSE(marked);
    ASSERT_EQ(dialogs.infos.size(), 1u);
    EXPECT_NE(dialogs.infos[0].find("Remove the layers to add files"), std::string::npos);
    EXPECT_EQ(f->editor()->changes()->changeCount(), 0u);
    EXPECT_EQ(layers().layers()->top()->changes()->changeCount(), 2u);
    // Update from folder would change the loaded archive under the layers (and end them).
    dialogs.infos.clear();
    key(Qt::Key_U, Qt::ControlModifier);
    ASSERT_EQ(dialogs.infos.size(), 1u);
    EXPECT_NE(dialogs.infos[0].find("remove the layers"), std::string::npos) << dialogs.infos[0];
    EXPECT_TRUE(layers().active());

    key(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(layers().layers()->pending());
    EXPECT_EQ(fileBytes(paths[0]), before[0]);
    EXPECT_EQ(fileBytes(paths[1]), before[1]);
    EXPECT_NE(fileBytes(paths[2]), before[2]);
    EXPECT_EQ(f->editor()->changes()->changeCount(), 0u);
    EXPECT_EQ(pageText(), "DROPPED");  // now read from the saved file
    const testing::QarResult listed = testing::runQar({"list", paths[2]});
    EXPECT_EQ(listed.out.find("X.TXT"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("ROOT.TXT"), std::string::npos) << listed.out;

    // An entry the top layer alone has goes from the view, and its folder with it: the node now
    // in the folder's place is current (the keys go on from there), and Down moves on from it.
    f->tvFiles->setCurrentIndex(row("NEW2\\Y.TXT"));
    const int folderRow = row("NEW2").row();
    key(Qt::Key_Delete);
    EXPECT_FALSE(row("NEW2").isValid());
    const QModelIndex now = f->tvFiles->currentIndex();
    ASSERT_TRUE(now.isValid());
    EXPECT_EQ(now.parent(), QModelIndex());
    EXPECT_EQ(now.row(), std::min(folderRow, shown().rowCount() - 1));
    const QString there = now.data().toString();
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(row("NEW2").isValid());
    EXPECT_EQ(f->tvFiles->currentIndex().data().toString(), there);  // the same node, not its twin
}

TEST_F(LayersWindow, TheFindBoxFindsInTheMergedTree) {
    addLayer(paths[1]);
    addLayer(paths[2]);
    key(Qt::Key_F, Qt::ControlModifier);
    FindBar& bar = *f->findBar();
    ASSERT_TRUE(bar.isVisible());
    ASSERT_TRUE(layers().active());
    EXPECT_LE(layers().line()->geometry().right(), bar.geometry().left());
    QTest::keyClicks(bar.edit(), QStringLiteral("y.txt"));
    bar.settle();
    EXPECT_EQ(f->tvFiles->currentIndex(), row("NEW2\\Y.TXT"));
    EXPECT_EQ(bar.statusText(), "1 of 1");
    EXPECT_EQ(pageText(), "L2#2");

    // Its count follows the top layer's edits, and the loaded tree once the layers are gone.
    key(Qt::Key_Delete);
    bar.settle();
    EXPECT_EQ(bar.statusText(), "no match");
    key(Qt::Key_Z, Qt::ControlModifier);
    bar.settle();
    EXPECT_NE(bar.statusText(), "no match");
    // DATA\KEEP.TXT and data\keep.txt: two names, one when the layers ignore case.
    f->tvFiles->setCurrentIndex(row("ROOT.TXT"));
    bar.edit()->setText(QStringLiteral("keep"));
    bar.settle();
    EXPECT_EQ(bar.statusText(), "1 of 2");
    trigger(QStringLiteral("Ignore case of A\u2013Z"));
    bar.settle();
    EXPECT_EQ(bar.statusText(), "1 of 1");
    trigger(QStringLiteral("Remove layer"));
    trigger(QStringLiteral("Remove layer"));
    ASSERT_FALSE(layers().active());
    EXPECT_TRUE(bar.isVisible());
    bar.edit()->setText(QStringLiteral("y.txt"));
    bar.settle();
    EXPECT_EQ(bar.statusText(), "no match");
    bar.edit()->setText(QStringLiteral("keep.txt"));
    bar.settle();
    EXPECT_EQ(f->treeModel()->nodeOf(f->tvFiles->currentIndex()),
              f->treeModel()->nodeOf(row("DATA\\KEEP.TXT")));
}

TEST_F(LayersWindow, FindInContentsSearchesTheWinnersAsTheyStand) {
    addLayer(paths[1]);
    addLayer(paths[2]);
    ContentFind& find = *f->contentFind();
    auto search = [&](const char* pattern) {
        find.edit()->setText(QString::fromLatin1(pattern));
        find.start();
        find.settle();
        std::vector<std::string> names;
        for (const ContentResult& r : find.results().rows()) names.push_back(r.name);
        return names;
    };
    // The names whose winner comes from layer, in merged order.
    auto winnersOf = [&](uint32_t layer) {
        std::vector<std::string> names;
        const MergedView& view = layers().layers()->view();
        for (const MergedView::Name& n : view.names())
            if (n.winner.layer == layer) names.emplace_back(view.name(n.winner));
        return names;
    };
    key(Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(find.isOpen());
    EXPECT_EQ(search("L1#"), winnersOf(1));
    EXPECT_EQ(search("L0#"), winnersOf(0));
    ASSERT_EQ(search("L2#"), winnersOf(2));
    ASSERT_FALSE(find.results().rows().empty());

    // A result selects its merged entry; the top layer's pending delete counts at once.
    find.openResult(0);
    EXPECT_EQ(f->tvFiles->currentIndex(), row("DATA\\SUB\\DEEP\\X.TXT"));
    EXPECT_EQ(pageText(), "L2#0");
    f->tvFiles->setFocus();
    key(Qt::Key_Delete);
    ASSERT_TRUE(layers().layers()->pending());
    EXPECT_TRUE(find.results().rows().empty());  // they stood for the tree before
    const std::vector<std::string> found = search("L1#2");
    EXPECT_EQ(found, std::vector<std::string>{"DATA/SUB/DEEP/X.TXT"});  // layer1's own spelling
    EXPECT_TRUE(search("L2#0").empty());

    // Without the layers, the loaded archive's entries again.
    dialogs.choices.push_back(1);  // Discard
    trigger(QStringLiteral("Remove layer"));
    trigger(QStringLiteral("Remove layer"));
    ASSERT_FALSE(layers().active());
    EXPECT_TRUE(search("L1#").empty());
    EXPECT_EQ(search("L0#3"), std::vector<std::string>{"DATA\\KEEP.TXT"});
    find.openResult(0);
    EXPECT_EQ(f->treeModel()->nodeOf(f->tvFiles->currentIndex()),
              f->treeModel()->nodeOf(row("DATA\\KEEP.TXT")));
}

TEST_F(LayersWindow, ShowPicturesShowsTheWinnersAndGoesWithTheLayers) {
    const std::string base = dir.file("gfx0.qar"), patch = dir.file("gfx1.qar");
    samples::writeQar(base, {testing::byteEntry("GFX\\A.TGA", samples::sampleTga(2, 24, 40, 30)),
                             testing::byteEntry("GFX\\B.TGA", samples::sampleTga(2, 24, 40, 30))});
    samples::writeQar(patch, {testing::byteEntry("GFX\\B.TGA", samples::sampleTga(2, 24, 20, 10)),
                              testing::byteEntry("GFX\\C.TGA", samples::sampleTga(2, 24, 8, 8))});
    f->OpenArchive(base);
    addLayer(patch);
    ASSERT_TRUE(layers().active());
    auto grid = [&] { return f->imagePage()->grid(); };
    f->tvFiles->setCurrentIndex(row("GFX\\A.TGA"));
    key(Qt::Key_G, Qt::ControlModifier);
    ASSERT_NE(grid(), nullptr);
    ASSERT_TRUE(testing::runUntil([&] { return grid() && grid()->complete(); }));
    std::vector<std::string> names;
    for (const PictureItem& item : grid()->items()) names.push_back(item.name);
    EXPECT_EQ(names, (std::vector<std::string>{"A.TGA", "B.TGA", "C.TGA"}));
    EXPECT_EQ(grid()->thumbnail(1).size(), QSize(20, 10));  // the patch's B.TGA
    EXPECT_EQ(grid()->thumbnail(2).size(), QSize(8, 8));

    // A pick selects the merged tree's entry; the grid goes with the layers.
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, grid()->cellRect(2).center());
    ASSERT_TRUE(testing::runUntil([&] { return grid() == nullptr; }));
    EXPECT_EQ(f->tvFiles->currentIndex(), row("GFX\\C.TGA"));
    key(Qt::Key_G, Qt::ControlModifier);
    ASSERT_NE(grid(), nullptr);
    trigger(QStringLiteral("Remove layer"));
    EXPECT_FALSE(layers().active());
    EXPECT_EQ(grid(), nullptr);
}

TEST_F(LayersWindow, PendingChangesAndUnreadableArchivesAddNoLayer) {
    addLayer(dir.file("missing.qar"));
    EXPECT_FALSE(layers().active());
    samples::writeFile(dir.file("short.qar"), samples::bytesOf("not an archive"));
    addLayer(dir.file("short.qar"));
    EXPECT_FALSE(layers().active());
    EXPECT_EQ(&shown(), f->treeModel());

    f->tvFiles->setCurrentIndex(row("ROOT.TXT"));
    key(Qt::Key_Delete);
    ASSERT_EQ(f->editor()->changes()->changeCount(), 1u);
    dialogs.infos.clear();
    addLayer(paths[1]);
    EXPECT_FALSE(layers().active());
    ASSERT_EQ(dialogs.infos.size(), 1u);
    EXPECT_NE(dialogs.infos[0].find("unsaved changes"), std::string::npos);
}

}  // namespace
}  // namespace vorlr
