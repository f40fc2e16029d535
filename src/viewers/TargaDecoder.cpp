#include "viewers/TargaDecoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vorlr {

TargaHeader readTargaHeader(ByteSource& source, ViewerState& state) {
    uint8_t* h = state.WorkBuffer.data();
    source.readExact(h, kTargaHeaderSize);
    TargaHeader header;
    header.idLength = h[0];
    header.imageType = h[2];
    header.width = static_cast<int16_t>(h[12] | (h[13] << 8));
    header.height = static_cast<int16_t>(h[14] | (h[15] << 8));
    header.bitsPerPixel = h[16];
    return header;
}

bool targaDepthSupported(int bits) { return bits == 8 || bits == 24 || bits == 32; }

std::string unsupportedTargaText(int bits) {
    return "Unsupported TGA format: " + std::to_string(bits) + "-bit";
}

std::string targaTypeText(int bits) {
    return "Type: Targa image file (" + std::to_string(bits) + "-bit)";
}

void readTargaPrelude(ByteSource& source, ViewerState& state, const TargaHeader& header) {
    if (header.idLength > 0) source.readCounted(state.WorkBuffer.data(), header.idLength);
    if (header.imageType == 1) {
        // Always 256 entries, whatever the colour-map fields say.
        source.readCounted(state.SharedPalette.data(), kTargaColourMapSize);
    } else if (header.imageType == 3) {
        for (int k = 0; k < 256; ++k)
            std::memset(&state.SharedPalette[3 * k], k, 3);
    }
}

void DecodeTargaRleRow(ByteSource& source, ViewerState& state, TargaRleState& rle,
                       uint8_t* rowArea, int width, int bpp) {
    const size_t rowBytes = size_t(width) * size_t(bpp);
    if (rle.carry > 0) std::memmove(rowArea, rowArea + rowBytes, size_t(rle.carry) * bpp);

    uint8_t* const window = state.WorkBuffer.data() + kTargaWindowOffset;
    // Next input byte; false once the input has ended.
    auto refill = [&]() -> bool {
        if (rle.exhausted) return false;
        const int64_t got = source.readCounted(window, int64_t{kTargaWindowSize});
        rle.inputPos = 0;
        rle.inputEnd = std::max<int64_t>(got, 0);
        if (rle.inputEnd == 0) rle.exhausted = true;
        return rle.inputEnd > 0;
    };
    // Copies count input bytes to out, across refills; false when the input ends first.
    auto take = [&](uint8_t* out, size_t count) -> bool {
        while (count > 0) {
            if (rle.inputPos == rle.inputEnd && !refill()) return false;
            const size_t n = std::min<size_t>(count, size_t(rle.inputEnd - rle.inputPos));
            std::memcpy(out, window + rle.inputPos, n);
            rle.inputPos += int64_t(n);
            out += n;
            count -= n;
        }
        return true;
    };

    while (rle.carry < width) {
        uint8_t c;
        if (!take(&c, 1)) break;
        const int count = (c & 127) + 1;
        uint8_t* out = rowArea + size_t(rle.carry) * bpp;
        if (c & 128) {
            if (!take(out, size_t(bpp))) break;
            for (int i = 1; i < count; ++i) std::memcpy(out + size_t(i) * bpp, out, size_t(bpp));
            rle.carry += count;
        } else {
            // Literal pixels arrive as they are read; a cut-off packet keeps the whole pixels.
            const size_t want = size_t(count) * bpp;
            size_t got = 0;
            while (got < want) {
                if (rle.inputPos == rle.inputEnd && !refill()) break;
                const size_t n = std::min<size_t>(want - got, size_t(rle.inputEnd - rle.inputPos));
                std::memcpy(out + got, window + rle.inputPos, n);
                rle.inputPos += int64_t(n);
                got += n;
            }
            rle.carry += int64_t(got / bpp);
            if (got < want) break;
        }
    }
    // Pixels past the row stay behind it for the next row; an ended input leaves none.
    rle.carry = std::max<int64_t>(rle.carry - width, 0);
}

void decodeTargaPixels(ByteSource& source, ViewerState& state, const TargaHeader& header,
                       Bitmap24& picture) {
    const int bpp = header.bitsPerPixel / 8;
    const bool usesPalette = bpp == 1;
    const bool runLength = header.imageType == 10;
    state.ImageWidth = header.width;
    state.ImageHeight = header.height;
    const int width = header.width, height = header.height;
    if (width <= 0 || height <= 0 || bpp <= 0) return;
    picture.setSize(width, height);

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
        } else {
            const uint8_t* in = area;
            for (int x = 0; x < width; ++x, in += bpp, out += 3) std::memcpy(out, in, 3);
        }
    }
}

int decodeTarga(ByteSource& source, ViewerState& state, Bitmap24& picture) {
    const TargaHeader header = readTargaHeader(source, state);
    if (!targaDepthSupported(header.bitsPerPixel)) throw UnsupportedTargaFormat(header.bitsPerPixel);
    readTargaPrelude(source, state, header);
    decodeTargaPixels(source, state, header, picture);
    return header.bitsPerPixel;
}

}  // namespace vorlr
