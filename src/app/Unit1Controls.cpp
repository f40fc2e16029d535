// The window's controls as its form lays them out, and its keys.
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>

#include "app/ArchiveComparison.h"
#include "app/ArchiveLayers.h"
#include "app/BytesPage.h"
#include "app/ExternalEditing.h"
#include "app/FileTreeView.h"
#include "app/ContentFind.h"
#include "app/FindBar.h"
#include "app/FolderPictures.h"
#include "app/EntryPages.h"
#include "app/FolderTreeModel.h"
#include "app/ImagePage.h"
#include "app/ImageView.h"
#include "app/MediaPage.h"
#include "app/TextPage.h"
#include "app/TreeViewSwap.h"
#include "edit/Layers.h"
#include "app/Unit1.h"
#include "platform/gui/Dialogs.h"

namespace vorlr {
namespace {

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, int x, int y,
                        int w, int h) {
    auto* b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(x, y, w, h);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

void TForm1::buildMainPanel() {
    paMain = new QFrame(this);
    paMain->setObjectName(QStringLiteral("paMain"));
    paMain->setFrameStyle(QFrame::NoFrame);
    paMain->setGeometry(0, 0, 800, 600);

    imBack = new ImageView(paMain);
    imBack->setObjectName(QStringLiteral("imBack"));
    imBack->setGeometry(0, 0, 800, 600);
    imBack->hide();  // until there is a background: the panel shows its plain colour

    cbFiles = new QComboBox(paMain);
    cbFiles->setObjectName(QStringLiteral("cbFiles"));
    cbFiles->setEditable(false);
    cbFiles->setGeometry(10, 10, 200, 21);
    buBrowse = makeButton(paMain, "buBrowse", "Browse", 220, 10, 100, 25);
    buSave = makeButton(paMain, "buSave", "Save", 330, 10, 100, 25);
    Button1 = makeButton(paMain, "Button1", "Testing", 440, 10, 100, 25);
    Button1->hide();
    buQuit = makeButton(paMain, "buQuit", "Quit", 690, 10, 100, 25);
}

void TForm1::buildTree() {
    tvFiles = new FileTreeView(paMain);
    tvFiles->setObjectName(QStringLiteral("tvFiles"));
    tvFiles->setGeometry(10, 40, 200, 520);
    tvFiles->setHeaderHidden(true);
    tvFiles->setIndentation(19);
    tvFiles->setRootIsDecorated(true);
    tvFiles->setItemsExpandable(true);
    tvFiles->setSortingEnabled(false);
    tvFiles->setUniformRowHeights(true);
    tvFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    tvFiles->setEditTriggers(QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::SelectedClicked);
    tvFiles->setModel(model_.get());
}

void TForm1::buildPages() {
    PageControl1 = new QTabWidget(paMain);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(220, 40, 570, 520);
    tsText = new QWidget;
    tsText->setObjectName(QStringLiteral("tsText"));
    tsImage = new QWidget;
    tsImage->setObjectName(QStringLiteral("tsImage"));
    tsMedia = new QWidget;
    tsMedia->setObjectName(QStringLiteral("tsMedia"));
    PageControl1->addTab(tsText, QStringLiteral("Text"));
    PageControl1->addTab(tsImage, QStringLiteral("Image"));
    PageControl1->addTab(tsMedia, QStringLiteral("Media"));
}

void TForm1::buildLoadPanel() {
    paLoad = new QFrame(this);
    paLoad->setObjectName(QStringLiteral("paLoad"));
    paLoad->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    paLoad->setAutoFillBackground(true);
    paLoad->setGeometry(200, 270, 400, 60);
    laLoad = new QLabel(paLoad);
    laLoad->setObjectName(QStringLiteral("laLoad"));
    laLoad->move(10, 10);
    pbLoad = new QProgressBar(paLoad);
    pbLoad->setObjectName(QStringLiteral("pbLoad"));
    pbLoad->setGeometry(10, 30, 320, 20);
    pbLoad->setTextVisible(false);
    buStop = makeButton(paLoad, "buStop", "Stop", 340, 10, 50, 40);
    paLoad->hide();
}

void TForm1::buildTreeViews(const std::function<void(NodeId)>& showEntry) {
    auto showOther = [this](const std::string& name, std::unique_ptr<ByteSource> bytes,
                            int64_t size, int32_t offset) {
        showOtherEntry(name, std::move(bytes), size, offset);
    };
    auto* swap = new TreeViewSwap(*tvFiles, *model_, this);
    comparison_ = new ArchiveComparison({this, paMain, tvFiles, model_.get(), &tree_, &state,
                                         &work_, session_.get(), editor_, findBar_, swap,
                                         showEntry, showOther});
    layers_ = new ArchiveLayers({this, paMain, tvFiles, &state, &work_, session_.get(), editor_,
                                 findBar_, comparison_, swap, showEntry, showOther,
                                 [this](std::unique_ptr<ByteSource> bytes, int64_t held,
                                        int64_t size) {
                                     bytesPage_->showBytes(std::move(bytes), held, size);
                                 },
                                 [this] {
                                     if (bytesPage_) bytesPage_->leave();  // gone first on close
                                 },
                                 [this](std::string folder, std::vector<PictureItem> items,
                                        PictureBytesFor bytes,
                                        std::function<void(const PictureItem&)> pick) {
                                     pages_->image()->showPictures(std::move(folder), std::move(items),
                                                                   std::move(bytes), std::move(pick));
                                 },
                                 [this] {
                                     if (folderPictures_) folderPictures_->close();
                                 },
                                 {}});
    // Files dropped on the merged tree go to the top layer.
    external_->otherViewDrop = [this](const QModelIndex& at, const std::vector<std::string>& paths,
                                      bool dropped) { return layers_->dropFiles(at, paths, dropped); };
}

void TForm1::buildContentFind() {
    contentFind_ = new ContentFind({paMain, tvFiles, model_.get(), &tree_, session_.get(), textPage()->reText(),
                                    [this](NodeId node) { guarded([&] { tvFilesChange(node); }, this); },
                                    [this] { findBar_->closeBar(); }});
    editor_->searchOpen = [this] { return contentFind_ && contentFind_->isOpen(); };
    editor_->placeSearch = [this](bool changes) {
        if (contentFind_) contentFind_->placeBesideChanges(changes);
    };
    contentFind_->shownOrHidden = [this] { editor_->refreshBar(); };
    // In the layered view Find in contents searches the winners.
    layers_->viewChanged = [this] {
        if (!contentFind_) return;  // the window is going
        if (!layers_->active()) return contentFind_->searchIn(nullptr, nullptr, {});
        contentFind_->searchIn(layers_->model(), &layers_->layers()->tree(),
                               [this] { return layers_->layers()->searchEntries(); });
    };
    contentFind_->mergedShow = [this](NodeId node) { layers_->show(node); };
}

// Every command has a key. The window's keys belong to paMain, so a disabled main panel
// (a directory loading) silences them; Escape belongs to the loading panel.
void TForm1::buildShortcuts() {
    auto key = [this](QWidget* owner, const QKeySequence& seq, std::function<void()> run) {
        auto* s = new QShortcut(seq, owner);
        s->setContext(Qt::WindowShortcut);
        s->setAutoRepeat(false);
        connect(s, &QShortcut::activated, this, [this, run] { guarded(run, this); });
        return s;
    };
    key(paMain, QKeySequence(Qt::CTRL | Qt::Key_O), [this] { buBrowse->click(); });
    key(paMain, QKeySequence(Qt::CTRL | Qt::Key_S), [this] { buSave->click(); });
    key(paMain, QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { buQuit->click(); });
    key(paMain, QKeySequence(Qt::CTRL | Qt::Key_L), [this] { cbFiles->setFocus(Qt::ShortcutFocusReason); });
    key(paMain, QKeySequence(Qt::CTRL | Qt::Key_T), [this] { tvFiles->setFocus(Qt::ShortcutFocusReason); });
    key(paMain, QKeySequence(Qt::CTRL | Qt::Key_F), [this] {
        contentFind_->closeSearch();
        findBar_->open();
    });
    key(paMain, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), [this] { contentFind_->open(); });
    key(paMain, QKeySequence(Qt::CTRL | Qt::Key_G), [this] {
        if (layers_->active()) return layers_->showPictures(layers_->currentNode());
        folderPictures_->showCurrent();
    });
    key(paMain, QKeySequence(Qt::CTRL | Qt::Key_B), [this] {
        if (layers_->active()) return layers_->showBytes(layers_->currentNode());
        bytesPage_->showCurrent();
    });
    key(paMain, QKeySequence(Qt::CTRL | Qt::Key_N), [this] { newArchive(); });
    key(paMain, QKeySequence(Qt::CTRL | Qt::Key_E), [this] {
        if (layers_->active()) return layers_->extract();
        if (const NodeId node = selectedNode(); node != kNoNode) tvFilesExtract(node);
    });
    key(paMain, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O),
        [this] { external_->openInDefaultApplication(selectedNode()); });
    for (int page = 0; page < 3; ++page)
        key(paMain, QKeySequence(Qt::CTRL | (Qt::Key_1 + page)),
            [this, page] { PageControl1->setCurrentIndex(page); });
    key(paMain, QKeySequence(Qt::CTRL | Qt::Key_Period), [this] { mediaPage()->MediaStopKey(); });
    key(paLoad, QKeySequence(Qt::Key_Escape), [this] { buStop->click(); });

    // Space and S belong to the focused control elsewhere (a button, the tree's type-ahead, the
    // list): they act only while the focus is inside the Media page.
    for (QShortcut* s :
         {key(tsMedia, QKeySequence(Qt::Key_Space), [this] { mediaPage()->MediaPlayPauseKey(); }),
          key(tsMedia, QKeySequence(Qt::Key_S), [this] { mediaPage()->MediaStopKey(); })})
        s->setContext(Qt::WidgetWithChildrenShortcut);
}

}  // namespace vorlr
