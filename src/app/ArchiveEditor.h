#pragma once
// Editing the loaded archive from the window: the commands (Replace..., Add files..., Add
// folder..., Rename..., Delete, Undo, Redo, Save archive, Save archive as..., Discard changes)
// in the tree's menu and on their keys, the bar in the top row that counts the unsaved changes,
// the question before pending changes would be left, and the tree kept as the saved archive
// will have it. The edit session does the work; this class asks, shows and hands on.
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/WindowWork.h"
#include "edit/EditSession.h"
#include "archive/FolderTree.h"

class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTreeView;
class QWidget;

namespace vorlr {

class FindBar;
class FolderTreeModel;
struct ViewerState;

class ArchiveEditor : public QObject {
    Q_OBJECT
public:
    // What the editor needs of the window.
    struct Window {
        QWidget* form;
        QFrame* paMain;
        QTreeView* tvFiles;
        FolderTreeModel* model;
        FolderTree* tree;
        ViewerState* state;
        WindowWork* work;
        FindBar* findBar;
        EditSession* session;
        // Runs f with the tree's selection handler detached (the tree changes under it).
        std::function<void(const std::function<void()>&)> quietly;
        // Shows a node's entry as selecting it does (tvFilesChange).
        std::function<void(NodeId)> showEntry;
        // Loads an archive again after it was saved: path, and whether it is a new file that
        // joins the drop-down list as Browse adds one.
        std::function<void(const std::string& path, bool addToList)> load;
    };
    explicit ArchiveEditor(const Window& window);
    ~ArchiveEditor() override;

    // A load is about to start: the changes refer to the archive it closes.
    void archiveClosing();
    // "New archive": the archive closed already, an empty one pending in its place.
    void startNew();
    // A load has ended; editing needs the whole directory read.
    void archiveLoaded();

    bool editable() const { return session_.editable(); }
    bool pending() const { return session_.pending(); }
    ArchiveChanges* changes() const { return session_.changes(); }
    PendingTree* pendingTree() const { return session_.tree(); }
    EditSession& session() const { return session_; }

    // Before pending changes would be left (another archive, the window closing): "Save changes
    // to NAME?" with Save, Discard and Cancel. True when the caller may go on. Another view's
    // changes (leaveOthers) are asked about first.
    bool confirmLeave();
    std::function<bool()> leaveOthers;

    // While another view has the tree (layers), the editing keys' commands go to it: true when
    // it took the command.
    enum class Command { Replace, Add, Rename, Delete, Undo, Redo, Save, SaveAs };
    std::function<bool(Command)> redirect;
    // True while another view has the tree and the loaded archive must not change under it
    // (layers over it): nothing edits it meanwhile, and working copies written back wait.
    std::function<bool()> heldBack;
    bool isHeldBack() const { return heldBack && heldBack(); }

    // For the selection: whether an entry's bytes are pending ones, and making them current.
    bool showsPending(int32_t entry) const;
    void usePending(int32_t entry);

    // The tree's menu gets the commands for node.
    void addMenuItems(QMenu& menu, NodeId node);

    // The commands, on a node of the tree (the current one from the keys).
    void replaceEntry(NodeId node);
    void addFiles(NodeId node);
    void addFolder(NodeId node);
    void renameEntry(NodeId node);
    void deleteNode(NodeId node);
    void undo();
    void redo();
    // True when saved (or nothing to save).
    bool saveArchive();
    bool saveArchiveAs();
    void discardChanges();

    // Files dropped on a node: one file on a file node replaces it (as Replace...); otherwise
    // they are added to the node's folder, a dropped folder's files under their relative paths
    // (as Add files... and Add folder...).
    void dropFiles(NodeId node, const std::vector<std::string>& paths);
    // Another program saved a working copy of an entry: a pending Replace "Edit NAME" of its
    // bytes, a picture (sub-image subImage) encoded like the entry. Raises Error naming the
    // file when the encoder cannot take it. Returns whether a step was made.
    bool takeEdit(int32_t entry, const std::vector<uint8_t>& content, size_t subImage,
                  const std::string& file);
    // Whether a command is under way (its dialogs run the event loop): edits coming from other
    // programs wait for its end.
    bool busy() const { return busy_ > 0 || *w_.work != WindowWork::Idle; }

    // The folder an addition to node goes to, as the tree shows its path ("" for the root).
    std::string folderPathOf(NodeId node) const;

    QFrame* changesBar() const { return bar_; }
    QLabel* changesLabel() const { return barLabel_; }
    QPushButton* saveButton() const { return barSave_; }
    QPushButton* discardButton() const { return barDiscard_; }

    // Tests: runs on the writing thread at each progress report; cancelSave() may be called
    // from there.
    std::function<void(int64_t written, int64_t total)> duringSave;
    void cancelSave() { cancel_ = true; }
    // Runs after every step's effect on the tree and the bar.
    std::function<void()> afterStep;

    // Whether the archive can be edited now (the window idle, the whole directory read); report:
    // say why not when a stopped load is the reason.
    bool ready(bool report) const;

    // Another bar in the find box's place (Find in contents): whether it is open, and where it
    // stands beside the changes bar.
    std::function<bool()> searchOpen;
    std::function<void(bool changesShown)> placeSearch;
    void refreshBar();

private:
    bool save(const std::optional<std::string>& as, bool reload);
    // A step's effect on the tree: built again from its first changed entry, or marks; and the
    // page of a touched current entry.
    void stepDone(const ArchiveChanges::Outcome& outcome);
    std::string labelFor(const char* verb, int32_t entry) const;
    std::vector<std::string> pathOf(NodeId node) const;
    NodeId nodeAtPath(const std::vector<std::string>& path) const;
    NodeId currentNode() const;
    // Replace...'s new data from a picked file, the sub-image asked for when its name says none.
    DataRef replacementFor(int32_t entry, const std::string& file);
    void addPaths(const std::vector<std::pair<std::string, std::string>>& files, const std::string& label);
    // Opens node's folders and makes it current.
    void select(NodeId node);

    Window w_;
    EditSession& session_;
    int busy_ = 0;
    std::set<NodeId> expanded_;
    std::atomic<bool> cancel_{false};
    QFrame* bar_ = nullptr;
    QLabel* barLabel_ = nullptr;
    QPushButton* barSave_ = nullptr;
    QPushButton* barDiscard_ = nullptr;
};

}  // namespace vorlr
