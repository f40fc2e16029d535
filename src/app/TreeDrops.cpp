// Files dropped on the tree: added to a folder, or replacing the entry of a file node.
#include "app/ExternalEditing.h"

#include <sys/stat.h>

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include "app/FolderTreeModel.h"
#include "platform/gui/Dialogs.h"

namespace vorlr {

NodeId ExternalEditing::dropTargetAt(const QPoint& pos, int files, bool oneRegularFile,
                                     NodeId* replaced) const {
    const NodeId node = w_.model->nodeOf(w_.tvFiles->indexAt(pos));
    *replaced = kNoNode;
    if (node == kNoNode) return kNoNode;
    if (!w_.tree->hasChildren(node) && files == 1 && oneRegularFile) {
        *replaced = node;
        return node;
    }
    return node;
}

bool ExternalEditing::eventFilter(QObject* watched, QEvent* e) {
    if (watched != w_.tvFiles->viewport()) return QObject::eventFilter(watched, e);
    const QEvent::Type type = e->type();
    if (type == QEvent::DragLeave) {
        w_.model->setDropTarget(kNoNode);
        if (otherViewDrop) otherViewDrop({}, {}, false);
        return false;
    }
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QObject::eventFilter(watched, e);
    auto* drop = static_cast<QDropEvent*>(e);
    std::vector<std::string> paths;
    if (const QMimeData* data = drop->mimeData(); data && data->hasUrls())
        for (const QUrl& url : data->urls()) {
            if (!url.isLocalFile()) {
                paths.clear();
                break;
            }
            paths.push_back(url.toLocalFile().toLocal8Bit().toStdString());
        }
    if (!paths.empty() && *w_.work == WindowWork::Idle && otherViewDrop &&
        otherViewDrop(w_.tvFiles->indexAt(drop->position().toPoint()), paths, type == QEvent::Drop)) {
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        return true;
    }
    // Not for the tree (nothing to edit, or not files): the window takes it, as a dropped archive.
    if (paths.empty() || !editor_.editable() || *w_.work != WindowWork::Idle) {
        w_.model->setDropTarget(kNoNode);
        return false;
    }
    struct stat st{};
    const bool oneRegularFile =
        paths.size() == 1 && ::stat(paths.front().c_str(), &st) == 0 && S_ISREG(st.st_mode);
    NodeId replaced = kNoNode;
    const NodeId node = dropTargetAt(drop->position().toPoint(), static_cast<int>(paths.size()),
                                     oneRegularFile, &replaced);
    if (type == QEvent::Drop) {
        w_.model->setDropTarget(kNoNode);
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        // Taken once the drop has returned: the program the files came from is not kept waiting
        // for the questions an addition may ask.
        QTimer::singleShot(0, this, [this, node, paths] {
            guarded([&] { editor_.dropFiles(node, paths); }, w_.form);
        });
        return true;
    }
    // Where the files will go: the file they replace, or the folder they join.
    NodeId shown = replaced;
    if (shown == kNoNode && node != kNoNode)
        shown = w_.tree->hasChildren(node) ? node : w_.tree->parent(node);
    w_.model->setDropTarget(shown);
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    return true;
}

}  // namespace vorlr
