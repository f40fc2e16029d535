// Pictures read from arbitrary bytes (PNG, BMP or neither): an error or a picture, never a crash,
// a read outside the input or an allocation the bytes cannot fill.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/Errors.h"
#include "platform/PictureReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const vorlr::Bitmap24 picture = vorlr::ReadPicture(std::span(data, size), "fuzz");
        if (picture.hasAlpha() &&
            picture.alpha().size() != size_t(picture.width()) * size_t(picture.height()))
            __builtin_trap();
    } catch (const vorlr::Error&) {
        // Damaged or refused.
    }
    return 0;
}
