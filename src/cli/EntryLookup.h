#pragma once
// What qar cat, text and convert share: an archive opened read-only with its directory, NAME
// resolved to an entry, and the entry's bytes copied out as the viewer copies them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/Container.h"
#include "archive/Extract.h"
#include "archive/ViewerState.h"

namespace qar {

struct ArchiveSession {
    // ArchiveFile holds the archive, opened read-only; the rest as in a viewer just started.
    std::unique_ptr<vorlr::ViewerState> state = std::make_unique<vorlr::ViewerState>();
    vorlr::ArchiveFigures figures;
    std::vector<vorlr::DirectoryRecord> records;
};

// Opens path read-only and reads its directory; file errors and a directory that cannot be
// read raise.
ArchiveSession OpenArchiveSession(const std::string& path);

// NAME -> entry index: "#N" is entry N (0-based); otherwise the first entry whose stored name
// equals NAME byte for byte, where '/' in NAME also stands for '\'.
std::optional<size_t> FindEntry(const std::vector<vorlr::DirectoryRecord>& records,
                                const std::string& name);
// As FindEntry; an unknown NAME raises "no entry named NAME".
size_t ResolveEntry(const ArchiveSession& session, const std::string& name);

// Makes entry index current as selecting it in the viewer does: CurrentEntryName, Offset and
// Size set, the archive positioned at its data (a negative offset raises "I/O error 131").
void SelectEntry(ArchiveSession& session, size_t index);

// Selects entry index and copies its bytes with ExtractEntry's loop. Returns the number of
// bytes written; below a positive recorded size only when the archive ended first.
int64_t CopyEntry(ArchiveSession& session, size_t index, const vorlr::EntrySink& sink);
// ... to a file descriptor (a short write is "Disk full").
int64_t CopyEntryToFd(ArchiveSession& session, size_t index, int fd);
// ... to a file, exactly as ExtractEntry writes it (HeadBytes and TempFileName too).
void ExtractEntryTo(ArchiveSession& session, size_t index, const std::string& fileName);

}  // namespace qar
