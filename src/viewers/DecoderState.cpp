#include "viewers/DecoderState.h"

#include "platform/Errors.h"

namespace vorlr {

void checkPictureLimit(const DecodeLimits& limits, int64_t width, int64_t height) {
    if (width <= 0 || height <= 0) return;
    const auto bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3;
    if (bytes > limits.maxPictureBytes) throw Error("Out of memory");
}

}  // namespace vorlr
