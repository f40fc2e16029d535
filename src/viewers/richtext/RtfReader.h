#pragma once
// Our own Rich Text Format reader: builds a QTextDocument (QtGui only, no widgets) from the
// walk of RtfWalk.h.
#include <string_view>

#include "viewers/rtf/RtfWalk.h"

class QTextDocument;

namespace vorlr {

// Replaces the document's content with what can be read of the RTF bytes.
void ReadRtf(std::string_view bytes, QTextDocument& document);

}  // namespace vorlr
