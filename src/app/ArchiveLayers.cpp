#include "app/ArchiveLayers.h"

#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

#include "app/ArchiveComparison.h"
#include "app/ArchiveEditor.h"
#include "app/ExtractRun.h"
#include "app/FindBar.h"
#include "app/FolderPictures.h"
#include "app/FolderTreeModel.h"
#include "app/SaveRun.h"
#include "app/TopRowLine.h"
#include "app/TreeViewSwap.h"
#include "app/ViewerState.h"
#include "archive/Container.h"
#include "edit/EditSession.h"
#include "edit/Layers.h"
#include "platform/Errors.h"
#include "platform/gui/Dialogs.h"
#include "platform/Text.h"

namespace vorlr {
namespace {

// The merged tree is read-only: no labels edited, no drags out of it.
class MergedModel final : public FolderTreeModel {
public:
    using FolderTreeModel::FolderTreeModel;
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return FolderTreeModel::flags(index) & ~(Qt::ItemIsEditable | Qt::ItemIsDragEnabled);
    }
};

// The rows while layered: one height as ever, and an entry that hides another marked after its
// text (not part of it) in a colour of its own.
class HidesDelegate final : public QStyledItemDelegate {
public:
    HidesDelegate(const QAbstractItemDelegate& rows, QObject* parent)
        : QStyledItemDelegate(parent), rows_(rows) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(),
                rows_.sizeHint(option, index).height()};
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!index.data(FolderTreeModel::kMarkedRole).toBool()) return;
        option->text += QStringLiteral("  \u25B2");
        option->palette.setColor(QPalette::Text, QColor(0, 0, 192));
    }

private:
    const QAbstractItemDelegate& rows_;
};

// A node's path of texts: where the same folder or entry stands after a rebuild.
std::string pathOf(const FolderTree& tree, NodeId node) {
    std::string path;
    for (; node != kNoNode; node = tree.parent(node)) path = tree.text(node) + "\\" + path;
    return path;
}

// Each segment's node of the same text, else one equal but for A-Z case (the case option
// changed): "DATA" and "data" side by side stay apart.
NodeId nodeAt(const FolderTree& tree, const std::string& path) {
    NodeId at = kNoNode;
    size_t from = 0;
    while (from < path.size()) {
        const size_t end = path.find('\\', from);
        const std::string segment = path.substr(from, end - from);
        NodeId found = kNoNode, folded = kNoNode;
        for (int32_t r = 0; r < tree.childCount(at) && found == kNoNode; ++r) {
            const NodeId c = tree.child(at, r);
            if (tree.text(c) == segment)
                found = c;
            else if (folded == kNoNode && lowerAZ(tree.text(c)) == lowerAZ(segment))
                folded = c;
        }
        if (found == kNoNode) found = folded;
        if (found == kNoNode) return kNoNode;
        at = found;
        from = end + 1;
    }
    return at;
}

}  // namespace

ArchiveLayers::ArchiveLayers(const Window& window) : QObject(window.form), w_(window) {
    delegate_ = new HidesDelegate(*w_.tvFiles->itemDelegate(), this);
    line_ = makeTopRowLine(w_.paMain, QStringLiteral("laLayers"));
    // The loaded archive is the base: whatever changes it or its tree ends the layered view.
    const QPointer<ArchiveLayers> self(this);
    w_.session->onTreeRebuilding([self] {
        if (self) self->leave();
    });
    w_.session->onStep([self](const EditSession::Outcome& outcome) {
        if (self && outcome.made) self->leave();
    });
    w_.session->onEnd([self] {
        if (self) self->leave();
    });
    findShownOrHidden_ = w_.findBar->shownOrHidden;
    // The find box finds in the merged tree; the line keeps clear of it meanwhile.
    w_.findBar->shownOrHidden = [this] {
        line_->resize(w_.findBar->isHidden() ? 245 : 100, line_->height());
        if (active()) refreshLine();
        if (findShownOrHidden_) findShownOrHidden_();
    };
    w_.editor->redirect = [this](ArchiveEditor::Command c) { return command(c); };
    w_.editor->leaveOthers = [this] { return confirmLeave(); };
    w_.editor->heldBack = [this] { return active(); };
    w_.comparison->refused = [this] {
        if (!active()) return false;
        showInformationText(
            "Comparing works on the loaded archive alone: remove the layers to compare it with "
            "another.",
            w_.form);
        return true;
    };
    auto* key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), w_.paMain);
    key->setContext(Qt::WindowShortcut);
    key->setAutoRepeat(false);
    connect(key, &QShortcut::activated, this, [this] { guarded([this] { openPatch(); }, w_.form); });
}

ArchiveLayers::~ArchiveLayers() {
    // The window goes: its pages and searches (gone before us, their readers stopped) are not
    // told anything.
    shownSince_ = false;
    w_.leaveRaw = nullptr;
    w_.leavePictures = nullptr;
    viewChanged = nullptr;
    leave();
    w_.findBar->shownOrHidden = findShownOrHidden_;
    w_.comparison->refused = nullptr;
    w_.editor->redirect = nullptr;
    w_.editor->leaveOthers = nullptr;
    w_.editor->heldBack = nullptr;
}

bool ArchiveLayers::ready() const {
    if (*w_.work != WindowWork::Idle) return false;
    const ViewerState& state = *w_.state;
    if (!state.archive.isOpen()) return false;
    if (state.archive.entryCount() < state.EntryOffsetTable.size()) {
        showInformationText(
            "The loading of this archive was stopped: load it again to its end to add a layer "
            "over it.",
            w_.form);
        return false;
    }
    if (w_.editor->pending()) {
        showInformationText(
            "This archive has unsaved changes: save or discard them before adding a layer over "
            "it.",
            w_.form);
        return false;
    }
    return true;
}

void ArchiveLayers::openPatch() {
    if (*w_.work != WindowWork::Idle || !w_.state->archive.isOpen()) return;
    if (const std::optional<std::string> path = dialogs().getOpenFileName(w_.form))
        addLayer(*path);
}

bool ArchiveLayers::addLayer(const std::string& path) {
    if (!ready()) return false;
    if (!ValidateArchive(path)) {
        showInformationText("Not a valid vorlund packed-file!", w_.form);
        return false;
    }
    if (!active()) {
        w_.comparison->leave();
        layers_ = std::make_unique<Layers>(w_.state->archive, path);
        enter();
    } else {
        rebuilt([&] { layers_->add(path); });
    }
    return true;
}

void ArchiveLayers::enter() {
    QTreeView& view = *w_.tvFiles;
    model_ = std::make_unique<MergedModel>(layers_->tree());
    model_->marked = [this](NodeId node) {
        const MergedView::Name* name = layers_->nameOf(node);
        return name && name->hiddenCount > 0;
    };
    shownSince_ = false;
    w_.swap->lend(*model_, delegate_);
    currentConnection_ =
        connect(view.selectionModel(), &QItemSelectionModel::currentChanged, this,
                [this](const QModelIndex& i) { guarded([&] { show(model_->nodeOf(i)); }, w_.form); });
    w_.swap->keepScroll();
    w_.findBar->findInMerged(*model_, layers_->tree(), layers_->view());
    refreshLine();
    line_->show();
    if (viewChanged) viewChanged();
}

void ArchiveLayers::rebuilt(const std::function<void()>& change) {
    leaveShown();
    QTreeView& view = *w_.tvFiles;
    const FolderTree& tree = layers_->tree();
    std::vector<std::string> open;
    for (NodeId node = tree.first(); node != kNoNode; node = tree.next(node))
        if (tree.hasChildren(node) && view.isExpanded(model_->indexOf(node)))
            open.push_back(pathOf(tree, node));
    // The current node and its folders, each with its row, in case it goes from the view.
    std::vector<std::pair<std::string, int32_t>> up;
    for (NodeId n = currentNode(); n != kNoNode; n = tree.parent(n))
        up.emplace_back(pathOf(tree, n), tree.row(n));
    model_->rebuild(change);
    for (const std::string& path : open)
        if (const NodeId node = nodeAt(tree, path); node != kNoNode)
            view.expand(model_->indexOf(node));
    NodeId node = up.empty() ? kNoNode : nodeAt(tree, up.front().first);
    // The entry gone from the view: the node now in the place of it, or of its nearest folder
    // gone with it, so that the page and the status bar do not go on showing it.
    for (size_t gone = 0; node == kNoNode && gone < up.size(); ++gone) {
        const NodeId parent = gone + 1 < up.size() ? nodeAt(tree, up[gone + 1].first) : kNoNode;
        if (parent == kNoNode && gone + 1 < up.size()) continue;  // that folder went too
        const int32_t rows = tree.childCount(parent);
        node = rows > 0 ? tree.child(parent, std::min(up[gone].second, rows - 1)) : parent;
        if (node == kNoNode) break;
    }
    if (node != kNoNode) {
        view.setCurrentIndex(model_->indexOf(node));
        view.scrollTo(model_->indexOf(node));
    }
    w_.findBar->treeChanged();
    refreshLine();
}

void ArchiveLayers::removeLayer() {
    if (!active() || *w_.work != WindowWork::Idle || !confirmLeave()) return;
    if (layers_->count() > 2)
        rebuilt([this] { layers_->removeTop(); });
    else
        leave();
}

void ArchiveLayers::leave() {
    if (!active()) return;
    disconnect(currentConnection_);
    leaveShown();
    w_.findBar->findInLoaded();
    w_.swap->giveBack();
    model_.reset();
    layers_.reset();
    line_->hide();
    if (viewChanged) viewChanged();
    // The page shows the loaded tree's current entry again when a layer's was shown.
    const bool reshow = shownSince_;
    shownSince_ = false;
    if (reshow)
        if (const NodeId node = w_.swap->currentNode(); node != kNoNode) w_.showEntry(node);
}

void ArchiveLayers::setIgnoreCase(bool on) {
    if (!active() || on == layers_->ignoreCase()) return;
    rebuilt([&] { layers_->setIgnoreCase(on); });
}

NodeId ArchiveLayers::currentNode() const {
    return model_ ? model_->nodeOf(w_.tvFiles->currentIndex()) : kNoNode;
}

void ArchiveLayers::show(NodeId node) {
    shownVersion_ = 0;
    refreshLine();
    if (node != kNoNode && !layers_->tree().hasChildren(node)) showVersion(0);
}

void ArchiveLayers::showVersion(size_t version) {
    const NodeId node = currentNode();
    const std::vector<LayerEntry> versions = layers_ ? layers_->versions(node) : std::vector<LayerEntry>{};
    if (version >= versions.size()) return;
    Layers::Bytes bytes = layers_->open(versions[version]);
    shownSince_ = true;
    shownVersion_ = version;
    w_.showBytes(layers_->tree().text(node), std::move(bytes.source), bytes.size, bytes.offset);
    refreshLine();
}

void ArchiveLayers::showBytes(NodeId node) {
    if (!active() || node == kNoNode || layers_->tree().hasChildren(node)) return;
    if (node != currentNode()) w_.tvFiles->setCurrentIndex(model_->indexOf(node));
    const std::vector<LayerEntry> versions = layers_->versions(node);
    if (shownVersion_ >= versions.size() || !w_.showRaw) return;
    Layers::Bytes bytes = layers_->open(versions[shownVersion_]);
    w_.showRaw(std::move(bytes.source), bytes.held, bytes.size);
}

void ArchiveLayers::showPictures(NodeId node) {
    if (!active() || node == kNoNode || !w_.showPictures) return;
    const FolderTree& tree = layers_->tree();
    const NodeId folder = tree.hasChildren(node) ? node : tree.parent(node);
    if (folder == kNoNode) return;
    std::vector<PictureItem> items = PicturesBelow(tree, folder);
    auto winners = std::make_shared<std::unordered_map<NodeId, LayerEntry>>();
    std::vector<LayerEntry> versions;
    for (const PictureItem& item : items)
        if (const MergedView::Name* name = layers_->nameOf(item.node)) {
            (*winners)[item.node] = name->winner;
            versions.push_back(name->winner);
        }
    PictureBytesFor bytes = [winners, read = layers_->bytesAsTheyStand(versions)](
                                const PictureItem& item) {
        const auto found = winners->find(item.node);
        if (found == winners->end()) throw Error("no such entry");
        EditSession::EntryBytes entry = read(found->second);
        PictureBytes out;
        out.source = std::move(entry.source);
        out.held = entry.held;
        return out;
    };
    w_.showPictures(FolderPath(tree, folder), std::move(items), std::move(bytes),
                    [this](const PictureItem& item) {
                        if (!active()) return;
                        const QModelIndex index = model_->indexOf(item.node);
                        if (index.isValid() && !SelectAsClicked(*w_.tvFiles, index)) show(item.node);
                    });
}

void ArchiveLayers::leaveShown() {
    if (w_.leaveRaw) w_.leaveRaw();
    if (w_.leavePictures) w_.leavePictures();
    if (viewChanged) viewChanged();
}

void ArchiveLayers::refreshLine() {
    QString text = fromCp1252(layers_->line());
    if (layers_->pending()) {
        const size_t n = layers_->top()->changes()->changeCount();
        text += QStringLiteral(" (%1: %2 unsaved change%3)")
                    .arg(fromCp1252(layers_->fileName(static_cast<uint32_t>(layers_->count() - 1))))
                    .arg(n)
                    .arg(n == 1 ? QString() : QStringLiteral("s"));
    }
    QString entry = fromCp1252(layers_->entryLine(currentNode()));
    if (shownVersion_ > 0) {
        const std::vector<LayerEntry> versions = layers_->versions(currentNode());
        if (shownVersion_ < versions.size())
            entry += QStringLiteral("; shown: %1's hidden version")
                         .arg(fromCp1252(layers_->fileName(versions[shownVersion_].layer)));
    }
    // The full line in the tooltip; the row's room shows its start.
    const QString full = text + entry;
    line_->setText(line_->fontMetrics().elidedText(full, Qt::ElideRight, line_->width()));
    line_->setToolTip(entry.isEmpty() ? text : text + QStringLiteral("\n") + entry.mid(3));
}

void ArchiveLayers::extract(NodeId node) {
    if (!active() || *w_.work != WindowWork::Idle) return;
    if (node == kNoNode) node = currentNode();
    if (node == kNoNode) return;
    std::map<uint32_t, ExtractGroup> byLayer;
    // As the loaded tree's Extract...: entries as the files hold them, none a pending step added.
    // Where case is ignored, each goes where the merged tree shows it: names spelt in several
    // ways share its folders on a disk that minds case too.
    std::vector<std::pair<LayerEntry, std::string>> winners;
    if (layers_->ignoreCase()) {
        winners = layers_->winnersWithPathsUnder(node);
    } else {
        for (const LayerEntry e : layers_->winnersUnder(node)) winners.emplace_back(e, std::string());
    }
    for (auto& [e, path] : winners) {
        if (e.index >= layers_->archive(e.layer).entryCount()) continue;
        ExtractGroup& group = byLayer[e.layer];
        group.archive = &layers_->archive(e.layer);
        group.entries.push_back(e.index);
        if (layers_->ignoreCase()) group.names.push_back(std::move(path));
    }
    if (byLayer.empty()) return;
    const std::optional<ExtractTarget> target = dialogs().getExtractTarget(w_.form);
    if (!target) return;
    std::vector<ExtractGroup> sources;
    for (auto& [layer, group] : byLayer) sources.push_back(std::move(group));
    RunExtraction(w_.form, *w_.work, sources, *target, [this](QProgressDialog&) {
        if (w_.duringExtract) w_.duringExtract();
    });
}

void ArchiveLayers::saveMerged() {
    if (!active() || *w_.work != WindowWork::Idle) return;
    const std::string suggested = "MERGED.qar";
    if (const std::optional<std::string> path = dialogs().getSaveArchiveName(w_.form, suggested))
        saveMergedTo(*path);
}

bool ArchiveLayers::saveMergedTo(const std::string& path) {
    std::atomic<bool> cancel{false};
    WriteTarget target;
    target.path = path;
    const MergedView& view = layers_->view();
    return RunSave(
        w_.form, *w_.work, [&view](const WriteTarget& t) { WriteMergedArchive(view, t); }, target,
        nullptr, cancel);
}

void ArchiveLayers::addMenuItems(QMenu& menu) {
    QAction* a = menu.addAction(QStringLiteral("Open patch archive over this..."));
    a->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    a->setShortcutContext(Qt::WidgetShortcut);  // shown here; the window's key acts
    a->setEnabled(*w_.work == WindowWork::Idle);
    connect(a, &QAction::triggered, this, [this] { guarded([this] { openPatch(); }, w_.form); });
}

void ArchiveLayers::showMenu(const QModelIndex& at, const QPoint& globalPos) {
    if (!active() || *w_.work != WindowWork::Idle) return;
    QMenu menu(w_.form);
    addLayeredItems(menu, model_->nodeOf(at));
    menu.exec(globalPos);
}

void ArchiveLayers::addLayeredItems(QMenu& menu, NodeId node) {
    auto item = [&](QMenu& into, const QString& text, std::function<void()> run) {
        QAction* a = into.addAction(text);
        connect(a, &QAction::triggered, this, [this, run] { guarded(run, w_.form); });
        return a;
    };
    item(menu, QStringLiteral("Extract..."), [this, node] { extract(node); })
        ->setEnabled(node != kNoNode);
    if (node != kNoNode && layers_->tree().hasChildren(node)) {
        QAction* pictures =
            item(menu, QStringLiteral("Show pictures"), [this, node] { showPictures(node); });
        pictures->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
        pictures->setShortcutContext(Qt::WidgetShortcut);
    }
    if (node != kNoNode && !layers_->tree().hasChildren(node)) {
        QAction* bytes = item(menu, QStringLiteral("Show bytes"), [this, node] { showBytes(node); });
        bytes->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
        bytes->setShortcutContext(Qt::WidgetShortcut);  // shown here; the window's key acts
    }
    addMenuItems(menu);
    QMenu* hidden = menu.addMenu(QStringLiteral("Show hidden versions"));
    const std::vector<LayerEntry> versions = layers_->versions(node);
    hidden->setEnabled(versions.size() > 1);
    for (size_t v = 0; v < versions.size(); ++v) {
        QAction* a = item(*hidden, fromCp1252(layers_->fileName(versions[v].layer)),
                          [this, node, v] {
                              w_.tvFiles->setCurrentIndex(model_->indexOf(node));
                              showVersion(v);
                          });
        // The winner stands first, checked.
        a->setCheckable(v == 0);
        a->setChecked(v == 0);
    }
    QAction* fold = menu.addAction(QStringLiteral("Ignore case of A\u2013Z"));
    fold->setCheckable(true);
    fold->setChecked(layers_->ignoreCase());
    connect(fold, &QAction::toggled, this,
            [this](bool on) { guarded([&] { setIgnoreCase(on); }, w_.form); });
    menu.addSeparator();
    item(menu, QStringLiteral("Remove layer"), [this] { removeLayer(); });
    item(menu, QStringLiteral("Save merged as..."), [this] { saveMerged(); });
    menu.addSeparator();
    addEditItems(menu, node);
}

}  // namespace vorlr
