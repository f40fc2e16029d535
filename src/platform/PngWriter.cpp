#include "platform/PngWriter.h"

#include <spng.h>

#include <memory>
#include <vector>

#include "platform/Errors.h"
#include "platform/RuntimeFile.h"

namespace vorlr {

namespace {

struct ContextFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

struct Sink {
    int fd = -1;
    std::exception_ptr failure;  // a write error, raised once libspng has returned
};

int writeToFile(spng_ctx*, void* user, void* data, size_t length) {
    auto* sink = static_cast<Sink*>(user);
    try {
        writeAll(sink->fd, data, static_cast<int64_t>(length));
        return 0;
    } catch (...) {
        sink->failure = std::current_exception();
        return SPNG_IO_ERROR;
    }
}

[[noreturn]] void cannotCreate(const std::string& path, const std::string& reason) {
    throw Error("Cannot create file \"" + path + "\". " + reason);
}

}  // namespace

void savePng(const Bitmap24& picture, const std::string& path) {
    if (picture.empty()) cannotCreate(path, "The picture has no pixels");
    RuntimeFile file;
    try {
        file.create(path);
    } catch (const FileError& e) {
        cannotCreate(path, e.what());
    }
    std::unique_ptr<spng_ctx, ContextFree> ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) throw Error("Out of memory");
    Sink sink{file.fd(), nullptr};
    spng_set_png_stream(ctx.get(), writeToFile, &sink);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(picture.width());
    ihdr.height = static_cast<uint32_t>(picture.height());
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx.get(), &ihdr);
    // Speed over size: one cheap filter and zlib's fastest level.
    spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 1);
    spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_SUB);

    int rc = spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    std::vector<uint8_t> rgb(picture.stride());
    for (int y = 0; rc == 0 && y < picture.height(); ++y) {
        const uint8_t* bgr = picture.row(y);
        for (size_t x = 0; x < rgb.size(); x += 3) {
            rgb[x] = bgr[x + 2];
            rgb[x + 1] = bgr[x + 1];
            rgb[x + 2] = bgr[x];
        }
        rc = spng_encode_row(ctx.get(), rgb.data(), rgb.size());
    }
    if (rc == SPNG_EOI) rc = 0;  // the last row finishes the image
    if (sink.failure) {
        try {
            std::rethrow_exception(sink.failure);
        } catch (const FileError& e) {
            cannotCreate(path, e.what());
        }
    }
    if (rc != 0) cannotCreate(path, spng_strerror(rc));
    file.close();
}

}  // namespace vorlr
