// KMG decoding of arbitrary bytes: no input may read or write outside a buffer, hang or crash.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Errors.h"
#include "viewers/KmgDecoder.h"

namespace {

struct Pictures final : vorlr::KmgTarget {
    std::vector<vorlr::Bitmap24> pictures = std::vector<vorlr::Bitmap24>(1);
    vorlr::Bitmap24& firstPicture() override { return pictures[0]; }
    void setSubImageCount(int count) override { pictures.resize(count > 0 ? size_t(count) : 1); }
    vorlr::Bitmap24& beginSubImage(int index, vorlr::KmgLayout::Position) override {
        return pictures.at(size_t(index));
    }
    void pictureDone(int index) override { (void)pictures.at(size_t(index)); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One state for the whole run, as in a viewer: the palette and WorkBuffer carry over.
    // Pictures that would take seconds to fill are refused by the limits, so the run spends its
    // time on the decoding.
    static const auto state = [] {
        auto s = std::make_unique<vorlr::DecoderState>();
        s->limits.maxPictureBytes = s->limits.maxTotalBytes = size_t{3} << 22;
        return s;
    }();
    Pictures out;
    vorlr::MemoryByteSource source(data, size);
    try {
        vorlr::decodeKmg(source, *state, out);
    } catch (const vorlr::Error&) {
        // Short header, palette or record, and pictures past the limits.
    }
    return 0;
}
