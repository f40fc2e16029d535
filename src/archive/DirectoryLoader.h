#pragma once
// Reads the open archive's directory into the folder tree, 50 records at a time.
#include <cstdint>
#include <string>
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
