#pragma once
// Copying the selected entry out of the archive, and replacing a file by renaming.
#include <string>

#include "archive/ViewerState.h"

namespace vorlr {

// Copies state.CurrentEntrySize bytes from the archive's current position to fileName
// (created or truncated), bringing CurrentEntrySize down; stops early when a read returns no
// bytes. Fills HeadBytes from the new file (earlier bytes kept past a short file) and sets
// TempFileName.
void ExtractEntry(ViewerState& state, const std::string& fileName);

// Renames source to target, replacing target. The target is deleted only when the source
// exists and the rename can then take place; nothing is reported.
void ReplaceFile(const std::string& source, const std::string& target);

}  // namespace vorlr
