// "Compare with archive..." on two archives of 1,000,000 entries (64 bytes each, 1000 folders):
// the second has 1000 entries changed, 1000 removed, 1000 renamed and 1000 added. Comparison:
// the comparison and its tree without a window; GuiCompare: the window shown offscreen with
// the first archive loaded, from the command until the marked tree has been painted.
// compare_diff.sh runs `qar diff` on the same pair beside it. The fixtures go to
// $VORLR_BENCH_DIR (kept) or a fresh temporary folder.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeView>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/ArchiveComparison.h"
#include "app/FolderTreeModel.h"
#include "app/Unit1.h"
#include "archive/Container.h"
#include "archive/DirectoryLoader.h"
#include "edit/Comparison.h"
#include "platform/gui/Dialogs.h"

namespace fs = std::filesystem;
using namespace vorlr;

namespace {

constexpr int kEntries = 1000000;
constexpr int kData = 64;

// Written straight to disk: the header, every entry's 64 bytes, the directory.
void writeArchive(const std::string& path, bool changed) {
    struct Entry {
        std::string name, data;
    };
    std::vector<Entry> entries;
    entries.reserve(kEntries + 1000);
    char name[256], data[kData + 1];
    for (int i = 0; i < kEntries; ++i) {
        const int kind = changed ? i % 1000 : -1;
        if (kind == 2) continue;  // removed
        std::snprintf(name, sizeof name,
                      kind == 3 ? "DATA\\D%04d\\MOVED%07d.TXT" : "DATA\\D%04d\\FILE%07d.TXT",
                      i / 1000, i);
        std::snprintf(data, sizeof data, kind == 1 ? "changed %07d %-47s" : "entry %07d %-50s", i,
                      "");
        entries.push_back({name, std::string(data, kData)});
    }
    if (changed)
        for (int i = 0; i < 1000; ++i) {
            std::snprintf(name, sizeof name, "DATA\\NEW\\FILE%07d.TXT", i);
            std::snprintf(data, sizeof data, "added %07d %-50s", i, "");
            entries.push_back({name, std::string(data, kData)});
        }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> head(520, 0);
    const auto n = static_cast<int32_t>(entries.size());
    std::memcpy(&head[512], &n, 4);
    std::memcpy(&head[516], &n, 4);
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    for (const Entry& e : entries) out.write(e.data.data(), kData);
    std::vector<char> records;
    records.reserve(static_cast<size_t>(n) * 280);
    for (int32_t i = 0; i < n; ++i) {
        char record[280] = {};
        std::memcpy(record, entries[static_cast<size_t>(i)].name.data(),
                    entries[static_cast<size_t>(i)].name.size());
        const int32_t offset = 520 + i * kData, size = kData;
        std::memcpy(record + 256, &offset, 4);
        std::memcpy(record + 260, &size, 4);
        records.insert(records.end(), record, record + 280);
    }
    out.write(records.data(), static_cast<std::streamsize>(records.size()));
}

std::string g_dir;
std::string base() { return g_dir + "/compare-a.qar"; }
std::string other() { return g_dir + "/compare-b.qar"; }

void BM_Comparison_1M(benchmark::State& state) {
    Archive archive;
    archive.open(base());
    ReadDirectory(archive);
    FolderTree tree;
    TreeBuilder builder(tree);
    for (size_t i = 0; i < archive.entryCount(); ++i)
        builder.add(archive.entry(i).name, static_cast<int32_t>(i));
    size_t marked = 0;
    for (auto _ : state) {
        const auto comparison = Comparison::Compare(archive, other());
        const ComparisonTree view(tree, *comparison);
        marked = comparison->count(Comparison::kModified) + comparison->count(Comparison::kRemoved);
        benchmark::DoNotOptimize(view.childCount(ComparisonTree::kTop));
    }
    state.counters["changed_and_removed"] = static_cast<double>(marked);
}

void BM_GuiCompare_1M(benchmark::State& state) {
    TForm1 form;
    form.show();
    QApplication::processEvents();
    form.OpenArchive(base());
    form.tvFiles->expand(form.treeModel()->index(0, 0));
    QApplication::processEvents();
    for (auto _ : state) {
        if (!form.comparison()->compareWith(other())) state.SkipWithError("no comparison");
        form.tvFiles->repaint();
        QApplication::processEvents();
        state.PauseTiming();
        form.comparison()->leave();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}

BENCHMARK(BM_Comparison_1M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_GuiCompare_1M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (const char* d = std::getenv("VORLR_BENCH_DIR")) {
        g_dir = d;
    } else {
        g_dir = (fs::temp_directory_path() / "vorlr-compare-bench").string();
    }
    fs::create_directories(g_dir);
    if (!fs::exists(base())) writeArchive(base(), false);
    if (!fs::exists(other())) writeArchive(other(), true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
