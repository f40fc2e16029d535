#include "viewers/encoders/KmgEncoder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "platform/Errors.h"
#include "platform/LittleEndian.h"

namespace vorlr {
namespace {

constexpr int64_t kMaxFileSize = std::numeric_limits<int32_t>::max();  // an entry's size field

// The decoder reads sizes as signed 16-bit numbers.
void checkPicture(const Bitmap24& picture) {
    if (picture.empty()) throw Error("the picture has no pixels");
    if (picture.width() > 32767 || picture.height() > 32767)
        throw Error("the picture is too large for a .kmg file (" + std::to_string(picture.width()) +
                    " x " + std::to_string(picture.height()) + "; at most 32767 x 32767)");
}

// A model's size field: the size it stood for, now for the new file; any other value as it was.
uint32_t sizeField(uint32_t value, const KmgModel& model, int64_t entrySize, int64_t pixelSize) {
    if (int64_t{value} == model.entrySize) return uint32_t(entrySize);
    if (int64_t{value} == model.pixelDataSize) return uint32_t(pixelSize);
    return value;
}

// Both size fields: equal for a 16-bit file, different for a palette file, as the decoder tells
// them apart.
void putSizes(uint8_t* header, const KmgModel* model, KmgKind kind, int64_t entrySize,
              int64_t pixelSize) {
    uint32_t first = uint32_t(kind == KmgKind::Rgb16 ? pixelSize : entrySize);
    uint32_t second = uint32_t(pixelSize);
    if (model) {
        const uint32_t a = sizeField(leU32(header + 4), *model, entrySize, pixelSize);
        const uint32_t b = sizeField(leU32(header + 8), *model, entrySize, pixelSize);
        if ((a == b) == (kind == KmgKind::Rgb16)) first = a, second = b;
    }
    putLe32(header + 4, first);
    putLe32(header + 8, second);
}

// 4 x 4 Bayer thresholds, 0..15.
constexpr uint8_t kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

inline uint16_t rgb565(unsigned r, unsigned g, unsigned b) {
    return uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
}

void writeRgb16Pixels(const Bitmap24& picture, Dither dither, uint8_t* out) {
    const int width = picture.width();
    std::vector<int> errors(dither == Dither::FloydSteinberg ? size_t(width + 2) * 6 : 0, 0);
    for (int y = 0; y < picture.height(); ++y) {
        const uint8_t* px = picture.row(y);
        if (dither == Dither::None) {
            for (int x = 0; x < width; ++x, px += 3, out += 2) putLe16(out, rgb565(px[2], px[1], px[0]));
        } else if (dither == Dither::Ordered) {
            // The threshold stays below one step, so values already on a step do not move.
            for (int x = 0; x < width; ++x, px += 3, out += 2) {
                const unsigned t = kBayer[y & 3][x & 3];
                putLe16(out, rgb565(std::min(255u, px[2] + (t >> 1)), std::min(255u, px[1] + (t >> 2)),
                                    std::min(255u, px[0] + (t >> 1))));
            }
        } else {
            int* cur = errors.data() + size_t(y & 1) * size_t(width + 2) * 3;
            int* nxt = errors.data() + size_t(~y & 1) * size_t(width + 2) * 3;
            std::fill(nxt, nxt + size_t(width + 2) * 3, 0);
            for (int x = 0; x < width; ++x, px += 3, out += 2) {
                int* e = cur + size_t(x + 1) * 3;
                // Red, green, blue: wanted value, and the step its channel keeps.
                const int want[3] = {std::clamp(px[2] + e[0] / 16, 0, 255),
                                     std::clamp(px[1] + e[1] / 16, 0, 255),
                                     std::clamp(px[0] + e[2] / 16, 0, 255)};
                const int mask[3] = {~7, ~3, ~7};
                for (int c = 0; c < 3; ++c) {
                    const int err = want[c] - (want[c] & mask[c]);
                    e[3 + c] += err * 7;
                    nxt[size_t(x) * 3 + c] += err * 3;
                    nxt[size_t(x + 1) * 3 + c] += err * 5;
                    nxt[size_t(x + 2) * 3 + c] += err;
                }
                putLe16(out, rgb565(unsigned(want[0]), unsigned(want[1]), unsigned(want[2])));
            }
        }
    }
}

}  // namespace

std::array<uint32_t, 256> KmgModel::paletteColours() const {
    std::array<uint32_t, 256> colours{};
    for (size_t k = 1; k < 256; ++k)
        colours[k] = uint32_t{palette[3 * k]} << 16 | uint32_t{palette[3 * k + 1]} << 8 |
                     palette[3 * k + 2];
    return colours;
}

KmgModel ReadKmgModel(const uint8_t* data, size_t size) {
    auto need = [&](size_t end) {
        if (size < end) throw FileError(kReadBeyondEof);
    };
    KmgModel model;
    model.entrySize = int64_t(size);
    need(kKmgHeaderSize);
    std::memcpy(model.header.data(), data, kKmgHeaderSize);
    if (leU32(data + 4) == leU32(data + 8)) {
        model.kind = KmgKind::Rgb16;
        const int height = leI16(data + 20), width = leI16(data + 22);
        model.pixelDataSize = width > 0 && height > 0 ? int64_t{width} * height * 2 : 0;
        return model;
    }
    model.kind = KmgKind::Palette;
    need(size_t{kKmgTableStart});
    std::memcpy(model.palette.data(), data + kKmgHeaderSize, kKmgPaletteSize);
    const size_t count = leU16(data + 28);
    const size_t tableEnd = size_t{kKmgTableStart} + count * kKmgRecordSize;
    need(tableEnd);  // checked before the records are allocated
    model.records.resize(count);
    for (size_t i = 0; i < count; ++i)
        std::memcpy(model.records[i].data(), data + kKmgTableStart + i * kKmgRecordSize,
                    kKmgRecordSize);
    model.pixelDataSize = int64_t(size - tableEnd);
    return model;
}

std::vector<uint8_t> EncodeKmg16(const Bitmap24& picture, const KmgModel* model, Dither dither) {
    if (model && model->kind != KmgKind::Rgb16) throw Error("the model is not a 16-bit .kmg");
    checkPicture(picture);
    const int64_t pixelSize = int64_t{picture.width()} * picture.height() * 2;
    const int64_t entrySize = kKmgHeaderSize + pixelSize;
    if (entrySize > kMaxFileSize) throw Error("the picture is too large for a .kmg file");
    std::vector<uint8_t> out(size_t(entrySize), 0);
    if (model) std::memcpy(out.data(), model->header.data(), kKmgHeaderSize);
    putSizes(out.data(), model, KmgKind::Rgb16, entrySize, pixelSize);
    putLe16(out.data() + 20, uint16_t(picture.height()));
    putLe16(out.data() + 22, uint16_t(picture.width()));
    writeRgb16Pixels(picture, dither, out.data() + kKmgHeaderSize);
    return out;
}

void AppendKmgRuns(const uint8_t* indices, size_t count, std::vector<uint8_t>& out) {
    for (size_t i = 0; i < count;) {
        size_t j = i;
        if (indices[i] == 0) {
            const size_t end = std::min(count, i + 127);
            while (j < end && indices[j] == 0) ++j;
            out.push_back(uint8_t(128 + (j - i)));
        } else {
            const size_t end = std::min(count, i + 128);
            const void* zero = std::memchr(indices + i, 0, end - i);
            j = zero ? size_t(static_cast<const uint8_t*>(zero) - indices) : end;
            out.push_back(uint8_t(j - i));
            out.insert(out.end(), indices + i, indices + j);
        }
        i = j;
    }
}

std::vector<uint8_t> EncodeKmgPalette(const std::vector<const Bitmap24*>& pictures,
                                      const KmgModel* model, const KmgPaletteOptions& options,
                                      PaletteSource* source) {
    if (model && model->kind != KmgKind::Palette) throw Error("the model is not a palette .kmg");
    if (pictures.empty()) throw Error("a palette .kmg needs at least one picture");
    if (pictures.size() > 65535) throw Error("a .kmg holds at most 65535 sub-images");
    for (const Bitmap24* p : pictures) checkPicture(*p);

    const std::array<uint32_t, 256> given = model ? model->paletteColours()
                                                  : std::array<uint32_t, 256>{};
    PaletteRequest request;
    request.first = 1;
    request.transparency = true;
    request.given = model ? &given : nullptr;
    request.keepPalette = options.keepPalette;
    request.dither = options.dither;
    const IndexedPictures indexed = ChoosePalette(pictures, request);
    if (source) *source = indexed.source;

    const size_t count = pictures.size();
    const size_t dataStart = size_t{kKmgTableStart} + count * kKmgRecordSize;
    size_t bound = dataStart;
    for (const auto& ix : indexed.indices) bound += ix.size() + ix.size() / 64 + 16;  // grows when needed
    std::vector<uint8_t> out(dataStart, 0);
    out.reserve(bound);
    if (model) {
        std::memcpy(out.data(), model->header.data(), kKmgHeaderSize);
        std::memcpy(out.data() + kKmgHeaderSize, model->palette.data(), 3);  // entry 0, unread
    }
    putLe16(out.data() + 28, uint16_t(count));
    for (size_t k = 1; k < 256; ++k) {
        uint8_t* rgb = out.data() + kKmgHeaderSize + 3 * k;
        rgb[0] = uint8_t(indexed.colours[k] >> 16);
        rgb[1] = uint8_t(indexed.colours[k] >> 8);
        rgb[2] = uint8_t(indexed.colours[k]);
    }
    for (size_t i = 0; i < count; ++i) {
        const size_t start = out.size() - dataStart;
        if (start > kMaxFileSize) throw Error("the pictures are too large for a .kmg file");
        uint8_t* record = out.data() + kKmgTableStart + i * kKmgRecordSize;
        if (model && i < model->records.size())
            std::memcpy(record + 4, model->records[i].data() + 4, 8);  // unread bytes
        putLe32(record, uint32_t(start));
        putLe16(record + 12, uint16_t(pictures[i]->height()));
        putLe16(record + 14, uint16_t(pictures[i]->width()));
        AppendKmgRuns(indexed.indices[i].data(), indexed.indices[i].size(), out);
    }
    if (int64_t(out.size()) > kMaxFileSize)
        throw Error("the pictures are too large for a .kmg file");
    putSizes(out.data(), model, KmgKind::Palette, int64_t(out.size()),
             int64_t(out.size() - dataStart));
    return out;
}

}  // namespace vorlr
