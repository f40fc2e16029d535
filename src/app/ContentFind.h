#pragma once
// Find in contents (Ctrl+Shift+F): a pattern field in the find box's place in the top row and,
// below it over the foot of the pages, the options ("Text only", "Match case"), the progress,
// Cancel and the results as they are found: the entry, the line number and the line, or
// "binary". A click or Enter on a result selects the entry, and for a text shows the line on the
// Text page with the match selected. The search runs on a thread of its own over every core;
// its results come to the event loop in batches. Hidden, it leaves the window as it was.
#include <QAbstractListModel>
#include <QFrame>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "archive/FolderTree.h"
#include "edit/SearchEntries.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListView;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QTreeView;

namespace vorlr {

class EditSession;
class FolderTreeModel;

struct ContentResult {
    EntryId id = 0;
    std::string name;
    int64_t line = 0;  // 0: an entry searched as bytes
    int64_t offset = 0;  // of the match in the page text
    int64_t length = 0;
    std::string text;
};

class ContentResults : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    void append(std::vector<ContentResult>&& rows);
    void clear();
    const std::vector<ContentResult>& rows() const { return rows_; }

private:
    std::vector<ContentResult> rows_;
};

class ContentFind : public QObject {
    Q_OBJECT
public:
    struct Window {
        QWidget* paMain;
        QTreeView* tvFiles;
        FolderTreeModel* model;
        const FolderTree* tree;
        const EditSession* session;
        QTextEdit* reText;
        std::function<void(NodeId)> showEntry;  // the selection handler, for the current node
        std::function<void()> opening;          // the find box gives way
    };
    explicit ContentFind(Window w);
    ~ContentFind() override;

    void open();
    // Stops the search and hides it all (a load is about to replace the entries).
    void closeSearch();
    void start();
    void cancel();
    bool isOpen() const;
    // Beside the changes bar while it shows, as the find box stands.
    void placeBesideChanges(bool changesShown);
    std::function<void()> shownOrHidden;
    bool running() const { return worker_.joinable(); }
    // Waits for the search to end and takes every result in (tests, benchmarks).
    void settle();
    void openResult(int row);

    // The entries searched: those of the session as they stand, unless replaced.
    std::function<SearchEntries(const EditSession&)> entries = EntriesAsTheyStand;
    // While the view shows a merged tree (layers): results stand for the entries that
    // mergedEntries hands out, each id a file node's entry index in tree, selected through
    // model. Null model: the loaded tree again. Either way the results so far are dropped.
    void searchIn(FolderTreeModel* model, const FolderTree* tree,
                  std::function<SearchEntries()> mergedEntries);
    // Shows a merged node's entry that is current already (a result picked again).
    std::function<void(NodeId)> mergedShow;

    QLineEdit* edit() const { return edit_; }
    QCheckBox* textOnly() const { return textOnly_; }
    QCheckBox* matchCase() const { return matchCase_; }
    QListView* list() const { return list_; }
    QPushButton* cancelButton() const { return cancel_; }
    const ContentResults& results() const { return results_; }
    std::string statusText() const;
    // Runs on the worker after each entry handed out (tests: a slow search).
    std::function<void()> afterEntry;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    struct Shared;
    void drain();
    void finish();
    void stopWorker();
    NodeId nodeOf(EntryId id) const;

    Window w_;
    FolderTreeModel* model_;  // the tree results select in: the loaded one or a merged one
    const FolderTree* tree_;
    std::function<SearchEntries()> merged_;  // set while a merged tree is searched
    QFrame* top_ = nullptr;    // in the top row
    QFrame* panel_ = nullptr;  // over the foot of the pages
    QLineEdit* edit_ = nullptr;
    QCheckBox* textOnly_ = nullptr;
    QCheckBox* matchCase_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QListView* list_ = nullptr;
    ContentResults results_;
    QTimer batches_;
    std::shared_ptr<Shared> shared_;
    std::jthread worker_;
};

}  // namespace vorlr
