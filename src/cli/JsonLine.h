#pragma once
// The --json output of the reading commands: JSON Lines, one object per line. Stored names are
// bytes: "name" holds them decoded as Windows-1252 (the bytes Windows-1252 leaves undefined as
// the C1 control of the same value), and "name_hex" their raw bytes whenever one of those
// undefined bytes is there, so that no name is lost or merged with another.
#include <cstdint>
#include <string>
#include <string_view>

namespace qar {

class JsonLine {
public:
    JsonLine& text(std::string_view key, std::string_view utf8);
    JsonLine& number(std::string_view key, int64_t value);
    JsonLine& boolean(std::string_view key, bool value);
    // key: the name decoded; key + "_hex" beside it when decoding would lose anything.
    JsonLine& name(std::string_view key, std::string_view bytes);
    // The object and its newline.
    std::string line() const { return "{" + body_ + "}\n"; }

private:
    void key(std::string_view k);
    std::string body_;
};

// The --json paragraph of the commands' help.
extern const char* const kJsonHelp;

// A JSON string literal of UTF-8 text (quotes, backslashes and control characters escaped).
std::string JsonString(std::string_view utf8);
// Bytes as Windows-1252 text in UTF-8.
std::string Cp1252ToUtf8(std::string_view bytes);

}  // namespace qar
