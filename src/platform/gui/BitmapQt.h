#pragma once
// Pictures to and from Qt images, and bitmap files read through Qt's reader (the window's
// background may be any bitmap file Qt reads as BMP).
#include <string>

#include "platform/Bitmap24.h"

class QImage;

namespace vorlr {

Bitmap24 bitmapFromQImage(const QImage& image);
QImage bitmapToQImage(const Bitmap24& picture);  // RGB888 copy
// Reads any bitmap file Qt can read as BMP; otherwise Error("Bitmap image is not valid").
Bitmap24 loadBitmapFile(const std::string& path);

}  // namespace vorlr
