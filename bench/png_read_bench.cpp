// Reading a 4096 x 4096 RGBA PNG: ReadPicture against a decode written as libspng's own example
// does it (the whole image as RGBA8 into one buffer), on the same bytes in the same run.
//   png_read_bench --generate FILE   writes the picture (a scene with varied alpha)
//   png_read_bench --read FILE       reads FILE once with ReadPictureFile (for a script's timing)
//   png_read_bench --spng FILE       reads FILE once as libspng's example does
//   png_read_bench                   the Google Benchmark cases (VORLR_PNG_FILE names the file)
#include <benchmark/benchmark.h>
#include <spng.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib/ImageSamples.h"
#include "platform/Errors.h"
#include "platform/png/PictureReader.h"
#include "platform/png/PngWriter.h"
#include "platform/RuntimeFile.h"

using namespace vorlr;

namespace {

constexpr int kSide = 4096;

std::vector<uint8_t> fileBytes(const std::string& path) {
    RuntimeFile file;
    file.openExisting(path, RuntimeFile::Access::ReadOnly);
    std::vector<uint8_t> bytes(static_cast<size_t>(file.fileSize()));
    file.readCounted(bytes.data(), static_cast<int64_t>(bytes.size()));
    return bytes;
}

void generate(const std::string& path) {
    const samples::SamplePicture scene = samples::scenePicture(kSide, kSide);
    Bitmap24 picture(kSide, kSide);
    std::memcpy(picture.row(0), scene.bgr.data(), scene.bgr.size());
    picture.setHasAlpha(true);
    for (int y = 0; y < kSide; ++y) {
        uint8_t* a = picture.alphaRow(y);
        for (int x = 0; x < kSide; ++x)  // opaque, clear and soft areas
            a[x] = static_cast<uint8_t>(y < kSide / 3 ? 255 : y < 2 * kSide / 3 ? 0 : (x + y) & 0xFF);
    }
    savePng(picture, path);
}

// As libspng's example: a context on the buffer, the decoded size, one decode into one buffer.
size_t spngExample(const std::vector<uint8_t>& png) {
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_crc_action(ctx, SPNG_CRC_USE, SPNG_CRC_USE);
    spng_set_chunk_limits(ctx, 64u << 20, 64u << 20);
    spng_set_png_buffer(ctx, png.data(), png.size());
    size_t size = 0;
    spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
    auto* out = static_cast<uint8_t*>(std::malloc(size));
    const int rc = spng_decode_image(ctx, out, size, SPNG_FMT_RGBA8, 0);
    const size_t got = rc == 0 ? size : 0;
    benchmark::DoNotOptimize(out[size / 2]);
    std::free(out);
    spng_ctx_free(ctx);
    if (rc) throw Error(spng_strerror(rc));
    return got;
}

const std::vector<uint8_t>& benchFile() {
    static const std::vector<uint8_t> bytes = [] {
        const char* path = std::getenv("VORLR_PNG_FILE");
        if (path) return fileBytes(path);
        const std::string tmp = "/tmp/vorlr-png-read-bench.png";
        generate(tmp);
        auto b = fileBytes(tmp);
        deleteFile(tmp);
        return b;
    }();
    return bytes;
}

void BM_ReadPicture(benchmark::State& state) {
    const auto& png = benchFile();
    for (auto _ : state) {
        const Bitmap24 picture = ReadPicture(png, "bench.png");
        benchmark::DoNotOptimize(picture.alpha().data());
    }
    state.counters["Mpixels/s"] = benchmark::Counter(double(kSide) * kSide * state.iterations() / 1e6,
                                                     benchmark::Counter::kIsRate);
}

void BM_SpngExample(benchmark::State& state) {
    const auto& png = benchFile();
    for (auto _ : state) benchmark::DoNotOptimize(spngExample(png));
    state.counters["Mpixels/s"] = benchmark::Counter(double(kSide) * kSide * state.iterations() / 1e6,
                                                     benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ReadPicture)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SpngExample)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 3 && std::strcmp(argv[1], "--generate") == 0) {
            generate(argv[2]);
            return 0;
        }
        if (argc == 3 && std::strcmp(argv[1], "--read") == 0) {
            const Bitmap24 picture = ReadPictureFile(argv[2]);
            return picture.hasAlpha() && picture.width() == kSide ? 0 : 1;
        }
        if (argc == 3 && std::strcmp(argv[1], "--spng") == 0)
            return spngExample(fileBytes(argv[2])) > 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "png_read_bench: %s\n", e.what());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
