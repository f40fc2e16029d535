#pragma once
// "Show pictures" (a folder node's menu, Ctrl+G): the .kmg and .tga entries below a folder of
// the tree, in tree order, as the Image page's grid; a thumbnail picked selects its entry in the
// tree as a click there would. The grid's bytes are the entries as they stand (pending or the
// archive's), each worker reading through a reader of its own.
#include <QObject>
#include <functional>
#include <string>
#include <vector>

#include "app/PictureGrid.h"
#include "archive/FolderTree.h"
#include "edit/EditSession.h"

class QMenu;
class QTreeView;

namespace vorlr {

class FolderTreeModel;
class ImagePage;

// The picture entries below folder, in pre-order: nodes without children whose name the
// entry-kind rule makes a KMG or Targa picture.
std::vector<PictureItem> PicturesBelow(const FolderTree& tree, NodeId folder);
// The folder's stored path as the tree shows it ("GFX\ICONS").
std::string FolderPath(const FolderTree& tree, NodeId folder);
// Items' bytes as the session has the entries their nodes stand for, now. Safe on any number
// of threads while the archive stays loaded.
PictureBytesFor PictureBytesAsTheyStand(const EditSession& session, const FolderTree& tree,
                                        const std::vector<PictureItem>& items);

class FolderPictures : public QObject {
    Q_OBJECT
public:
    // showEntry runs the tree's selection of a node that is already current (a pick of the
    // entry shown last), which the tree does not report as a change.
    FolderPictures(ImagePage& page, QTreeView& view, FolderTreeModel& model, const FolderTree& tree,
                   const EditSession& session, std::function<void(NodeId)> showEntry);

    // Adds "Show pictures" to a folder node's menu.
    void addToMenu(QMenu& menu, NodeId node);
    // The folder's grid; a file node stands for the folder it is in.
    void show(NodeId node);
    void showCurrent();
    // Leaves the grid, its workers stopped (a load is about to replace the archive).
    void close();

    // Where the grid's bytes come from (tests); empty: the entries as they stand.
    std::function<PictureBytesFor(const std::vector<PictureItem>&)> bytesFor;

private:
    void pick(NodeId node);

    ImagePage& page_;
    QTreeView& view_;
    FolderTreeModel& model_;
    const FolderTree& tree_;
    const EditSession& session_;
    std::function<void(NodeId)> showEntry_;
};

}  // namespace vorlr
