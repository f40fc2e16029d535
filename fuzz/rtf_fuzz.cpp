// Arbitrary bytes through the RTF reader (with and without the header in front), and the UTF-16
// conversion checked against its definition.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <QTextDocument>

#include "viewers/richtext/RtfReader.h"
#include "viewers/TextConvert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    QTextDocument doc;
    vorlr::ReadRtf(bytes, doc);
    // Everything shown comes from the input: never more characters than bytes (plus the
    // paragraph ends and one character per \u, both of which need input bytes too).
    if (static_cast<size_t>(doc.characterCount()) > size + 1) __builtin_trap();
    vorlr::ReadRtf(std::string("{\\rtf1 ") + std::string(bytes), doc);

    const std::string converted = vorlr::ConvertUnicodeBytes(bytes);
    if (converted.size() != (size > 2 ? (size - 2) / 2 : 0)) __builtin_trap();
    for (size_t k = 0; k < converted.size(); ++k)
        if (converted[k] != bytes[2 + 2 * k]) __builtin_trap();
    return 0;
}
