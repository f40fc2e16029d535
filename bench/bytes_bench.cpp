// "Show bytes" on a 512 MB entry (a sparse archive file: next to nothing on disk), offscreen,
// the window shown, the page cache warm:
//   Open        - from "Show bytes" until the view has painted its first rows (a fresh read
//                 of the entry each time)
//   ScrollRow   - one row down, painted
//   ScrollPage  - Page Down, painted
//   ScrollJump  - the scroll bar dragged to anywhere in the entry (a block not read yet), painted
//   FindAbsent  - a search for text that is not there, through all 512 MB
#include <benchmark/benchmark.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTreeView>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "app/BytesPage.h"
#include "app/BytesView.h"
#include "app/FolderTreeModel.h"
#include "app/Unit1.h"
#include "lib/BigArchives.h"
#include "platform/gui/Application.h"

namespace fs = std::filesystem;
using namespace vorlr;

namespace {

constexpr int32_t kSize = 512 << 20;
std::string g_dir;

struct Window {
    TForm1 form;
    NodeId node = kNoNode;
    Window() {
        const std::string path = g_dir + "/big.qar";
        form.cbFiles->addItem(QString::fromStdString(path), QByteArray::fromStdString(path));
        form.show();
        form.cbFiles->setCurrentIndex(form.cbFiles->count() - 1);
        form.cbFilesChange();
        node = form.tree().findFrom(form.tree().first(), "HUGE.DAT");
        form.tvFiles->setCurrentIndex(form.treeModel()->indexOf(node));
        QCoreApplication::processEvents();
    }
    BytesPage& page() { return *form.bytesPage(); }
    BytesView& view() { return *page().view(); }
    void open() {
        page().show(node);
        view().viewport()->repaint();
    }
};

template <class Step>
void timed(benchmark::State& s, Window& w, Step step) {
    for (auto _ : s) {
        QElapsedTimer clock;
        clock.start();
        step();
        s.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        QCoreApplication::processEvents();
    }
    if (w.view().bytes()->size() != kSize) s.SkipWithError("the entry was not shown whole");
}

void BM_Open(benchmark::State& s) {
    Window w;
    timed(s, w, [&] {
        w.page().leave();
        w.open();
    });
}

void BM_ScrollRow(benchmark::State& s) {
    Window w;
    w.open();
    QScrollBar* bar = w.view().verticalScrollBar();
    bar->setValue(bar->maximum() / 3);
    timed(s, w, [&] {
        bar->setValue(bar->value() + 1);
        w.view().viewport()->repaint();
    });
}

void BM_ScrollPage(benchmark::State& s) {
    Window w;
    w.open();
    w.view().verticalScrollBar()->setValue(w.view().verticalScrollBar()->maximum() / 3);
    timed(s, w, [&] {
        QKeyEvent down(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
        QCoreApplication::sendEvent(&w.view(), &down);
        w.view().viewport()->repaint();
    });
}

void BM_ScrollJump(benchmark::State& s) {
    Window w;
    w.open();
    QScrollBar* bar = w.view().verticalScrollBar();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> row(0, bar->maximum());
    timed(s, w, [&] {
        bar->setValue(row(random));
        w.view().viewport()->repaint();
    });
}

void BM_FindAbsent(benchmark::State& s) {
    Window w;
    w.open();
    timed(s, w, [&] {
        w.view().find("no such text", true, QStringLiteral("\"no such text\""));
        w.view().settle();
    });
}

BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(50);
BENCHMARK(BM_ScrollRow)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(500);
BENCHMARK(BM_ScrollPage)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(500);
BENCHMARK(BM_ScrollJump)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(500);
BENCHMARK(BM_FindAbsent)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    Application app(argc, argv);
    char tmpl[] = "/tmp/vorlr-bytes-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    g_dir = tmpl;
    fs::current_path(g_dir);  // the window writes its list and scratch files here
    // Marks through the entry so that the rows shown are not all zero bytes.
    std::vector<samples::ByteMark> marks;
    std::mt19937 random(1);
    for (int64_t at = 0; at + 4096 <= kSize; at += int64_t{16} << 20) {
        std::vector<uint8_t> bytes(4096);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
        marks.push_back({at, bytes});
    }
    samples::writeSparseEntryArchive(g_dir + "/big.qar", "HUGE.DAT", kSize, marks);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::current_path("/", ec);
    fs::remove_all(g_dir, ec);
    return 0;
}
