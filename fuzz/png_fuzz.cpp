// Pictures read from arbitrary bytes (PNG, BMP or neither): an error or a picture, never a crash,
// a read outside the input or an allocation the bytes cannot fill.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/Errors.h"
#include "platform/png/PictureReader.h"
#include "platform/png/PngWriter.h"
#include "platform/RuntimeFile.h"

namespace {

// Small pictures of each kind the program writes (RGB and RGBA PNG, BMP) as seeds: random bytes
// seldom get past a PNG signature and its checksums on their own.
void writeSeeds(const std::string& dir) {
    for (int kind = 0; kind < 3; ++kind) {
        vorlr::Bitmap24 picture(7 + kind, 5);
        for (int y = 0; y < picture.height(); ++y)
            for (size_t x = 0; x < picture.stride(); ++x)
                picture.row(y)[x] = static_cast<uint8_t>(x * 37 + y * 11);
        if (kind == 1) {
            picture.setHasAlpha(true);
            picture.alphaRow(2)[3] = 0;
        }
        const auto bytes = kind == 2 ? picture.toBmp() : vorlr::encodePng(picture);
        vorlr::RuntimeFile file;
        file.create(dir + "/seed" + std::to_string(kind));
        file.write(bytes.data(), static_cast<int64_t>(bytes.size()));
    }
}

}  // namespace

// The first corpus folder on the command line gets the seeds once.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    for (int i = 1; i < *argc; ++i) {
        const char* arg = (*argv)[i];
        struct stat st{};
        if (arg[0] == '-' || ::stat(arg, &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        if (!vorlr::fileExists(std::string(arg) + "/seed0")) writeSeeds(arg);
        break;
    }
    return 0;
}

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
