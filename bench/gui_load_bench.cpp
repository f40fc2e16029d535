// The viewer loading a million-entry archive, offscreen: from cbFilesChange until the loaded
// tree has been painted, with the whole window shown. Peak memory is reported per run.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/FolderTreeModel.h"
#include "app/Unit1.h"
#include "archive/DirectoryLoader.h"
#include "platform/gui/Application.h"

namespace fs = std::filesystem;
using namespace vorlr;

namespace {

constexpr int kEntries = 1000000;

// Writes an archive of empty entries straight to disk (never the whole file in memory).
// folders == 0: every entry in the archive's root.
void writeBigArchive(const std::string& path, int folders) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> head(520, 0);
    const int32_t n = kEntries;
    std::memcpy(&head[512], &n, 4);
    std::memcpy(&head[516], &n, 4);
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    std::vector<char> chunk;
    chunk.reserve(280 * 1000);
    const int perFolder = folders > 0 ? kEntries / folders : kEntries;
    for (int i = 0; i < kEntries; ++i) {
        char record[280] = {};
        if (folders > 0)
            std::snprintf(record, 256, "DATA\\D%04d\\FILE%07d.TXT", i / perFolder, i);
        else
            std::snprintf(record, 256, "FILE%07d.TXT", i);
        const int32_t offset = 520, size = 0;
        std::memcpy(record + 256, &offset, 4);
        std::memcpy(record + 260, &size, 4);
        chunk.insert(chunk.end(), record, record + 280);
        if (chunk.size() >= 280 * 1000) {
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            chunk.clear();
        }
    }
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
}

double peakRssMb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

std::string g_dir;

void loadArchive(benchmark::State& state, const char* name) {
    const std::string path = g_dir + "/" + name;
    TForm1 form;
    form.cbFiles->addItem(QString::fromStdString(path), QByteArray::fromStdString(path));
    form.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        form.cbFiles->setCurrentIndex(0);
        form.cbFilesChange();
        form.tvFiles->expand(form.treeModel()->index(0, 0));
        form.tvFiles->repaint();
        QCoreApplication::processEvents();
    }
    if (form.tree().size() < kEntries) state.SkipWithError("tree incomplete");
    state.counters["nodes"] = form.tree().size();
    state.counters["peak_rss_MB"] = peakRssMb();
}

// The same load without a window: what the loader and the tree cost by themselves.
void loadWithoutWindow(benchmark::State& state, const char* name) {
    Archive archive;
    std::vector<int32_t> table;
    const auto buffer = std::make_unique<WorkBufferBytes>();
    FolderTree tree;
    LoadObserver quiet;
    for (auto _ : state) {
        tree.clear();
        LoadDirectory(g_dir + "/" + name, DirectoryLoad{archive, table, *buffer}, tree, quiet);
    }
    state.counters["nodes"] = tree.size();
    state.counters["peak_rss_MB"] = peakRssMb();
}

void BM_LoaderOnly_1M_InFolders(benchmark::State& state) { loadWithoutWindow(state, "folders.qar"); }
void BM_LoaderOnly_1M_InRoot(benchmark::State& state) { loadWithoutWindow(state, "flat.qar"); }

void BM_GuiLoad_1M_InFolders(benchmark::State& state) { loadArchive(state, "folders.qar"); }
void BM_GuiLoad_1M_InRoot(benchmark::State& state) { loadArchive(state, "flat.qar"); }

BENCHMARK(BM_LoaderOnly_1M_InFolders)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_LoaderOnly_1M_InRoot)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_GuiLoad_1M_InFolders)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_GuiLoad_1M_InRoot)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    Application app(argc, argv);
    char tmpl[] = "/tmp/vorlr-gui-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    g_dir = tmpl;
    fs::current_path(g_dir);  // the window writes its list file here
    writeBigArchive(g_dir + "/folders.qar", 1000);
    writeBigArchive(g_dir + "/flat.qar", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::current_path("/", ec);
    fs::remove_all(g_dir, ec);
    return 0;
}
