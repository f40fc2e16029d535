// Image decoder timings on 4096 x 4096 pictures held in memory: palette KMG with mixed runs,
// 16-bit KMG, and Targa files (24/32-bit, plain and run-length) next to stb_image decoding the
// same bytes in the same run. Ratios are printed at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <memory>
#include <vector>

#include "lib/ImageSamples.h"
#include "platform/ByteSource.h"
#include "viewers/KmgDecoder.h"
#include "viewers/TargaDecoder.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

using namespace vorlr;

namespace {

constexpr int kSide = 4096;
constexpr int64_t kPixels = int64_t{kSide} * kSide;

struct Target final : KmgTarget {
    Bitmap24 picture;
    Bitmap24& firstPicture() override { return picture; }
    void setSubImageCount(int) override {}
    Bitmap24& beginSubImage(int, KmgLayout::Position) override { return picture; }
    void pictureDone(int) override {}
};

const std::vector<uint8_t>& paletteKmg() {
    static const auto bytes = samples::largeMixedKmg(kSide, kSide);
    return bytes;
}
const std::vector<uint8_t>& rgb16Kmg() {
    static const auto bytes = samples::sampleKmg16(kSide, kSide);
    return bytes;
}
const std::vector<uint8_t>& targa(int type, int bits) {
    static std::map<std::pair<int, int>, std::vector<uint8_t>> files;
    auto& f = files[{type, bits}];
    if (f.empty()) f = samples::sampleTga(uint8_t(type), uint8_t(bits), kSide, kSide);
    return f;
}

// range(0) 1: each iteration decodes into a fresh picture, as a viewer just started does;
// 0: into the same picture again, as when the view already holds an image of that size.
// planes: the window's decoding, with the alpha and palette-index planes its readout reads.
void decodeKmgLoop(benchmark::State& st, const std::vector<uint8_t>& file, bool planes = false) {
    auto state = std::make_unique<DecoderState>();
    state->keepAlpha = state->keepIndexes = planes;
    Target kept;
    for (auto _ : st) {
        Target fresh;
        Target& t = st.range(0) ? fresh : kept;
        MemoryByteSource src(file);
        decodeKmg(src, *state, t);
        benchmark::DoNotOptimize(t.picture.row(0));
    }
    st.SetItemsProcessed(st.iterations() * kPixels);
}
void BM_KmgPalette(benchmark::State& st) { decodeKmgLoop(st, paletteKmg()); }
void BM_Kmg16(benchmark::State& st) { decodeKmgLoop(st, rgb16Kmg()); }
void BM_KmgPaletteWithPlanes(benchmark::State& st) { decodeKmgLoop(st, paletteKmg(), true); }

void BM_Targa(benchmark::State& st) {
    const auto& file = targa(int(st.range(0)), int(st.range(1)));
    auto state = std::make_unique<DecoderState>();
    for (auto _ : st) {
        Bitmap24 picture;
        MemoryByteSource src(file);
        decodeTarga(src, *state, picture);
        benchmark::DoNotOptimize(picture.row(0));
    }
    st.SetItemsProcessed(st.iterations() * kPixels);
}
void BM_TargaStb(benchmark::State& st) {
    const auto& file = targa(int(st.range(0)), int(st.range(1)));
    for (auto _ : st) {
        int w = 0, h = 0, n = 0;
        // Three channels out, like the 24-bit pictures the viewer makes.
        stbi_uc* p = stbi_load_from_memory(file.data(), int(file.size()), &w, &h, &n, 3);
        if (!p || w != kSide) st.SkipWithError("stb_image failed");
        benchmark::DoNotOptimize(p);
        stbi_image_free(p);
    }
    st.SetItemsProcessed(st.iterations() * kPixels);
}

BENCHMARK(BM_KmgPalette)->ArgName("fresh")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Kmg16)->ArgName("fresh")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KmgPaletteWithPlanes)->ArgName("fresh")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Targa)->ArgNames({"type", "bits"})->Args({2, 24})->Args({2, 32})->Args({10, 24})->Args({10, 32})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TargaStb)->ArgNames({"type", "bits"})->Args({2, 24})->Args({2, 32})->Args({10, 24})->Args({10, 32})->Unit(benchmark::kMillisecond);

// The machine is shared, so CPU time (one core) is the measure.
// Keeps each run's CPU time per iteration so the ratios can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0)
                seconds[r.benchmark_name()] = r.cpu_accumulated_time / double(r.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& s = reporter.seconds;
    for (const char* name : {"BM_KmgPalette/fresh:0", "BM_KmgPalette/fresh:1", "BM_Kmg16/fresh:0",
                             "BM_Kmg16/fresh:1"}) {
        if (auto it = s.find(name); it != s.end())
            std::printf("%-40s %8.0f Mpixels/s\n", name, kPixels / it->second / 1e6);
    }
    for (const char* args : {"type:2/bits:24", "type:2/bits:32", "type:10/bits:24", "type:10/bits:32"}) {
        const std::string ours = std::string("BM_Targa/") + args;
        const std::string stb = std::string("BM_TargaStb/") + args;
        if (s.count(ours) && s.count(stb))
            std::printf("Targa %-16s ours %7.2f ms  stb_image %7.2f ms  speed-up %.2fx\n", args,
                        s.at(ours) * 1e3, s.at(stb) * 1e3, s.at(stb) / s.at(ours));
    }
    benchmark::Shutdown();
    return 0;
}
