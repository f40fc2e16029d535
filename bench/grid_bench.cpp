// "Show pictures" on a folder of 2,000 pictures, offscreen, the whole window shown: from the
// command until the first thumbnails are in, until every cell in view is, and until the grid is
// complete, with the longest the event loop was held meanwhile (the longest gap of a 10 ms
// timer, less its 10 ms) and the process's CPU time (both workers and the window's thread).
// The peer, in the same run: the same 2,000 entries converted to PNG files in memory on 2
// workers, as `qar extract --convert png -j 2` converts them (ConversionPool, PictureConversion).
// The pictures are export_bench's: 16-bit and palette KMG, Targa raw and run-length, 64 to 512
// on a side with every tenth 1024, in 20 folders below GFX. `grid_bench --generate DIR` writes
// them to DIR/pictures.qar (for timing `qar extract` on the same file); with $VORLR_BENCH_DIR set
// they are read from there, else made in a temporary folder and removed at the end.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/FolderPictures.h"
#include "app/FolderTreeModel.h"
#include "app/ImagePage.h"
#include "app/PictureGrid.h"
#include "app/Unit1.h"
#include "archive/Container.h"
#include "archive/ConversionPool.h"
#include "lib/BigArchives.h"
#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "platform/gui/Application.h"
#include "viewers/PictureExport.h"

namespace fs = std::filesystem;
using namespace vorlr;

namespace {

constexpr int kPictures = 2000;
std::string g_dir;

void generate(const std::string& path) {
    samples::writeQar(path, samples::pictureMixEntries(kPictures));
}

double cpuMs() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

void BM_PictureGrid2000(benchmark::State& st) {
    TForm1 form;
    const std::string path = g_dir + "/pictures.qar";
    form.cbFiles->addItem(QString::fromStdString(path), QByteArray::fromStdString(path));
    form.show();
    form.cbFiles->setCurrentIndex(0);
    form.cbFilesChange();
    QCoreApplication::processEvents();
    const NodeId gfx = form.treeModel()->nodeOf(form.treeModel()->index(0, 0));
    double first = 0, visible = 0, complete = 0, longest = 0, cpu = 0, cells = 0;
    for (auto _ : st) {
        QEventLoop loop;
        QElapsedTimer clock, sinceTick;
        QTimer ticks;
        ticks.setInterval(10);
        ticks.setTimerType(Qt::PreciseTimer);
        double worst = 0;
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            worst = std::max(worst, sinceTick.nsecsElapsed() / 1e6 - 10);
            sinceTick.restart();
        });
        double t0 = 0, t1 = 0, tv = 0, tc = 0;
        const double cpu0 = cpuMs();
        QTimer::singleShot(0, [&] {
            clock.start();
            form.folderPictures()->show(gfx);
            PictureGrid* grid = form.imagePage()->grid();
            grid->viewport()->repaint();  // the cells with their names, as the user first sees them
            t0 = clock.nsecsElapsed() / 1e6;
            const size_t inView = size_t(grid->itemAt(grid->viewport()->rect().bottomRight()) + 1);
            grid->onThumbnails = [&, grid, inView] {
                const double now = clock.nsecsElapsed() / 1e6;
                if (t1 == 0 && grid->shown() + grid->failed() > 0) t1 = now;
                if (tv == 0) {
                    size_t done = 0;
                    for (size_t i = 0; i < inView; ++i) done += grid->cell(i) != PictureGrid::Cell::Waiting;
                    if (done == inView) tv = now;
                }
                if (grid->complete()) {
                    tc = now;
                    loop.quit();
                }
            };
            sinceTick.start();
            ticks.start();
        });
        loop.exec();
        ticks.stop();
        cpu += cpuMs() - cpu0;
        if (form.imagePage()->grid()->failed() != 0) st.SkipWithError("pictures failed");
        cells += t0, first += t1, visible += tv, complete += tc, longest = std::max(longest, worst);
        st.SetIterationTime(tc / 1e3);
        form.folderPictures()->close();
        QCoreApplication::processEvents();
    }
    const double n = double(st.iterations());
    st.counters["cells_ms"] = cells / n;
    st.counters["first_ms"] = first / n;
    st.counters["in_view_ms"] = visible / n;
    st.counters["complete_ms"] = complete / n;
    st.counters["cpu_ms"] = cpu / n;
    st.counters["longest_block_ms"] = longest;
}
BENCHMARK(BM_PictureGrid2000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// The peer: every picture to PNG bytes in memory, two conversions at once, taken in order.
void BM_ExportPng2000InMemory(benchmark::State& st) {
    Archive archive;
    archive.open(g_dir + "/pictures.qar");
    ReadDirectory(archive);
    const EntryConversion conversion = PictureConversion(PictureFormat::Png, 2);
    double cpu = 0;
    for (auto _ : st) {
        const double cpu0 = cpuMs();
        ConversionPool pool(archive, conversion);
        const size_t n = archive.entryCount();
        size_t next = 0, bytes = 0;
        for (size_t taken = 0; taken < n; ++taken) {
            for (; next < n && !pool.full(); ++next) pool.submit(next, next);
            const ConversionPool::Result r = pool.take(taken);
            if (!r.error.empty()) st.SkipWithError(r.error.c_str());
            for (const ConvertedFile& f : r.files) bytes += f.bytes.size();
        }
        benchmark::DoNotOptimize(bytes);
        cpu += cpuMs() - cpu0;
    }
    st.counters["cpu_ms"] = cpu / double(st.iterations());
}
BENCHMARK(BM_ExportPng2000InMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--generate") {
        fs::create_directories(argv[2]);
        generate(std::string(argv[2]) + "/pictures.qar");
        return 0;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    Application app(argc, argv);
    const char* env = std::getenv("VORLR_BENCH_DIR");
    const bool given = env && *env;
    char tmpl[] = "/tmp/vorlr-grid-bench-XXXXXX";
    if (given) {
        g_dir = env;
    } else {
        if (!::mkdtemp(tmpl)) return 1;
        g_dir = tmpl;
        std::fprintf(stderr, "grid_bench: generating 2,000 pictures in %s ...\n", tmpl);
        generate(g_dir + "/pictures.qar");
    }
    const fs::path work = fs::temp_directory_path() / ("vorlr-grid-bench-cwd-" + std::to_string(::getpid()));
    fs::create_directories(work);
    fs::current_path(work);  // the window writes its list file here
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::current_path("/", ec);
    fs::remove_all(work, ec);
    if (!given) fs::remove_all(g_dir, ec);
    return 0;
}
