#include "viewers/encoders/PaletteChoice.h"

#include <libimagequant.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "platform/Errors.h"

namespace vorlr {
namespace {

constexpr uint32_t kFilled = 0x80000000u;

// Colour -> index for at most 256 colours: open addressing over 1024 slots.
class ColourTable {
public:
    int find(uint32_t rgb) const {
        for (uint32_t s = slot(rgb);; s = (s + 1) & kMask) {
            if (keys_[s] == (rgb | kFilled)) return values_[s];
            if (keys_[s] == 0) return -1;
        }
    }
    // The first index given for a colour stays: duplicates in a palette map to the lowest.
    void add(uint32_t rgb, uint8_t index) {
        uint32_t s = slot(rgb);
        for (; keys_[s] != 0; s = (s + 1) & kMask)
            if (keys_[s] == (rgb | kFilled)) return;
        keys_[s] = rgb | kFilled;
        values_[s] = index;
    }

private:
    static constexpr uint32_t kMask = 1023;
    static uint32_t slot(uint32_t rgb) { return (rgb * 0x9E3779B1u) >> 22; }
    std::array<uint32_t, 1024> keys_{};
    std::array<uint8_t, 1024> values_{};
};

bool transparentAt(const uint8_t* alpha, int x) { return alpha && alpha[x] < 128; }

// Maps every pixel through table. With room for new colours (next <= 255) a colour not in the
// table gets the next index; false as soon as a colour finds no index.
bool mapExactly(const std::vector<const Bitmap24*>& pictures, bool transparency,
                ColourTable& table, IndexedPictures& out, int* next) {
    out.indices.assign(pictures.size(), {});
    uint32_t last = 0xFFFFFFFFu;
    uint8_t lastIndex = 0;
    for (size_t p = 0; p < pictures.size(); ++p) {
        const Bitmap24& picture = *pictures[p];
        const int width = picture.width();
        std::vector<uint8_t>& indices = out.indices[p];
        indices.resize(size_t(width) * size_t(picture.height()));
        uint8_t* dst = indices.data();
        for (int y = 0; y < picture.height(); ++y) {
            const uint8_t* row = picture.row(y);
            const uint8_t* alpha = transparency && picture.hasAlpha() ? picture.alphaRow(y) : nullptr;
            for (int x = 0; x < width; ++x, ++dst) {
                if (transparentAt(alpha, x)) {
                    *dst = 0;
                    continue;
                }
                const uint32_t rgb = rgbAt(row + 3 * x);
                if (rgb != last) {
                    int k = table.find(rgb);
                    if (k < 0) {
                        if (!next || *next > 255) return false;
                        k = (*next)++;
                        table.add(rgb, uint8_t(k));
                        out.colours[size_t(k)] = rgb;
                    }
                    last = rgb;
                    lastIndex = uint8_t(k);
                }
                *dst = lastIndex;
            }
        }
    }
    return true;
}

size_t pixelCount(const std::vector<const Bitmap24*>& pictures) {
    size_t n = 0;
    for (const Bitmap24* p : pictures) n += size_t(p->width()) * size_t(p->height());
    return n;
}

// How often each opaque colour occurs. Large pictures count in a table over every colour; small
// ones sort their colours, so that a few pixels do not cost 64 MB.
std::vector<liq_histogram_entry> countColours(const std::vector<const Bitmap24*>& pictures,
                                              bool transparency) {
    std::vector<liq_histogram_entry> entries;
    auto emit = [&](uint32_t rgb, uint32_t count) {
        liq_histogram_entry e{};
        e.color = liq_color{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), 255};
        e.count = count;
        entries.push_back(e);
    };
    auto forEach = [&](auto&& visit) {
        for (const Bitmap24* picture : pictures)
            for (int y = 0; y < picture->height(); ++y) {
                const uint8_t* row = picture->row(y);
                const uint8_t* alpha =
                    transparency && picture->hasAlpha() ? picture->alphaRow(y) : nullptr;
                for (int x = 0; x < picture->width(); ++x)
                    if (!transparentAt(alpha, x)) visit(rgbAt(row + 3 * x));
            }
    };
    if (pixelCount(pictures) >= (size_t{1} << 20)) {
        std::vector<uint32_t> counts(size_t{1} << 24, 0);
        forEach([&](uint32_t rgb) { ++counts[rgb]; });
        for (uint32_t c = 0; c < counts.size(); ++c)
            if (counts[c]) emit(c, counts[c]);
    } else {
        std::vector<uint32_t> all;
        all.reserve(pixelCount(pictures));
        forEach([&](uint32_t rgb) { all.push_back(rgb); });
        std::sort(all.begin(), all.end());
        for (size_t i = 0; i < all.size();) {
            size_t j = i + 1;
            while (j < all.size() && all[j] == all[i]) ++j;
            emit(all[i], uint32_t(j - i));
            i = j;
        }
    }
    return entries;
}

// A new palette of at most `room` colours for all pictures together.
int quantise(const std::vector<const Bitmap24*>& pictures, bool transparency, int room,
             uint32_t* colours) {
    const std::vector<liq_histogram_entry> entries = countColours(pictures, transparency);
    if (entries.empty()) return 0;
    struct Free {
        void operator()(liq_attr* a) const { liq_attr_destroy(a); }
        void operator()(liq_histogram* h) const { liq_histogram_destroy(h); }
        void operator()(liq_result* r) const { liq_result_destroy(r); }
    };
    std::unique_ptr<liq_attr, Free> attr(liq_attr_create());
    if (!attr) throw Error("Out of memory");
    liq_set_max_colors(attr.get(), room);
    // Quality over speed: the slowest setting costs little on a histogram of counted colours.
    liq_set_speed(attr.get(), 1);
    std::unique_ptr<liq_histogram, Free> histogram(liq_histogram_create(attr.get()));
    if (!histogram) throw Error("Out of memory");
    if (liq_histogram_add_colors(histogram.get(), attr.get(), entries.data(),
                                 int(entries.size()), 0) != LIQ_OK)
        throw Error("the palette could not be made");
    liq_result* raw = nullptr;
    if (liq_histogram_quantize(histogram.get(), attr.get(), &raw) != LIQ_OK || !raw)
        throw Error("the palette could not be made");
    std::unique_ptr<liq_result, Free> result(raw);
    const liq_palette* palette = liq_get_palette(result.get());
    const int count = std::min<int>(int(palette->count), room);
    for (int i = 0; i < count; ++i) {
        const liq_color& c = palette->entries[i];
        colours[i] = uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b;
    }
    return count;
}

uint8_t clampByte(int v) { return uint8_t(std::clamp(v, 0, 255)); }

// Every pixel to its nearest entry of colours[first..last], with error diffusion if asked.
void mapNearest(const std::vector<const Bitmap24*>& pictures, const PaletteRequest& request,
                int last, IndexedPictures& out) {
    NearestColour nearest(out.colours, request.first, last, pixelCount(pictures));
    const bool diffuse = request.dither != Dither::None;
    out.indices.assign(pictures.size(), {});
    for (size_t p = 0; p < pictures.size(); ++p) {
        const Bitmap24& picture = *pictures[p];
        const int width = picture.width();
        std::vector<uint8_t>& indices = out.indices[p];
        indices.resize(size_t(width) * size_t(picture.height()));
        uint8_t* dst = indices.data();
        // Floyd-Steinberg errors (times 16) of this row and the next, one pixel of margin.
        std::vector<int> errors(diffuse ? size_t(width + 2) * 6 : 0, 0);
        uint32_t previous = 0xFFFFFFFFu;
        uint8_t previousIndex = 0;
        for (int y = 0; y < picture.height(); ++y) {
            const uint8_t* row = picture.row(y);
            const uint8_t* alpha =
                request.transparency && picture.hasAlpha() ? picture.alphaRow(y) : nullptr;
            int* cur = diffuse ? errors.data() + size_t(y & 1) * size_t(width + 2) * 3 : nullptr;
            int* nxt = diffuse ? errors.data() + size_t(~y & 1) * size_t(width + 2) * 3 : nullptr;
            if (diffuse) std::fill(nxt, nxt + size_t(width + 2) * 3, 0);
            for (int x = 0; x < width; ++x, ++dst) {
                if (transparentAt(alpha, x)) {
                    *dst = 0;
                    continue;
                }
                const uint8_t* px = row + 3 * x;
                if (!diffuse) {
                    const uint32_t rgb = rgbAt(px);
                    if (rgb != previous) {
                        previous = rgb;
                        previousIndex = nearest.find(rgb);
                    }
                    *dst = previousIndex;
                    continue;
                }
                int* e = cur + size_t(x + 1) * 3;
                const int want[3] = {clampByte(px[2] + e[0] / 16), clampByte(px[1] + e[1] / 16),
                                     clampByte(px[0] + e[2] / 16)};
                const uint8_t k =
                    nearest.find(uint32_t(want[0]) << 16 | uint32_t(want[1]) << 8 | want[2]);
                *dst = k;
                const uint32_t got = out.colours[k];
                const int have[3] = {int(got >> 16), int((got >> 8) & 255), int(got & 255)};
                for (int c = 0; c < 3; ++c) {
                    const int err = want[c] - have[c];
                    e[3 + c] += err * 7;
                    nxt[size_t(x) * 3 + c] += err * 3;
                    nxt[size_t(x + 1) * 3 + c] += err * 5;
                    nxt[size_t(x + 2) * 3 + c] += err;
                }
            }
        }
    }
}

}  // namespace

IndexedPictures ChoosePalette(const std::vector<const Bitmap24*>& pictures,
                              const PaletteRequest& request) {
    if (request.first < 0 || request.first > 1) throw Error("a palette starts at entry 0 or 1");
    if (request.transparency && request.first != 1)
        throw Error("transparency needs palette entry 0 free");
    if (request.keepPalette && !request.given) throw Error("there is no palette to keep");
    IndexedPictures out;

    if (request.given) {
        ColourTable table;
        for (int k = request.first; k < 256; ++k) table.add((*request.given)[size_t(k)], uint8_t(k));
        out.colours = *request.given;
        if (mapExactly(pictures, request.transparency, table, out, nullptr)) {
            out.source = PaletteSource::Given;
            out.used = 256 - request.first;
            return out;
        }
        if (request.keepPalette) {
            out.source = PaletteSource::Nearest;
            out.used = 256 - request.first;
            mapNearest(pictures, request, 255, out);
            return out;
        }
    }

    out.colours.fill(0);
    ColourTable table;
    int next = request.first;
    if (mapExactly(pictures, request.transparency, table, out, &next)) {
        out.source = PaletteSource::Exact;
        out.used = next - request.first;
        return out;
    }

    out.colours.fill(0);
    out.source = PaletteSource::Quantised;
    out.used = quantise(pictures, request.transparency, 256 - request.first,
                        out.colours.data() + request.first);
    mapNearest(pictures, request, request.first + std::max(out.used, 1) - 1, out);
    return out;
}

// ---- nearest colour ----

NearestColour::Lab NearestColour::toLab(uint32_t rgb) {
    static const std::array<float, 256> linear = [] {
        std::array<float, 256> t{};
        for (int i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            t[size_t(i)] = float(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        return t;
    }();
    const float r = linear[rgb >> 16], g = linear[(rgb >> 8) & 255], b = linear[rgb & 255];
    // sRGB to XYZ (D65), relative to the white point.
    const float x = (0.4124564f * r + 0.3575761f * g + 0.1804375f * b) / 0.95047f;
    const float y = 0.2126729f * r + 0.7151522f * g + 0.0721750f * b;
    const float z = (0.0193339f * r + 0.1191920f * g + 0.9503041f * b) / 1.08883f;
    auto f = [](float t) { return t > 0.008856f ? std::cbrt(t) : 7.787f * t + 16.0f / 116.0f; };
    const float fx = f(x), fy = f(y), fz = f(z);
    return {116.0f * fy - 16.0f, 500.0f * (fx - fy), 200.0f * (fy - fz)};
}

NearestColour::NearestColour(const std::array<uint32_t, 256>& colours, int first, int last,
                             size_t expected) {
    std::vector<std::pair<Lab, uint8_t>> entries;
    for (int k = first; k <= last; ++k) entries.push_back({toLab(colours[size_t(k)]), uint8_t(k)});
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.first.l < b.first.l; });
    for (const auto& [lab, k] : entries) {
        lab_.push_back(lab);
        index_.push_back(k);
    }
    // Twice the expected colours, between 4096 and 4 M slots (20 MB).
    uint32_t bits = 12;
    while (bits < 22 && (size_t{1} << bits) < expected * 2) ++bits;
    keys_.assign(size_t{1} << bits, 0);
    values_.assign(size_t{1} << bits, 0);
    shift_ = 32 - bits;
}

NearestColour::~NearestColour() = default;

uint8_t NearestColour::find(uint32_t rgb) {
    const uint32_t slot = (rgb * 0x9E3779B1u) >> shift_;
    if (keys_[slot] == (rgb | kFilled)) return values_[slot];
    const uint8_t k = search(rgb);
    keys_[slot] = rgb | kFilled;
    values_[slot] = k;
    return k;
}

// Outwards from the query's lightness in the sorted palette; a side stops once its lightness
// difference alone exceeds the best distance.
uint8_t NearestColour::search(uint32_t rgb) const {
    const Lab q = toLab(rgb);
    const int n = int(lab_.size());
    if (n == 0) return 0;
    int hi = int(std::lower_bound(lab_.begin(), lab_.end(), q.l,
                                  [](const Lab& e, float l) { return e.l < l; }) -
                 lab_.begin());
    int lo = hi - 1;
    float best = std::numeric_limits<float>::infinity();
    uint8_t bestIndex = 0;
    auto consider = [&](int i) {
        const float dl = lab_[size_t(i)].l - q.l, da = lab_[size_t(i)].a - q.a,
                    db = lab_[size_t(i)].b - q.b;
        const float d = dl * dl + da * da + db * db;
        if (d < best || (d == best && index_[size_t(i)] < bestIndex)) {
            best = d;
            bestIndex = index_[size_t(i)];
        }
    };
    while (lo >= 0 || hi < n) {
        if (hi < n) {
            const float dl = lab_[size_t(hi)].l - q.l;
            if (dl * dl > best)
                hi = n;
            else
                consider(hi++);
        }
        if (lo >= 0) {
            const float dl = lab_[size_t(lo)].l - q.l;
            if (dl * dl > best)
                lo = -1;
            else
                consider(lo--);
        }
    }
    return bestIndex;
}

}  // namespace vorlr
