#include "viewers/TargaDecoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/LittleEndian.h"

namespace vorlr {

TargaHeader readTargaHeader(ByteSource& source, DecoderState& state) {
    uint8_t* h = state.WorkBuffer.data();
    source.readExact(h, kTargaHeaderSize);
    TargaHeader header;
    header.idLength = h[0];
    header.imageType = h[2];
    header.width = leI16(h + 12);
    header.height = leI16(h + 14);
    header.bitsPerPixel = h[16];
    header.descriptor = h[17];
    return header;
}

bool targaDepthSupported(int bits) { return bits == 8 || bits == 24 || bits == 32; }

std::string unsupportedTargaText(int bits) {
    return "Unsupported TGA format: " + std::to_string(bits) + "-bit";
}

std::string targaTypeText(int bits) {
    return "Type: Targa image file (" + std::to_string(bits) + "-bit)";
}

void readTargaPrelude(ByteSource& source, DecoderState& state, const TargaHeader& header) {
    if (header.idLength > 0) source.readCounted(state.WorkBuffer.data(), header.idLength);
    if (header.imageType == 1) {
        // Always 256 entries, whatever the colour-map fields say.
        source.readCounted(state.SharedPalette.data(), kTargaColourMapSize);
    } else if (header.imageType == 3) {
        for (int k = 0; k < 256; ++k)
            std::memset(&state.SharedPalette[3 * k], k, 3);
    }
}

namespace {

// Writes count copies of the bpp-byte pixel at out[0..bpp) from out on.
template <int kBpp>
inline void repeatPixel(uint8_t* out, int count, int bpp) {
    if constexpr (kBpp == 1) {
        std::memset(out + 1, out[0], size_t(count - 1));
    } else if constexpr (kBpp == 3 || kBpp == 4) {
        uint32_t v = 0;
        std::memcpy(&v, out, kBpp);
        // Four bytes at a time; the last pixel with its own size so nothing past it changes.
        for (int i = 1; i + 1 < count; ++i) std::memcpy(out + size_t(i) * kBpp, &v, 4);
        if (count > 1) std::memcpy(out + size_t(count - 1) * kBpp, &v, kBpp);
    } else {
        for (int i = 1; i < count; ++i) std::memcpy(out + size_t(i) * bpp, out, size_t(bpp));
    }
}

// kBpp is the bytes per pixel when known at compile time, 0 for any.
template <int kBpp>
void decodeRleRow(ByteSource& source, DecoderState& state, TargaRleState& rle, uint8_t* rowArea,
                  int width, int bppArg) {
    const int bpp = kBpp ? kBpp : bppArg;
    const size_t rowBytes = size_t(width) * size_t(bpp);
    if (rle.carry > 0) std::memmove(rowArea, rowArea + rowBytes, size_t(rle.carry) * bpp);

    uint8_t* const window = state.WorkBuffer.data() + kTargaWindowOffset;
    const int64_t largestPacket = 1 + 128 * int64_t{bpp};
    // Keeps at least one whole packet in the window while the input lasts: the unread bytes move
    // to the window's start and more input is read behind them.
    auto topUp = [&] {
        if (rle.exhausted) return;
        const int64_t left = rle.inputEnd - rle.inputPos;
        if (left > 0 && rle.inputPos > 0) std::memmove(window, window + rle.inputPos, size_t(left));
        rle.inputPos = 0;
        rle.inputEnd = left;
        const int64_t got =
            source.readCounted(window + left, int64_t{kTargaWindowSize} - left);
        if (got <= 0)
            rle.exhausted = true;
        else
            rle.inputEnd += got;
    };

    while (rle.carry < width) {
        if (rle.inputEnd - rle.inputPos < largestPacket) {
            topUp();
            if (rle.inputPos == rle.inputEnd) break;  // the input has ended
        }
        const uint8_t* in = window + rle.inputPos;
        const int64_t avail = rle.inputEnd - rle.inputPos;
        const uint8_t c = in[0];
        const int count = (c & 127) + 1;
        uint8_t* out = rowArea + size_t(rle.carry) * bpp;
        if (c & 128) {
            if (avail < 1 + bpp) {  // cut off inside the pixel value
                rle.inputPos = rle.inputEnd;
                break;
            }
            std::memcpy(out, in + 1, size_t(bpp));
            repeatPixel<kBpp>(out, count, bpp);
            rle.inputPos += 1 + bpp;
            rle.carry += count;
        } else {
            // A literal packet cut off by the end of the input keeps its whole pixels.
            const int64_t whole = std::min<int64_t>(count, (avail - 1) / bpp);
            std::memcpy(out, in + 1, size_t(whole) * bpp);
            rle.carry += whole;
            if (whole < count) {
                rle.inputPos = rle.inputEnd;
                break;
            }
            rle.inputPos += 1 + int64_t{count} * bpp;
        }
    }
    // Pixels past the row stay behind it for the next row; an ended input leaves none.
    rle.carry = std::max<int64_t>(rle.carry - width, 0);
}

}  // namespace

void DecodeTargaRleRow(ByteSource& source, DecoderState& state, TargaRleState& rle,
                       uint8_t* rowArea, int width, int bpp) {
    switch (bpp) {
        case 1: return decodeRleRow<1>(source, state, rle, rowArea, width, bpp);
        case 3: return decodeRleRow<3>(source, state, rle, rowArea, width, bpp);
        case 4: return decodeRleRow<4>(source, state, rle, rowArea, width, bpp);
        default: return decodeRleRow<0>(source, state, rle, rowArea, width, bpp);
    }
}

void decodeTargaPixels(ByteSource& source, DecoderState& state, const TargaHeader& header,
                       Bitmap24& picture) {
    const int bpp = header.bitsPerPixel / 8;
    const bool usesPalette = bpp == 1;
    const bool runLength = header.imageType == 10;
    state.ImageWidth = header.width;
    state.ImageHeight = header.height;
    const int width = header.width, height = header.height;
    if (width <= 0 || height <= 0 || bpp <= 0) return;
    checkPictureLimit(state.limits, width, height);
    picture.setSize(width, height);
    const bool alpha = state.keepAlpha && bpp == 4 && (header.descriptor & 15) == 8;
    if (state.keepAlpha) picture.setHasAlpha(alpha);
    if (state.keepIndexes) picture.setHasIndexes(false);

    // Rows are decoded in WorkBuffer while they fit below the input window (run-length) or in
    // it (uncompressed); longer rows get a larger buffer that starts out as a copy of it.
    const size_t rowBytes = size_t(width) * bpp;
    const size_t areaBytes = runLength ? rowBytes + size_t(128) * bpp : rowBytes;
    const size_t limit = runLength ? kTargaWindowOffset : kWorkBufferSize;
    std::vector<uint8_t> large;
    uint8_t* area = state.WorkBuffer.data();
    if (areaBytes > limit) {
        large.assign(areaBytes, 0);
        std::memcpy(large.data(), state.WorkBuffer.data(), limit);
        area = large.data();
    }

    TargaRleState rle;
    const uint8_t* palette = state.SharedPalette.data();
    for (int y = height - 1; y >= 0; --y) {
        if (runLength)
            DecodeTargaRleRow(source, state, rle, area, width, bpp);
        else
            source.readCounted(area, int64_t(rowBytes));
        uint8_t* out = picture.row(y);
        if (usesPalette) {
            for (int x = 0; x < width; ++x) std::memcpy(out + 3 * x, palette + 3 * area[x], 3);
        } else if (bpp == 3) {
            std::memcpy(out, area, rowBytes);
        } else if (bpp == 4) {
            // Four bytes per pixel stored, the fourth overwritten by the next pixel.
            const uint8_t* in = area;
            for (int x = 0; x + 1 < width; ++x, in += 4, out += 3) std::memcpy(out, in, 4);
            std::memcpy(out, in, 3);
            if (alpha) {
                uint8_t* a = picture.alphaRow(y);
                for (int x = 0; x < width; ++x) a[x] = area[4 * size_t(x) + 3];
            }
        } else {
            const uint8_t* in = area;
            for (int x = 0; x < width; ++x, in += bpp, out += 3) std::memcpy(out, in, 3);
        }
    }
}

int decodeTarga(ByteSource& source, DecoderState& state, Bitmap24& picture) {
    const TargaHeader header = readTargaHeader(source, state);
    if (!targaDepthSupported(header.bitsPerPixel)) throw UnsupportedTargaFormat(header.bitsPerPixel);
    readTargaPrelude(source, state, header);
    decodeTargaPixels(source, state, header, picture);
    return header.bitsPerPixel;
}

}  // namespace vorlr
