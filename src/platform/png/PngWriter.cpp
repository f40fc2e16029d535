#include "platform/png/PngWriter.h"

#include <spng.h>

#include <exception>
#include <functional>
#include <memory>

#include "platform/Errors.h"
#include "platform/RuntimeFile.h"

namespace vorlr {

namespace {

constexpr const char* kNoPixels = "The picture has no pixels";

struct ContextFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

using Sink = std::function<void(const void* data, size_t length)>;

struct Stream {
    const Sink& sink;
    std::exception_ptr failure;  // raised again once libspng has returned
};

int writeToSink(spng_ctx*, void* user, void* data, size_t length) {
    auto* stream = static_cast<Stream*>(user);
    try {
        stream->sink(data, length);
        return 0;
    } catch (...) {
        stream->failure = std::current_exception();
        return SPNG_IO_ERROR;
    }
}

// Encodes row by row into sink; sink's own exceptions come out as they are.
void encode(const Bitmap24& picture, const Sink& sink) {
    std::unique_ptr<spng_ctx, ContextFree> ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) throw Error("Out of memory");
    Stream stream{sink, nullptr};
    spng_set_png_stream(ctx.get(), writeToSink, &stream);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(picture.width());
    ihdr.height = static_cast<uint32_t>(picture.height());
    ihdr.bit_depth = 8;
    const bool alpha = picture.hasAlpha();
    ihdr.color_type = alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx.get(), &ihdr);
    // Speed over size: zlib's fastest level, rows unfiltered (the decoders' pictures have flat
    // areas and runs, which deflate finds without a filter's help).
    spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 1);
    spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_NONE);

    int rc = spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG,
                               SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    const size_t width = static_cast<size_t>(picture.width());
    std::vector<uint8_t> rgb(width * (alpha ? 4 : 3));
    for (int y = 0; rc == 0 && y < picture.height(); ++y) {
        const uint8_t* bgr = picture.row(y);
        if (alpha) {
            const uint8_t* a = picture.alphaRow(y);
            for (size_t x = 0; x < width; ++x, bgr += 3) {
                rgb[4 * x] = bgr[2];
                rgb[4 * x + 1] = bgr[1];
                rgb[4 * x + 2] = bgr[0];
                rgb[4 * x + 3] = a[x];
            }
        } else {
            for (size_t x = 0; x < rgb.size(); x += 3) {
                rgb[x] = bgr[x + 2];
                rgb[x + 1] = bgr[x + 1];
                rgb[x + 2] = bgr[x];
            }
        }
        rc = spng_encode_row(ctx.get(), rgb.data(), rgb.size());
    }
    if (rc == SPNG_EOI) rc = 0;  // the last row finishes the image
    if (stream.failure) std::rethrow_exception(stream.failure);
    if (rc != 0) throw Error(spng_strerror(rc));
}

[[noreturn]] void cannotCreate(const std::string& path, const std::string& reason) {
    throw Error("Cannot create file \"" + fullFileName(path) + "\". " + reason);
}

}  // namespace

void savePng(const Bitmap24& picture, const std::string& path) {
    if (picture.empty()) cannotCreate(path, kNoPixels);
    RuntimeFile file;
    try {
        file.create(path);
    } catch (const FileError& e) {
        cannotCreate(path, e.what());
    }
    // A failed write is the runtime's own error ("Disk full"), as for any other file.
    encode(picture, [&file](const void* data, size_t length) {
        file.write(data, static_cast<int64_t>(length));
    });
    file.close();
}

std::vector<uint8_t> encodePng(const Bitmap24& picture) {
    if (picture.empty()) throw Error(kNoPixels);
    std::vector<uint8_t> out;
    out.reserve(picture.stride() * static_cast<size_t>(picture.height()) / 4 + 1024);
    encode(picture, [&out](const void* data, size_t length) {
        const auto* p = static_cast<const uint8_t*>(data);
        out.insert(out.end(), p, p + length);
    });
    return out;
}

}  // namespace vorlr
