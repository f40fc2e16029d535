#pragma once
// 8-bit names and texts: shown as Windows-1252, lower-casing of A to Z only, a path's base name.
#include <string>
#include <string_view>

class QString;

namespace vorlr {

QString fromCp1252(std::string_view bytes);
// One byte's code point as fromCp1252 gives it; the five bytes Windows-1252 leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) read as the C1 control of the same value.
char16_t cp1252CodePoint(unsigned char byte);
bool cp1252Defines(unsigned char byte);
// Best effort back to 8 bits (for labels edited by the user); unmappable characters become '?'.
std::string toCp1252(const QString& text);
// Lower-cases only the letters A to Z: how names are compared without case everywhere.
constexpr char lowerAZ(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
std::string lowerAZ(std::string_view s);
// The part of a file's path after its last '/' (all of it when there is none).
std::string baseNameOf(std::string_view path);

}  // namespace vorlr
