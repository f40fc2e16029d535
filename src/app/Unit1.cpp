#include "app/Unit1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include <cstdio>

#include "app/ArchiveComparison.h"
#include "app/ArchiveLayers.h"
#include "app/ArchiveEditor.h"
#include "app/ArchiveList.h"
#include "app/BytesPage.h"
#include "app/EntryPages.h"
#include "app/ExternalEditing.h"
#include "app/ExtractRun.h"
#include "app/FileTreeView.h"
#include "app/ContentFind.h"
#include "app/FindBar.h"
#include "app/TextPage.h"
#include "app/FolderPictures.h"
#include "app/UpdateFromFolder.h"
#include "app/FolderTreeModel.h"
#include "app/ImagePage.h"
#include "app/ImageView.h"
#include "app/LoadingRun.h"
#include "app/MediaPage.h"
#include "app/PageContext.h"
#include "app/StatusBar.h"
#include "app/WindowActivation.h"
#include "archive/Container.h"
#include "archive/DirectoryLoader.h"
#include "archive/EntryKind.h"
#include "archive/Extract.h"
#include "edit/EditSession.h"
#include "platform/gui/BitmapQt.h"
#include "platform/gui/Dialogs.h"
#include "platform/Errors.h"
#include "platform/RuntimeFile.h"
#include "platform/Text.h"

namespace vorlr {
namespace {

const char* const kListFile = "VORLR.LST";
const char* const kBackgroundFile = "BACK.BMP";
const char* const kBackgroundEntry = "DIALOGBACKGROUND_LIGHT.KMG";

// Entry names come from archives and from labels the user edited: keep what Save writes a plain
// file name in the current directory.
std::string plainFileName(std::string name) {
    for (char& c : name)
        if (c == '/' || c == '\\' || c == '\0') c = '_';
    return name;
}

std::string hex32(int32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(static_cast<uint32_t>(value)));
    return buf;
}

// The one local file a drag carries, or empty.
QString droppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls()) return {};
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile()) return {};
    return urls.first().toLocalFile();
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("Form1"));
    setFixedSize(800, 600);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    session_ = std::make_unique<EditSession>();
    model_ = std::make_unique<FolderTreeModel>(tree_);
    buildControls();
    guarded([this] { FormCreate(); }, this);
}

TForm1::~TForm1() {
    guarded([this] { FormDestroy(); }, nullptr);
    // They refer to the model, the tree view, the find box and the archive; the search reads
    // the entries.
    delete contentFind_;
    contentFind_ = nullptr;
    delete bytesPage_;
    bytesPage_ = nullptr;
    delete layers_;
    layers_ = nullptr;
    delete comparison_;
    comparison_ = nullptr;
    delete external_;
    external_ = nullptr;
    delete editor_;
    editor_ = nullptr;
    // The pages and the model go while the controls they refer to still exist.
    tvFiles->setModel(nullptr);
    pages_.reset();
}

TextPage* TForm1::textPage() const { return pages_ ? pages_->text() : nullptr; }
ImagePage* TForm1::imagePage() const { return pages_ ? pages_->image() : nullptr; }
MediaPage* TForm1::mediaPage() const { return pages_ ? pages_->media() : nullptr; }

void TForm1::buildControls() {
    buildMainPanel();
    buildTree();
    buildPages();
    StatusBar1 = new StatusBar(paMain);
    StatusBar1->setGeometry(10, 570, 780, 20);
    buildLoadPanel();

    // Keyboard order among siblings.
    setTabOrder(buBrowse, buSave);
    setTabOrder(buSave, buQuit);
    setTabOrder(buQuit, cbFiles);
    setTabOrder(cbFiles, tvFiles);
    setTabOrder(tvFiles, PageControl1);
    setTabOrder(PageControl1, Button1);
    setTabOrder(paMain, paLoad);
    setTabOrder(pbLoad, buStop);

    const PageContext context{state, *StatusBar1, *PageControl1};
    pages_ = std::make_unique<EntryPages>(tsText, tsImage, tsMedia, context);
    PageControl1->setCurrentWidget(tsText);
    pages_->image()->afterKmgDecoded = [this] { captureBackground(); };
    findBar_ = new FindBar(paMain, *tvFiles, *model_, tree_, state.archive);
    ArchiveEditor::Window editing{this, paMain, tvFiles, model_.get(), &tree_, &state, &work_, findBar_, session_.get(), {}, {}, {}};
    editing.quietly = [this](const std::function<void()>& f) {
        selectionAttached_ = false;
        try {
            f();
        } catch (...) {
            selectionAttached_ = true;
            throw;
        }
        selectionAttached_ = true;
    };
    editing.showEntry = [this](NodeId node) { tvFilesChange(node); };
    editing.load = [this](const std::string& path, bool addToList) {
        if (addToList)
            AddToListAndLoad(path);
        else
            cbFilesChange();
    };
    editor_ = new ArchiveEditor(editing);
    external_ = new ExternalEditing(*editor_, editing);
    updateFromFolder_ = new UpdateFromFolder(*editor_, *this, *paMain, *tvFiles, *model_, tree_);
    session_->onEnd([this] { external_->forget(); });
    tvFiles->setDragEnabled(true);
    static_cast<FileTreeView*>(tvFiles)->dragOut = [this] {
        guarded([this] { external_->dragOut(selectedNode()); }, this);
    };
    folderPictures_ = new FolderPictures(*pages_->image(), *tvFiles, *model_, tree_, *session_,
                                         [this](NodeId node) { guarded([&] { tvFilesChange(node); }, this); });
    session_->onTreeRebuilding([this] { folderPictures_->close(); });
    bytesPage_ = new BytesPage(*PageControl1, *tvFiles, *model_, tree_, *session_);
    session_->onTreeRebuilding([this] { bytesPage_->leave(); });
    session_->onEnd([this] { bytesPage_->leave(); });
    buildTreeViews(editing.showEntry);
    buildContentFind();
    connectHandlers();
}

void TForm1::connectHandlers() {
    connect(buBrowse, &QPushButton::clicked, this, [this] { guarded([this] { buBrowseClick(); }, this); });
    connect(buSave, &QPushButton::clicked, this, [this] { guarded([this] { buSaveClick(); }, this); });
    connect(Button1, &QPushButton::clicked, this, [this] { guarded([this] { Button1Click(); }, this); });
    connect(buQuit, &QPushButton::clicked, this, [this] { guarded([this] { buQuitClick(); }, this); });
    connect(buStop, &QPushButton::clicked, this, [this] { guarded([this] { buStopClick(); }, this); });
    connect(cbFiles, &QComboBox::activated, this, [this] {
        guarded([this] {
            if (work_ == WindowWork::Idle && !editor_->confirmLeave()) {
                cbFiles->setCurrentIndex(loadedItem_);  // Cancel: the list as it was
                return;
            }
            cbFilesChange();
        }, this);
    });
    connect(tvFiles->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { selectionChanged(model_->nodeOf(current)); });

    tvFiles->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tvFiles, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { guarded([&] { tvFilesContextMenu(pos); }, this); });
    tvFiles->installEventFilter(this);
    setAcceptDrops(true);
    buildShortcuts();
    activation_ =
        new WindowActivation(*this, [this] { guarded([this] { FormActivate(); }, this); });
}

// The background capture: the first view of DIALOGBACKGROUND_LIGHT.KMG becomes BACK.BMP.
void TForm1::captureBackground() {
    if (!state.HasBackground && state.CurrentEntryName == kBackgroundEntry) {
        buSaveClick();
        ReplaceFile("DIALOGBACKGROUND_LIGHT.BMP", kBackgroundFile);
        state.HasBackground = true;
    }
}

NodeId TForm1::selectedNode() const {
    return model_->nodeOf(tvFiles->currentIndex());
}

void TForm1::tvFilesContextMenu(const QPoint& pos) {
    const QModelIndex at = tvFiles->indexAt(pos);
    const NodeId node = model_->nodeOf(at);
    if (work_ != WindowWork::Idle) return;
    if (layers_->active()) return layers_->showMenu(at, tvFiles->viewport()->mapToGlobal(pos));
    if (node == kNoNode) {
        if (comparison_->active())
            return comparison_->showRowMenu(at, tvFiles->viewport()->mapToGlobal(pos));
        // A new archive takes files where there is no node yet.
        if (!editor_->session().isNew()) return;
        QMenu menu(this);
        updateFromFolder_->addToMenu(menu, kNoNode);
        editor_->addMenuItems(menu, kNoNode);
        menu.exec(tvFiles->viewport()->mapToGlobal(pos));
        return;
    }
    QMenu menu(this);
    QAction* extract = menu.addAction(QStringLiteral("Extract..."));
    connect(extract, &QAction::triggered, this,
            [this, node] { guarded([&] { tvFilesExtract(node); }, this); });
    folderPictures_->addToMenu(menu, node);
    bytesPage_->addToMenu(menu, node);
    updateFromFolder_->addToMenu(menu, node);
    external_->addMenuItems(menu, node);
    comparison_->addMenuItems(menu);
    layers_->addMenuItems(menu);
    menu.addSeparator();
    editor_->addMenuItems(menu, node);
    QAction* fresh = menu.addAction(QStringLiteral("New archive"));
    fresh->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    fresh->setShortcutContext(Qt::WidgetShortcut);  // shown here; the window's key acts
    connect(fresh, &QAction::triggered, this, [this] { guarded([this] { newArchive(); }, this); });
    menu.exec(tvFiles->viewport()->mapToGlobal(pos));
}

// The menu key opens the tree's menu on the current node, wherever the pointer is.
bool TForm1::eventFilter(QObject* watched, QEvent* e) {
    if (watched == tvFiles && e->type() == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(e)->reason() == QContextMenuEvent::Keyboard) {
        const QModelIndex current = tvFiles->currentIndex();
        if (current.isValid()) {
            tvFiles->scrollTo(current);
            const QPoint at = tvFiles->visualRect(current).center();
            guarded([&] { tvFilesContextMenu(at); }, this);
        }
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

void TForm1::tvFilesExtract(NodeId node) {
    if (work_ != WindowWork::Idle || node < 0 || node >= tree_.size()) return;
    if (!state.archive.isOpen()) return;
    // A name edited in the tree does not change its entry.
    std::vector<size_t> selection;
    for (const int32_t entry : tree_.entriesInSubtree(node))
        if (static_cast<size_t>(entry) < state.archive.entryCount())
            selection.push_back(static_cast<size_t>(entry));
    if (selection.empty()) return;

    const std::optional<ExtractTarget> target = dialogs().getExtractTarget(this);
    if (!target) return;
    RunExtraction(this, work_, state.archive, selection, *target, onExtractDispatch);
}

void TForm1::dragEnterEvent(QDragEnterEvent* e) {
    if (work_ == WindowWork::Idle && !droppedFile(e->mimeData()).isEmpty())
        e->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* e) {
    const QString file = droppedFile(e->mimeData());
    if (work_ != WindowWork::Idle || file.isEmpty()) return;
    e->acceptProposedAction();
    // Opened once the drop has returned: the loading panel dispatches events, and the
    // program the file came from should not wait for a long load to finish the drag.
    QTimer::singleShot(0, this, [this, name = file.toLocal8Bit().toStdString()] {
        if (work_ == WindowWork::Idle) guarded([&] { OpenArchive(name); }, this);
    });
}

void TForm1::FormCreate() {
    state.ArchiveNameList.clear();
    state.StartDirectory = currentDirectory();
    if (fileExists(kListFile))
        for (const std::string& item : ReadArchiveList(kListFile)) AddArchiveItem(*cbFiles, item);
    cbFiles->setCurrentIndex(-1);
}

void TForm1::FormDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    state.EntryOffsetTable.clear();
    state.EntryOffsetTable.shrink_to_fit();
    pages_->freeImagePage();  // frees the image views, the first one included
    state.ImageViewList.clear();
    state.FirstView = nullptr;
    state.ArchiveNameList.clear();
    std::vector<std::string> items;
    items.reserve(static_cast<size_t>(cbFiles->count()));
    for (int k = 0; k < cbFiles->count(); ++k) items.push_back(ArchiveItemName(*cbFiles, k));
    WriteArchiveList(state.StartDirectory + "/" + kListFile, items);
}

void TForm1::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (e->spontaneous()) return;
    if (QScreen* s = screen()) {
        QRect r(QPoint(0, 0), size());
        r.moveCenter(s->geometry().center());
        move(r.topLeft());
    }
}

void TForm1::closeEvent(QCloseEvent* e) {
    // A save runs to its end (its Cancel ends it early); pending changes are asked about.
    if (work_ == WindowWork::Saving ||
        (work_ == WindowWork::Idle && editor_ && !editor_->confirmLeave())) {
        e->ignore();
        return;
    }
    if (isLoading()) {
        // The loader still uses the state: stop it and close once it has returned.
        state.StopRequested = true;
        closeAfterLoading_ = true;
        e->ignore();
        return;
    }
    QWidget::closeEvent(e);
}

void TForm1::FormActivate() {
    state.TileRect = Rect{0, 0, 128, 128};
    state.HasBackground = fileExists(kBackgroundFile);
    if (!state.HasBackground) return;
    Bitmap24 picture;
    try {
        picture = loadBitmapFile(kBackgroundFile);
    } catch (const Error&) {
        // Closing the message box activates the window again: report a broken file once.
        if (backgroundErrorShown_) return;
        backgroundErrorShown_ = true;
        throw;
    }
    picture.setSize(800, 600);
    for (int col = 0; col < 7; ++col)
        for (int row = 0; row < 5; ++row)
            picture.copyRect(Rect{col * 128, row * 128, col * 128 + 128, row * 128 + 128},
                             state.TileRect);
    imBack->picture() = std::move(picture);
    imBack->pictureChanged();
    imBack->lower();
    imBack->show();
}

void TForm1::buBrowseClick() {
    const std::string before = currentDirectory();
    const std::optional<std::string> chosen = chooseFileToOpen(this);
    if (!chosen) return;
    if (!OpenArchive(*chosen)) setCurrentDirectory(before);
}

bool TForm1::OpenArchive(const std::string& chosen) {
    if (!ValidateArchive(chosen)) {
        showInformationText("Not a valid vorlund packed-file!", this);
        return true;
    }
    if (!editor_->confirmLeave()) return false;
    AddToListAndLoad(chosen);
    setCurrentDirectory(state.StartDirectory);
    return true;
}

void TForm1::AddToListAndLoad(const std::string& chosen) {
    state.ArchiveNameList.clear();
    for (int k = 0; k < cbFiles->count(); ++k) AddArchiveName(state.ArchiveNameList, ArchiveItemName(*cbFiles, k));
    AddArchiveName(state.ArchiveNameList, chosen);
    cbFiles->clear();
    for (const std::string& name : state.ArchiveNameList) AddArchiveItem(*cbFiles, name);
    cbFiles->setCurrentIndex(-1);
    const std::string wanted = lowerAZ(chosen);
    for (int k = 0; k < cbFiles->count(); ++k)
        if (lowerAZ(ArchiveItemName(*cbFiles, k)) == wanted) cbFiles->setCurrentIndex(k);
    cbFilesChange();
}

void TForm1::buQuitClick() { close(); }

void TForm1::buStopClick() { state.StopRequested = true; }

void TForm1::Button1Click() {}

void TForm1::cbFilesChange() {
    if (work_ != WindowWork::Idle) return;
    const int k = cbFiles->currentIndex();
    const std::string text = k < 0 ? std::string() : ArchiveItemName(*cbFiles, k);
    if (text.empty()) return;
    // Every way here asked about pending changes already; this is the last guard.
    if (!editor_->confirmLeave()) return;
    loadedItem_ = k;
    findBar_->closeBar();  // it reads the tree and the entries that the load replaces
    contentFind_->closeSearch();
    editor_->archiveClosing();
    folderPictures_->close();  // and so do the grid's workers
    bytesPage_->leave();       // and the bytes shown

    selectionAttached_ = false;
    model_->beginLoading();
    selectionAttached_ = true;

    state.CurrentArchiveName = text;
    // Once the run has ended, whichever way: the tree shown, and a close asked for meanwhile done.
    auto finish = [this] {
        selectionAttached_ = false;
        model_->endLoading();
        selectionAttached_ = true;
        editor_->archiveLoaded();
        if (closeAfterLoading_) {
            closeAfterLoading_ = false;
            close();
        }
    };
    try {
        LoadingRun run({paMain, paLoad, laLoad, pbLoad}, work_, state.StopRequested, onLoadDispatch);
        LoadDirectory(state.CurrentArchiveName,
                      DirectoryLoad{state.archive, state.EntryOffsetTable, state.WorkBuffer}, tree_,
                      run);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TForm1::newArchive() {
    if (work_ != WindowWork::Idle || !editor_->confirmLeave()) return;
    findBar_->closeBar();
    editor_->archiveClosing();
    folderPictures_->close();
    selectionAttached_ = false;
    model_->beginLoading();
    state.archive.close();
    state.EntryOffsetTable.clear();
    state.CurrentArchiveName.clear();
    loadedItem_ = -1;
    model_->endLoading();
    selectionAttached_ = true;
    editor_->startNew();
}

void TForm1::selectionChanged(NodeId node) {
    if (!selectionAttached_ || model_->loading() || node == kNoNode) return;
    guarded([this, node] { tvFilesChange(node); }, this);
}

void TForm1::tvFilesChange(NodeId node) {
    if (node < 0 || node >= tree_.size() || tree_.hasChildren(node)) return;
    const std::string name = tree_.text(node);
    state.CurrentEntryName = name;
    state.CurrentExtension = EntryExtension(name);
    const int32_t entry = tree_.entryIndex(node);
    // An entry changed or added since the load shows its new bytes; it has no offset yet.
    const bool pending = session_->holdsPending(entry);
    if (pending) {
        UsePendingEntry(state, session_->openEntry(entry), session_->entrySize(entry));
    } else {
        if (entry < 0 || static_cast<size_t>(entry) >= state.EntryOffsetTable.size()) return;
        ReadEntryLocation(state, static_cast<size_t>(entry));
    }

    showCurrentEntry(pending ? std::string("Offset: not saved yet")
                             : "Offset: $" + hex32(state.CurrentEntryOffset));
}

void TForm1::showOtherEntry(const std::string& name, std::unique_ptr<ByteSource> bytes,
                            int64_t size, int32_t offset) {
    state.CurrentEntryName = name;
    state.CurrentExtension = EntryExtension(name);
    UsePendingEntry(state, std::move(bytes), size);
    state.CurrentEntryOffset = offset;  // where it stands in the other archive
    showCurrentEntry("Offset: $" + hex32(offset));
}

void TForm1::showCurrentEntry(const std::string& offsetText) {
    const std::string& name = state.CurrentEntryName;
    StatusBar1->setPanelText(0, "File name: " + name);
    StatusBar1->setPanelText(1, offsetText);
    StatusBar1->setPanelText(2, "Size: $" + hex32(state.CurrentEntrySize));
    StatusBar1->setPanelText(3, "Type: not supported yet");
    if (QTimer* timer = mediaPage()->tmMedia()) timer->stop();
    bytesPage_->leave();
    ++state.EntriesShown;
    pages_->show(EntryKindOf(state.CurrentExtension, name));
}

void TForm1::buSaveClick() {
    const std::string& name = state.CurrentEntryName;
    const size_t dot = name.find('.');
    const std::string base = dot == std::string::npos ? std::string() : name.substr(0, dot);
    const std::string& ext = state.CurrentExtension;
    switch (EntryKindOf(ext, name)) {
    case EntryKind::Text:
    case EntryKind::Sound: ReplaceFile(state.TempFileName, plainFileName(base + "." + ext)); break;
    case EntryKind::Kmg:
    case EntryKind::Targa:
        if (state.FirstView) state.FirstView->picture().saveToFile(plainFileName(base + ".BMP"));
        break;
    default: break;
    }
}

}  // namespace vorlr
