#pragma once
// Reads the open archive's directory into the folder tree, 50 records at a time.
#include <cstdint>
#include <string>

#include "archive/FolderTree.h"
#include "archive/ViewerState.h"

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
    // Panels restored; called on every way out once loadingStarted ran.
    virtual void loadingFinished() {}
};

// Directory part of a path: up to and including its last backslash, or "".
std::string ExtractDirectoryPart(const std::string& path);
// Cuts the first segment off path when it holds a backslash.
bool SplitFirstSegment(std::string& path, std::string& segment);

// Closes any open archive, opens state.CurrentArchiveName, resizes EntryOffsetTable and fills
// the (already emptied) tree. Stops after the entry in hand when state.StopRequested is set.
void LoadDirectory(ViewerState& state, FolderTree& tree, LoadObserver& observer);

}  // namespace vorlr
