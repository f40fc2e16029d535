#include "search/EntryText.h"

#include <QString>

#include "archive/EntryKind.h"
#include "platform/Text.h"
#include "viewers/rtf/RtfWalk.h"
#include "viewers/TextConvert.h"

namespace vorlr {

bool SearchedAsText(std::string_view storedName) {
    const std::string_view node = NodeNameOf(storedName);
    return EntryKindOf(EntryExtension(node), node) == EntryKind::Text;
}

std::string PageText(std::string bytes) {
    // The page converts whenever the first byte is 0xFF, whatever follows.
    if (!bytes.empty() && static_cast<unsigned char>(bytes[0]) == 0xFF) bytes = ConvertUnicodeBytes(bytes);
    if (LooksLikeRtf(bytes)) return toCp1252(RtfPlainText(bytes));
    return normaliseLineBreaks(bytes);
}

}  // namespace vorlr
