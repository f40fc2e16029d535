#include "viewers/encoders/PictureEncoder.h"

#include <array>
#include <unordered_set>

#include "platform/Errors.h"
#include "viewers/encoders/KmgEncoder.h"
#include "viewers/encoders/TargaEncoder.h"

namespace vorlr {
namespace {

constexpr std::array<const char*, 8> kNames = {"rgb16", "palette",  "tga8",    "tga24",
                                                "tga32", "grey",     "tga24rle", "tga32rle"};

struct TargaLayout {
    uint8_t type, bits;
};
TargaLayout targaLayout(PictureKind kind) {
    switch (kind) {
        case PictureKind::Tga8: return {1, 8};
        case PictureKind::Tga24: return {2, 24};
        case PictureKind::Tga32: return {2, 32};
        case PictureKind::Grey: return {3, 8};
        case PictureKind::Tga24Rle: return {10, 24};
        case PictureKind::Tga32Rle: return {10, 32};
        default: return {2, 24};
    }
}

PictureKind kindOfTarga(uint8_t type, uint8_t bits) {
    if (bits == 8) return type == 3 ? PictureKind::Grey : PictureKind::Tga8;
    if (type == 10) return bits == 32 ? PictureKind::Tga32Rle : PictureKind::Tga24Rle;
    return bits == 32 ? PictureKind::Tga32 : PictureKind::Tga24;
}

// At most `limit` distinct opaque colours over all pictures.
bool fewColours(const std::vector<Bitmap24>& pictures, size_t limit) {
    std::unordered_set<uint32_t> seen;
    uint32_t last = 0xFFFFFFFFu;
    for (const Bitmap24& p : pictures)
        for (int y = 0; y < p.height(); ++y)
            for (int x = 0; x < p.width(); ++x) {
                if (!isOpaque(p, x, y)) continue;
                const uint32_t rgb = rgbAt(p.row(y) + 3 * x);
                if (rgb == last) continue;
                last = rgb;
                if (seen.insert(rgb).second && seen.size() > limit) return false;
            }
    return true;
}

std::vector<const Bitmap24*> pointers(const std::vector<Bitmap24>& pictures) {
    std::vector<const Bitmap24*> out;
    for (const Bitmap24& p : pictures) out.push_back(&p);
    return out;
}

void requireOne(const std::vector<Bitmap24>& pictures, PictureKind kind) {
    if (pictures.empty()) throw Error("no picture to encode");
    if (pictures.size() > 1)
        throw Error(std::string("several pictures make only a palette .kmg, not ") +
                    PictureKindName(kind));
}

Dither ditherOf(const PictureEncodeOptions& options) {
    return options.dither ? Dither::FloydSteinberg : Dither::None;
}

}  // namespace

std::optional<PictureKind> PictureKindNamed(const std::string& name) {
    for (size_t i = 0; i < kNames.size(); ++i)
        if (name == kNames[i]) return PictureKind(i);
    return std::nullopt;
}

const char* PictureKindName(PictureKind kind) { return kNames[size_t(kind)]; }

bool IsKmgKind(PictureKind kind) { return kind == PictureKind::Rgb16 || kind == PictureKind::Palette; }

bool HasTransparency(const Bitmap24& picture) {
    if (!picture.hasAlpha()) return false;
    for (uint8_t a : picture.alpha())
        if (a < 128) return true;
    return false;
}

PictureKind DefaultPictureKind(EntryKind format, const std::vector<Bitmap24>& pictures) {
    if (format == EntryKind::Kmg) {
        if (pictures.size() > 1) return PictureKind::Palette;
        for (const Bitmap24& p : pictures)
            if (HasTransparency(p)) return PictureKind::Palette;
        return fewColours(pictures, 255) ? PictureKind::Palette : PictureKind::Rgb16;
    }
    for (const Bitmap24& p : pictures)
        if (p.hasAlpha()) return PictureKind::Tga32;
    return PictureKind::Tga24;
}

std::vector<uint8_t> EncodePictures(const std::vector<Bitmap24>& pictures, PictureKind kind,
                                    const PictureEncodeOptions& options) {
    if (options.keepPalette) throw Error("there is no palette to keep without a model");
    if (kind == PictureKind::Palette) {
        if (pictures.empty()) throw Error("no picture to encode");
        return EncodeKmgPalette(pointers(pictures), nullptr, {false, ditherOf(options)});
    }
    requireOne(pictures, kind);
    if (kind == PictureKind::Rgb16) return EncodeKmg16(pictures[0], nullptr, ditherOf(options));
    const TargaLayout t = targaLayout(kind);
    return EncodeTarga(pictures[0], t.type, t.bits, {false, ditherOf(options)});
}

std::vector<uint8_t> EncodePicturesLike(const std::vector<Bitmap24>& pictures, EntryKind format,
                                        const std::vector<uint8_t>& model,
                                        const PictureEncodeOptions& options, PictureKind* kind) {
    if (format == EntryKind::Kmg) {
        const KmgModel m = ReadKmgModel(model.data(), model.size());
        const PictureKind k = m.kind == KmgKind::Rgb16 ? PictureKind::Rgb16 : PictureKind::Palette;
        if (kind) *kind = k;
        if (options.keepPalette && k != PictureKind::Palette) throw Error("the model has no palette to keep");
        if (k == PictureKind::Palette) {
            if (pictures.empty()) throw Error("no picture to encode");
            return EncodeKmgPalette(pointers(pictures), &m,
                                    {options.keepPalette, ditherOf(options)});
        }
        requireOne(pictures, k);
        return EncodeKmg16(pictures[0], &m, ditherOf(options));
    }
    if (format != EntryKind::Targa) throw Error("the model is not a .kmg or .tga entry");
    const TargaModel m = ReadTargaModel(model.data(), model.size());
    const PictureKind k = kindOfTarga(m.type(), m.bits());
    if (kind) *kind = k;
    if (options.keepPalette && k != PictureKind::Tga8) throw Error("the model has no palette to keep");
    requireOne(pictures, k);
    return EncodeTargaLike(pictures[0], m, {options.keepPalette, ditherOf(options)});
}

}  // namespace vorlr
