#pragma once
// Turning little-endian UTF-16 text (with its byte-order mark) into 8-bit text by keeping the
// low byte of every code unit.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "archive/WorkBuffer.h"

namespace vorlr {

// Name of the transient copy of the UTF-16 text during the conversion.
inline constexpr const char* kUnicodeScratchName = "$$$$";

// Moves byte 2k to byte k for k < n/2 and returns n/2 (an odd last byte is dropped).
size_t KeepLowBytes(uint8_t* buffer, size_t n);

// The converted form of a whole file's bytes: the 2-byte mark skipped, then the low byte of
// every complete code unit. Same result as ConvertUnicodeFile on a file holding these bytes.
std::string ConvertUnicodeBytes(std::string_view bytes);

// Plain text with every line-break form (CR LF, lone LF, lone CR) made a single LF, as the Text
// page shows it.
std::string normaliseLineBreaks(std::string_view bytes);

// Converts fileName in place: renames it to "$$$$", writes the low bytes of the code units after
// the mark to fileName afresh in blocks of WorkBuffer's size, deletes "$$$$". File failures
// raise FileError.
void ConvertUnicodeFile(const std::string& fileName, WorkBufferBytes& WorkBuffer);

}  // namespace vorlr
