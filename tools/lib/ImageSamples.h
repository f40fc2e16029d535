#pragma once
// Generators for KMG and Targa files: exact byte layouts for tests and fuzz seeds, and a few
// pleasant pictures for the demo archive.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "lib/QarBuilder.h"

namespace vorlr::samples {

// ---- KMG ----
// A 16-bit image: pixel values row by row, top row first (pixels.size() == width * height,
// unless a test wants a short file).
std::vector<uint8_t> kmg16(int16_t width, int16_t height, const std::vector<uint16_t>& pixels);

struct KmgSubImage {
    int16_t width = 0;
    int16_t height = 0;
    std::vector<uint8_t> data;  // compressed stream (control bytes and indices)
};
// A palette image: 256 red, green, blue entries, the sub-image table and the streams back to
// back. count overrides the sub-image count stored in the header.
std::vector<uint8_t> kmgPalette(const std::array<uint8_t, 768>& rgbPalette,
                                const std::vector<KmgSubImage>& subImages, int count = -1);
// Compresses palette indices; a value of -1 is transparent. Literal runs up to 128 pixels,
// transparent runs up to 127; runs cross rows freely.
std::vector<uint8_t> kmgCompress(const std::vector<int>& pixels);
// A warm ramp palette (red, green, blue order) for the samples.
std::array<uint8_t, 768> samplePaletteRgb();

// ---- Targa ----
struct TgaFormat {
    uint8_t type = 2;            // 1, 2, 3, 10 (or anything else)
    int16_t width = 0;
    int16_t height = 0;
    uint8_t bits = 24;           // bits per pixel as stored
    uint8_t descriptor = 0;      // 0x20: top-left origin
    std::string id;              // identification field
};
// Header, id, the 768-byte colour map (blue, green, red) when type is 1, then pixelBytes as
// given (already in stored order and coding).
std::vector<uint8_t> tga(const TgaFormat& format, const std::vector<uint8_t>& pixelBytes,
                         const std::array<uint8_t, 768>* colourMapBgr = nullptr);
// Run-length packets over pixels of bytesPerPixel bytes; packets cross row ends.
std::vector<uint8_t> tgaRunLength(const std::vector<uint8_t>& pixels, int bytesPerPixel);

// ---- Pictures ----
// A picture as blue, green, red triples, top row first.
struct SamplePicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgr;
};
// A sunset scene with a few flat areas, so run-length coding has runs to find.
SamplePicture scenePicture(int width, int height);
// Stored pixel bytes of a picture for a Targa file: bottom row first, bytes per pixel 1 (the
// grey value or a palette index from the ramp), 3 or 4 (alpha 255).
std::vector<uint8_t> tgaPixelsOf(const SamplePicture& picture, int bytesPerPixel);

// Whole sample files.
std::vector<uint8_t> sampleKmg16(int width, int height);          // a colourful gradient
std::vector<uint8_t> sampleKmgPalette(int subImages);             // shapes on transparency
std::vector<uint8_t> sampleBackgroundKmg();                       // 128 x 128 parchment texture
std::vector<uint8_t> sampleTga(uint8_t type, uint8_t bits, int width, int height);

// A palette KMG with one width x height sub-image of mixed transparent and literal runs.
std::vector<uint8_t> largeMixedKmg(int width, int height);

// The demo archive's pictures: KMG images of both kinds, one Targa file of each supported type,
// and the dialog background texture.
std::vector<QarEntry> imageDemoEntries();

}  // namespace vorlr::samples
