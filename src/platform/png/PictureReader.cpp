#include "platform/png/PictureReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <spng.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/Errors.h"
#include "platform/LittleEndian.h"
#include "platform/RuntimeFile.h"

namespace vorlr {

namespace {

// No picture this program writes comes near it; a larger file is refused before it is read.
constexpr int64_t kMaxFileBytes = int64_t{2} * static_cast<int64_t>(Bitmap24::kMaxPixelBytes);
// Ancillary chunks (text, profiles) are skipped past this size; all of them together are kept
// to this much memory.
constexpr size_t kChunkSizeLimit = size_t{16} << 20;
constexpr size_t kChunkCacheLimit = size_t{64} << 20;
// Deflate cannot expand data more than 1032 times: pixel data larger than that for the file's
// size cannot be there, so such a header is refused before the picture is allocated.
constexpr uint64_t kMaxInflateRatio = 1032;

const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

[[noreturn]] void fail(const std::string& name, const std::string& what) {
    throw Error(name + ": " + what);
}

struct ContextFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

void checkPixelBytes(const std::string& name, uint64_t width, uint64_t height) {
    if (width * height > Bitmap24::kMaxPixelBytes / 3)
        fail(name, "the picture is too large (" + std::to_string(width) + " x " +
                       std::to_string(height) + ")");
}

// One row of RGB or RGBA into the picture's BGR row and alpha row.
void storeRgbRow(const uint8_t* in, int width, uint8_t* bgr) {
    for (int x = 0; x < width; ++x, in += 3, bgr += 3) {
        bgr[0] = in[2];
        bgr[1] = in[1];
        bgr[2] = in[0];
    }
}

void storeRgbaRow(const uint8_t* in, int width, uint8_t* bgr, uint8_t* alpha) {
    for (int x = 0; x < width; ++x, in += 4, bgr += 3) {
        bgr[0] = in[2];
        bgr[1] = in[1];
        bgr[2] = in[0];
        alpha[x] = in[3];
    }
}

Bitmap24 readPng(std::span<const uint8_t> bytes, const std::string& name) {
    std::unique_ptr<spng_ctx, ContextFree> holder(spng_ctx_new(0));
    spng_ctx* ctx = holder.get();
    if (!ctx) throw Error("Out of memory");
    const auto check = [&name](int rc) {
        if (rc != 0) fail(name, std::string("damaged PNG (") + spng_strerror(rc) + ")");
    };
    check(spng_set_image_limits(ctx, 0x7FFFFFFF, 0x7FFFFFFF));
    check(spng_set_chunk_limits(ctx, kChunkSizeLimit, kChunkCacheLimit));
    check(spng_set_png_buffer(ctx, bytes.data(), bytes.size()));

    spng_ihdr ihdr{};
    check(spng_get_ihdr(ctx, &ihdr));
    checkPixelBytes(name, ihdr.width, ihdr.height);
    static const int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};  // by colour type
    const uint64_t rowBits =
        uint64_t{ihdr.width} * kChannels[ihdr.color_type % 7] * ihdr.bit_depth;
    const uint64_t dataBytes = uint64_t{ihdr.height} * (1 + (rowBits + 7) / 8);
    if (dataBytes > kMaxInflateRatio * bytes.size() + 4096)
        fail(name, "damaged PNG (too little data for " + std::to_string(ihdr.width) + " x " +
                       std::to_string(ihdr.height) + " pixels)");

    spng_trns trns{};
    const int trnsRc = spng_get_trns(ctx, &trns);
    if (trnsRc != SPNG_ECHUNKAVAIL) check(trnsRc);
    const bool alpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                       ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || trnsRc == 0;
    const int fmt = alpha ? SPNG_FMT_RGBA8 : SPNG_FMT_RGB8;
    const int flags = alpha ? SPNG_DECODE_TRNS : 0;

    const int width = static_cast<int>(ihdr.width);
    const int height = static_cast<int>(ihdr.height);
    Bitmap24 picture(width, height);
    picture.setHasAlpha(alpha);
    const size_t rowBytes = static_cast<size_t>(width) * (alpha ? 4 : 3);
    const auto store = [&](const uint8_t* in, int y) {
        if (alpha)
            storeRgbaRow(in, width, picture.row(y), picture.alphaRow(y));
        else
            storeRgbRow(in, width, picture.row(y));
    };

    if (ihdr.interlace_method == SPNG_INTERLACE_NONE) {
        // Row by row: the converted row is still in cache when it is split into the picture.
        check(spng_decode_image(ctx, nullptr, 0, fmt, flags | SPNG_DECODE_PROGRESSIVE));
        std::vector<uint8_t> row(rowBytes);
        for (int y = 0; y < height; ++y) {
            const int rc = spng_decode_row(ctx, row.data(), row.size());
            if (rc != 0 && !(rc == SPNG_EOI && y == height - 1)) check(rc);
            store(row.data(), y);
        }
    } else {
        // Interlaced passes fill the rows out of order: the whole image first.
        size_t size = 0;
        check(spng_decoded_image_size(ctx, fmt, &size));
        if (size != rowBytes * static_cast<size_t>(height)) fail(name, "damaged PNG");
        std::vector<uint8_t> image(size);
        check(spng_decode_image(ctx, image.data(), image.size(), fmt, flags));
        for (int y = 0; y < height; ++y) store(image.data() + rowBytes * static_cast<size_t>(y), y);
    }
    // The chunks after the image up to IEND: a file cut after its pixel data is damaged too.
    check(spng_decode_chunks(ctx));
    return picture;
}

// The BMP files Save writes: BITMAPINFOHEADER (or a later, longer one), 24 bits, no
// compression, rows bottom-up padded to 4 bytes.
Bitmap24 readBmp(std::span<const uint8_t> bytes, const std::string& name) {
    const auto unsupported = [&name](const std::string& what) {
        fail(name, "BMP " + what + "; only 24-bit uncompressed bottom-up BMP files are read");
    };
    if (bytes.size() < 54) fail(name, "damaged BMP (the header is cut short)");
    const uint8_t* h = bytes.data();
    const uint32_t dataOffset = leU32(h + 10);
    const uint32_t headerSize = leU32(h + 14);
    if (headerSize < 40) unsupported("with an old-style header");
    const int32_t width = leI32(h + 18);
    const int32_t height = leI32(h + 22);
    const uint16_t bits = leU16(h + 28);
    const uint32_t compression = leU32(h + 30);
    if (bits != 24) unsupported("with " + std::to_string(bits) + " bits a pixel");
    if (compression != 0) unsupported("with compression " + std::to_string(compression));
    if (height < 0) unsupported("with top-down rows");
    if (width <= 0 || height == 0) fail(name, "the picture has no pixels");
    checkPixelBytes(name, static_cast<uint64_t>(width), static_cast<uint64_t>(height));
    const uint64_t rowBytes = (uint64_t{3} * static_cast<uint64_t>(width) + 3) & ~uint64_t{3};
    if (dataOffset < 14 + uint64_t{headerSize} ||
        dataOffset + rowBytes * static_cast<uint64_t>(height) > bytes.size())
        fail(name, "damaged BMP (the pixel data is cut short)");

    Bitmap24 picture(width, height);
    const size_t stride = picture.stride();
    for (int y = 0; y < height; ++y)
        std::memcpy(picture.row(y), h + dataOffset + rowBytes * static_cast<uint64_t>(height - 1 - y),
                    stride);
    return picture;
}

}  // namespace

Bitmap24 ReadPicture(std::span<const uint8_t> bytes, const std::string& nameForMessages) {
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPngSignature, 8) == 0)
        return readPng(bytes, nameForMessages);
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M')
        return readBmp(bytes, nameForMessages);
    fail(nameForMessages, "not a PNG or BMP picture");
}

Bitmap24 ReadPictureFile(const std::string& path) {
    RuntimeFile file;
    file.openExisting(path, RuntimeFile::Access::ReadOnly);
    const int64_t size = file.fileSize();
    if (size > kMaxFileBytes) fail(path, "the file is too large for a picture");
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (file.readCounted(bytes.data(), size) != size) throwFileError(kReadBeyondEof);
    return ReadPicture(bytes, path);
}

bool IsPictureFile(const std::string& path) {
    uint8_t head[8] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    return (got == 8 && std::memcmp(head, kPngSignature, 8) == 0) ||
           (got >= 2 && head[0] == 'B' && head[1] == 'M');
}

}  // namespace vorlr
