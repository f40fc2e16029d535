// "Find in contents" in the window against `qar grep -n` on the same archive and pattern, side by
// side in one run: from the search's start until its first result is listed, and until the
// list holds every result. The archive is VORLR_GREP_ARCHIVE (bench/grep.sh passes the one it
// makes), the pattern VORLR_GREP_WORD (default "wyvern"), matched case-sensitively.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <chrono>
#include <cstdlib>
#include <string>

#include "app/ContentFind.h"
#include "app/Unit1.h"

using namespace vorlr;
using Clock = std::chrono::steady_clock;

namespace {

std::string g_archive, g_word = "wyvern", g_qar;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void BM_FindInContents(benchmark::State& state) {
    TForm1 form;
    form.show();
    QApplication::processEvents();
    if (!form.OpenArchive(g_archive)) return state.SkipWithError("the archive did not load");
    ContentFind& find = *form.contentFind();
    find.open();
    find.edit()->setText(QString::fromStdString(g_word));
    find.matchCase()->setChecked(true);
    double first = 0, rows = 0;
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        find.start();
        bool seen = false;
        while (find.running() || find.statusText().rfind("searching", 0) == 0) {
            // As the window's loop: asleep until the next event (the batches' timer), so the
            // search's workers have the cores.
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (!seen && find.results().rowCount() > 0) {
                seen = true;
                first = msSince(t0);
            }
        }
        rows = find.results().rowCount();
    }
    state.counters["first_ms"] = first;
    state.counters["results"] = rows;
}

void BM_QarGrep(benchmark::State& state) {
    const std::string command = g_qar + " grep -n " + g_word + " '" + g_archive + "' >/dev/null";
    for (auto _ : state) {
        const int status = std::system(command.c_str());
        if (status != 0 && WEXITSTATUS(status) != 1) return state.SkipWithError("qar grep failed");
    }
}

BENCHMARK(BM_QarGrep)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FindInContents)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_QarGrep)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const char* archive = std::getenv("VORLR_GREP_ARCHIVE");
    if (!archive) {
        std::fprintf(stderr, "VORLR_GREP_ARCHIVE: the archive to search (bench/grep.sh sets it)\n");
        return 2;
    }
    g_archive = archive;
    if (const char* w = std::getenv("VORLR_GREP_WORD")) g_word = w;
    g_qar = VORLR_QAR;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
