#pragma once
// "Open patch archive over this..." (Ctrl+P): patch archives stacked over the loaded one as the
// game reads them, a later archive's entry hiding an earlier one's of the same stored name. The
// tree view shows the merged tree meanwhile (Layers), entries that hide another marked after
// their text; selecting an entry shows the winning version; a line in the top row names the
// layers and, for the selected entry, its layer and the ones it hides. The tree's menu offers
// "Show hidden versions", "Ignore case of A–Z", "Remove layer", "Save merged as..." and
// Extract... of what the tree shows. Editing works on the top layer only, through its own
// session: Replace... (over a lower layer's entry it adds one to the top layer), Delete, Undo,
// Redo, "Save top layer" (that file alone) and "Discard changes", on the editor's keys.
// The find box finds in the merged tree. Removing the last layer brings back the loaded tree
// exactly as the comparison's leaving does; a load ends the layered view, after asking about
// the top layer's unsaved changes.
#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "app/ArchiveEditor.h"
#include "app/PictureGrid.h"
#include "app/WindowWork.h"
#include "archive/FolderTree.h"

class QAbstractItemDelegate;
class QFrame;
class QLabel;
class QMenu;
class QModelIndex;
class QPoint;
class QTreeView;
class QWidget;

namespace vorlr {

class ArchiveComparison;
class ArchiveEditor;
class ByteSource;
class EditSession;
class FindBar;
class FolderTreeModel;
class Layers;
class TreeViewSwap;
struct ViewerState;

class ArchiveLayers : public QObject {
    Q_OBJECT
public:
    struct Window {
        QWidget* form;
        QFrame* paMain;
        QTreeView* tvFiles;
        ViewerState* state;
        WindowWork* work;
        EditSession* session;
        ArchiveEditor* editor;
        FindBar* findBar;
        ArchiveComparison* comparison;
        TreeViewSwap* swap;
        // Shows a loaded node's entry as selecting it does.
        std::function<void(NodeId)> showEntry;
        // Shows a layer's entry (its file name, bytes from the first, size, offset there).
        std::function<void(const std::string&, std::unique_ptr<ByteSource>, int64_t, int32_t)>
            showBytes;
        // "Show bytes" of a layer's entry: a reader from the first byte, bytes held, size.
        std::function<void(std::unique_ptr<ByteSource>, int64_t, int64_t)> showRaw;
        // Takes those bytes away (their layer may be about to close).
        std::function<void()> leaveRaw;
        // "Show pictures": the Image page's grid of a folder's pictures, and away again.
        std::function<void(std::string, std::vector<PictureItem>, PictureBytesFor,
                           std::function<void(const PictureItem&)>)>
            showPictures;
        std::function<void()> leavePictures;
        // Tests: runs after each dispatch of events while entries are extracted.
        std::function<void()> duringExtract;
    };
    explicit ArchiveLayers(const Window& window);
    ~ArchiveLayers() override;

    bool active() const { return layers_ != nullptr; }
    // Ctrl+P: asks for a patch archive (the open-file dialog) and stacks it on top.
    void openPatch();
    // Stacks the archive at path on top. False when it did not (refused, not valid).
    bool addLayer(const std::string& path);
    // The top layer off; with the base alone, the loaded tree back as it stood.
    void removeLayer();
    // Every layer off at once.
    void leave();
    void setIgnoreCase(bool on);
    // "Save merged as...": the winners as one archive at a file the save dialog names.
    void saveMerged();
    // Writes the winners to path with a progress dialog; false when cancelled.
    bool saveMergedTo(const std::string& path);
    // Extract... of a merged node (the current one for kNoNode).
    void extract(NodeId node = kNoNode);
    // Shows a version of the current entry ("Show hidden versions"): 0 is the winner.
    void showVersion(size_t version);
    // "Show bytes" (Ctrl+B) of a file node: the version on its page (the winner unless a hidden
    // one was picked); the node becomes current first.
    void showBytes(NodeId node);
    // "Show pictures" (Ctrl+G) of a folder node (a file node: its folder): the winners' pictures.
    void showPictures(NodeId node);

    // The tree's menu without layers: "Open patch archive over this...".
    void addMenuItems(QMenu& menu);
    // The tree's menu while layered, on the row at.
    void showMenu(const QModelIndex& at, const QPoint& globalPos);
    // Its items for a merged node (kNoNode: none).
    void addLayeredItems(QMenu& menu, NodeId node);

    // Editing the top layer.
    void replaceEntry(NodeId node);
    // Files dragged over the merged tree's row at, or dropped there: one file on a file node
    // replaces it in the top layer; anything else is refused with a word why. False when no
    // layer is added (the loaded tree takes them).
    bool dropFiles(const QModelIndex& at, const std::vector<std::string>& paths, bool dropped);
    void deleteNode(NodeId node);
    void undo();
    void redo();
    // True when saved (or nothing to save).
    bool saveTop();
    void discardTop();
    // Before the top layer's unsaved changes would be left: "Save changes to NAME?" with Save,
    // Discard and Cancel. True when the caller may go on.
    bool confirmLeave();

    // Runs when the layered view starts, ends, and before the layers change (what reads their
    // archives stops then).
    std::function<void()> viewChanged;
    // Shows a merged node's entry as selecting it does.
    void show(NodeId node);

    const Layers* layers() const { return layers_.get(); }
    FolderTreeModel* model() const { return model_.get(); }
    QLabel* line() const { return line_; }
    NodeId currentNode() const;

private:
    bool command(ArchiveEditor::Command command);
    void addEditItems(QMenu& menu, NodeId node);
    void replaceWith(NodeId node, const std::string& file);
    bool ready() const;
    void enter();
    // The merged tree built again under the view: open folders and the current entry kept.
    void rebuilt(const std::function<void()>& change);
    void refreshLine();
    void leaveShown();  // the bytes and pictures shown from the layers, before they change

    Window w_;
    std::unique_ptr<Layers> layers_;
    std::unique_ptr<FolderTreeModel> model_;
    QMetaObject::Connection currentConnection_;
    QAbstractItemDelegate* delegate_ = nullptr;
    QLabel* line_ = nullptr;
    std::function<void()> findShownOrHidden_;  // the find box's listener before this one
    bool shownSince_ = false;
    size_t shownVersion_ = 0;  // of the current entry's versions, 0: the winner
};

}  // namespace vorlr
