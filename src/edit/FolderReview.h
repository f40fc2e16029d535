#pragma once
// "Update from folder...": what putting a folder on disk back into the session's archive (or one
// folder node of it) would change, row by row, before anything becomes a step. The comparison is
// the one `qar update` makes (FolderUpdate), on every core, on a thread of its own: rows come as
// they are known, with progress and a cancel. The ticked rows then become one step of the
// session. No widgets: the window, tests and benchmarks drive it alike.
//
// Entries with pending changes are left as they stand: files naming them are not compared.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "archive/FolderTree.h"
#include "edit/EditSession.h"

namespace vorlr {

struct ReviewOptions {
    bool matchNames = false;     // "Match files by name anywhere in the folder"
    bool deleteMissing = false;  // "Delete entries that have no file"
    // A folder node of the session's tree (the tree the session was opened with); kNoNode or a
    // root node's absence: the whole archive.
    NodeId node = kNoNode;
    int workers = 0;  // 0: one per core
};

struct ReviewRow {
    char kind = 'M';       // 'M' changed, 'A' added, 'D' deleted
    std::string name;      // stored name (of an ambiguous file: its path with '\' separators)
    std::string file;      // the file on disk, relative to the folder ('/' separated); "" for D
    int64_t oldSize = -1;  // M and D: the entry's size
    int64_t newSize = -1;  // M and A: the new data's size
    std::string reason;    // not empty: the row cannot be taken
    std::optional<EntryId> entry;
    DataRef data;                     // M and A
    std::vector<EntryId> candidates;  // a file name several entries have: none taken unless picked
    std::optional<EntryId> picked;    // the candidate the user chose
    bool takeable() const { return reason.empty() && (candidates.empty() || picked); }
};

class FolderReview {
public:
    // session: editable, and left alone (no step) while the comparison runs. tree: the one the
    // session was opened with, for options.node.
    FolderReview(const EditSession& session, const FolderTree* tree, std::string folder,
                 ReviewOptions options);
    ~FolderReview();  // cancels and waits
    FolderReview(const FolderReview&) = delete;
    FolderReview& operator=(const FolderReview&) = delete;

    void start();
    void cancel() { stop_ = true; }
    void wait();
    bool finished() const { return finished_; }
    // The rows known since the last call, in the order of the list.
    std::vector<ReviewRow> takeRows();
    // Entries compared of all.
    size_t done() const { return done_; }
    size_t total() const { return total_; }
    bool cancelled() const { return cancelled_; }
    // Once finished: why the folder could not be compared at all (a folder that cannot be read).
    std::string failure() const;
    const std::string& folder() const { return folder_; }

private:
    void run();
    void collect(const struct UpdatePlan& plan);

    const EditSession& session_;
    std::string folder_;
    ReviewOptions options_;
    std::vector<bool> scope_;  // by entry index: compared at all
    std::thread thread_;
    std::atomic<bool> stop_{false}, finished_{false}, cancelled_{false};
    std::atomic<size_t> done_{0}, total_{0};
    mutable std::mutex mutex_;
    std::vector<ReviewRow> pending_;
    std::string failure_;
    // Of the plan so far (planning thread only).
    size_t changesSeen_ = 0, refusedSeen_ = 0, ambiguousSeen_ = 0, addedSeen_ = 0;
};

// The step label: "Update from FOLDER: 12 changed, 3 added" (", 2 deleted" when there are).
std::string ReviewLabel(const std::string& folder, size_t changed, size_t added, size_t deleted);

// The takeable rows with ticked[k] true as one step of the session, labelled after the folder's
// name; an ambiguous row takes the file for the candidate picked (a picture encoded like it).
EditSession::Outcome ApplyReview(EditSession& session, const std::string& folder,
                                 const std::vector<ReviewRow>& rows,
                                 const std::vector<bool>& ticked);

}  // namespace vorlr
