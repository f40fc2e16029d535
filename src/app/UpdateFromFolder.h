#pragma once
// "Update from folder..." (a folder node's menu; Ctrl+U for the current folder, or the whole
// archive when no node or a root node is current): a folder on disk compared with the archive's
// entries as `qar update` compares them, in a review list whose ticked rows "Apply" makes one
// step. The comparison runs off the UI thread (FolderReview); the list fills as rows are known.
#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "archive/FolderTree.h"
#include "edit/FolderReview.h"

class QCheckBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTreeView;
class QTreeWidget;

namespace vorlr {

class ArchiveEditor;
class FolderTreeModel;

// The review list: one row per change with its tick box (rows that cannot be taken give their
// reason instead), the two options (each compares again), progress while comparing, Apply
// (Enter) and Cancel (Escape).
class ReviewDialog : public QDialog {
    Q_OBJECT
public:
    ReviewDialog(QWidget* parent, EditSession& session, const FolderTree& tree, NodeId scope,
                 std::string folder);
    ~ReviewDialog() override;

    QTreeWidget* list() const { return list_; }
    QCheckBox* matchNames() const { return matchNames_; }
    QCheckBox* deleteMissing() const { return deleteMissing_; }
    QPushButton* applyButton() const { return apply_; }
    QPushButton* cancelButton() const { return cancel_; }
    QProgressBar* progress() const { return progress_; }
    QLabel* status() const { return status_; }
    bool comparing() const { return review_ && !review_->finished(); }
    const std::vector<ReviewRow>& rows() const { return rows_; }
    // Picks the candidate (index into the row's candidates) of a row whose file name several
    // entries have, as its list does.
    void pick(size_t row, size_t candidate);

    void reject() override;

private:
    void compare();
    void poll();
    void addRow(ReviewRow row);
    void applyRows();
    void refreshApply();

    EditSession& session_;
    const FolderTree& tree_;
    NodeId scope_;
    std::string folder_;
    std::unique_ptr<FolderReview> review_;
    std::vector<ReviewRow> rows_, backlog_;  // in the list; taken, not yet in it
    QTimer timer_;
    QTreeWidget* list_ = nullptr;
    QCheckBox* matchNames_ = nullptr;
    QCheckBox* deleteMissing_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
};

class UpdateFromFolder : public QObject {
    Q_OBJECT
public:
    // Adds its key to the window's main panel.
    UpdateFromFolder(ArchiveEditor& editor, QWidget& form, QWidget& keys, QTreeView& view,
                     FolderTreeModel& model, const FolderTree& tree);

    // Adds "Update from folder..." to a folder node's menu (kNoNode: the whole archive's).
    void addToMenu(QMenu& menu, NodeId node);
    // Ctrl+U: the current folder node; the whole archive for no node or a root node.
    void runCurrent();
    // Asks for the folder, then opens the review of it against scope (kNoNode: every entry).
    void run(NodeId scope);
    // The review list while it is open (tests).
    ReviewDialog* dialog() const { return dialog_; }

private:
    QWidget& form_;
    QTreeView& view_;
    FolderTreeModel& model_;
    const FolderTree& tree_;
    ArchiveEditor& editor_;
    QPointer<ReviewDialog> dialog_;
};

}  // namespace vorlr
