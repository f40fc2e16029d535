// The directory loader without a window: LoadDirectory into a FolderTree with an observer that
// does nothing, on archives of 100,000 and 1,000,000 empty entries in three folder levels (ten
// entries per folder, names repeating across folders), with the directory in path order and
// shuffled; and on archives whose names are all different (1000 entries per folder).
//
// The archives live in $VORLR_BENCH_DIR (default /tmp/vorlr-loader-bench) and are written on the
// first run, or by `loader_bench --generate`; beside them sorted-1m.names and shuffled-1m.names
// (one name per line, '/' separators) for bench/compare_tree.sh.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "archive/DirectoryLoader.h"
#include "archive/FolderTree.h"
#include "lib/BigArchives.h"

namespace fs = std::filesystem;
using namespace vorlr;

namespace {

std::string benchDir() {
    const char* d = std::getenv("VORLR_BENCH_DIR");
    return d && *d ? d : "/tmp/vorlr-loader-bench";
}

struct Fixture {
    const char* file;
    int32_t entries;
    bool shuffled;
    int32_t uniqueFolders;  // >= 0: every name different, in this many folders
};
constexpr Fixture kFixtures[] = {
    {"sorted-100k.qar", 100000, false, -1},  {"shuffled-100k.qar", 100000, true, -1},
    {"sorted-1m.qar", 1000000, false, -1},   {"shuffled-1m.qar", 1000000, true, -1},
    {"unique-100k.qar", 100000, false, 100}, {"unique-1m.qar", 1000000, false, 1000},
};

int64_t fileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

void generate(bool force) {
    const std::string dir = benchDir();
    fs::create_directories(dir);
    for (const Fixture& f : kFixtures) {
        const std::string path = dir + "/" + f.file;
        if (!force && fileSize(path) == 520 + int64_t{f.entries} * 280) continue;
        std::fprintf(stderr, "writing %s ...\n", path.c_str());
        samples::writeBigArchive(path, f.uniqueFolders >= 0
                                           ? samples::uniqueArchiveNames(f.entries, f.uniqueFolders)
                                           : samples::bigArchiveNames(f.entries, f.shuffled));
    }
    for (const bool shuffled : {false, true}) {
        const std::string names = dir + (shuffled ? "/shuffled-1m.names" : "/sorted-1m.names");
        if (!force && fileSize(names) > 0) continue;
        std::ofstream out(names, std::ios::trunc);
        for (std::string n : samples::bigArchiveNames(1000000, shuffled)) {
            for (char& c : n)
                if (c == '\\') c = '/';
            out << n << '\n';
        }
    }
}

class Quiet final : public LoadObserver {};

void BM_LoadDirectory(benchmark::State& st, const char* file) {
    Archive archive;
    std::vector<int32_t> table;
    const auto buffer = std::make_unique<WorkBufferBytes>();
    auto tree = std::make_unique<FolderTree>();
    Quiet quiet;
    const std::string path = benchDir() + "/" + file;
    for (auto _ : st) {
        st.PauseTiming();
        tree = std::make_unique<FolderTree>();
        st.ResumeTiming();
        LoadDirectory(path, DirectoryLoad{archive, table, *buffer}, *tree, quiet);
    }
    const auto entries = static_cast<double>(table.size());
    st.counters["entries"] = entries;
    st.counters["nodes"] = tree->size();
    st.counters["ns_per_entry"] =
        benchmark::Counter(entries * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                               benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK_CAPTURE(BM_LoadDirectory, sorted_100k, "sorted-100k.qar")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadDirectory, shuffled_100k, "shuffled-100k.qar")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadDirectory, sorted_1m, "sorted-1m.qar")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
BENCHMARK_CAPTURE(BM_LoadDirectory, shuffled_1m, "shuffled-1m.qar")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
// Every name different (no file name repeats), 1000 entries per folder.
BENCHMARK_CAPTURE(BM_LoadDirectory, unique_100k, "unique-100k.qar")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadDirectory, unique_1m, "unique-1m.qar")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);

int main(int argc, char** argv) {
    try {
        if (argc > 1 && std::strcmp(argv[1], "--generate") == 0) {
            generate(true);
            return 0;
        }
        generate(false);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "loader_bench: %s\n", e.what());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
