// Editing in the window, offscreen. On a 1,000,000-entry archive (1,000 folders): from a
// command (replace, add, delete, rename; the rename of the first entry builds the whole tree
// again) until the tree has been painted, and the same for its undo. On a 1 GiB archive with one
// small entry replaced: Save archive against `cp` of the archive followed by `sync` of the copy,
// taking turns in one run, with the longest stretch the event loop was held while saving.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeView>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/ArchiveEditor.h"
#include "app/FolderTreeModel.h"
#include "app/Unit1.h"
#include "archive/ArchiveChanges.h"
#include "archive/ArchiveWriter.h"
#include "lib/BigArchives.h"
#include "lib/QarBuilder.h"
#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"

namespace fs = std::filesystem;
using namespace vorlr;

namespace {

constexpr int kEntries = 1000000;
std::string g_dir;

// Answers every dialog from a script.
struct Scripted final : DialogSeam {
    std::vector<std::string> files;
    std::string text;
    void showError(QWidget*, const std::string&, const std::string& t) override {
        std::fprintf(stderr, "error: %s\n", t.c_str());
    }
    void showInformation(QWidget*, const std::string&, const std::string& t) override {
        std::fprintf(stderr, "info: %s\n", t.c_str());
    }
    std::optional<std::string> getOpenFileName(QWidget*) override { return std::nullopt; }
    std::vector<std::string> getFilesToAdd(QWidget*, const std::string&, bool) override { return files; }
    std::optional<std::string> getText(QWidget*, const std::string&, const std::string&,
                                       const std::string&) override {
        return text;
    }
    int ask(QWidget*, const std::string&, const std::string&, const std::vector<std::string>&,
            int defaultButton, int) override {
        return defaultButton;
    }
};

struct Window {
    Scripted seam;
    TForm1 form;
    explicit Window(const std::string& path) {
        setDialogs(&seam);
        form.OpenArchive(path);
        form.show();
        QCoreApplication::processEvents();
    }
    ~Window() { setDialogs(nullptr); }
    ArchiveEditor& ed() { return *form.editor(); }
    NodeId nodeOf(const std::string& name) {
        return ed().pendingTree()->nodeOf(*ed().changes()->find(name));
    }
    void painted() {
        form.tvFiles->repaint();
        QCoreApplication::processEvents();
    }
};

Window* g_million = nullptr;

template <class Do>
void measureStep(benchmark::State& state, Do&& act) {
    Window& w = *g_million;
    double undoMs = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        act(w);
        w.painted();
        const auto t1 = std::chrono::steady_clock::now();
        w.ed().undo();
        w.painted();
        const auto t2 = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        undoMs += std::chrono::duration<double, std::milli>(t2 - t1).count();
        if (w.ed().pending()) state.SkipWithError("the undo left changes");
    }
    state.counters["undo_ms"] = undoMs / static_cast<double>(state.iterations());
}

const std::string kMiddle = "DATA\\D0500\\FILE0500000.TXT";

void BM_Replace_1M(benchmark::State& state) {
    measureStep(state, [](Window& w) {
        w.seam.files = {g_dir + "/new.txt"};
        w.ed().replaceEntry(w.nodeOf(kMiddle));
    });
}
void BM_Add_1M(benchmark::State& state) {
    measureStep(state, [](Window& w) {
        w.seam.files = {g_dir + "/new.txt"};
        w.ed().addFiles(w.nodeOf(kMiddle));
    });
}
void BM_Delete_1M(benchmark::State& state) {
    measureStep(state, [](Window& w) { w.ed().deleteNode(w.nodeOf(kMiddle)); });
}
void BM_RenameToAnotherFolder_1M(benchmark::State& state) {
    measureStep(state, [](Window& w) {
        w.seam.text = "DATA\\D0900\\MOVED.TXT";
        w.ed().renameEntry(w.nodeOf(kMiddle));
    });
}
void BM_RenameFirstEntry_1M(benchmark::State& state) {
    measureStep(state, [](Window& w) {
        w.seam.text = "MOVED.TXT";
        w.ed().renameEntry(w.nodeOf("DATA\\D0000\\FILE0000000.TXT"));
    });
}

// Taking turns with the peer, so that both see the same disk.
void writeGiB(const std::string& path);

void BM_SaveInPlace_1GiB_vsCopyAndSync(benchmark::State& state) {
    const std::string archive = g_dir + "/big.qar", copy = g_dir + "/copy.qar";
    if (!fs::exists(archive)) writeGiB(archive);
    Window w(archive);
    double peerMs = 0, longestBlockMs = 0;
    int turn = 0;
    for (auto _ : state) {
        std::vector<uint8_t> text(40, static_cast<uint8_t>('a' + turn++ % 26));
        std::ofstream(g_dir + "/small.txt", std::ios::binary).write(reinterpret_cast<const char*>(text.data()), 40);
        w.seam.files = {g_dir + "/small.txt"};
        w.ed().replaceEntry(w.nodeOf("DATA\\BLOB31.TXT"));
        // The longest gap between ticks of a 5 ms timer while the save runs.
        QElapsedTimer sinceTick;
        double longest = 0;
        QTimer tick;
        tick.setInterval(5);
        QElapsedTimer sinceStart;
        sinceStart.start();
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const double gap = static_cast<double>(sinceTick.restart());
            if (gap > 30 && std::getenv("VORLR_BENCH_GAPS"))
                std::fprintf(stderr, "gap %.0f ms ending at %lld ms\n", gap, sinceStart.elapsed());
            longest = std::max(longest, gap);
        });
        ::sync();
        const auto t0 = std::chrono::steady_clock::now();
        sinceTick.start();
        tick.start();
        if (!w.ed().saveArchive()) state.SkipWithError("save failed");
        tick.stop();
        const auto t1 = std::chrono::steady_clock::now();
        longestBlockMs = std::max(longestBlockMs, longest);
        ::sync();
        const auto p0 = std::chrono::steady_clock::now();
        if (std::system(("cp " + archive + " " + copy + " && sync " + copy).c_str()) != 0)
            state.SkipWithError("cp failed");
        const auto p1 = std::chrono::steady_clock::now();
        fs::remove(copy);
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        peerMs += std::chrono::duration<double, std::milli>(p1 - p0).count();
    }
    state.counters["cp_sync_ms"] = peerMs / static_cast<double>(state.iterations());
    state.counters["longest_block_ms"] = longestBlockMs;
}

BENCHMARK(BM_Replace_1M)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_Add_1M)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_Delete_1M)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_RenameToAnotherFolder_1M)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_RenameFirstEntry_1M)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_SaveInPlace_1GiB_vsCopyAndSync)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

}  // namespace

namespace {

void writeGiB(const std::string& path) {
    std::vector<std::pair<std::string, NewData>> entries;
    std::mt19937_64 rng(3);
    for (int i = 0; i < 64; ++i) {
        std::vector<uint8_t> blob(size_t{16} << 20);
        for (size_t k = 0; k + 8 <= blob.size(); k += 8) {
            const uint64_t v = rng();
            std::memcpy(&blob[k], &v, 8);
        }
        char name[32];
        std::snprintf(name, sizeof name, "DATA\\BLOB%02d.BIN", i);
        entries.emplace_back(name, NewData{{}, std::move(blob)});
        if (i == 31) entries.emplace_back("DATA\\BLOB31.TXT", NewData{{}, samples::bytesOf("a small text entry\r\n")});
    }
    WriteTarget target;
    target.path = path;
    WriteNewArchive(entries, target);
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    Application app(argc, argv);
    char tmpl[] = "/var/tmp/vorlr-edit-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    g_dir = tmpl;
    fs::current_path(g_dir);  // the window writes its list file here
    samples::writeBigArchive(g_dir + "/million.qar", samples::uniqueArchiveNames(kEntries, 1000));
    std::ofstream(g_dir + "/new.txt") << "a new entry\r\n";
    benchmark::Initialize(&argc, argv);
    {
        Window million(g_dir + "/million.qar");
        g_million = &million;
        benchmark::RunSpecifiedBenchmarks();
        g_million = nullptr;
    }
    benchmark::Shutdown();
    std::error_code ec;
    fs::current_path("/", ec);
    fs::remove_all(g_dir, ec);
    return 0;
}
