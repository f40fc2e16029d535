#pragma once
// The pictures side of `qar update`: picture files exported by `extract --convert` judged against
// their .kmg or .tga entries, and changed ones encoded like the entry.
#include <cstdint>
#include <vector>

#include "archive/FolderUpdate.h"
#include "platform/Bitmap24.h"

namespace vorlr {

// The files are read (PNG, BMP) and compared with the decoded entry, pixels and transparency
// (no alpha plane: opaque); when they differ, the entry's pictures with the files' in their
// place are encoded like the entry.
UpdatePictures PictureUpdateSupport(int workers);

// Entry index's pictures with picture in the place of sub-image subImage (0 for an entry of one
// picture; the others as decoded), encoded like the entry. A subImage the entry does not hold
// raises Error.
std::vector<uint8_t> EncodePictureInto(const Archive& archive, size_t index, Bitmap24 picture,
                                       size_t subImage);

}  // namespace vorlr
