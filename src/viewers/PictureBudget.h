#pragma once
// What a picture entry's bytes can be worth: the fewest bytes the pictures its header declares
// take at the format's best compression, against the bytes the entry holds. Batch conversion
// skips pictures that cannot be more than a sliver of what they claim, instead of filling
// hundreds of megapixels from a few kilobytes.
#include <cstdint>
#include <string>

#include "archive/Archive.h"
#include "archive/EntryKind.h"
#include "platform/ByteSource.h"

namespace vorlr {

struct PictureNeed {
    int64_t bytes = 0;  // header, palette and records included; 0 when the header is unreadable
    std::string what;   // "W x H pixels", "N sub-images"
};

// Reads the header at source's position (and a palette KMG's sub-image records) and puts the
// position back. Kinds other than Kmg and Targa, unsupported Targa depths and headers the
// input cuts off need nothing: the decoder reports those itself, at no cost.
PictureNeed LeastPictureBytes(ByteSource& source, EntryKind kind);

// The bytes of an entry inside its archive: its recorded size, less what lies past the file's
// end; 0 for a negative size or offset.
int64_t EntryBytesHeld(const Archive& archive, const ArchiveEntry& entry);

// Empty when held is at least half of need; otherwise why the picture is damaged.
std::string PictureShortfall(const PictureNeed& need, int64_t held);

}  // namespace vorlr
