#pragma once
// PNG files of 24-bit pictures (with their alpha plane when they have one), through libspng at a
// fast compression level.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Bitmap24.h"

namespace vorlr {

// Writes picture as an 8-bit RGB PNG, RGBA when it has an alpha plane. A file that cannot be created, or an empty picture (a PNG
// needs one pixel), is a "Cannot create file" error; a failed write is the runtime's error.
void savePng(const Bitmap24& picture, const std::string& path);
// The same file's bytes, in memory. An empty picture raises Error("The picture has no pixels").
std::vector<uint8_t> encodePng(const Bitmap24& picture);

}  // namespace vorlr
