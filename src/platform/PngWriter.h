#pragma once
// PNG files of 24-bit pictures, through libspng at a fast compression level.
#include <string>

#include "platform/Bitmap24.h"

namespace vorlr {

// Writes picture as an 8-bit RGB PNG. Failures are "Cannot create file" errors carrying the
// runtime's text; an empty picture is refused the same way, as a PNG needs one pixel.
void savePng(const Bitmap24& picture, const std::string& path);

}  // namespace vorlr
