// Encoder timings on 4096 x 4096 pictures held in memory: 16-bit KMG, palette KMG with the
// palette kept or made exactly, nearest colours into a kept palette, a new palette by
// libimagequant, and Targa run-length coding. Items are pixels.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "lib/ImageSamples.h"
#include "viewers/encoders/KmgEncoder.h"
#include "viewers/encoders/TargaEncoder.h"

using namespace vorlr;

namespace {

constexpr int kSide = 4096;
constexpr int64_t kPixels = int64_t{kSide} * kSide;

// The sunset scene with a little noise in the low bits: about a million colours, as an edited
// texture has.
const Bitmap24& scene() {
    static const Bitmap24 picture = [] {
        const samples::SamplePicture s = samples::scenePicture(kSide, kSide);
        Bitmap24 b(kSide, kSide);
        for (int y = 0; y < kSide; ++y) {
            uint8_t* row = b.row(y);
            std::memcpy(row, &s.bgr[size_t(y) * kSide * 3], size_t(kSide) * 3);
            for (int x = 0; x < kSide * 3; ++x)
                row[x] = uint8_t(row[x] | ((uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u) >> 29));
        }
        return b;
    }();
    return picture;
}

// 200 colours of the sample palette in stripes, with transparent squares: a game texture.
const Bitmap24& palettePicture() {
    static const Bitmap24 picture = [] {
        const auto pal = samples::samplePaletteRgb();
        Bitmap24 b(kSide, kSide);
        b.setHasAlpha(true);
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                const int k = 1 + (x / 37 + y / 23) % 200;
                uint8_t* p = b.row(y) + 3 * x;
                p[0] = pal[3 * k + 2], p[1] = pal[3 * k + 1], p[2] = pal[3 * k];
                b.alphaRow(y)[x] = (x / 64 + y / 64) % 5 == 0 ? 0 : 255;
            }
        return b;
    }();
    return picture;
}

const KmgModel& paletteModel() {
    static const std::vector<uint8_t> bytes = EncodeKmgPalette({&palettePicture()}, nullptr, {});
    static const KmgModel model = ReadKmgModel(bytes.data(), bytes.size());
    return model;
}

void BM_Kmg16Encode(benchmark::State& state) {
    const Dither dither = Dither(state.range(0));
    scene();  // made once, outside the timing
    for (auto _ : state) benchmark::DoNotOptimize(EncodeKmg16(scene(), nullptr, dither));
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_Kmg16Encode)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

// range(0) 0: a new exact palette; 1: the model's palette kept.
void BM_KmgPaletteExact(benchmark::State& state) {
    const KmgModel* model = state.range(0) ? &paletteModel() : nullptr;
    palettePicture();
    PaletteSource source{};
    for (auto _ : state)
        benchmark::DoNotOptimize(EncodeKmgPalette({&palettePicture()}, model, {}, &source));
    state.SetItemsProcessed(state.iterations() * kPixels);
    state.SetLabel(source == PaletteSource::Given ? "palette kept" : "new exact palette");
}
BENCHMARK(BM_KmgPaletteExact)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Every colour of the scene to its nearest in a kept 200-colour palette.
void BM_KmgPaletteNearest(benchmark::State& state) {
    scene();
    paletteModel();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            EncodeKmgPalette({&scene()}, &paletteModel(), {true, Dither(state.range(0))}));
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_KmgPaletteNearest)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

// A new 255-colour palette for the scene by libimagequant, then the mapping.
void BM_KmgPaletteQuantise(benchmark::State& state) {
    PaletteSource source{};
    scene();
    for (auto _ : state)
        benchmark::DoNotOptimize(EncodeKmgPalette({&scene()}, nullptr, {}, &source));
    state.SetItemsProcessed(state.iterations() * kPixels);
    state.SetLabel(source == PaletteSource::Quantised ? "quantised" : "not quantised?");
}
BENCHMARK(BM_KmgPaletteQuantise)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_TargaEncode(benchmark::State& state) {
    const uint8_t type = uint8_t(state.range(0)), bits = uint8_t(state.range(1));
    scene();
    for (auto _ : state) benchmark::DoNotOptimize(EncodeTarga(scene(), type, bits));
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_TargaEncode)->Args({2, 24})->Args({10, 24})->Args({10, 32})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
