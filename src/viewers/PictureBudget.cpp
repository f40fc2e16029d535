#include "viewers/PictureBudget.h"

#include <algorithm>

#include "platform/LittleEndian.h"
#include "viewers/KmgDecoder.h"
#include "viewers/TargaDecoder.h"

namespace vorlr {

namespace {

// 16-bit rows: two bytes a pixel. Palette runs: a run byte covers at most 127 transparent
// pixels, and runs carry on from one row to the next.
PictureNeed kmgNeed(ByteSource& source, int64_t start) {
    uint8_t head[kKmgHeaderSize];
    if (source.readCounted(head, kKmgHeaderSize) != kKmgHeaderSize) return {};
    if (leU32(head + 4) == leU32(head + 8)) {
        const int64_t height = leI16(head + 20), width = leI16(head + 22);
        const int64_t pixels = width > 0 && height > 0 ? width * height : 0;
        return {kKmgHeaderSize + 2 * pixels,
                std::to_string(width) + " x " + std::to_string(height) + " pixels"};
    }
    const int count = leU16(head + 28);
    int64_t need = kKmgTableStart + int64_t{kKmgRecordSize} * count;
    source.seek(start + kKmgTableStart);
    for (int i = 0; i < count; ++i) {
        uint8_t record[kKmgRecordSize];
        if (source.readCounted(record, kKmgRecordSize) != kKmgRecordSize) break;
        const int64_t height = leI16(record + 12), width = leI16(record + 14);
        if (width > 0 && height > 0) need += (width * height + 126) / 127;
    }
    return {need, std::to_string(count) + " sub-images"};
}

// Raw rows: every pixel's bytes. Run-length (type 10): a packet of 1 + bpp bytes repeats a
// pixel at most 128 times, and packets run on across rows.
PictureNeed targaNeed(ByteSource& source) {
    uint8_t h[kTargaHeaderSize];
    if (source.readCounted(h, kTargaHeaderSize) != kTargaHeaderSize) return {};
    const int bits = h[16];
    if (!targaDepthSupported(bits)) return {};
    const int64_t width = leI16(h + 12), height = leI16(h + 14), bpp = bits / 8;
    int64_t need = kTargaHeaderSize + h[0] + (h[2] == 1 ? kTargaColourMapSize : 0);
    if (width > 0 && height > 0)
        need += h[2] == 10 ? (width * height + 127) / 128 * (1 + bpp) : width * height * bpp;
    return {need, std::to_string(width) + " x " + std::to_string(height) + " pixels"};
}

}  // namespace

PictureNeed LeastPictureBytes(ByteSource& source, EntryKind kind) {
    if (kind != EntryKind::Kmg && kind != EntryKind::Targa) return {};
    const int64_t start = source.position();
    const PictureNeed need = kind == EntryKind::Kmg ? kmgNeed(source, start) : targaNeed(source);
    source.seek(start);
    return need;
}

int64_t EntryBytesHeld(const Archive& archive, const ArchiveEntry& entry) {
    if (entry.offset < 0 || entry.size < 0) return 0;
    return std::clamp<int64_t>(archive.size() - entry.offset, 0, entry.size);
}

std::string PictureShortfall(const PictureNeed& need, int64_t held) {
    if (held >= need.bytes - held) return {};  // held * 2 >= need, without overflow
    return need.what + " need at least " + std::to_string(need.bytes) + " bytes, the entry holds " +
           std::to_string(held);
}

}  // namespace vorlr
