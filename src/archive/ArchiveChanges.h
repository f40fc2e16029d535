#pragma once
// Pending edits of a loaded archive, as the window holds them until they are saved: steps that
// replace an entry's data, add entries, delete entries or rename one, each undoable and
// redoable. Nothing is written until the steps become one ArchiveEdit for the writer. No
// widgets: the window, the tests and the benchmarks drive it alike.
//
// Entries are named by EntryId: below the archive's entry count, the loaded entry of that
// directory index; from there on, the added entries in the order they were added (an id is never
// given twice, so undo and redo bring back the very same one). The saved archive holds the
// present entries in id order: the kept loaded entries in their order, then the added ones.
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "archive/Archive.h"
#include "archive/ArchiveWriter.h"
#include "archive/DirectoryLoader.h"
#include "archive/FolderTree.h"

namespace vorlr {

using EntryId = int32_t;

// An entry's new data: bytes held in memory, or a file read when the archive is saved. Such a
// file must then still be the one that was picked (same file, size and modification time):
// what is saved is what was shown.
class PendingData {
public:
    static std::shared_ptr<const PendingData> fromBytes(std::vector<uint8_t> bytes);
    // Looks at the file now (symbolic links followed); raises the runtime's error or "not a
    // regular file".
    static std::shared_ptr<const PendingData> fromFile(const std::string& path);

    int64_t size() const { return size_; }
    bool inMemory() const { return path_.empty(); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    const std::string& path() const { return path_; }
    // A reader at the first byte (the file opened now).
    std::unique_ptr<ByteSource> open() const;
    // Empty when a file is still as picked, else what became of it.
    std::string changedSincePicked() const;
    NewData toNewData() const;

private:
    std::vector<uint8_t> bytes_;
    std::string path_;
    FileId identity_;
    int64_t size_ = 0;
    struct timespec modified_ {};
};
using DataRef = std::shared_ptr<const PendingData>;

// A reader at data's first byte that keeps data alive while it reads (a picked file is opened
// now).
std::unique_ptr<ByteSource> OpenHeld(DataRef data);

class ArchiveChanges {
public:
    // archive: open, with its whole directory read, for as long as this lives.
    explicit ArchiveChanges(const Archive& archive);

    // What one step did: whether a step was made at all, the first entry (in saved order) whose
    // name or presence changed (the tree is the same before it), and the entries whose data,
    // name or presence changed.
    struct Outcome {
        bool made = false;
        std::optional<EntryId> treeFrom;
        std::vector<EntryId> touched;
    };

    // The entries of the saved archive.
    EntryId sourceCount() const { return sourceCount_; }
    EntryId endId() const { return sourceCount_ + static_cast<EntryId>(added_.size()); }
    bool present(EntryId id) const;
    size_t presentCount() const { return present_; }
    // The stored name it will be saved with.
    std::string_view name(EntryId id) const;
    // Its new data; null for a loaded entry's own.
    DataRef data(EntryId id) const;
    // Replaced, renamed or added: what the tree marks.
    bool marked(EntryId id) const;
    bool added(EntryId id) const { return id >= sourceCount_; }
    int64_t size(EntryId id) const;
    // Its bytes from the first on, as the viewers read them (a loaded entry's reader runs on to
    // the end of the archive, as the window's always has).
    std::unique_ptr<ByteSource> open(EntryId id) const;
    // Its bytes, at most limit of them ("too large" raised past it).
    std::vector<uint8_t> read(EntryId id, int64_t limit) const;
    // Whether data holds exactly the entry's present bytes.
    bool holds(EntryId id, const PendingData& data) const;
    // The last present entry with this stored name (the one a file of that name stands for).
    std::optional<EntryId> find(std::string_view name) const;
    // The same for many names in one pass over the entries.
    std::vector<std::optional<EntryId>> findEach(const std::vector<std::string>& names) const;
    // Why an entry (other than except) may not be stored under name, or "": empty, 200 bytes or
    // more, a name extraction would skip, a name another entry has.
    std::string nameProblem(std::string_view name, std::optional<EntryId> except) const;
    // The same without looking at the other entries: what no entry may be named.
    static std::string shapeProblem(std::string_view name);

    // Entries that differ from the loaded archive; 0 when saving would change nothing.
    size_t changeCount() const { return changed_; }

    // Steps. Each is one undo; none is made when nothing would change.
    // New data for an entry; data equal to what it holds is no change, data equal to the
    // loaded entry's own takes the replacement back.
    Outcome replace(EntryId id, DataRef data, const std::string& label);
    // Entries added under these stored names (checked as nameProblem says), and data for
    // entries that already exist, in one step.
    Outcome add(const std::vector<std::pair<std::string, DataRef>>& files,
                const std::vector<std::pair<EntryId, DataRef>>& replacements,
                const std::string& label);
    // The same with entries removed in that step too (a folder put back into the archive);
    // raises Error, before anything changes, when no entry would remain.
    Outcome update(const std::vector<std::pair<std::string, DataRef>>& files,
                   const std::vector<std::pair<EntryId, DataRef>>& replacements,
                   const std::vector<EntryId>& removals, const std::string& label);
    // Raises Error when no entry would remain.
    Outcome remove(const std::vector<EntryId>& ids, const std::string& label);
    // Raises Error with nameProblem's reason; the name it has is no change.
    Outcome rename(EntryId id, const std::string& newName, const std::string& label);

    bool canUndo() const { return !undo_.empty(); }
    bool canRedo() const { return !redo_.empty(); }
    const std::string& undoLabel() const;
    const std::string& redoLabel() const;
    Outcome undo();
    Outcome redo();
    // Back to the loaded archive, with no steps to undo or redo.
    Outcome discard();

    // The edit for the writer. Raises Error naming every picked file that changed since.
    ArchiveEdit toEdit() const;

private:
    struct State {
        bool present = true;
        std::optional<std::string> name;  // a loaded entry's: set when renamed
        DataRef data;
    };
    struct Delta {
        EntryId id;
        State before, after;
    };
    struct Step {
        std::string label;
        std::vector<Delta> deltas;
    };
    State state(EntryId id) const;
    State withData(EntryId id, DataRef data) const;
    bool differs(EntryId id, const State& s) const;
    void set(EntryId id, const State& s);
    Outcome apply(const Step& step, bool forward);
    Outcome commit(Step step);
    bool sameBytes(ByteSource& a, ByteSource& b, int64_t size) const;

    const Archive& archive_;
    EntryId sourceCount_;
    // Per loaded entry: bit 0 removed, bit 1 renamed, bit 2 replaced; details in sources_.
    std::vector<uint8_t> flags_;
    std::unordered_map<EntryId, State> sources_;
    std::vector<State> added_;
    std::vector<Step> undo_, redo_;
    size_t changed_ = 0;
    size_t present_ = 0;
};

// The folder tree of the archive as the pending edits will save it: node for node what loading
// the saved archive builds, with each file node's entry index its EntryId (so an unchanged
// archive's tree is the loaded one). After a step only the part from its first changed entry
// on is built again.
class PendingTree {
public:
    PendingTree(FolderTree& tree, const ArchiveChanges& changes);
    // The tree is the loaded archive's, just built by the loader.
    void loaded();
    // Entries before from (in saved order) kept their names and presence since the last update.
    void update(EntryId from);
    NodeId nodeOf(EntryId id) const;

private:
    FolderTree& tree_;
    const ArchiveChanges& changes_;
    std::vector<NodeId> nodes_;  // by EntryId
};

}  // namespace vorlr
