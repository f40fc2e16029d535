#pragma once
// The find box: a text field in the free space of the window's top row (between the hidden
// "Testing" button and Quit, so it moves and covers no control). Typing selects the first
// entry whose stored name matches, at or after the current node; Enter or F3 the next match
// in tree order, Shift+Enter or Shift+F3 the previous one, wrapping round the tree; Escape
// closes it. The field shows "k of n". The matches are counted in slices from the event loop,
// so typing never waits for a million names.
#include <QFrame>
#include <QModelIndex>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "archive/EntrySearch.h"

class QLabel;
class QLineEdit;
class QTreeView;

namespace vorlr {

class FolderTreeModel;

class FindBar : public QFrame {
    Q_OBJECT
public:
    FindBar(QWidget* parent, QTreeView& view, FolderTreeModel& model, const FolderTree& tree,
            const Archive& archive);

    // Shows the box with its text selected and the keyboard in it; a text kept from before is
    // counted again.
    void open();
    // Hides the box, stops counting and forgets the tree order (a load is about to replace it).
    void closeBar();
    // Names from pending edits (or the archive's own when null), from the next search on.
    void useNames(const ArchiveChanges* changes);
    // The tree was built again: its order is taken again and a shown count made anew.
    void treeChanged();
    // While the view shows a merged tree (layers, model lent the view): the box finds in it by
    // the view's names, until findInLoaded(). A shown count is made anew either way.
    void findInMerged(FolderTreeModel& model, const FolderTree& tree, const MergedView& view);
    void findInLoaded();
    // While the view shows the loaded tree through a model of another kind (a comparison, its
    // removed entries' rows added): the box finds the loaded tree's entries and goes to their
    // rows there, passing over those without one (hidden meanwhile), until findInLoaded().
    struct Rows {
        std::function<NodeId(const QModelIndex&)> nodeOf;
        std::function<QModelIndex(NodeId)> indexOf;
    };
    void findThrough(Rows rows);
    // Where the box stands in the top row: at 545, 140 pixels wide, or beside the changes bar's
    // buttons while that bar shows.
    void placeBesideChanges(bool changesShown);
    // Runs after the box is shown or hidden.
    std::function<void()> shownOrHidden;
    void findNext();
    void findPrevious();

    QLineEdit* edit() const { return edit_; }
    std::string statusText() const;
    bool counting() const { return slices_.isActive(); }
    // Runs the search of the text typed and the count to their end at once (tests, benchmarks).
    void settle();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void place(int left, int width);
    void textEdited();
    // Starts counting the text's matches; with select, the first match at or after the current
    // node becomes current (once counted, when it is not among the next few nodes).
    void search(bool select);
    void scanSlice();
    void countDone();
    void step(bool forward);
    bool ready() const;
    // Makes the match at rank current, or the next one (in that direction) that has a row.
    void go(int32_t rank, bool forward);
    NodeId currentNode() const;
    QModelIndex rowOf(NodeId node) const;
    void currentChanged();
    void showStatus();

    void retargeted();

    QTreeView& view_;
    FolderTreeModel& loadedModel_;
    const Archive& archive_;
    EntrySearch loadedSearch_;
    std::unique_ptr<EntrySearch> mergedSearch_;
    QMetaObject::Connection mergedCurrent_;
    FolderTreeModel* model_;  // the tree searched: the loaded one or the merged one
    Rows rows_;               // the loaded tree's rows in another model, when set
    EntrySearch* search_;
    QLineEdit* edit_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer typing_;  // a short pause gathers keys that come at once (a paste, auto-repeat)
    QTimer slices_;
    bool unmappable_ = false;  // a character no stored name can hold
    int32_t pendingFirst_ =
        -1;  // the rank the first match is looked for from, until the count ends
    bool navigating_ = false;
};

}  // namespace vorlr
