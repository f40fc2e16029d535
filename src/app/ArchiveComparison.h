#pragma once
// "Compare with archive..." (Ctrl+D): the loaded archive compared with another by qar diff's
// rules, the other archive as the old side. Meanwhile the tree view shows the comparison's model:
// every loaded node, each marked after its text as qar diff names its entry (added, changed,
// renamed with its old name), the other archive's removed entries struck out in the folders
// they stood in; "Changes only" (Ctrl+H) leaves out the unchanged nodes; F6 switches the page of
// an entry the other archive holds too between this archive's version and the other's; a line in
// the top row says what was compared. "Leave comparison" (Ctrl+D again, or Escape in the tree)
// brings back the tree as it was: its model, expanded folders, selection and scroll position,
// which the comparison never touches. Any edit, load or save ends the comparison first, and so
// does the find box opening (it finds and selects in the loaded tree).
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "app/WindowWork.h"
#include "archive/FolderTree.h"
#include "edit/Comparison.h"

class QAbstractItemDelegate;
class QFrame;
class QItemSelectionModel;
class QLabel;
class QMenu;
class QModelIndex;
class QShortcut;
class QTreeView;
class QWidget;

namespace vorlr {

class ArchiveEditor;
class ByteSource;
class ComparisonModel;
class EditSession;
class FindBar;
class FolderTreeModel;
class TreeViewSwap;
struct ViewerState;

class ArchiveComparison : public QObject {
    Q_OBJECT
public:
    struct Window {
        QWidget* form;
        QFrame* paMain;
        QTreeView* tvFiles;
        FolderTreeModel* model;
        FolderTree* tree;
        ViewerState* state;
        WindowWork* work;
        EditSession* session;
        ArchiveEditor* editor;
        FindBar* findBar;
        TreeViewSwap* swap;  // the loaded tree's view kept while the comparison's is shown
        // Shows a loaded node's entry as selecting it does.
        std::function<void(NodeId)> showEntry;
        // Shows another archive's entry (its file name, bytes from the first, size, offset there).
        std::function<void(const std::string&, std::unique_ptr<ByteSource>, int64_t, int32_t)>
            showBytes;
    };
    explicit ArchiveComparison(const Window& window);
    ~ArchiveComparison() override;

    bool active() const { return comparison_ != nullptr; }
    // Ctrl+D: asks for the other archive (the open-file dialog) and compares, or leaves.
    void toggle();
    // Compares with the archive at path (a progress dialog with Cancel while both are read).
    // False when it did not come to a comparison (refused, not valid, cancelled).
    bool compareWith(const std::string& path);
    void leave();
    void setChangesOnly(bool on);
    bool changesOnly() const;
    // F6: the current entry's other version, or this archive's again.
    void switchVersion();
    bool showingOther() const { return showingOther_; }

    // The tree's menu: "Compare with archive..." or, while comparing, the comparison's items.
    void addMenuItems(QMenu& menu);
    // The menu of a row only the other archive has (no node of the loaded tree).
    void showRowMenu(const QModelIndex& at, const QPoint& globalPos);

    const Comparison* comparison() const { return comparison_.get(); }
    const ComparisonTree* comparisonTree() const { return tree_.get(); }
    ComparisonModel* comparisonModel() const { return model_.get(); }
    QLabel* summary() const { return summary_; }
    // Tests: runs after each dispatch of events while the archives are read; cancel() may be
    // called from there.
    std::function<void()> duringCompare;
    void cancel() { cancelRequested_ = true; }
    // True while another view holds the tree (layers): no comparison then.
    std::function<bool()> refused;

private:
    bool ready() const;
    void enter(std::unique_ptr<Comparison> comparison, const std::string& path);
    void show(const QModelIndex& current);
    // The other archive's entry on the pages, under the node's file name.
    void showOtherEntry(int32_t entry, const std::string& fileName);
    void refreshSummary();
    void expandAgain(const std::set<ComparisonTree::Item>& items);
    ComparisonTree::Item currentItem() const;

    Window w_;
    std::unique_ptr<Comparison> comparison_;
    std::unique_ptr<ComparisonTree> tree_;
    std::unique_ptr<ComparisonModel> model_;
    std::string otherName_;
    bool showingOther_ = false;
    bool shownSince_ = false;
    bool cancelRequested_ = false;
    std::set<ComparisonTree::Item> comparedExpanded_;  // of the comparison's
    QMetaObject::Connection currentConnection_;
    std::function<void()> findShownOrHidden_;  // the find box's listener before this one
    QAbstractItemDelegate* delegate_ = nullptr;
    QLabel* summary_ = nullptr;
    QShortcut* switchKey_ = nullptr;
    QShortcut* changesKey_ = nullptr;
    QShortcut* escapeKey_ = nullptr;
};

}  // namespace vorlr
