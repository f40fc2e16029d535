#pragma once
// The main window's shared private state, in one place. Widget-free: the archive layer and the
// decoders work on it directly; image views are only referred to.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Bitmap24.h"
#include "platform/RuntimeFile.h"

namespace vorlr {

class ImageView;  // a picture control on the Image page (defined by the window)

constexpr size_t kWorkBufferSize = 16384;

struct ViewerState {
    std::vector<ImageView*> ImageViewList;  // element 0 is the permanent first view
    ImageView* FirstView = nullptr;
    std::vector<std::string> ArchiveNameList;  // scratch list of Browse, kept sorted
    Rect TileRect;
    bool HasBackground = false;
    RuntimeFile ArchiveFile;
    std::vector<int32_t> EntryOffsetTable;
    int32_t CurrentEntryOffset = 0;
    int32_t CurrentEntrySize = 0;
    std::string CurrentArchiveName;
    std::string CurrentEntryName;
    std::string CurrentExtension;
    std::string TempFileName;
    std::string StartDirectory;
    std::array<uint8_t, kWorkBufferSize> WorkBuffer{};
    std::array<uint8_t, 16> HeadBytes{};
    std::array<uint8_t, 256 * 3> SharedPalette{};  // blue, green, red
    bool StopRequested = false;
    int16_t ImageWidth = 0;
    int16_t ImageHeight = 0;
};

}  // namespace vorlr
