#pragma once
// What the decoders read and write besides their input: the shared palette, the work buffer and
// the size of the image being decoded, with the limits on what one entry may allocate. The
// window keeps one for its lifetime (a palette entry carries over from one image to the next,
// and the work buffer's bytes show through in truncated pictures); `qar` and batch jobs make a
// fresh one per entry, as a viewer just started has it.
#include <array>
#include <cstddef>
#include <cstdint>

#include "archive/WorkBuffer.h"
#include "platform/Bitmap24.h"

namespace vorlr {

struct DecodeLimits {
    size_t maxPictureBytes = Bitmap24::kMaxPixelBytes;  // one picture, 3 bytes a pixel
    size_t maxTotalBytes = Bitmap24::kMaxPixelBytes;    // all pictures of one entry together
};

struct DecoderState {
    WorkBufferBytes WorkBuffer{};
    std::array<uint8_t, 256 * 3> SharedPalette{};  // blue, green, red
    int16_t ImageWidth = 0;
    int16_t ImageHeight = 0;
    DecodeLimits limits;
    // Pictures get an alpha plane where the entry holds transparency (a palette KMG's
    // transparent runs, a 32-bit Targa with 8 alpha bits). Export sets it, and so does the
    // window, for its checkerboard and pixel readout; the colours written stay the same.
    bool keepAlpha = false;
    // Palette KMG pictures get an index plane (Bitmap24::indexRow), every other picture none:
    // the window's pixel readout.
    bool keepIndexes = false;
};

// Raises Error("Out of memory") when a width x height picture is past the limit for one.
void checkPictureLimit(const DecodeLimits& limits, int64_t width, int64_t height);

}  // namespace vorlr
