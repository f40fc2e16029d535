#include "edit/FolderReview.h"

#include <algorithm>
#include <exception>

#include "archive/FolderUpdate.h"
#include "platform/Errors.h"
#include "viewers/encoders/PictureUpdate.h"

namespace vorlr {

namespace {

std::string folderName(const std::string& folder) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos || path.size() == 1 ? path : path.substr(slash + 1);
}

std::string storedName(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The new data of a change as the session holds it; a file that cannot be looked at refuses
// the row.
void takeData(ReviewRow& row, const NewData& data) {
    try {
        row.data = data.path.empty() ? PendingData::fromBytes(data.bytes)
                                     : PendingData::fromFile(data.path);
        row.newSize = row.data->size();
    } catch (const std::exception& e) {
        row.reason = e.what();
    }
}

}  // namespace

FolderReview::FolderReview(const EditSession& session, const FolderTree* tree, std::string folder,
                           ReviewOptions options)
    : session_(session), folder_(std::move(folder)), options_(options) {
    // Taken now, on the caller's thread: which entries the folder is compared with.
    const size_t count = session.archiveEntries();
    scope_.assign(count, options.node == kNoNode || !tree);
    if (options.node != kNoNode && tree)
        for (const int32_t id : tree->entriesInSubtree(options.node))
            if (id >= 0 && static_cast<size_t>(id) < count) scope_[static_cast<size_t>(id)] = true;
    if (const ArchiveChanges* changes = session.changes())
        for (size_t i = 0; i < count; ++i)
            if (scope_[i] && (!changes->present(EntryId(i)) || changes->marked(EntryId(i))))
                scope_[i] = false;
    total_ = count;
}

FolderReview::~FolderReview() {
    cancel();
    wait();
}

void FolderReview::start() {
    thread_ = std::thread([this] { run(); });
}

void FolderReview::wait() {
    if (thread_.joinable()) thread_.join();
}

std::vector<ReviewRow> FolderReview::takeRows() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ReviewRow> rows;
    rows.swap(pending_);
    return rows;
}

std::string FolderReview::failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

void FolderReview::run() {
    try {
        const Archive* archive = session_.archive();
        if (!archive) throw Error("no archive to compare with");
        const int workers =
            options_.workers > 0
                ? options_.workers
                : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        const UpdatePictures pictures = PictureUpdateSupport(workers);
        UpdateOptions options;
        options.deleteMissing = options_.deleteMissing;
        options.matchNames = options_.matchNames;
        options.pictures = &pictures;
        options.inScope = [this](size_t i) { return i < scope_.size() && scope_[i]; };
        options.progress = [this](const UpdatePlan& plan, size_t done, size_t) {
            done_ = done;
            collect(plan);
            return !stop_;
        };
        const UpdatePlan plan = PlanFolderUpdate(*archive, folder_, options);
        if (plan.cancelled) {
            cancelled_ = true;
        } else {
            collect(plan);
            done_ = total_.load();
        }
    } catch (const std::exception& e) {
        std::lock_guard<std::mutex> lock(mutex_);
        failure_ = e.what();
    }
    finished_ = true;
}

// The plan's changes and refusals not yet passed on, as rows.
void FolderReview::collect(const UpdatePlan& plan) {
    if (changesSeen_ == plan.changes.size() && refusedSeen_ == plan.refused.size() &&
        ambiguousSeen_ == plan.ambiguous.size())
        return;
    const Archive& archive = *session_.archive();
    std::vector<ReviewRow> rows;
    for (; ambiguousSeen_ < plan.ambiguous.size(); ++ambiguousSeen_) {
        const UpdateAmbiguity& a = plan.ambiguous[ambiguousSeen_];
        ReviewRow row;
        row.name = storedName(a.file);
        row.file = a.file;
        for (const size_t i : a.candidates) row.candidates.push_back(static_cast<EntryId>(i));
        rows.push_back(std::move(row));
    }
    for (; changesSeen_ < plan.changes.size(); ++changesSeen_) {
        const UpdateChange& c = plan.changes[changesSeen_];
        ReviewRow row;
        row.kind = c.kind;
        row.name = c.name;
        if (c.index) {
            row.entry = static_cast<EntryId>(*c.index);
            row.oldSize = archive.entry(*c.index).size;
        }
        if (c.kind == 'M') {
            takeData(row, plan.edit.replace.at(*c.index));
        } else if (c.kind == 'A') {
            const auto& [name, data] = plan.edit.add.at(addedSeen_++);
            row.file = data.path.substr(folder_.size() + 1);
            takeData(row, data);
        }
        rows.push_back(std::move(row));
    }
    for (; refusedSeen_ < plan.refused.size(); ++refusedSeen_) {
        const UpdateRefusal& r = plan.refused[refusedSeen_];
        ReviewRow row;
        row.kind = r.kind;
        row.name = r.name;
        row.file = r.file;
        row.reason = r.reason;
        if (r.index) {
            row.entry = static_cast<EntryId>(*r.index);
            row.oldSize = archive.entry(*r.index).size;
        }
        rows.push_back(std::move(row));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (ReviewRow& row : rows) pending_.push_back(std::move(row));
}

std::string ReviewLabel(const std::string& folder, size_t changed, size_t added, size_t deleted) {
    std::string label = "Update from " + folderName(folder) + ": " + std::to_string(changed) +
                        " changed, " + std::to_string(added) + " added";
    if (deleted > 0) label += ", " + std::to_string(deleted) + " deleted";
    return label;
}

EditSession::Outcome ApplyReview(EditSession& session, const std::string& folder,
                                 const std::vector<ReviewRow>& rows,
                                 const std::vector<bool>& ticked) {
    std::vector<std::pair<std::string, DataRef>> added;
    std::vector<std::pair<EntryId, DataRef>> replaced;
    std::vector<EntryId> removed;
    for (size_t k = 0; k < rows.size(); ++k) {
        const ReviewRow& row = rows[k];
        if (k >= ticked.size() || !ticked[k] || !row.takeable()) continue;
        if (row.picked) {
            EditSession::ReplacementFrom from;
            from.file = folder + "/" + row.file;
            if (DataRef data = session.replacement(*row.picked, from))
                replaced.emplace_back(*row.picked, data);
        } else if (row.kind == 'M') {
            replaced.emplace_back(*row.entry, row.data);
        } else if (row.kind == 'A') {
            added.emplace_back(row.name, row.data);
        } else {
            removed.push_back(*row.entry);
        }
    }
    if (added.empty() && replaced.empty() && removed.empty()) return {};
    return session.update(added, replaced, removed,
                          ReviewLabel(folder, replaced.size(), added.size(), removed.size()));
}

}  // namespace vorlr
