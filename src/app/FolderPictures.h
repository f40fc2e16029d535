#pragma once
// "Show pictures" (a folder node's menu, Ctrl+G): the .kmg and .tga entries below a folder of
// the tree, in tree order, as the Image page's grid; a thumbnail picked selects its entry in the
// tree as a click there would. The grid's bytes come from bytesFor, by default the open
// archive read through a reader of each worker's own.
#include <QObject>
#include <functional>
#include <string>
#include <vector>

#include "app/PictureGrid.h"
#include "archive/Archive.h"
#include "archive/ArchiveChanges.h"
#include "archive/FolderTree.h"

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
// Items' bytes read from archive: each item's node stands for the entry tree gives it. Safe on
// any number of threads while the archive keeps its entries.
PictureBytesFor ArchivePictureBytes(const Archive& archive, const FolderTree& tree,
                                    const std::vector<PictureItem>& items);

// The same with the bytes of entries changed or added by pending edits taken from those edits
// (as they stand now); the others as archiveBytes gives them.
PictureBytesFor PendingPictureBytes(const ArchiveChanges& changes, const FolderTree& tree,
                                    const std::vector<PictureItem>& items, PictureBytesFor archiveBytes);

class FolderPictures : public QObject {
    Q_OBJECT
public:
    // showEntry runs the tree's selection of a node that is already current (a pick of the
    // entry shown last), which the tree does not report as a change.
    FolderPictures(ImagePage& page, QTreeView& view, FolderTreeModel& model, const FolderTree& tree,
                   const Archive& archive, std::function<void(NodeId)> showEntry);

    // Adds "Show pictures" to a folder node's menu.
    void addToMenu(QMenu& menu, NodeId node);
    // The folder's grid; a file node stands for the folder it is in.
    void show(NodeId node);
    void showCurrent();
    // Leaves the grid, its workers stopped (a load is about to replace the archive).
    void close();

    // Where the grid's bytes come from; empty: the open archive.
    std::function<PictureBytesFor(const std::vector<PictureItem>&)> bytesFor;

private:
    void pick(NodeId node);

    ImagePage& page_;
    QTreeView& view_;
    FolderTreeModel& model_;
    const FolderTree& tree_;
    const Archive& archive_;
    std::function<void(NodeId)> showEntry_;
};

}  // namespace vorlr
