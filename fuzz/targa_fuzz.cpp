// Targa decoding of arbitrary bytes: no input may read or write outside a buffer, hang or crash.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/Errors.h"
#include "viewers/TargaDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One state for the whole run, as in a viewer: missing pixels come from what WorkBuffer held.
    // Pictures past a few hundred kilobytes are refused by the limit (whose own tests cover
    // it), so each input costs little and the run spends its time searching.
    static const auto state = [] {
        auto s = std::make_unique<vorlr::DecoderState>();
        s->limits.maxPictureBytes = size_t{256} << 10;
        return s;
    }();
    static vorlr::Bitmap24 picture;  // the first view's picture, kept between entries
    vorlr::MemoryByteSource source(data, size);
    try {
        vorlr::decodeTarga(source, *state, picture);
    } catch (const vorlr::Error&) {
        // Short header, unsupported depth, pictures past the limit.
    }
    return 0;
}
