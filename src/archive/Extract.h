#pragma once
// Copying the selected entry out of the archive, and replacing a file by renaming.
#include <cstdint>
#include <functional>
#include <string>

#include "archive/ViewerState.h"

namespace vorlr {

// Copies state.CurrentEntrySize bytes from the archive's current position to fileName
// (created or truncated), bringing CurrentEntrySize down; stops early when a read returns no
// bytes. Fills HeadBytes from the new file (earlier bytes kept past a short file) and sets
// TempFileName.
void ExtractEntry(ViewerState& state, const std::string& fileName);

// ExtractEntry's copy loop with the bytes handed to sink instead of a file: same reads, same
// WorkBuffer contents and archive position afterwards. Returns the number of bytes handed on,
// which is below the starting CurrentEntrySize only when the archive ended first.
using EntrySink = std::function<void(const uint8_t* data, int64_t count)>;
int64_t CopyEntryBytes(ViewerState& state, const EntrySink& sink);
// The same copy to a file descriptor opened for writing (at its current offset), done inside
// the kernel where both are regular files; the state afterwards is the same. A short write
// is "Disk full".
int64_t CopyEntryToFile(ViewerState& state, int fd);

// Renames source to target, replacing target. The target is deleted only when the source
// exists and the rename can then take place; nothing is reported.
void ReplaceFile(const std::string& source, const std::string& target);

}  // namespace vorlr
