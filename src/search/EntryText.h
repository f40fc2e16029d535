#pragma once
// What a content search reads of an entry: texts (.txt, .ini) as the Text page shows them,
// everything else as its bytes.
#include <string>
#include <string_view>

namespace vorlr {

// Whether the entry with this stored name goes to the Text page (by its name, as the tree
// shows it).
bool SearchedAsText(std::string_view storedName);

// A text entry's bytes as the Text page shows them, in 8 bits: UTF-16 (a first byte of 0xFF)
// made 8-bit as the page does; then Rich Text as its plain text, each UTF-16 unit of it one
// Windows-1252 byte ('?' where it has none); else the bytes with CR LF and lone CR as LF.
// Each byte stands for one character of the page's document, in order, so that an offset in
// the result is a position in the page.
std::string PageText(std::string bytes);

}  // namespace vorlr
