// "Update from folder..." in the window, offscreen.
// Review: a folder of the 2,000 pictures of the samples' mix, exported by `qar extract --convert
// png` with every tenth picture painted (one pixel), against pictures.qar: from the command until
// the list is complete, with the time until its first rows show and the longest stretch the
// event loop was held; taking turns in the same run with `qar update --dry-run -j N` (N: cores)
// on the same archive and folder.
// Apply: on a 1,000,000-entry archive (1,000 folders), a review of 2,000 rows (all changed
// entries, or half changed and half added); from Apply until the tree has been painted.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/ArchiveEditor.h"
#include "app/Unit1.h"
#include "app/UpdateFromFolder.h"
#include "lib/BigArchives.h"
#include "lib/QarBuilder.h"
#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"

namespace fs = std::filesystem;
using namespace vorlr;
using Clock = std::chrono::steady_clock;

namespace {

std::string g_dir;

struct Scripted final : DialogSeam {
    std::string folder;
    void showError(QWidget*, const std::string&, const std::string& t) override {
        std::fprintf(stderr, "error: %s\n", t.c_str());
    }
    void showInformation(QWidget*, const std::string&, const std::string& t) override {
        std::fprintf(stderr, "info: %s\n", t.c_str());
    }
    std::optional<std::string> getOpenFileName(QWidget*) override { return std::nullopt; }
    std::optional<std::string> getFolderToUpdateFrom(QWidget*) override { return folder; }
    int ask(QWidget*, const std::string&, const std::string&, const std::vector<std::string>&,
            int defaultButton, int) override {
        return defaultButton;
    }
};

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The longest gap between ticks of a 5 ms timer while it runs.
struct BlockWatch {
    QElapsedTimer sinceTick;
    QTimer tick;
    double longest = 0;
    BlockWatch() {
        tick.setInterval(5);
        QObject::connect(&tick, &QTimer::timeout, [this] {
            longest = std::max(longest, static_cast<double>(sinceTick.restart()));
        });
        sinceTick.start();
        tick.start();
    }
};

// The closed review list gone, so that the next one can open.
void closed() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The window's review of the folder until its list is complete.
struct ReviewTimes {
    double completeMs = 0, firstRowsMs = -1, longestBlockMs = 0;
    size_t rows = 0;
};
ReviewTimes review(Scripted& seam, TForm1& form, const std::string& folder) {
    seam.folder = folder;
    ReviewTimes out;
    BlockWatch watch;
    const auto t0 = Clock::now();
    form.updateFromFolder()->run(kNoNode);
    ReviewDialog* dialog = form.updateFromFolder()->dialog();
    if (!dialog) return out;
    // Complete: the comparison is over and its status replaced "Comparing...".
    while (dialog->comparing() || dialog->progress()->isVisible()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);  // the 5 ms tick wakes it
        if (out.firstRowsMs < 0 && dialog->list()->topLevelItemCount() > 0) {
            dialog->list()->repaint();
            out.firstRowsMs = msSince(t0);
        }
    }
    dialog->list()->repaint();
    out.completeMs = msSince(t0);
    out.longestBlockMs = watch.longest;
    out.rows = dialog->rows().size();
    return out;
}

void BM_Review2000Pictures_vsQarDryRun(benchmark::State& state) {
    const std::string archive = g_dir + "/pictures.qar", folder = g_dir + "/export";
    Scripted seam;
    setDialogs(&seam);
    TForm1 form;
    form.OpenArchive(archive);
    form.show();
    QCoreApplication::processEvents();
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::string dryRun = std::string(VORLR_QAR) + " update " + archive + " " + folder +
                               " --dry-run -j " + std::to_string(cores) + " > " + g_dir + "/dry.txt";
    double qarMs = 0, firstMs = 0, blockMs = 0;
    size_t rows = 0;
    for (auto _ : state) {
        const ReviewTimes t = review(seam, form, folder);
        if (auto* d = form.updateFromFolder()->dialog()) d->reject();
        closed();
        const auto p0 = Clock::now();
        if (std::system(dryRun.c_str()) != 0) state.SkipWithError("qar update --dry-run failed");
        qarMs += msSince(p0);
        state.SetIterationTime(t.completeMs / 1000.0);
        firstMs = std::max(firstMs, t.firstRowsMs);
        blockMs = std::max(blockMs, t.longestBlockMs);
        rows = t.rows;
    }
    size_t qarLines = 0;
    std::ifstream in(g_dir + "/dry.txt");
    for (std::string line; std::getline(in, line);) ++qarLines;
    const double n = static_cast<double>(state.iterations());
    state.counters["qar_dry_run_ms"] = qarMs / n;
    state.counters["first_rows_ms_max"] = firstMs;
    state.counters["longest_block_ms"] = blockMs;
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["qar_lines"] = static_cast<double>(qarLines);
    setDialogs(nullptr);
}

void BM_Apply2000Rows_1M(benchmark::State& state) {
    // Arg 0: 2,000 changed entries (their marks); 1: 1,000 changed and 1,000 added (the tree anew).
    const std::string archive = g_dir + "/million.qar",
                      folder = g_dir + (state.range(0) == 0 ? "/changed" : "/mixed");
    Scripted seam;
    setDialogs(&seam);
    TForm1 form;
    form.OpenArchive(archive);
    form.show();
    QCoreApplication::processEvents();
    double compareMs = 0;
    size_t rows = 0;
    for (auto _ : state) {
        const ReviewTimes t = review(seam, form, folder);
        compareMs += t.completeMs;
        ReviewDialog* dialog = form.updateFromFolder()->dialog();
        if (!dialog || !dialog->applyButton()->isEnabled()) {
            state.SkipWithError("nothing to apply");
            break;
        }
        rows = dialog->rows().size();
        const auto t0 = Clock::now();
        dialog->applyButton()->click();
        form.tvFiles->repaint();
        QCoreApplication::processEvents();
        state.SetIterationTime(msSince(t0) / 1000.0);
        if (!form.editor()->pending()) state.SkipWithError("Apply left nothing pending");
        closed();
        form.editor()->undo();
        QCoreApplication::processEvents();
    }
    state.counters["review_ms"] = compareMs / static_cast<double>(state.iterations());
    state.counters["rows"] = static_cast<double>(rows);
    setDialogs(nullptr);
}

BENCHMARK(BM_Review2000Pictures_vsQarDryRun)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_Apply2000Rows_1M)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// Every tenth picture of the export gets one pixel changed, in the picture's own format.
void paint(const std::string& folder) {
    int k = 0, painted = 0;
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file() && e.path().extension() == ".png") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& p : files) {
        if (k++ % 10 != 0) continue;
        QImage img(QString::fromStdString(p.string()));
        if (img.isNull()) continue;
        if (img.format() == QImage::Format_Indexed8 && img.colorCount() > 1)
            img.setPixel(0, 0, (img.pixelIndex(0, 0) + 1) % img.colorCount());
        else if (img.depth() == 32)
            img.setPixel(0, 0, img.pixel(0, 0) ^ 0x00808080u);
        else
            continue;
        if (img.save(QString::fromStdString(p.string()), "PNG")) ++painted;
    }
    std::fprintf(stderr, "painted %d of %zu pictures\n", painted, files.size());
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    Application app(argc, argv);
    char tmpl[] = "/var/tmp/vorlr-review-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    g_dir = tmpl;
    fs::current_path(g_dir);  // the window writes its list file here
    samples::writeQar(g_dir + "/pictures.qar", samples::pictureMixEntries(2000));
    if (std::system((std::string(VORLR_QAR) + " extract " + g_dir + "/pictures.qar -o " + g_dir +
                     "/export --convert png > /dev/null").c_str()) != 0)
        return 1;
    paint(g_dir + "/export");
    samples::writeBigArchive(g_dir + "/million.qar", samples::uniqueArchiveNames(1000000, 1000));
    // 2,000 of its (empty) entries given content: D0000 and D0001 whole.
    for (int i = 0; i < 2000; ++i) {
        char rel[64];
        std::snprintf(rel, sizeof rel, "/changed/DATA/D%04d/FILE%07d.TXT", i / 1000, i);
        fs::create_directories(fs::path(g_dir + rel).parent_path());
        std::ofstream(g_dir + rel) << "changed " << i << "\r\n";
        std::snprintf(rel, sizeof rel, i < 1000 ? "/mixed/DATA/D%04d/FILE%07d.TXT" : "/mixed/DATA/D%04d/NEW%07d.TXT",
                      i / 1000, i);
        fs::create_directories(fs::path(g_dir + rel).parent_path());
        std::ofstream(g_dir + rel) << "changed " << i << "\r\n";
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::current_path("/", ec);
    fs::remove_all(g_dir, ec);
    return 0;
}
