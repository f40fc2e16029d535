#pragma once
// Our own Rich Text Format reader: builds a QTextDocument (QtGui only, no widgets).
// Damaged input never crashes or hangs: nesting is capped, numbers are clamped, truncated
// escapes are dropped, and the work is linear in the input's length.
#include <string_view>

class QTextDocument;

namespace vorlr {

// True when the bytes begin with the Rich Text Format header "{\rtf".
bool LooksLikeRtf(std::string_view bytes);

// Replaces the document's content with what can be read of the RTF bytes.
void ReadRtf(std::string_view bytes, QTextDocument& document);

// Deepest group nesting that keeps its own formatting; deeper groups share the last level's.
inline constexpr int kRtfMaxDepth = 1000;

}  // namespace vorlr
