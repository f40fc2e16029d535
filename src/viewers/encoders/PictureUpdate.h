#pragma once
// The pictures side of `qar update`: picture files exported by `extract --convert` judged against
// their .kmg or .tga entries, and changed ones encoded like the entry.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/FolderUpdate.h"
#include "platform/Bitmap24.h"
#include "viewers/PictureExport.h"

namespace vorlr {

// The files are read (PNG, BMP) and compared with the decoded entry, pixels and transparency
// (no alpha plane: opaque); when they differ, the entry's pictures with the files' in their
// place are encoded like the entry.
UpdatePictures PictureUpdateSupport(int workers);

// An entry's bytes as far as the archive holds them.
std::vector<uint8_t> EntryBytesOf(const Archive& archive, const ArchiveEntry& entry);

// The number N of a picture file named STEM_N.png or STEM_N.bmp (as extraction names the
// sub-images of a palette KMG), when STEM is stem (letters A-Z in either case).
std::optional<size_t> SubImageNamed(const std::string& fileName, std::string_view stem);

// The pictures an entry's bytes hold, read through source from its first byte on.
EntryPictures DecodePicturesOf(ByteSource& source, EntryKind format);

// An entry's pictures with picture in the place of sub-image subImage, encoded like the entry's
// bytes model (format as its name says); nullopt when that sub-image has these very pixels and
// transparency already. A subImage the entry does not hold raises Error.
std::optional<std::vector<uint8_t>> ReplacePicture(EntryPictures pictures,
                                                   const std::vector<uint8_t>& model,
                                                   EntryKind format, Bitmap24 picture,
                                                   size_t subImage);

}  // namespace vorlr
