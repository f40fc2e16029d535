#pragma once
// The main window's private state shared by its handlers and pages. The decoder state (work
// buffer, palette, image size) is its base: the window keeps one for its lifetime.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/WorkBuffer.h"
#include "platform/Bitmap24.h"
#include "viewers/DecoderState.h"

namespace vorlr {

class ImageView;

struct ViewerState : DecoderState {
    std::vector<ImageView*> ImageViewList;  // element 0 is the permanent first view
    ImageView* FirstView = nullptr;
    std::vector<std::string> ArchiveNameList;  // scratch list of Browse, kept sorted
    Rect TileRect;
    bool HasBackground = false;
    Archive archive;
    // The open archive's one read position, shared as the window has always shared it:
    // selecting an entry moves it to the entry's data, and the viewers read on from there.
    ArchiveReader ArchiveFile{archive};
    // While an entry not saved yet is selected: its bytes, which the viewers read instead.
    std::unique_ptr<ByteSource> PendingFile;
    ByteSource& EntryFile() { return PendingFile ? *PendingFile : ArchiveFile; }
    std::vector<int32_t> EntryOffsetTable;
    int32_t CurrentEntryOffset = 0;
    int32_t CurrentEntrySize = 0;
    std::string CurrentArchiveName;
    std::string CurrentEntryName;
    std::string CurrentExtension;
    std::string TempFileName;
    std::string StartDirectory;
    // Entries sent to the pages so far: a page that runs the event loop while it shows one
    // (closing a sound output may) can tell that a later selection has shown another since.
    uint64_t EntriesShown = 0;
    HeadBytesArray HeadBytes{};
    bool StopRequested = false;
};

// Copies the selected entry from the archive's position to fileName as the viewers need it:
// CurrentEntrySize brought down, WorkBuffer and HeadBytes filled, TempFileName set.
void ExtractEntry(ViewerState& state, const std::string& fileName);

// Makes entry index current as selecting its node does: CurrentEntryOffset and
// CurrentEntrySize as loaded, then the archive's position moved to the data ("I/O error 131"
// for a negative offset, with both already set).
void ReadEntryLocation(ViewerState& state, size_t index);

// Makes an entry not saved yet current: its bytes read from source's first byte on, its size,
// no offset.
void UsePendingEntry(ViewerState& state, std::unique_ptr<ByteSource> source, int64_t size);

}  // namespace vorlr
