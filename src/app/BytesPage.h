#pragma once
// "Show bytes" (a file node's menu, Ctrl+B): the entry as it stands (pending bytes or the
// archive's) in the bytes view, on a "Bytes" page that joins PageControl1 only while it shows.
// Selecting an entry, another page, or a load takes it away again, back to the page that was
// in front before. Its keys act while it shows: Ctrl+J go to an offset, Ctrl+K find text,
// Ctrl+Shift+K find hex bytes.
#include <QObject>
#include <cstdint>
#include <memory>

#include "archive/FolderTree.h"

class QLabel;
class QMenu;
class QTabWidget;
class QTreeView;

namespace vorlr {

class BytesView;
class ByteSource;
class EditSession;
class FolderTreeModel;

class BytesPage : public QObject {
    Q_OBJECT
public:
    BytesPage(QTabWidget& pageControl, QTreeView& view, FolderTreeModel& model,
              const FolderTree& tree, const EditSession& session);
    ~BytesPage() override;

    // Adds "Show bytes" to a file node's menu.
    void addToMenu(QMenu& menu, NodeId node);
    // The node's entry in the bytes view; the node becomes the tree's current one first.
    void show(NodeId node);
    void showCurrent();
    // Bytes from elsewhere (a layer's version): size recorded, held of them readable.
    void showBytes(std::unique_ptr<ByteSource> source, int64_t held, int64_t size);
    // Back to the page in front before, the bytes let go; nothing when not shown.
    void leave();
    bool shown() const { return shown_; }

    QWidget* page() const { return page_; }
    BytesView* view() const { return view_; }
    QLabel* status() const { return status_; }

private:
    void present(std::unique_ptr<ByteSource> source, int64_t held, int64_t size, QString note);
    void drop();

    QTabWidget& pageControl_;
    QTreeView& treeView_;
    FolderTreeModel& model_;
    const FolderTree& tree_;
    const EditSession& session_;
    QWidget* page_ = nullptr;
    BytesView* view_ = nullptr;
    QLabel* status_ = nullptr;
    bool shown_ = false;
    int before_ = 0;  // the page in front when the bytes were asked for
};

}  // namespace vorlr
