// Targa decoding of arbitrary bytes: no input may read or write outside a buffer, hang or crash.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/Errors.h"
#include "viewers/TargaDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Pictures that fit the Bitmap24 limit but would take seconds to fill are skipped, so the
    // run spends its time on the decoding; those past the limit still go through it.
    if (size >= 16) {
        const int64_t w = int16_t(data[12] | (data[13] << 8)), h = int16_t(data[14] | (data[15] << 8));
        if (w > 0 && h > 0 && w * h > (int64_t{1} << 22) && w * h * 3 <= int64_t(vorlr::Bitmap24::kMaxPixelBytes))
            return 0;
    }
    // One state for the whole run, as in a viewer: missing pixels come from what WorkBuffer held.
    static const auto state = std::make_unique<vorlr::ViewerState>();
    static vorlr::Bitmap24 picture;  // the first view's picture, kept between entries
    vorlr::MemoryByteSource source(data, size);
    try {
        vorlr::decodeTarga(source, *state, picture);
    } catch (const vorlr::Error&) {
        // Short header, unsupported depth, pictures past the Bitmap24 limit.
    }
    return 0;
}
