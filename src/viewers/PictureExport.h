#pragma once
// The pictures of a .kmg or .tga entry as `qar convert` makes them, decoded from a fresh state
// as in a viewer just started, and the conversion that batch extraction uses to write them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Archive.h"
#include "archive/EntryKind.h"
#include "archive/SafeExtract.h"
#include "platform/Bitmap24.h"
#include "platform/ByteSource.h"

namespace vorlr {

enum class PictureFormat { Png, Bmp };

struct EntryPictures {
    std::vector<Bitmap24> pictures;  // at least one
    bool palette = false;            // a palette KMG: the pictures are its sub-images
};

// Decodes the entry at source's position, of kind Kmg or Targa, as a viewer just started does:
// the first picture starts as the 1 x 1 black dot. Pictures carry an alpha plane where the entry
// holds transparency (ignored by BMP files, kept by PNG ones). Damage raises Error (a short header, "Out of
// memory" past the limits), an unsupported Targa depth UnsupportedTargaFormat.
EntryPictures DecodeEntryPictures(ByteSource& source, EntryKind kind);

// A picture as a file of the format: the BMP the viewer's Save writes, or a PNG.
std::vector<uint8_t> EncodePicture(const Bitmap24& picture, PictureFormat format);

// Whether an entry is a picture by the entry-kind rule (.kmg, .tga).
bool IsPictureEntry(const ArchiveEntry& entry);

// Sub-image i of count written as its own file: NAME_i.png beside NAME.png, no suffix when the
// picture has only one.
std::string SubImageSuffix(size_t index, size_t count);
// i of a file named STEM_i.EXT (i of 1 to 4 digits), as extraction names sub-image i; stem, when
// given, is set to STEM.
std::optional<size_t> SubImageNumber(std::string_view fileName, std::string* stem = nullptr);

// Every .kmg and .tga entry as pictures of the format: NAME.png, or NAME_0.png, NAME_1.png, ...
// for a palette KMG with several sub-images. A picture without pixels fails the entry.
EntryConversion PictureConversion(PictureFormat format, int workers);

}  // namespace vorlr
