#include "lib/ImageSamples.h"

#include <algorithm>
#include <cmath>

#include "platform/LittleEndian.h"

namespace vorlr::samples {
namespace {

void put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    putLe16(out.data() + at, static_cast<uint16_t>(v));
}
void put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    putLe32(out.data() + at, v);
}
uint8_t clampByte(double v) { return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0)); }
uint16_t rgb565(int r, int g, int b) {
    return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}
constexpr double kPi = 3.14159265358979323846;

}  // namespace

std::vector<uint8_t> kmg16(int16_t width, int16_t height, const std::vector<uint16_t>& pixels) {
    std::vector<uint8_t> out(64 + pixels.size() * 2, 0);
    put32(out, 4, static_cast<uint32_t>(out.size()));
    put32(out, 8, static_cast<uint32_t>(out.size()));
    put16(out, 20, static_cast<uint16_t>(height));
    put16(out, 22, static_cast<uint16_t>(width));
    for (size_t i = 0; i < pixels.size(); ++i) put16(out, 64 + 2 * i, pixels[i]);
    return out;
}

std::vector<uint8_t> kmgPalette(const std::array<uint8_t, 768>& rgbPalette,
                                const std::vector<KmgSubImage>& subImages, int count) {
    const size_t n = subImages.size();
    const uint16_t stored = static_cast<uint16_t>(count < 0 ? static_cast<int>(n) : count);
    std::vector<uint8_t> out(64 + 768 + 16 * n, 0);
    put16(out, 28, stored);
    std::copy(rgbPalette.begin(), rgbPalette.end(), out.begin() + 64);
    uint32_t start = 0;
    for (size_t i = 0; i < n; ++i) {
        const size_t rec = 832 + 16 * i;
        put32(out, rec, start);
        put16(out, rec + 12, static_cast<uint16_t>(subImages[i].height));
        put16(out, rec + 14, static_cast<uint16_t>(subImages[i].width));
        start += static_cast<uint32_t>(subImages[i].data.size());
    }
    for (const auto& s : subImages) out.insert(out.end(), s.data.begin(), s.data.end());
    // The two size fields differ in a palette image.
    put32(out, 4, static_cast<uint32_t>(out.size()));
    put32(out, 8, static_cast<uint32_t>(out.size() - 832));
    return out;
}

std::vector<uint8_t> kmgCompress(const std::vector<int>& pixels) {
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < pixels.size()) {
        size_t j = i;
        if (pixels[i] < 0) {
            while (j < pixels.size() && pixels[j] < 0 && j - i < 127) ++j;
            out.push_back(static_cast<uint8_t>(128 + (j - i)));
        } else {
            while (j < pixels.size() && pixels[j] >= 0 && j - i < 128) ++j;
            out.push_back(static_cast<uint8_t>(j - i));
            for (size_t k = i; k < j; ++k) out.push_back(static_cast<uint8_t>(pixels[k]));
        }
        i = j;
    }
    return out;
}

std::array<uint8_t, 768> samplePaletteRgb() {
    std::array<uint8_t, 768> p{};
    for (int k = 0; k < 256; ++k) {
        const double t = k / 255.0;
        p[3 * k + 0] = clampByte(40 + 215 * std::sqrt(t));
        p[3 * k + 1] = clampByte(20 + 200 * t * t);
        p[3 * k + 2] = clampByte(90 + 120 * std::sin(kPi * t));
    }
    return p;
}

std::vector<uint8_t> tga(const TgaFormat& format, const std::vector<uint8_t>& pixelBytes,
                         const std::array<uint8_t, 768>* colourMapBgr) {
    std::vector<uint8_t> out(18, 0);
    out[0] = static_cast<uint8_t>(format.id.size());
    const bool mapped = format.type == 1 || format.type == 9;
    out[1] = mapped ? 1 : 0;
    out[2] = format.type;
    if (mapped) {
        put16(out, 5, 256);  // colour-map length
        out[7] = 24;         // colour-map entry size
    }
    put16(out, 12, static_cast<uint16_t>(format.width));
    put16(out, 14, static_cast<uint16_t>(format.height));
    out[16] = format.bits;
    out[17] = static_cast<uint8_t>(format.descriptor | (format.bits == 32 ? 8 : 0));
    for (const char c : format.id) out.push_back(static_cast<uint8_t>(c));
    if (mapped) {
        std::array<uint8_t, 768> grey{};
        for (int k = 0; k < 256; ++k) std::fill_n(&grey[3 * k], 3, static_cast<uint8_t>(k));
        const auto& map = colourMapBgr ? *colourMapBgr : grey;
        out.insert(out.end(), map.begin(), map.end());
    }
    out.insert(out.end(), pixelBytes.begin(), pixelBytes.end());
    return out;
}

std::vector<uint8_t> tgaRunLength(const std::vector<uint8_t>& pixels, int bpp) {
    const size_t count = pixels.size() / bpp;
    auto same = [&](size_t a, size_t b) {
        return std::equal(pixels.begin() + a * bpp, pixels.begin() + (a + 1) * bpp,
                          pixels.begin() + b * bpp);
    };
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < count) {
        size_t run = 1;
        while (i + run < count && run < 128 && same(i, i + run)) ++run;
        if (run >= 2) {
            out.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
            out.insert(out.end(), pixels.begin() + i * bpp, pixels.begin() + (i + 1) * bpp);
            i += run;
            continue;
        }
        size_t lit = 1;
        while (i + lit < count && lit < 128 && !(i + lit + 1 < count && same(i + lit, i + lit + 1)))
            ++lit;
        out.push_back(static_cast<uint8_t>(lit - 1));
        out.insert(out.end(), pixels.begin() + i * bpp, pixels.begin() + (i + lit) * bpp);
        i += lit;
    }
    return out;
}

SamplePicture scenePicture(int width, int height) {
    SamplePicture pic{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    const double horizon = height * 0.62;
    const double sunX = width * 0.68, sunY = height * 0.45, sunR = std::max(3.0, height * 0.16);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double r, g, b;
            if (y < horizon) {
                const double t = y / horizon;
                r = 40 + 215 * t;
                g = 60 + 90 * t;
                b = 150 - 60 * t;
                const double d = std::hypot(x - sunX, y - sunY);
                if (d < sunR) {
                    r = 255, g = 224, b = 120;
                } else if (d < sunR * 1.6) {
                    const double glow = 1 - (d - sunR) / (sunR * 0.6);
                    r += (255 - r) * glow * 0.5, g += (200 - g) * glow * 0.5;
                }
            } else {
                // Flat bands of field and water: long runs for run-length coding.
                const int band = static_cast<int>((y - horizon) / std::max(2.0, height * 0.06));
                r = band % 2 ? 40 : 70;
                g = band % 2 ? 90 : 120;
                b = band % 2 ? 50 : 60;
            }
            uint8_t* p = &pic.bgr[(size_t(y) * width + x) * 3];
            // Quantise a little, so neighbouring sky pixels repeat too.
            p[0] = clampByte(b) & 0xF8;
            p[1] = clampByte(g) & 0xF8;
            p[2] = clampByte(r) & 0xF8;
        }
    }
    return pic;
}

std::vector<uint8_t> tgaPixelsOf(const SamplePicture& pic, int bpp) {
    std::vector<uint8_t> out;
    out.reserve(size_t(pic.width) * pic.height * bpp);
    for (int y = pic.height - 1; y >= 0; --y) {
        for (int x = 0; x < pic.width; ++x) {
            const uint8_t* p = &pic.bgr[(size_t(y) * pic.width + x) * 3];
            if (bpp == 1) {
                out.push_back(static_cast<uint8_t>((p[0] * 29 + p[1] * 150 + p[2] * 77) >> 8));
            } else {
                out.insert(out.end(), p, p + 3);
                if (bpp == 4) out.push_back(255);
            }
        }
    }
    return out;
}

std::vector<uint8_t> sampleKmg16(int width, int height) {
    std::vector<uint16_t> px(size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            const int r = clampByte(255 * u);
            const int g = clampByte(255 * v);
            const int b = clampByte(128 + 127 * std::sin(6 * kPi * (u + v) / 2));
            px[size_t(y) * width + x] = rgb565(r, g, b);
        }
    return kmg16(static_cast<int16_t>(width), static_cast<int16_t>(height), px);
}

std::vector<uint8_t> sampleKmgPalette(int subImages) {
    static const int widths[] = {120, 96, 150, 80, 200, 64, 110, 72};
    std::vector<KmgSubImage> subs;
    for (int i = 0; i < subImages; ++i) {
        const int w = widths[i % 8], h = 60 + (i * 37) % 70;
        std::vector<int> px(size_t(w) * h, -1);
        const double cx = w / 2.0, cy = h / 2.0, rx = w / 2.0 - 2, ry = h / 2.0 - 2;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double dx = (x - cx) / rx, dy = (y - cy) / ry;
                bool inside = false;
                switch (i % 4) {
                    case 0: inside = dx * dx + dy * dy <= 1; break;                  // disc
                    case 1: inside = std::abs(dx) + std::abs(dy) <= 1; break;        // diamond
                    case 2: {                                                        // ring
                        const double d = dx * dx + dy * dy;
                        inside = d <= 1 && d >= 0.35;
                        break;
                    }
                    default: inside = std::max(std::abs(dx), std::abs(dy)) <= 0.9;   // square
                }
                if (inside) px[size_t(y) * w + x] = 1 + (x * 200 / w + y * 54 / h) % 255;
            }
        subs.push_back({static_cast<int16_t>(w), static_cast<int16_t>(h), kmgCompress(px)});
    }
    return kmgPalette(samplePaletteRgb(), subs);
}

std::vector<uint8_t> sampleBackgroundKmg() {
    constexpr int n = 128;
    std::vector<uint16_t> px(n * n);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            // Periodic in 128 pixels, so the tile repeats without seams.
            const double a = 2 * kPi * x / n, b = 2 * kPi * y / n;
            const double grain = std::sin(3 * a + std::sin(2 * b)) * 0.5 +
                                 std::sin(5 * b + 2 * std::cos(a)) * 0.3 +
                                 std::sin(7 * (a + b)) * 0.2;
            const double base = 222 + 12 * grain;
            px[y * n + x] = rgb565(clampByte(base + 14), clampByte(base), clampByte(base - 38));
        }
    return kmg16(n, n, px);
}

std::vector<uint8_t> sampleTga(uint8_t type, uint8_t bits, int width, int height) {
    const SamplePicture pic = scenePicture(width, height);
    const int bpp = bits / 8;
    std::vector<uint8_t> pixels = tgaPixelsOf(pic, bpp);
    if (type == 10) pixels = tgaRunLength(pixels, bpp);
    TgaFormat format{type, static_cast<int16_t>(width), static_cast<int16_t>(height), bits, 0, ""};
    if (type == 1) {
        const auto rgb = samplePaletteRgb();
        std::array<uint8_t, 768> bgr{};
        for (int k = 0; k < 256; ++k)
            for (int c = 0; c < 3; ++c) bgr[3 * k + c] = rgb[3 * k + 2 - c];
        return tga(format, pixels, &bgr);
    }
    return tga(format, pixels);
}

std::vector<uint8_t> largeMixedKmg(int width, int height) {
    std::vector<int> px(size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            px[size_t(y) * width + x] = ((x / 37 + y / 13) % 3 == 0) ? -1 : ((x ^ y) & 255);
    return kmgPalette(samplePaletteRgb(),
                      {{static_cast<int16_t>(width), static_cast<int16_t>(height), kmgCompress(px)}});
}

std::vector<QarEntry> imageDemoEntries() {
    std::vector<QarEntry> e;
    auto add = [&](std::string name, std::vector<uint8_t> data) {
        e.push_back(QarEntry{std::move(name), std::move(data), {}, {}, false});
    };
    add("GFX\\SKY.KMG", sampleKmg16(320, 200));
    add("GFX\\ICONS.KMG", sampleKmgPalette(6));
    add("GFX\\INTERFACE\\DIALOGBACKGROUND_LIGHT.KMG", sampleBackgroundKmg());
    add("GFX\\TGA\\MAPPED.TGA", sampleTga(1, 8, 240, 160));
    add("GFX\\TGA\\TRUECOLOR.TGA", sampleTga(2, 24, 240, 160));
    add("GFX\\TGA\\ALPHA.TGA", sampleTga(2, 32, 240, 160));
    add("GFX\\TGA\\GREY.TGA", sampleTga(3, 8, 240, 160));
    add("GFX\\TGA\\PACKED.TGA", sampleTga(10, 24, 240, 160));
    add("GFX\\TGA\\PACKED32.TGA", sampleTga(10, 32, 240, 160));
    return e;
}

}  // namespace vorlr::samples
