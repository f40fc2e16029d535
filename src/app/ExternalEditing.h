#pragma once
// Entries edited in the desktop's own programs, and dragged between the tree and the desktop.
// "Open in default application" and "Open with..." write an entry to a working copy (a picture
// as the PNG files `qar extract --convert png` writes) in a private folder for the archive and
// open it; every working copy is watched, and a save there becomes a pending Replace of its
// entry. A node dragged out of the tree is written first into a private folder and dropped as
// files; files dropped on the tree are added or replace an entry.
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ArchiveEditor.h"

class QDrag;
class QMenu;
class QSettings;
class QUrl;

namespace vorlr {

class WorkingCopyWatcher;

class ExternalEditing : public QObject {
    Q_OBJECT
public:
    ExternalEditing(ArchiveEditor& editor, const ArchiveEditor::Window& window);
    ~ExternalEditing() override;  // the working copies and the dragged files go

    void addMenuItems(QMenu& menu, NodeId node);
    void openInDefaultApplication(NodeId node);
    void openWith(NodeId node);
    // The working copies go: their changes were saved or discarded, or the archive left.
    void forget();
    // Writes the node's entries, raw as Extract... writes them, then drags them out as files.
    void dragOut(NodeId node);

    // Where the working copies are ("" until the first one), and the dragged files.
    const std::string& workingFolder() const { return workingRoot_; }
    const std::string& dragFolder() const { return dragRoot_; }
    WorkingCopyWatcher& watcher() { return *watcher_; }
    // What opens a file with the default application (QDesktopServices::openUrl), and what runs
    // a drag (QDrag::exec): tests put their own here.
    std::function<bool(const QUrl&)> openUrl;
    std::function<void(QDrag&)> runDrag;
    // Runs after each dispatch of pending events while dragged files are written.
    std::function<void()> onDragWriteDispatch;
    // While the tree shows another view (layers): files dragged over its row at (moving), or
    // dropped there, go here instead (no paths: the drag left); false when no such view shows.
    std::function<bool(const QModelIndex& at, const std::vector<std::string>& paths, bool dropped)>
        otherViewDrop;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    struct Copy {
        int32_t entry;
        size_t subImage;
    };
    // The entry's working copies, written unless they are there already; the first one opens.
    std::vector<std::string> workingCopies(int32_t entry);
    void launch(const std::string& file, bool choose);
    void edited(const QString& path, const QByteArray& content);
    void takePending();
    NodeId dropTargetAt(const QPoint& pos, int files, bool oneRegularFile, NodeId* replaced) const;

    ArchiveEditor& editor_;
    ArchiveEditor::Window w_;
    std::unique_ptr<WorkingCopyWatcher> watcher_;
    std::unique_ptr<QSettings> choices_;
    std::string workingRoot_;
    std::map<QString, Copy> copies_;  // by working copy path
    std::map<QString, QByteArray> waiting_;  // saves that came while a command was under way
    std::string dragRoot_;
    int drags_ = 0;
};

}  // namespace vorlr
