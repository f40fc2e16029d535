#pragma once
// Palette pictures for the encoders: which palette a set of pictures gets and every pixel's
// index in it. A given palette (the one the replaced file had) is kept whenever it holds every
// colour; otherwise up to the palette's room an exact new one; otherwise a new one by
// libimagequant for all pictures together. Nearest colours are found by CIE76 distance on Lab.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Bitmap24.h"

namespace vorlr {

enum class Dither { None, Ordered, FloydSteinberg };

// Colours as 0xRRGGBB.
inline uint32_t rgbAt(const uint8_t* bgr) {
    return uint32_t{bgr[2]} << 16 | uint32_t{bgr[1]} << 8 | bgr[0];
}

struct PaletteRequest {
    // First index the palette may use: 1 for a KMG, whose entry 0 is never stored; 0 for a
    // Targa colour map. Indices run up to 255.
    int first = 1;
    // Alpha below 128 is transparent and gets index 0 (only with first == 1); without it the
    // alpha plane is ignored.
    bool transparency = true;
    // The palette to keep when it can be (entries first..255 count), or null.
    const std::array<uint32_t, 256>* given = nullptr;
    // Map into the given palette by nearest colour even when colours are missing from it.
    bool keepPalette = false;
    // Error diffusion when colours have to be approximated (Ordered counts as the same here).
    Dither dither = Dither::None;
};

enum class PaletteSource {
    Given,      // every colour was in the given palette: kept, mapped exactly
    Exact,      // a new palette holding exactly the pictures' colours, in order of appearance
    Quantised,  // a new palette by libimagequant, colours mapped to the nearest
    Nearest,    // the given palette kept by request, colours mapped to the nearest
};

struct IndexedPictures {
    std::array<uint32_t, 256> colours{};  // by index; for Given the given palette as it was
    int used = 0;                         // new palettes: entries first..first+used-1
    PaletteSource source = PaletteSource::Exact;
    std::vector<std::vector<uint8_t>> indices;  // one per picture, rows top first
};

// Raises Error when the request cannot be met (keepPalette without a palette, first > 1).
IndexedPictures ChoosePalette(const std::vector<const Bitmap24*>& pictures,
                              const PaletteRequest& request);

inline bool isOpaque(const Bitmap24& picture, int x, int y) {
    return !picture.hasAlpha() || picture.alphaRow(y)[x] >= 128;
}

// The nearest palette entry (CIE76 on Lab; equal distances go to the lower index) of colours,
// remembered in a cache sized for about `expected` distinct colours.
class NearestColour {
public:
    NearestColour(const std::array<uint32_t, 256>& colours, int first, int last,
                  size_t expected);
    ~NearestColour();
    NearestColour(const NearestColour&) = delete;
    NearestColour& operator=(const NearestColour&) = delete;
    uint8_t find(uint32_t rgb);

private:
    uint8_t search(uint32_t rgb) const;
    struct Lab {
        float l, a, b;
    };
    static Lab toLab(uint32_t rgb);
    std::vector<Lab> lab_;         // palette entries sorted by lightness
    std::vector<uint8_t> index_;   // their palette indices
    std::vector<uint32_t> keys_;   // cache: colour | 0x80000000 when filled
    std::vector<uint8_t> values_;
    uint32_t shift_ = 0;
};

}  // namespace vorlr
