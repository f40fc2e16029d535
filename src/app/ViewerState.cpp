#include "app/ViewerState.h"

#include "archive/Extract.h"

#include <algorithm>
#include <climits>

namespace vorlr {

void ExtractEntry(ViewerState& state, const std::string& fileName) {
    ExtractEntry(EntryCopy{state.EntryFile(), state.CurrentEntrySize, state.WorkBuffer}, fileName,
                 state.HeadBytes);
    state.TempFileName = fileName;
}

void ReadEntryLocation(ViewerState& state, size_t index) {
    const ArchiveEntry entry = state.archive.entry(index);
    state.CurrentEntryOffset = entry.offset;
    state.CurrentEntrySize = entry.size;
    state.PendingFile.reset();
    state.ArchiveFile.seek(state.CurrentEntryOffset);
}

void UsePendingEntry(ViewerState& state, std::unique_ptr<ByteSource> source, int64_t size) {
    state.CurrentEntryOffset = 0;
    state.CurrentEntrySize = static_cast<int32_t>(std::min<int64_t>(size, INT32_MAX));
    state.PendingFile = std::move(source);
}

}  // namespace vorlr
