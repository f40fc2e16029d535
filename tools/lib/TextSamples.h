#pragma once
// Text entries for the demo archive, tests, benchmarks and fuzz seeds, generated in code.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lib/QarBuilder.h"

namespace vorlr::samples {

// UTF-16 little-endian bytes of text (given as UTF-8), with the byte-order mark FF FE first.
std::vector<uint8_t> utf16LeWithMark(const std::string& utf8);

// A formatted RTF page: fonts, sizes, bold/italic/underline, colours, a centred title, a \u
// character, a code-page escape.
std::string formattedRtf();

// Plain Windows-1252 text of about `bytes` bytes in CR LF lines.
std::string largePlainText(size_t bytes);
// RTF of about `bytes` bytes with paragraphs and frequent format changes.
std::string largeRtf(size_t bytes);
// RTF of about `bytes` bytes as a word processor writes a Chinese document (code page 936):
// each run of text in its own group under a dozen control words, the characters as \'hh pairs.
std::string largeChineseRtf(size_t bytes);

// The demo archive's text entries: a plain .txt, a UTF-16 .ini with its mark, an RTF .txt.
std::vector<QarEntry> textDemoEntries();

}  // namespace vorlr::samples
