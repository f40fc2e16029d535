// Extraction speed: one 512 MiB entry through ExtractEntry, and 20,000 entries (1 GiB in all)
// through ExtractEntries. With $VORLR_BENCH_DIR set, the fixtures are taken from there (made by
// `extract_bench --generate`); bench/compare_extract.sh does that and times cp on the same
// bytes in the same run. Without it they are made in a temporary folder, removed at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "archive/Container.h"
#include "archive/Extract.h"
#include "archive/SafeExtract.h"

namespace fs = std::filesystem;
using namespace vorlr;

namespace {

constexpr int64_t kBigSize = int64_t{512} << 20;
constexpr int kManyCount = 20000;
constexpr int64_t kManyTotal = int64_t{1} << 30;

std::string& benchDirSetting() {
    static std::string dir;
    return dir;
}
std::string benchDir() { return benchDirSetting(); }

// Pseudo-random bytes, so no file system can take shortcuts with them.
void fill(std::vector<uint8_t>& buf, uint64_t& seed) {
    for (size_t i = 0; i + 8 <= buf.size(); i += 8) {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        std::memcpy(&buf[i], &seed, 8);
    }
}

class Writer {
public:
    explicit Writer(const std::string& path) : f_(std::fopen(path.c_str(), "wb")) {
        if (!f_) throw std::runtime_error("cannot write " + path);
    }
    ~Writer() {
        if (f_) std::fclose(f_);
    }
    void put(const void* p, size_t n) {
        if (std::fwrite(p, 1, n, f_) != n) throw std::runtime_error("write failed");
    }
    void put32(int32_t v) {
        uint8_t b[4];
        for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
        put(b, 4);
    }
    void record(const std::string& name, int32_t offset, int32_t size) {
        char field[256] = {};
        std::memcpy(field, name.data(), std::min<size_t>(name.size(), 255));
        put(field, 256);
        put32(offset);
        put32(size);
        const char tail[16] = {};
        put(tail, 16);
    }
    void header(int32_t count) {
        const std::vector<char> zeros(512, 0);
        put(zeros.data(), zeros.size());
        put32(count);
        put32(count);
    }

private:
    FILE* f_;
};

struct ManyEntry {
    std::string name;  // stored, with backslashes
    std::string path;  // on disk, with slashes
    int32_t size;
};

std::vector<ManyEntry> manyEntries() {
    std::vector<ManyEntry> out;
    int64_t left = kManyTotal;
    for (int i = 0; i < kManyCount; ++i) {
        // Sizes from half to one and a half times the mean, summing to exactly 1 GiB.
        const int64_t mean = left / (kManyCount - i);
        const int64_t size = i + 1 == kManyCount ? left : mean / 2 + (static_cast<int64_t>(i) * 7919 % mean);
        char folder[16], file[32];
        std::snprintf(folder, sizeof folder, "F%03d", i / 200);
        std::snprintf(file, sizeof file, "FILE%05d.BIN", i);
        out.push_back({std::string("DATA\\") + folder + "\\" + file,
                       std::string("DATA/") + folder + "/" + file, static_cast<int32_t>(size)});
        left -= size;
    }
    return out;
}

void generate(const std::string& dir) {
    fs::create_directories(dir);
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    std::vector<uint8_t> chunk(1 << 20);
    {
        Writer qar(dir + "/big.qar"), raw(dir + "/big.bin");
        qar.header(1);
        for (int64_t done = 0; done < kBigSize; done += static_cast<int64_t>(chunk.size())) {
            fill(chunk, seed);
            qar.put(chunk.data(), chunk.size());
            raw.put(chunk.data(), chunk.size());
        }
        qar.record("BIG.BIN", 520, static_cast<int32_t>(kBigSize));
    }
    const auto entries = manyEntries();
    Writer qar(dir + "/many.qar");
    qar.header(kManyCount);
    std::vector<int32_t> offsets;
    int64_t offset = 520;
    for (const auto& e : entries) {
        std::vector<uint8_t> data(static_cast<size_t>(e.size) + 8);
        fill(data, seed);
        qar.put(data.data(), static_cast<size_t>(e.size));
        const fs::path onDisk = fs::path(dir) / "many" / e.path;
        fs::create_directories(onDisk.parent_path());
        Writer(onDisk.string()).put(data.data(), static_cast<size_t>(e.size));
        offsets.push_back(static_cast<int32_t>(offset));
        offset += e.size;
    }
    for (size_t i = 0; i < entries.size(); ++i) qar.record(entries[i].name, offsets[i], entries[i].size);
}

std::vector<std::string>& leftovers() {
    static std::vector<std::string> paths;
    return paths;
}

void BM_ExtractEntry512MiB(benchmark::State& st) {
    const std::string dir = benchDir();
    Archive archive;
    archive.open(dir + "/big.qar");
    ArchiveReader reader(archive);
    const auto buffer = std::make_unique<WorkBufferBytes>();
    HeadBytesArray head{};
    const std::string out = dir + "/extracted.bin";
    for (auto _ : st) {
        st.PauseTiming();
        ::unlink(out.c_str());
        ::sync();
        reader.seek(520);
        int32_t remaining = static_cast<int32_t>(kBigSize);
        st.ResumeTiming();
        ExtractEntry(EntryCopy{reader, remaining, *buffer}, out, head);
    }
    ::unlink(out.c_str());
    st.SetBytesProcessed(st.iterations() * kBigSize);
}
BENCHMARK(BM_ExtractEntry512MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_ExtractEntries20000(benchmark::State& st) {
    const std::string dir = benchDir();
    Archive archive;
    archive.open(dir + "/many.qar");
    ReadDirectory(archive);
    std::vector<size_t> all(archive.entryCount());
    std::iota(all.begin(), all.end(), 0);
    // A fresh folder each time, removed only when the program ends: ext4 is slow to create
    // files right after many were deleted (it skips recently freed inodes), which would swamp
    // the figure.
    static int run = 0;
    for (auto _ : st) {
        leftovers().push_back(dir + "/extracted-" + std::to_string(run++));
        st.PauseTiming();
        ::sync();
        st.ResumeTiming();
        const auto summary = ExtractEntries(archive, all, leftovers().back(), {});
        if (summary.written != all.size()) st.SkipWithError("not every entry was written");
    }
    st.SetBytesProcessed(st.iterations() * kManyTotal);
    st.SetItemsProcessed(st.iterations() * kManyCount);
}
BENCHMARK(BM_ExtractEntries20000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    const char* env = std::getenv("VORLR_BENCH_DIR");
    const bool given = env && *env;
    if (argc >= 2 && std::strcmp(argv[1], "--generate") == 0) {
        benchDirSetting() = given ? env : "/tmp/vorlr-extract-bench";
        generate(benchDir());
        return 0;
    }
    if (given) {
        benchDirSetting() = env;
        if (!fs::exists(benchDir() + "/big.qar") || !fs::exists(benchDir() + "/many.qar")) {
            std::fprintf(stderr, "extract_bench: no fixtures in %s; run extract_bench --generate first\n",
                         benchDir().c_str());
            return 1;
        }
    } else {
        std::string tmpl = (fs::temp_directory_path() / "vorlr-extract-bench-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) {
            std::perror("extract_bench: mkdtemp");
            return 1;
        }
        benchDirSetting() = tmpl;
        std::fprintf(stderr, "extract_bench: generating fixtures in %s ...\n", tmpl.c_str());
        generate(tmpl);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const auto& path : leftovers()) fs::remove_all(path);
    if (!given) fs::remove_all(benchDir());
    return 0;
}
