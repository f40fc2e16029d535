#pragma once
// 8-bit names and texts: shown as Windows-1252, lower-casing of A to Z only.
#include <string>
#include <string_view>

class QString;

namespace vorlr {

QString fromCp1252(std::string_view bytes);
// Best effort back to 8 bits (for labels edited by the user); unmappable characters become '?'.
std::string toCp1252(const QString& text);
// Lower-cases only the letters A to Z.
std::string lowerAZ(std::string_view s);

}  // namespace vorlr
