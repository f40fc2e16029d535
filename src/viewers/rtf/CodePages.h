#pragma once
// Windows code pages for the RTF reader, converted by the C library's iconv. Single-byte pages
// and the double-byte ones (932, 936, 949, 950, ...) alike: a byte is a character of its own, or
// the lead byte of a pair. Converters and the characters found so far stay cached per thread.
#include <array>
#include <cstdint>
#include <memory>

namespace vorlr {

class CodePage {
public:
    // The page, or Windows-1252 when the C library cannot convert it.
    static CodePage& get(int codePage);

    ~CodePage();
    CodePage(const CodePage&) = delete;
    CodePage& operator=(const CodePage&) = delete;

    // Whether a byte 0x80..0xFF starts a two-byte character.
    bool isLead(uint8_t b) const { return b >= 0x80 && lead_[b - 0x80]; }
    // A byte 0x80..0xFF on its own. Bytes the page leaves undefined read as in Windows-1252,
    // whose own undefined bytes read as the C1 controls of the same value.
    char16_t single(uint8_t b) const { return high_[b - 0x80]; }
    // A lead byte and the byte after it; 0 when the two are no character of the page.
    char16_t pair(uint8_t lead, uint8_t trail);

    int number() const { return number_; }

private:
    CodePage(int number, void* descriptor);
    char16_t convert(const char* bytes, size_t n, bool& incomplete);

    int number_;
    void* cd_;  // iconv_t
    std::array<char16_t, 128> high_{};
    std::array<bool, 128> lead_{};
    // Pairs converted so far, by (lead - 0x80) * 256 + trail; 0 not yet, 0xFFFF no character.
    std::unique_ptr<std::array<char16_t, 128 * 256>> pairs_;
};

// The code page an RTF font character set (\fcharset) names; 0 for "the document's".
int CodePageOfCharset(int charset);

}  // namespace vorlr
