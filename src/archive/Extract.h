#pragma once
// Copying an entry out of the archive, and replacing a file by renaming.
#include <cstdint>
#include <functional>
#include <string>

#include "archive/Archive.h"
#include "archive/WorkBuffer.h"

namespace vorlr {

// The copy loop's inputs and what it leaves behind: a read position at the entry's data, the
// bytes still to copy (brought down to 0), and the buffer the bytes pass through. The window
// keeps all three between selections; the tool makes fresh ones per entry.
struct EntryCopy {
    ByteSource& archive;  // an ArchiveReader, or the bytes of an entry not saved yet
    int32_t& remaining;  // CurrentEntrySize
    WorkBufferBytes& WorkBuffer;
};

// Copies the remaining bytes from the archive's position to fileName (created or truncated);
// stops early when a read returns no bytes. Fills HeadBytes from the new file (earlier bytes
// kept past a short file). Refuses to truncate the archive itself ("File access denied").
void ExtractEntry(const EntryCopy& copy, const std::string& fileName, HeadBytesArray& HeadBytes);

// The copy loop with the bytes handed to sink instead of a file: 16384-byte reads into
// WorkBuffer. Returns the number of bytes handed on, which is below the starting count only
// when the archive ended first.
using EntrySink = std::function<void(const uint8_t* data, int64_t count)>;
int64_t CopyEntryBytes(const EntryCopy& copy, const EntrySink& sink);
// The same copy to a file descriptor opened for writing (at its current offset), done inside
// the kernel where both are regular files; WorkBuffer, the position and the count end as the
// loop leaves them. A short write is "Disk full".
int64_t CopyEntryToFile(const EntryCopy& copy, int fd);

// Renames source to target, replacing target. The target is deleted only when the source
// exists and the rename can then take place; nothing is reported.
void ReplaceFile(const std::string& source, const std::string& target);

}  // namespace vorlr
