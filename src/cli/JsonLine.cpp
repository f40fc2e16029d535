#include "cli/JsonLine.h"

#include <algorithm>
#include <cstdio>

#include "platform/Text.h"

namespace qar {

const char* const kJsonHelp =
    "--json: JSON Lines instead, one object per line with the text's fields, numbers as\n"
    "numbers; names as Windows-1252 text, with name_hex (the raw bytes) beside a name that\n"
    "holds a byte Windows-1252 leaves undefined (81, 8D, 8F, 90, 9D). Same exit status.";

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const char16_t u = vorlr::cp1252CodePoint(static_cast<unsigned char>(ch));
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

void JsonLine::key(std::string_view k) {
    if (!body_.empty()) body_ += ',';
    body_ += JsonString(k);
    body_ += ':';
}

JsonLine& JsonLine::text(std::string_view k, std::string_view utf8) {
    key(k);
    body_ += JsonString(utf8);
    return *this;
}

JsonLine& JsonLine::number(std::string_view k, int64_t value) {
    key(k);
    body_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::boolean(std::string_view k, bool value) {
    key(k);
    body_ += value ? "true" : "false";
    return *this;
}

JsonLine& JsonLine::name(std::string_view k, std::string_view bytes) {
    text(k, Cp1252ToUtf8(bytes));
    const bool lossy = std::any_of(bytes.begin(), bytes.end(), [](char c) {
        return !vorlr::cp1252Defines(static_cast<unsigned char>(c));
    });
    if (lossy) {
        static const char digits[] = "0123456789abcdef";
        std::string hex;
        for (const char c : bytes) {
            hex += digits[static_cast<unsigned char>(c) >> 4];
            hex += digits[static_cast<unsigned char>(c) & 15];
        }
        text(std::string(k) + "_hex", hex);
    }
    return *this;
}

}  // namespace qar
