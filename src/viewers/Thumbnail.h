#pragma once
// Small pictures of .kmg and .tga entries for the window's picture grid: the entry decoded as
// export decodes it (a fresh state, transparency kept, the damaged-picture budget checked
// before anything is decoded), its sub-images in their side-by-side layout, shrunk to fit a
// square by averaging. Widget-free, so tests and benchmarks drive it directly.
#include <cstdint>

#include "archive/EntryKind.h"
#include "platform/Bitmap24.h"
#include "platform/ByteSource.h"

namespace vorlr {

constexpr int kThumbnailSide = 128;

// source stands at the entry's first byte; held is how many bytes the entry holds from there.
// The result is at most side x side, never enlarged, with an alpha plane where it has
// transparency (a palette KMG's transparent runs, a Targa's alpha, the gaps between
// sub-images). A damaged picture raises Error ("damaged picture: ..." for one the budget
// refuses, "the picture has no pixels"), an unsupported Targa depth UnsupportedTargaFormat.
Bitmap24 MakeThumbnail(ByteSource& source, int64_t held, EntryKind kind, int side = kThumbnailSide);

}  // namespace vorlr
