#pragma once
// The counterpart of the Targa decoder: a picture to .tga bytes of a given image type and depth,
// rows bottom first, which the decoder shows as the picture given. A model (the bytes of the file
// being replaced) lends its type, depth, identification field, colour map, colour-map
// fields, origin and descriptor.
#include <array>
#include <cstdint>
#include <vector>

#include "platform/Bitmap24.h"
#include "viewers/encoders/PaletteChoice.h"
#include "viewers/TargaDecoder.h"

namespace vorlr {

struct TargaModel {
    std::array<uint8_t, kTargaHeaderSize> header{};
    std::vector<uint8_t> id;                             // as far as the file holds it
    std::array<uint8_t, kTargaColourMapSize> colourMap{};  // type 1: blue, green, red
    uint8_t type() const { return header[2]; }
    uint8_t bits() const { return header[16]; }
    std::array<uint32_t, 256> colourMapColours() const;  // 0xRRGGBB
};

// A short header raises "Read beyond end of file", an unsupported depth
// UnsupportedTargaFormat; the identification field and colour map are counted reads.
TargaModel ReadTargaModel(const uint8_t* data, size_t size);

struct TargaOptions {
    bool keepPalette = false;  // type 1: nearest colours into the model's colour map
    Dither dither = Dither::None;
};

// Types the decoder shows: 1 (8-bit colour-mapped), 3 (8-bit grey), any at 24 or 32 bits
// (10 run-length coded, others uncompressed). 32-bit pixels carry the alpha plane, 255 without
// one. Grey pictures get the luma of colours that are not grey.
std::vector<uint8_t> EncodeTarga(const Bitmap24& picture, uint8_t type, uint8_t bits,
                                 const TargaOptions& options = {},
                                 PaletteSource* source = nullptr);
// Type and depth from the model, and every byte the decoder does not read.
std::vector<uint8_t> EncodeTargaLike(const Bitmap24& picture, const TargaModel& model,
                                     const TargaOptions& options = {},
                                     PaletteSource* source = nullptr);

// One row of run-length packets: a run packet for every 2 or more equal neighbouring pixels,
// literal packets otherwise, at most 128 pixels each. Appended to out.
void AppendTargaRow(const uint8_t* pixels, int width, int bytesPerPixel, std::vector<uint8_t>& out);

}  // namespace vorlr
