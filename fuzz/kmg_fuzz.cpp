// KMG decoding of arbitrary bytes: no input may read or write outside a buffer, hang or crash.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Errors.h"
#include "viewers/KmgDecoder.h"

namespace {

// Pictures that fit the Bitmap24 limit but would take seconds to fill are skipped, so the run
// spends its time on the decoding; those past the limit still go through it.
constexpr int64_t kMaxFuzzPixels = int64_t{1} << 22;
constexpr int64_t kLimitPixels = int64_t(vorlr::Bitmap24::kMaxPixelBytes / 3);
struct TooLarge {};

struct Pictures final : vorlr::KmgTarget {
    explicit Pictures(const vorlr::ViewerState& s) : state(s) {}
    const vorlr::ViewerState& state;
    std::vector<vorlr::Bitmap24> pictures = std::vector<vorlr::Bitmap24>(1);
    void check() const {
        const int64_t n = int64_t{state.ImageWidth} * state.ImageHeight;
        if (n > kMaxFuzzPixels && n <= kLimitPixels) throw TooLarge{};
    }
    vorlr::Bitmap24& firstPicture() override {
        check();
        return pictures[0];
    }
    void setSubImageCount(int count) override { pictures.resize(count > 0 ? size_t(count) : 1); }
    vorlr::Bitmap24& beginSubImage(int index, vorlr::KmgLayout::Position) override {
        check();
        return pictures.at(size_t(index));
    }
    void pictureDone(int index) override { (void)pictures.at(size_t(index)); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One state for the whole run, as in a viewer: the palette and WorkBuffer carry over.
    static const auto state = std::make_unique<vorlr::ViewerState>();
    Pictures out(*state);
    vorlr::MemoryByteSource source(data, size);
    try {
        vorlr::decodeKmg(source, *state, out);
    } catch (const vorlr::Error&) {
        // Short header, palette or record, and pictures past the Bitmap24 limit.
    } catch (const TooLarge&) {
    }
    return 0;
}
