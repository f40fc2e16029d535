#include "viewers/TextConvert.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "archive/Extract.h"
#include "platform/RuntimeFile.h"

namespace vorlr {

size_t KeepLowBytes(uint8_t* buffer, size_t n) {
    const size_t units = n / 2;
    size_t k = 0;
#if defined(__SSE2__)
    // 16 units per step: the stores at k..k+15 never reach the loads still ahead (from 2k+32).
    const __m128i low = _mm_set1_epi16(0x00FF);
    for (; k + 16 <= units; k += 16) {
        const __m128i a = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + 2 * k)), low);
        const __m128i b = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + 2 * k + 16)), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(buffer + k), _mm_packus_epi16(a, b));
    }
#endif
    for (; k < units; ++k) buffer[k] = buffer[2 * k];
    return units;
}

std::string ConvertUnicodeBytes(std::string_view bytes) {
    if (bytes.size() <= 2) return {};
    std::string out(bytes.substr(2));
    out.resize(KeepLowBytes(reinterpret_cast<uint8_t*>(out.data()), out.size()));
    return out;
}

std::string normaliseLineBreaks(std::string_view bytes) {
    std::string out;
    out.resize(bytes.size());
    size_t o = 0;
    const size_t n = bytes.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = bytes[i];
        if (c == '\r') {
            out[o++] = '\n';
            if (i + 1 < n && bytes[i + 1] == '\n') ++i;
        } else {
            out[o++] = c;
        }
    }
    out.resize(o);
    return out;
}

void ConvertUnicodeFile(const std::string& fileName, WorkBufferBytes& WorkBuffer) {
    ReplaceFile(fileName, kUnicodeScratchName);
    RuntimeFile source;
    source.openExisting(kUnicodeScratchName, RuntimeFile::Access::ReadOnly);
    source.seek(2);  // past the byte-order mark
    RuntimeFile target;
    target.create(fileName);
    uint8_t* buffer = WorkBuffer.data();
    for (;;) {
        // Every full block has an even length, so code units never straddle two blocks.
        const int64_t got = source.readCounted(buffer, static_cast<int64_t>(WorkBuffer.size()));
        if (got <= 0) break;
        const size_t n = KeepLowBytes(buffer, static_cast<size_t>(got));
        target.write(buffer, static_cast<int64_t>(n));
    }
    target.close();
    source.close();
    deleteFile(kUnicodeScratchName);
}

}  // namespace vorlr
