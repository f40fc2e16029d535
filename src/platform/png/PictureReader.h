#pragma once
// Pictures read back from files: PNG of any kind (libspng) and the 24-bit BMP files that Save and
// `qar convert` write. The result carries an alpha plane exactly when the file can hold
// transparency (a PNG with an alpha channel or a tRNS chunk).
#include <cstdint>
#include <span>
#include <string>

#include "platform/Bitmap24.h"

namespace vorlr {

// Reads the file and tells PNG from BMP by its first bytes. File errors are the runtime's
// ("File not found"); anything else that is wrong with the file raises Error naming it.
Bitmap24 ReadPictureFile(const std::string& path);

// Whether the file begins as a PNG or a BMP does (false when it cannot be read).
bool IsPictureFile(const std::string& path);

// The same for bytes in memory; nameForMessages names them in error texts.
Bitmap24 ReadPicture(std::span<const uint8_t> bytes, const std::string& nameForMessages);

}  // namespace vorlr
