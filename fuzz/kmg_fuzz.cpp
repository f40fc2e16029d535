// KMG decoding of arbitrary bytes: no input may read or write outside a buffer, hang or crash.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/Errors.h"
#include "viewers/KmgDecoder.h"

namespace {

// One picture for every sub-image, kept from one input to the next as a view keeps its own:
// the decoder's reuse of a picture of the same size is exercised, and an input announcing
// 65535 sub-images costs no list of 65535 pictures.
struct Pictures final : vorlr::KmgTarget {
    vorlr::Bitmap24 picture;
    int count = 1;
    vorlr::Bitmap24& firstPicture() override { return picture; }
    void setSubImageCount(int n) override { count = n > 0 ? n : 1; }
    vorlr::Bitmap24& beginSubImage(int index, vorlr::KmgLayout::Position) override {
        if (index < 0 || index >= count) __builtin_trap();
        return picture;
    }
    void pictureDone(int index) override {
        if (index < 0 || index >= count) __builtin_trap();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One state for the whole run, as in a viewer: the palette and WorkBuffer carry over.
    // Pictures past a few hundred kilobytes are refused by the limits (whose own tests cover
    // them), so each input costs little and the run spends its time searching.
    static const auto state = [] {
        auto s = std::make_unique<vorlr::DecoderState>();
        s->limits.maxPictureBytes = s->limits.maxTotalBytes = size_t{256} << 10;
        return s;
    }();
    static Pictures out;
    // The window's side planes (alpha, palette indexes) on every other input, by its length.
    state->keepAlpha = state->keepIndexes = size % 2 == 1;
    vorlr::MemoryByteSource source(data, size);
    try {
        vorlr::decodeKmg(source, *state, out);
    } catch (const vorlr::Error&) {
        // Short header, palette or record, and pictures past the limits.
    }
    return 0;
}
