#include "app/FolderPictures.h"

#include <QMenu>
#include <QTreeView>
#include <unordered_map>

#include "app/FolderTreeModel.h"
#include "app/ImagePage.h"
#include "platform/gui/Dialogs.h"
#include "platform/Errors.h"

namespace vorlr {

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

PictureBytesFor PictureBytesAsTheyStand(const EditSession& session, const FolderTree& tree,
                                        const std::vector<PictureItem>& items) {
    // Taken now, on the window's thread: the workers never read the tree or the edits.
    auto entries = std::make_shared<std::unordered_map<NodeId, EntryId>>();
    std::vector<EntryId> ids;
    for (const PictureItem& item : items) {
        const EntryId id = tree.entryIndex(item.node);
        (*entries)[item.node] = id;
        ids.push_back(id);
    }
    return [entries, read = session.bytesAsTheyStand(ids)](const PictureItem& item) {
        const auto found = entries->find(item.node);
        if (found == entries->end()) throw Error("no such entry");
        EditSession::EntryBytes entry = read(found->second);
        PictureBytes bytes;
        bytes.source = std::move(entry.source);
        bytes.held = entry.held;
        return bytes;
    };
}

FolderPictures::FolderPictures(ImagePage& page, QTreeView& view, FolderTreeModel& model,
                               const FolderTree& tree, const EditSession& session,
                               std::function<void(NodeId)> showEntry)
    : QObject(&view), page_(page), view_(view), model_(model), tree_(tree), session_(session),
      showEntry_(std::move(showEntry)) {}

void FolderPictures::addToMenu(QMenu& menu, NodeId node) {
    if (node < 0 || node >= tree_.size() || !tree_.hasChildren(node)) return;
    QAction* action = menu.addAction(QStringLiteral("Show pictures"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    connect(action, &QAction::triggered, this, [this, node] { guarded([&] { show(node); }, &view_); });
}

void FolderPictures::show(NodeId node) {
    if (node < 0 || node >= tree_.size() || !session_.reading()) return;
    const NodeId folder = tree_.hasChildren(node) ? node : tree_.parent(node);
    if (folder == kNoNode) return;
    std::vector<PictureItem> items = PicturesBelow(tree_, folder);
    PictureBytesFor bytes = bytesFor ? bytesFor(items) : PictureBytesAsTheyStand(session_, tree_, items);
    page_.showPictures(FolderPath(tree_, folder), std::move(items), std::move(bytes),
                       [this](const PictureItem& item) { pick(item.node); });
}

void FolderPictures::showCurrent() { show(model_.nodeOf(view_.currentIndex())); }

void FolderPictures::close() { page_.leavePictures(); }

// As the find box selects: the folders above opened, the node made current and scrolled to.
void FolderPictures::pick(NodeId node) {
    const QModelIndex index = model_.indexOf(node);
    if (index.isValid() && !SelectAsClicked(view_, index)) showEntry_(node);
}

}  // namespace vorlr
