#pragma once
// The counterpart of the KMG decoder: pictures to .kmg bytes that it decodes back to them. A
// model (the bytes of the file being replaced) lends its palette, its kind and every byte the
// decoder never reads; without one those bytes are 0.
#include <array>
#include <cstdint>
#include <vector>

#include "platform/Bitmap24.h"
#include "viewers/KmgDecoder.h"
#include "viewers/encoders/PaletteChoice.h"

namespace vorlr {

// What an existing .kmg file lends to its replacement.
struct KmgModel {
    KmgKind kind = KmgKind::Rgb16;
    std::array<uint8_t, kKmgHeaderSize> header{};
    std::array<uint8_t, kKmgPaletteSize> palette{};  // as stored: red, green, blue
    std::vector<std::array<uint8_t, kKmgRecordSize>> records;
    // The sizes a size field may stand for: the whole file, and its pixel data (16-bit: width
    // x height x 2; palette: the bytes after the sub-image table).
    int64_t entrySize = 0;
    int64_t pixelDataSize = 0;
    // Entries 1..255 of the palette as 0xRRGGBB (entry 0 is never read).
    std::array<uint32_t, 256> paletteColours() const;
};

// Reads a model as the decoder would: a header, palette or record cut short raises
// "Read beyond end of file".
KmgModel ReadKmgModel(const uint8_t* data, size_t size);

// 16-bit: RGB565 from the top bits of each channel (a decoded picture encodes back to the same
// values); dithering, when asked, spreads the dropped low bits. A model must be a 16-bit one.
std::vector<uint8_t> EncodeKmg16(const Bitmap24& picture, const KmgModel* model,
                                 Dither dither = Dither::None);

struct KmgPaletteOptions {
    bool keepPalette = false;  // nearest colours into the model's palette
    Dither dither = Dither::None;
};

// Palette sub-images sharing one palette, their data in order. Alpha below 128 is
// transparent; index 0 is never written. A model must be a palette one. How the palette was
// chosen is reported through source when given.
std::vector<uint8_t> EncodeKmgPalette(const std::vector<const Bitmap24*>& pictures,
                                      const KmgModel* model, const KmgPaletteOptions& options,
                                      PaletteSource* source = nullptr);

// The run-length stream of one sub-image's indices (0 transparent), appended to out: greedy
// runs over the whole sub-image, literal runs of at most 128, transparent runs of at most 127.
void AppendKmgRuns(const uint8_t* indices, size_t count, std::vector<uint8_t>& out);

}  // namespace vorlr
