#include "viewers/KmgDecoder.h"

#include <algorithm>
#include <cstring>

#include "platform/Errors.h"
#include "platform/LittleEndian.h"

namespace vorlr {
namespace {

// The picture a sub-image starts from: the 1 x 1 black dot enlarged to width x height, so
// everything but the top-left pixel is white. Reuses the rows when the size already fits.
void startFromDot(Bitmap24& picture, int width, int height) {
    if (picture.width() == width && picture.height() == height) {
        std::memset(picture.row(0), 0xFF, picture.stride() * static_cast<size_t>(height));
    } else {
        Bitmap24 dot(1, 1);
        std::memset(dot.row(0), 0, 3);
        picture = std::move(dot);
        picture.setSize(width, height);
    }
    std::memset(picture.row(0), 0, 3);
}

// Blue, green and red in the low three bytes (little-endian order in memory). The low bits of
// each channel stay 0: white 65535 becomes 248, 252, 248.
inline uint32_t rgb16ToBgr(uint32_t v) {
    return ((v & 31) << 3) | (((v >> 5) & 63) << 10) | ((v >> 11) << 19);
}

void ensureSize(Bitmap24& picture, int width, int height) {
    if (picture.width() != width || picture.height() != height) picture.setSize(width, height);
}

// Adds up the sub-images the table announces before any is allocated: a damaged table must not
// cost a gigabyte of white pictures before it is found too large. Records cut off by the end of
// the input are left to the decoding loop, which reports them after the ones before.
void checkSubImageLimits(ByteSource& source, const DecodeLimits& limits, int64_t tableStart,
                         int count) {
    uint64_t total = 0;
    for (int i = 0; i < count; ++i) {
        uint8_t record[kKmgRecordSize];
        source.seek(tableStart + int64_t{kKmgRecordSize} * i);
        if (source.readCounted(record, kKmgRecordSize) != kKmgRecordSize) return;
        const int height = leI16(record + 12), width = leI16(record + 14);
        if (width <= 0 || height <= 0) continue;
        checkPictureLimit(limits, width, height);
        total += static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3;
        if (total > limits.maxTotalBytes) throw Error("Out of memory");
    }
}

}  // namespace

const char* kmgTypeText(KmgKind kind) {
    return kind == KmgKind::Rgb16 ? "Type: Kestrom image file (16-bit)"
                                  : "Type: Kestrom image file (8-bit)";
}

KmgLayout::Position KmgLayout::place(int64_t width, int64_t height) {
    Position at;
    if (520 - next_left_ > width) {
        at = {next_left_, row_top_};
        next_left_ += width + 10;
        if (row_top_ + height > lowest_bottom_) lowest_bottom_ = row_top_ + height;
    } else {
        at = {10, lowest_bottom_ + 10};
        next_left_ = width + 20;
        row_top_ = lowest_bottom_ + 10;
        lowest_bottom_ = row_top_ + height;
    }
    return at;
}

void decodeKmgRgb16Pixels(ByteSource& source, DecoderState& state, Bitmap24& picture) {
    const int width = state.ImageWidth, height = state.ImageHeight;
    if (width <= 0 || height <= 0) return;
    ensureSize(picture, width, height);
    uint8_t* const buffer = state.WorkBuffer.data();
    constexpr int kPart = kKmgRowBufferBytes / 2;  // pixels per read
    for (int y = 0; y < height; ++y) {
        uint8_t* out = picture.row(y);
        // Rows wider than the row buffer are read in parts.
        for (int x = 0; x < width; x += kPart) {
            const int want = std::min(kPart, width - x);
            const int64_t got = source.readCounted(buffer, int64_t{want} * 2);
            const int pixels = static_cast<int>(std::max<int64_t>(got, 0) / 2);
            const uint8_t* in = buffer;
            // Four bytes stored per pixel, the fourth overwritten by the next; the last pixel
            // of a part is stored with three so nothing past it changes.
            for (int i = 0; i + 1 < pixels; ++i, in += 2, out += 3) {
                const uint32_t bgr = rgb16ToBgr(leU16(in));
                std::memcpy(out, &bgr, 4);
            }
            if (pixels > 0) {
                const uint32_t bgr = rgb16ToBgr(leU16(in));
                std::memcpy(out, &bgr, 3);
                out += 3;
            }
            if (pixels < want) return;  // the input has ended
        }
    }
}

namespace {

// kIndexes: the window's index plane is written too; without it the loop is the plain one.
template <bool kIndexes>
void runLengthPixels(ByteSource& source, DecoderState& state, Bitmap24& picture) {
    const int width = state.ImageWidth, height = state.ImageHeight;
    const uint8_t* const buffer = state.WorkBuffer.data();
    // The palette as 4-byte entries, so a pixel is one load and one store.
    uint32_t wide[256];
    for (int k = 0; k < 256; ++k) {
        const uint8_t* p = state.SharedPalette.data() + 3 * k;
        wide[k] = p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16);
    }
    int64_t avail = 0, pos = 0;
    auto refill = [&] {
        avail = std::max<int64_t>(source.readCounted(state.WorkBuffer.data(), kKmgInputBlock), 0);
        pos = 0;
        return avail > 0;
    };
    // The plane comes only with the first transparent pixel: a sub-image without one stays RGB.
    const bool keepAlpha = state.keepAlpha;
    if (keepAlpha) picture.setHasAlpha(false);
    if constexpr (kIndexes)
        if (!picture.hasIndexes()) picture.setHasIndexes(true);
    int x = 0, y = 0;
    // Every pixel's index is written, kNoIndex from where the input ends, so a plane kept from
    // an earlier picture of the same size needs no clearing first.
    auto inputEnded = [&] {
        if constexpr (kIndexes)
            std::fill(picture.indexRow(y) + x, picture.indexRow(0) + size_t(width) * height,
                      Bitmap24::kNoIndex);
    };
    uint8_t* row = picture.row(0);
    unsigned run = 0;
    bool transparent = false;
    for (;;) {
        if (run == 0) {
            if (pos == avail && !refill()) return inputEnded();
            const unsigned c = buffer[pos++];
            if (c == 0) continue;
            transparent = c > 128;
            run = transparent ? c - 128 : c;
        }
        unsigned n = std::min<unsigned>(run, static_cast<unsigned>(width - x));
        uint8_t* out = row + static_cast<size_t>(x) * 3;
        if (transparent) {
            std::memset(out, 0, size_t{n} * 3);
            if (keepAlpha) {
                if (!picture.hasAlpha()) picture.setHasAlpha(true);
                std::memset(picture.alphaRow(y) + x, 0, n);
            }
            if constexpr (kIndexes) std::fill_n(picture.indexRow(y) + x, n, Bitmap24::kNoIndex);
        } else {
            if (pos == avail && !refill()) return inputEnded();
            n = std::min<unsigned>(n, static_cast<unsigned>(avail - pos));
            const uint8_t* in = buffer + pos;
            for (unsigned k = 0; k + 1 < n; ++k, out += 3) std::memcpy(out, &wide[in[k]], 4);
            if (n > 0) std::memcpy(out, &wide[in[n - 1]], 3);
            if constexpr (kIndexes) std::copy_n(in, n, picture.indexRow(y) + x);
            pos += n;
        }
        run -= n;
        x += static_cast<int>(n);
        if (x == width) {
            if (++y == height) return;
            x = 0;
            row = picture.row(y);
        }
    }
}

}  // namespace

void decodeKmgRunLengthPixels(ByteSource& source, DecoderState& state, Bitmap24& picture) {
    if (state.ImageWidth <= 0 || state.ImageHeight <= 0) return;
    ensureSize(picture, state.ImageWidth, state.ImageHeight);
    if (state.keepIndexes)
        runLengthPixels<true>(source, state, picture);
    else
        runLengthPixels<false>(source, state, picture);
}

KmgKind decodeKmg(ByteSource& source, DecoderState& state, KmgTarget& target) {
    const int64_t entryStart = source.position();
    uint8_t* const head = state.WorkBuffer.data();
    source.readExact(head, kKmgHeaderSize);

    if (leU32(head + 4) == leU32(head + 8)) {
        state.ImageHeight = leI16(head + 20);
        state.ImageWidth = leI16(head + 22);
        Bitmap24& picture = target.firstPicture();
        if (state.ImageWidth > 0 && state.ImageHeight > 0) {
            checkPictureLimit(state.limits, state.ImageWidth, state.ImageHeight);
            // A 16-bit image has neither transparency nor indexes: planes a palette image left
            // in the first picture go.
            if (state.keepAlpha) picture.setHasAlpha(false);
            if (state.keepIndexes) picture.setHasIndexes(false);
            picture.setSize(state.ImageWidth, state.ImageHeight);
            decodeKmgRgb16Pixels(source, state, picture);
        }
        target.pictureDone(0);
        return KmgKind::Rgb16;
    }

    const int count = leU16(head + 28);
    target.setSubImageCount(count);
    source.readExact(state.WorkBuffer.data(), kKmgPaletteSize);
    // Entry 0 keeps whatever an earlier image left there.
    for (int k = 1; k < 256; ++k) {
        const uint8_t* rgb = state.WorkBuffer.data() + 3 * k;
        state.SharedPalette[3 * k + 0] = rgb[2];
        state.SharedPalette[3 * k + 1] = rgb[1];
        state.SharedPalette[3 * k + 2] = rgb[0];
    }

    const int64_t tableStart = entryStart + kKmgTableStart;
    checkSubImageLimits(source, state.limits, tableStart, count);
    const int64_t dataStart = tableStart + int64_t{kKmgRecordSize} * count;
    KmgLayout layout;
    for (int i = 0; i < count; ++i) {
        uint8_t record[kKmgRecordSize];
        source.seek(tableStart + int64_t{kKmgRecordSize} * i);
        source.readExact(record, kKmgRecordSize);
        state.ImageHeight = leI16(record + 12);
        state.ImageWidth = leI16(record + 14);
        source.seek(dataStart + leU32(record));
        const int width = state.ImageWidth, height = state.ImageHeight;
        if (width <= 0 || height <= 0) continue;  // nothing to show; the view stays as it was
        Bitmap24& picture = target.beginSubImage(i, layout.place(width, height));
        startFromDot(picture, width, height);
        decodeKmgRunLengthPixels(source, state, picture);
        target.pictureDone(i);
    }
    return KmgKind::Palette;
}

}  // namespace vorlr
