// Batch export with pictures converted: 2,000 pictures (16-bit and palette KMG, Targa raw and
// run-length, 64 x 64 to 1024 x 1024) through ExtractEntries on 1 and 2 workers, and one
// 4096 x 4096 picture encoded as PNG against the BMP that Save writes. With $VORLR_BENCH_DIR set
// the fixtures are taken from there (made by `export_bench --generate`); bench/compare_export.sh
// does that and times qar and ImageMagick on the same archive. Without it they are made in a
// temporary folder, removed at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "archive/Container.h"
#include "archive/SafeExtract.h"
#include "lib/BigArchives.h"
#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "platform/png/PngWriter.h"
#include "viewers/PictureExport.h"

namespace fs = std::filesystem;
using namespace vorlr;

namespace {

constexpr int kPictures = 2000;

std::string& benchDir() {
    static std::string dir;
    return dir;
}

// The export benchmark's mix of 2,000 pictures (pictureMixEntries) and one 4096 x 4096 Targa.
void generate(const std::string& dir) {
    fs::create_directories(dir);
    samples::writeQar(dir + "/pictures.qar", samples::pictureMixEntries(kPictures));
    samples::writeQar(dir + "/big.qar", {{"BIG.TGA", samples::sampleTga(2, 24, 4096, 4096), {}, {}, false}});
}

void BM_ExportPictures(benchmark::State& st) {
    Archive archive;
    archive.open(benchDir() + "/pictures.qar");
    ReadDirectory(archive);
    std::vector<size_t> all(archive.entryCount());
    std::iota(all.begin(), all.end(), 0);
    const EntryConversion pictures = PictureConversion(PictureFormat::Png, static_cast<int>(st.range(0)));
    ExtractOptions options;
    options.conversion = &pictures;
    int run = 0;
    for (auto _ : st) {
        const std::string out = benchDir() + "/export-" + std::to_string(st.range(0)) + "-" + std::to_string(run++);
        const ExtractSummary summary = ExtractEntries(archive, all, out, options);
        if (summary.problems != 0) st.SkipWithError("pictures failed");
        st.PauseTiming();
        fs::remove_all(out);
        st.ResumeTiming();
    }
    st.SetItemsProcessed(st.iterations() * kPictures);
}
BENCHMARK(BM_ExportPictures)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// Decoding and writing one 4096 x 4096 picture, as `qar convert` does for .bmp and .png.
void convertBig(benchmark::State& st, bool png) {
    Archive archive;
    archive.open(benchDir() + "/big.qar");
    ReadDirectory(archive);
    const std::string out = benchDir() + (png ? "/big.png" : "/big.bmp");
    for (auto _ : st) {
        ArchiveReader source = archive.entryReader(0);
        const EntryPictures decoded = DecodeEntryPictures(source, EntryKind::Targa);
        if (png)
            savePng(decoded.pictures[0], out);
        else
            decoded.pictures[0].saveToFile(out);
    }
    st.counters["bytes_written"] = static_cast<double>(fs::file_size(out));
}
void BM_Convert4096Bmp(benchmark::State& st) { convertBig(st, false); }
void BM_Convert4096Png(benchmark::State& st) { convertBig(st, true); }
BENCHMARK(BM_Convert4096Bmp)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Convert4096Png)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
    const char* env = std::getenv("VORLR_BENCH_DIR");
    const bool given = env && *env;
    if (argc >= 2 && std::string(argv[1]) == "--generate") {
        benchDir() = given ? env : "/tmp/vorlr-export-bench";
        generate(benchDir());
        return 0;
    }
    if (given) {
        benchDir() = env;
        if (!fs::exists(benchDir() + "/pictures.qar")) {
            std::fprintf(stderr, "export_bench: no fixtures in %s; run export_bench --generate first\n",
                         benchDir().c_str());
            return 1;
        }
    } else {
        std::string tmpl = (fs::temp_directory_path() / "vorlr-export-bench-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) {
            std::perror("export_bench: mkdtemp");
            return 1;
        }
        benchDir() = tmpl;
        std::fprintf(stderr, "export_bench: generating fixtures in %s ...\n", tmpl.c_str());
        generate(tmpl);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!given) fs::remove_all(benchDir());
    return 0;
}
