#include "viewers/encoders/TargaEncoder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "platform/Errors.h"
#include "platform/LittleEndian.h"

namespace vorlr {
namespace {

// The bytes of one row as stored: indices or grey values (1), blue-green-red (3), and alpha (4).
void storedRow(const Bitmap24& picture, int y, int bpp, const uint8_t* indices, uint8_t* out) {
    const int width = picture.width();
    const uint8_t* px = picture.row(y);
    if (bpp == 3) {
        std::memcpy(out, px, size_t(width) * 3);
    } else if (bpp == 4) {
        const uint8_t* alpha = picture.hasAlpha() ? picture.alphaRow(y) : nullptr;
        for (int x = 0; x < width; ++x, px += 3, out += 4) {
            std::memcpy(out, px, 3);
            out[3] = alpha ? alpha[x] : 255;
        }
    } else if (indices) {
        std::memcpy(out, indices + size_t(y) * size_t(width), size_t(width));
    } else {
        for (int x = 0; x < width; ++x, px += 3)
            out[x] = px[0] == px[1] && px[1] == px[2]
                         ? px[0]
                         : uint8_t((px[2] * 299 + px[1] * 587 + px[0] * 114 + 500) / 1000);
    }
}

std::vector<uint8_t> encode(const Bitmap24& picture, const TargaModel* model, uint8_t type,
                            uint8_t bits, const TargaOptions& options, PaletteSource* source) {
    if (!targaDepthSupported(bits)) throw UnsupportedTargaFormat(bits);
    if (bits == 8 && type != 1 && type != 3)
        throw Error("an 8-bit Targa of type " + std::to_string(type) +
                    " takes its colours from no map of its own; only types 1 and 3 are written at 8 bits");
    if (picture.empty()) throw Error("the picture has no pixels");
    if (picture.width() > 32767 || picture.height() > 32767)
        throw Error("the picture is too large for a .tga file (" + std::to_string(picture.width()) +
                    " x " + std::to_string(picture.height()) + "; at most 32767 x 32767)");
    const int bpp = bits / 8, width = picture.width(), height = picture.height();

    std::array<uint8_t, kTargaHeaderSize> header{};
    std::vector<uint8_t> id;
    std::array<uint8_t, kTargaColourMapSize> map{};
    if (model) {
        header = model->header;
        id = model->id;
        id.resize(header[0], 0);
        map = model->colourMap;
    } else if (type == 1) {
        // A colour map of 256 entries of 24 bits, as other programs expect with type 1.
        header[1] = 1;
        putLe16(header.data() + 5, 256);
        header[7] = 24;
    }
    if (!model && bits == 32 && picture.hasAlpha()) header[17] = 8;  // 8 alpha bits
    header[2] = type;
    putLe16(header.data() + 12, uint16_t(width));
    putLe16(header.data() + 14, uint16_t(height));
    header[16] = bits;

    IndexedPictures indexed;
    if (bpp == 1 && type == 1) {
        const std::array<uint32_t, 256> given =
            model ? model->colourMapColours() : std::array<uint32_t, 256>{};
        PaletteRequest request;
        request.first = 0;
        request.transparency = false;
        request.given = model ? &given : nullptr;
        request.keepPalette = options.keepPalette;
        request.dither = options.dither;
        indexed = ChoosePalette({&picture}, request);
        if (source) *source = indexed.source;
        for (size_t k = 0; k < 256; ++k) {
            map[3 * k] = uint8_t(indexed.colours[k]);
            map[3 * k + 1] = uint8_t(indexed.colours[k] >> 8);
            map[3 * k + 2] = uint8_t(indexed.colours[k] >> 16);
        }
    }

    const bool runLength = type == 10;
    const size_t rowBytes = size_t(width) * size_t(bpp);
    const size_t bound = kTargaHeaderSize + id.size() + (type == 1 ? map.size() : 0) +
                         (runLength ? rowBytes + (size_t(width) + 127) / 128 : rowBytes) *
                             size_t(height);
    if (bound > size_t(std::numeric_limits<int32_t>::max()))
        throw Error("the picture is too large for a .tga file");
    std::vector<uint8_t> out(header.begin(), header.end());
    out.reserve(runLength ? kTargaHeaderSize + id.size() + map.size() + rowBytes * 2 : bound);
    out.insert(out.end(), id.begin(), id.end());
    if (type == 1) out.insert(out.end(), map.begin(), map.end());
    std::vector<uint8_t> row(rowBytes);
    const uint8_t* indices = indexed.indices.empty() ? nullptr : indexed.indices[0].data();
    for (int y = height - 1; y >= 0; --y) {
        storedRow(picture, y, bpp, indices, row.data());
        if (runLength)
            AppendTargaRow(row.data(), width, bpp, out);
        else
            out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

std::array<uint32_t, 256> TargaModel::colourMapColours() const {
    std::array<uint32_t, 256> colours{};
    for (size_t k = 0; k < 256; ++k) colours[k] = rgbAt(colourMap.data() + 3 * k);
    return colours;
}

TargaModel ReadTargaModel(const uint8_t* data, size_t size) {
    if (size < size_t{kTargaHeaderSize}) throw FileError(kReadBeyondEof);
    TargaModel model;
    std::memcpy(model.header.data(), data, kTargaHeaderSize);
    if (!targaDepthSupported(model.bits())) throw UnsupportedTargaFormat(model.bits());
    size_t pos = kTargaHeaderSize;
    const size_t idEnd = std::min(size, pos + model.header[0]);
    model.id.assign(data + pos, data + idEnd);
    pos = idEnd;
    if (model.type() == 1) {
        const size_t n = std::min(size - pos, size_t{kTargaColourMapSize});
        std::memcpy(model.colourMap.data(), data + pos, n);
    }
    return model;
}

std::vector<uint8_t> EncodeTarga(const Bitmap24& picture, uint8_t type, uint8_t bits,
                                 const TargaOptions& options, PaletteSource* source) {
    return encode(picture, nullptr, type, bits, options, source);
}

std::vector<uint8_t> EncodeTargaLike(const Bitmap24& picture, const TargaModel& model,
                                     const TargaOptions& options, PaletteSource* source) {
    return encode(picture, &model, model.type(), model.bits(), options, source);
}

void AppendTargaRow(const uint8_t* pixels, int width, int bpp, std::vector<uint8_t>& out) {
    const size_t b = size_t(bpp);
    auto same = [&](int i, int j) { return std::memcmp(pixels + i * b, pixels + j * b, b) == 0; };
    for (int x = 0; x < width;) {
        if (x + 1 < width && same(x, x + 1)) {
            int n = 2;
            while (x + n < width && n < 128 && same(x, x + n)) ++n;
            out.push_back(uint8_t(0x80 | (n - 1)));
            out.insert(out.end(), pixels + x * b, pixels + (x + 1) * b);
            x += n;
        } else {
            const int start = x;
            while (x < width && x - start < 128 && !(x + 1 < width && same(x, x + 1))) ++x;
            out.push_back(uint8_t(x - start - 1));
            out.insert(out.end(), pixels + start * b, pixels + x * b);
        }
    }
}

}  // namespace vorlr
