#pragma once
// One archive being edited: the loaded archive with its pending changes, the folder tree as the
// saved archive will have it, and the file on disk as it was loaded. It gives the entries as they
// stand (pending bytes or the archive's), makes the new data of a replacement, turns files to add
// into a plan whose name conflicts the caller answers, and checks the file on disk before a save.
// Every step is announced, so that whatever shows the archive listens instead of being called.
// No widgets: the window, tests and benchmarks drive it alike.
#include <sys/stat.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/ArchiveChanges.h"

namespace vorlr {

class EditSession {
public:
    using Outcome = ArchiveChanges::Outcome;

    // Editing starts on a loaded archive whose whole directory was read (entriesRead entries);
    // false when there is nothing to edit (a stopped load, a file that cannot be looked at).
    // tree: the loaded archive's tree, kept as the saved archive will have it from then on.
    bool open(const Archive& archive, size_t entriesRead, FolderTree& tree);
    // A new archive without a file (none: a closed archive, tree: empty): every entry comes by
    // a step, it is pending from the start, and it is saved only under a name of its own.
    void openNew(const Archive& none, FolderTree& tree);
    bool isNew() const { return new_; }
    // The changes end with the archive (announced as an end).
    void close();

    bool editable() const { return changes_ != nullptr; }
    bool pending() const { return changes_ && (new_ || changes_->changeCount() > 0); }
    ArchiveChanges* changes() const { return changes_.get(); }
    PendingTree* tree() const { return tree_.get(); }

    // Entries as they stand, with or without editing (a stopped load: the archive's own): which
    // are there, their stored names, whether an entry's bytes are pending ones (not in the
    // loaded file), and a reader of them from the first byte with their size.
    bool present(EntryId id) const;
    std::string entryName(EntryId id) const;
    bool holdsPending(EntryId id) const;
    std::unique_ptr<ByteSource> openEntry(EntryId id) const;
    int64_t entrySize(EntryId id) const;
    // Readers of entries as they stand now, for any number of threads: later steps never change
    // what they read. Each gives a reader at the entry's first byte and the number of bytes the
    // entry holds from there; an id not among ids raises. Without editing (a stopped load), the
    // archive's own entries.
    struct EntryBytes {
        std::unique_ptr<ByteSource> source;
        int64_t held = 0;
    };
    using EntryBytesFor = std::function<EntryBytes(EntryId)>;
    EntryBytesFor bytesAsTheyStand(const std::vector<EntryId>& ids) const;
    // An archive is open to read entries from, with this many entries.
    bool reading() const { return archive_ && archive_->isOpen(); }
    // The loaded archive, for reading only (null before open).
    const Archive* archive() const { return archive_; }
    size_t archiveEntries() const { return archive_ ? archive_->entryCount() : 0; }

    // The new data for entry id from a file: a picture file (or, with content, the bytes another
    // program saved) for a .kmg or .tga entry is encoded like the entry, in place of sub-image
    // subImage; without one, the sub-image a NAME_N file name gives, else what choose answers
    // for the count (nothing: cancelled), else 0. sameSize refuses a picture of another size
    // than the sub-image's (a write-back may not move the entry's layout). Any other file is
    // taken as it is. Null when nothing changes (the same pixels) or the choice was cancelled.
    // Errors name the file.
    struct ReplacementFrom {
        std::string file;
        const std::vector<uint8_t>* content = nullptr;
        std::optional<size_t> subImage;
        bool sameSize = false;
        std::function<std::optional<size_t>(size_t count)> choose;
    };
    DataRef replacement(EntryId id, const ReplacementFrom& from) const;
    // The same for an entry of any archive: its stored name, and a reader of its bytes from the
    // first with their count (made only when a picture is encoded).
    static DataRef ReplacementFor(const std::string& name,
                                  const std::function<EntryBytes()>& open,
                                  const ReplacementFrom& from);

    // Files to add under stored names, in the order they will be added (byte order of the
    // names), each with the entry that holds its name already; a name no entry may have raises
    // Error before anything else.
    struct AddPlan {
        struct File {
            std::string name, path;
            std::optional<EntryId> existing;
        };
        std::vector<File> files;
        std::string label;
    };
    AddPlan planAdd(std::vector<std::pair<std::string, std::string>> files, std::string label) const;
    // One step: the new files added, and those whose answer is true replacing their entries
    // (answers: one per file with an existing entry, in order).
    Outcome add(const AddPlan& plan, const std::vector<bool>& answers);

    // Steps, each announced.
    Outcome replace(EntryId id, DataRef data, const std::string& label);
    Outcome remove(const std::vector<EntryId>& ids, const std::string& label);
    // Entries added, replaced and removed in one step (a folder put back).
    Outcome update(const std::vector<std::pair<std::string, DataRef>>& added,
                   const std::vector<std::pair<EntryId, DataRef>>& replaced,
                   const std::vector<EntryId>& removed, const std::string& label);
    Outcome rename(EntryId id, const std::string& newName, const std::string& label);
    Outcome undo();
    Outcome redo();
    // Back to the loaded archive (not a step: it cannot be undone); announced as an end.
    void discard();

    // What a save writes: raises Error, the changes kept, when the loaded file changed on disk
    // since the load, or (in place) when the archive's name no longer stands for that file. as:
    // Save archive as...'s target (the loaded file's own name means in place).
    struct SavePlan {
        ArchiveEdit edit;
        WriteTarget target;
    };
    SavePlan planSave(const std::optional<std::string>& as) const;
    // The changes are left behind without a step: saved (what was pending is in the file), or
    // dropped as the archive is left. Announced as an end.
    void forget();

    // Announcements, in the order the listeners were added: before a step builds the tree
    // again, after each step that changed something (and after steps that did not: made is
    // false), and when the changes end (saved, discarded, the archive closed).
    void onTreeRebuilding(std::function<void()> f) { rebuilding_.push_back(std::move(f)); }
    void onStep(std::function<void(const Outcome&)> f) { stepped_.push_back(std::move(f)); }
    void onEnd(std::function<void()> f) { ended_.push_back(std::move(f)); }
    // Whether the tree is built again from the start on the next step (a label was edited).
    void rebuildWholeTree() { wholeTree_ = true; }

private:
    Outcome announce(Outcome outcome);
    void end();

    const Archive* archive_ = nullptr;
    std::unique_ptr<ArchiveChanges> changes_;
    std::unique_ptr<PendingTree> tree_;
    struct stat loaded_ {};  // the archive file as it was loaded
    bool wholeTree_ = false;
    bool new_ = false;
    std::vector<std::function<void()>> rebuilding_, ended_;
    std::vector<std::function<void(const Outcome&)>> stepped_;
};

}  // namespace vorlr
