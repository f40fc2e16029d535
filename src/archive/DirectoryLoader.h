#pragma once
// Reads the open archive's directory into the folder tree, 50 records at a time.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Archive.h"
#include "archive/FolderTree.h"
#include "archive/WorkBuffer.h"

namespace vorlr {

// The window's side of loading: the loading panel, progress and event dispatch.
class LoadObserver {
public:
    virtual ~LoadObserver() = default;
    // The loading panel appears, the main panel is disabled.
    virtual void loadingStarted(int32_t count) { (void)count; }
    // Every 50 entries and after each new folder node: let pending events (Stop) run.
    virtual void dispatchEvents() {}
    virtual void progress(int32_t index) { (void)index; }
    // Polled after each entry: true ends the load after the entry in hand.
    virtual bool stopRequested() { return false; }
    // Panels restored; called on every way out once loadingStarted ran.
    virtual void loadingFinished() {}
};

// The loading rules, one entry at a time: each entry's folders are found (or made) from its
// directory, unless it is the previous entry's; then its file node is added. Loading an archive
// and the window's view of pending edits build their trees with it.
class TreeBuilder {
public:
    explicit TreeBuilder(FolderTree& tree) : tree_(tree) {}
    // Carries on after an entry already in the tree, as if add() had just added it.
    void resumeAfter(std::string_view name, NodeId fileNode);
    // Adds the entry named name (cut at its zero byte) with entry index entryIndex and returns
    // its file node; observer->dispatchEvents() runs after each new folder node. name must stay
    // valid while events are dispatched.
    NodeId add(std::string_view name, int32_t entryIndex, LoadObserver* observer = nullptr);

private:
    FolderTree& tree_;
    std::string previousDirectory_;
    NodeId parent_ = kNoNode;
};

// Directory part of a path: up to and including its last backslash, or "".
std::string ExtractDirectoryPart(const std::string& path);
// Cuts the first segment off path when it holds a backslash.
bool SplitFirstSegment(std::string& path, std::string& segment);

// What a load fills besides the tree; the window keeps these for its lifetime.
struct DirectoryLoad {
    Archive& archive;                        // opened afresh; gets the entries read
    std::vector<int32_t>& EntryOffsetTable;  // element i: position of entry i's offset field
    WorkBufferBytes& WorkBuffer;             // the records pass through it, 50 at a time
};

// Closes the archive, opens path, resizes EntryOffsetTable and fills the (already emptied)
// tree. The count at 512 is trusted; a directory start below 0 raises "I/O error 131" and a
// negative count "Range check error", both before loadingStarted.
void LoadDirectory(const std::string& path, const DirectoryLoad& load, FolderTree& tree,
                   LoadObserver& observer);

}  // namespace vorlr
