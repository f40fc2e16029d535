#include "app/ViewerState.h"

#include "archive/Extract.h"

namespace vorlr {

void ExtractEntry(ViewerState& state, const std::string& fileName) {
    ExtractEntry(EntryCopy{state.ArchiveFile, state.CurrentEntrySize, state.WorkBuffer}, fileName,
                 state.HeadBytes);
    state.TempFileName = fileName;
}

void ReadEntryLocation(ViewerState& state, size_t index) {
    const ArchiveEntry entry = state.archive.entry(index);
    state.CurrentEntryOffset = entry.offset;
    state.CurrentEntrySize = entry.size;
    state.ArchiveFile.seek(state.CurrentEntryOffset);
}

}  // namespace vorlr
