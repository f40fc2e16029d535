#include "app/FolderPictures.h"

#include <QMenu>
#include <QTreeView>
#include <unordered_map>

#include "app/FolderTreeModel.h"
#include "app/ImagePage.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "viewers/PictureBudget.h"

namespace vorlr {

namespace {

// An archive reader with a buffer of its own: one per picture a worker decodes.
class EntrySource final : public ByteSource {
public:
    explicit EntrySource(const Archive& archive) : reader_(archive), buffered_(reader_) {}
    int64_t readCounted(void* buffer, int64_t count) override { return buffered_.readCounted(buffer, count); }
    void seek(int64_t position) override { buffered_.seek(position); }
    int64_t position() override { return buffered_.position(); }
    int64_t size() override { return buffered_.size(); }

private:
    ArchiveReader reader_;
    BufferedByteSource buffered_;
};

}  // namespace

std::vector<PictureItem> PicturesBelow(const FolderTree& tree, NodeId folder) {
    std::vector<PictureItem> items;
    if (folder < 0 || folder >= tree.size()) return items;
    std::vector<std::pair<NodeId, int32_t>> stack{{folder, 0}};  // node, next child row
    while (!stack.empty()) {
        auto& [node, row] = stack.back();
        if (row == tree.childCount(node)) {
            stack.pop_back();
            continue;
        }
        const NodeId child = tree.child(node, row++);
        if (tree.hasChildren(child)) {
            stack.emplace_back(child, 0);
            continue;
        }
        const std::string& name = tree.text(child);
        const EntryKind kind = EntryKindOf(EntryExtension(name), name);
        if (kind == EntryKind::Kmg || kind == EntryKind::Targa) items.push_back({name, child, kind});
    }
    return items;
}

std::string FolderPath(const FolderTree& tree, NodeId folder) {
    std::string path;
    for (NodeId n = folder; n != kNoNode; n = tree.parent(n))
        path = path.empty() ? tree.text(n) : tree.text(n) + "\\" + path;
    return path;
}

PictureBytesFor ArchivePictureBytes(const Archive& archive, const FolderTree& tree,
                                    const std::vector<PictureItem>& items) {
    // Taken now, on the window's thread: the workers never read the tree.
    auto entries = std::make_shared<std::unordered_map<NodeId, int32_t>>();
    for (const PictureItem& item : items) (*entries)[item.node] = tree.entryIndex(item.node);
    const size_t count = archive.entryCount();
    return [&archive, entries, count](const PictureItem& item) {
        const auto found = entries->find(item.node);
        if (found == entries->end() || found->second < 0 || size_t(found->second) >= count)
            throw Error("no such entry");
        const ArchiveEntry entry = archive.entry(size_t(found->second));
        PictureBytes bytes;
        bytes.source = std::make_unique<EntrySource>(archive);
        bytes.source->seek(entry.offset);
        bytes.held = EntryBytesHeld(archive, entry);
        return bytes;
    };
}

PictureBytesFor PendingPictureBytes(const ArchiveChanges& changes, const FolderTree& tree,
                                    const std::vector<PictureItem>& items, PictureBytesFor archiveBytes) {
    // Taken now, on the window's thread: later steps change the edits, never these bytes.
    auto pending = std::make_shared<std::unordered_map<NodeId, DataRef>>();
    for (const PictureItem& item : items) {
        const int32_t id = tree.entryIndex(item.node);
        if (changes.present(id))
            if (DataRef data = changes.data(id)) (*pending)[item.node] = std::move(data);
    }
    if (pending->empty()) return archiveBytes;
    return [pending, archiveBytes](const PictureItem& item) {
        const auto found = pending->find(item.node);
        if (found == pending->end()) return archiveBytes(item);
        PictureBytes bytes;
        if (found->second->inMemory()) {
            bytes.bytes = found->second->bytes();
        } else {
            bytes.source = found->second->open();
            bytes.held = found->second->size();
        }
        return bytes;
    };
}

FolderPictures::FolderPictures(ImagePage& page, QTreeView& view, FolderTreeModel& model,
                               const FolderTree& tree, const Archive& archive,
                               std::function<void(NodeId)> showEntry)
    : QObject(&view), page_(page), view_(view), model_(model), tree_(tree), archive_(archive),
      showEntry_(std::move(showEntry)) {}

void FolderPictures::addToMenu(QMenu& menu, NodeId node) {
    if (node < 0 || node >= tree_.size() || !tree_.hasChildren(node)) return;
    QAction* action = menu.addAction(QStringLiteral("Show pictures"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    connect(action, &QAction::triggered, this, [this, node] { guarded([&] { show(node); }, &view_); });
}

void FolderPictures::show(NodeId node) {
    if (node < 0 || node >= tree_.size() || !archive_.isOpen()) return;
    const NodeId folder = tree_.hasChildren(node) ? node : tree_.parent(node);
    if (folder == kNoNode) return;
    std::vector<PictureItem> items = PicturesBelow(tree_, folder);
    PictureBytesFor bytes = bytesFor ? bytesFor(items) : ArchivePictureBytes(archive_, tree_, items);
    page_.showPictures(FolderPath(tree_, folder), std::move(items), std::move(bytes),
                       [this](const PictureItem& item) { pick(item.node); });
}

void FolderPictures::showCurrent() { show(model_.nodeOf(view_.currentIndex())); }

void FolderPictures::close() { page_.leavePictures(); }

// As the find box selects: the folders above opened, the node made current and scrolled to.
void FolderPictures::pick(NodeId node) {
    const QModelIndex index = model_.indexOf(node);
    if (!index.isValid()) return;
    std::vector<QModelIndex> folders;
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) folders.push_back(p);
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        if (!view_.isExpanded(*it)) view_.expand(*it);
    if (view_.currentIndex() == index) {
        showEntry_(node);
    } else {
        view_.setCurrentIndex(index);
    }
    view_.scrollTo(index);
}

}  // namespace vorlr
