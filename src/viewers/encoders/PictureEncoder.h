#pragma once
// Pictures back into the game's formats: by kind, or like an existing entry (its kind, palette,
// Targa type and depth, and every byte the decoders do not read). What `qar encode`, `update`
// and `replace` call.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/EntryKind.h"
#include "platform/Bitmap24.h"
#include "viewers/encoders/PaletteChoice.h"

namespace vorlr {

enum class PictureKind { Rgb16, Palette, Tga8, Tga24, Tga32, Grey, Tga24Rle, Tga32Rle };

// "rgb16", "palette", "tga8", "tga24", "tga32", "grey", "tga24rle", "tga32rle".
std::optional<PictureKind> PictureKindNamed(const std::string& name);
const char* PictureKindName(PictureKind kind);
bool IsKmgKind(PictureKind kind);  // rgb16, palette: a .kmg file; the rest .tga

struct PictureEncodeOptions {
    bool keepPalette = false;  // nearest colours into the model's palette (needs a model)
    bool dither = false;       // error diffusion where colours are approximated
};

// Whether any pixel's alpha is below 128.
bool HasTransparency(const Bitmap24& picture);

// The kind a file of this format gets without a model: a .kmg is a palette one when the
// pictures hold transparency or at most 255 colours (or there are several), else 16-bit; a .tga
// is 24-bit, or 32-bit when a picture carries alpha.
PictureKind DefaultPictureKind(EntryKind format, const std::vector<Bitmap24>& pictures);

// The file's bytes. Several pictures only for a palette KMG. Raises Error when the pictures do
// not fit the kind.
std::vector<uint8_t> EncodePictures(const std::vector<Bitmap24>& pictures, PictureKind kind,
                                    const PictureEncodeOptions& options = {});

// Like the model entry's bytes (format Kmg or Targa, as the entry's name says): its kind, its
// palette when every colour is in it, its Targa type and depth, the bytes no decoder reads.
// A model the decoder could not read raises its error ("Read beyond end of file",
// UnsupportedTargaFormat). The kind used is reported through kind when given.
std::vector<uint8_t> EncodePicturesLike(const std::vector<Bitmap24>& pictures, EntryKind format,
                                        const std::vector<uint8_t>& model,
                                        const PictureEncodeOptions& options = {},
                                        PictureKind* kind = nullptr);

}  // namespace vorlr
