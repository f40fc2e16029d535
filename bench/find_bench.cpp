// The find box on a 1,000,000-entry archive, offscreen, the window shown: keys are sent to the
// box as typing sends them, and the clock runs from the last keystroke until the match is the
// tree's current node (its entry shown as a click shows it), or until "no match" shows.
//   first   - typing a text, the first match at or after the current node
//   next    - Enter (as F3) to the next match, the count done
//   count   - the last keystroke until "k of n" shows (counting all matches)
// longest_block_ms is the longest the event loop was held up between two of its turns while
// this went on: what a key typed meanwhile would have waited for.
#include <benchmark/benchmark.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTreeView>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "archive/EntrySearch.h"
#include "app/FindBar.h"
#include "app/FolderTreeModel.h"
#include "app/Unit1.h"
#include "archive/DirectoryLoader.h"
#include "lib/BigArchives.h"
#include "platform/gui/Application.h"

namespace fs = std::filesystem;
using namespace vorlr;

namespace {

constexpr int kEntries = 1000000;
std::string g_dir;

void sendKey(QWidget* w, int key, const QString& text = {}, Qt::KeyboardModifiers mods = {}) {
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QCoreApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods, text);
    QCoreApplication::sendEvent(w, &release);
}

// The window with one archive loaded, the find box open and empty.
struct Window {
    TForm1 form;
    explicit Window(const std::string& archive) {
        const std::string path = g_dir + "/" + archive;
        form.cbFiles->addItem(QString::fromStdString(path), QByteArray::fromStdString(path));
        form.show();
        load();
    }
    void load() {
        form.cbFiles->setCurrentIndex(form.cbFiles->count() - 1);  // the list file may hold others
        form.cbFilesChange();
        QCoreApplication::processEvents();
    }
    FindBar& bar() { return *form.findBar(); }
    NodeId current() const { return form.treeModel()->nodeOf(form.tvFiles->currentIndex()); }
    // From no current node, with the box opened afresh.
    void reset() {
        form.tvFiles->setCurrentIndex({});
        form.tvFiles->collapseAll();
        bar().closeBar();
        bar().edit()->clear();
        bar().open();
        QCoreApplication::processEvents();
    }
    void type(const std::string& text) {
        for (char c : text) sendKey(bar().edit(), 0, QString(QChar::fromLatin1(c)));
    }
};

struct Timing {
    double ms = 0;
    double longestBlockMs = 0;
};

// Runs the event loop until done() holds; the time since `clock` started.
template <class Done>
Timing waitFor(const QElapsedTimer& clock, Done done) {
    Timing t;
    QElapsedTimer turn;
    while (!done()) {
        turn.start();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        t.longestBlockMs = std::max(t.longestBlockMs, turn.nsecsElapsed() / 1e6);
        if (clock.elapsed() > 10000) break;
    }
    t.ms = clock.nsecsElapsed() / 1e6;
    return t;
}

// Typing `text` from no current node; done when the current node's text is `expect` (or, for
// an empty expect, when "no match" shows). Counters: first match and whole count.
void typeAndFind(benchmark::State& state, const char* archive, const std::string& text,
                 const std::string& expect, bool afterLoad = false) {
    Window w(archive);
    Timing first, count;
    double longest = 0;
    for (auto _ : state) {
        if (afterLoad) w.load();  // the first search of a load takes the tree order
        w.reset();
        w.type(text);
        QElapsedTimer clock;
        clock.start();
        first = waitFor(clock, [&] {
            if (expect.empty()) return w.bar().statusText() == "no match";
            const NodeId n = w.current();
            return n != kNoNode && w.form.tree().text(n) == expect;
        });
        count = waitFor(clock, [&] { return !w.bar().counting(); });
        longest = std::max({longest, first.longestBlockMs, count.longestBlockMs});
        state.SetIterationTime(first.ms / 1000);
    }
    if (!expect.empty() && (w.current() == kNoNode || w.form.tree().text(w.current()) != expect))
        state.SkipWithError("match not found");
    state.counters["count_done_ms"] = count.ms;
    state.counters["longest_block_ms"] = longest;
    state.SetLabel(w.bar().statusText());
}

// Enter (next match) repeated, the count done.
void nextMatch(benchmark::State& state, const char* archive, const std::string& text) {
    Window w(archive);
    w.reset();
    w.type(text);
    w.bar().settle();
    double worst = 0;
    for (auto _ : state) {
        const NodeId before = w.current();
        QElapsedTimer clock;
        clock.start();
        sendKey(w.bar().edit(), Qt::Key_Return);
        const Timing t = waitFor(clock, [&] { return w.current() != before; });
        worst = std::max(worst, t.ms);
        state.SetIterationTime(t.ms / 1000);
    }
    state.counters["worst_ms"] = worst;
    state.SetLabel(w.bar().statusText());
}

// Taking the tree order (the first search after a load does it), no window.
void treeOrder(benchmark::State& state, const char* archive) {
    Archive a;
    std::vector<int32_t> table;
    const auto buffer = std::make_unique<WorkBufferBytes>();
    FolderTree tree;
    LoadObserver quiet;
    LoadDirectory(g_dir + "/" + archive, DirectoryLoad{a, table, *buffer}, tree, quiet);
    for (auto _ : state) {
        EntrySearch search(tree, a);
        search.start("x");
        benchmark::DoNotOptimize(search.candidates());
    }
}
void BM_TreeOrder_Unique(benchmark::State& s) { treeOrder(s, "unique.qar"); }
void BM_TreeOrder_Shuffled(benchmark::State& s) { treeOrder(s, "shuffled.qar"); }
BENCHMARK(BM_TreeOrder_Unique)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_TreeOrder_Shuffled)->Unit(benchmark::kMillisecond)->Iterations(5);

// Names DATA\Dffff\FILEnnnnnnn.TXT, 1000 folders: tree order is directory order.
void BM_First_Unique_Near(benchmark::State& s) {
    typeAndFind(s, "unique.qar", "file0000500", "FILE0000500.TXT");
}
void BM_First_Unique_NearAfterLoad(benchmark::State& s) {
    typeAndFind(s, "unique.qar", "file0000500", "FILE0000500.TXT", true);
}
void BM_First_Unique_Last(benchmark::State& s) {
    typeAndFind(s, "unique.qar", "file0999999", "FILE0999999.TXT");
}
void BM_First_Unique_Glob(benchmark::State& s) {
    typeAndFind(s, "unique.qar", "*d0999\\*99.txt", "FILE0999099.TXT");
}
void BM_First_Unique_None(benchmark::State& s) { typeAndFind(s, "unique.qar", "nothing", ""); }
void BM_Next_Unique_Sparse(benchmark::State& s) { nextMatch(s, "unique.qar", "77777"); }
// Game-like names, shuffled: the directory order is nothing like the tree order.
void BM_First_Shuffled_Last(benchmark::State& s) {
    typeAndFind(s, "shuffled.qar", "scripts\\area99\\part099\\file9", "FILE9.DAT");
}
void BM_First_Shuffled_Any(benchmark::State& s) {
    typeAndFind(s, "shuffled.qar", "file7", "FILE7.DAT");
}
void BM_Next_Shuffled(benchmark::State& s) { nextMatch(s, "shuffled.qar", "part042\\file3"); }

#define FIND_BENCH(f) BENCHMARK(f)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10)
FIND_BENCH(BM_First_Unique_Near);
FIND_BENCH(BM_First_Unique_NearAfterLoad);
FIND_BENCH(BM_First_Unique_Last);
FIND_BENCH(BM_First_Unique_Glob);
FIND_BENCH(BM_First_Unique_None);
BENCHMARK(BM_Next_Unique_Sparse)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(50);
FIND_BENCH(BM_First_Shuffled_Last);
FIND_BENCH(BM_First_Shuffled_Any);
BENCHMARK(BM_Next_Shuffled)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(50);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    Application app(argc, argv);
    char tmpl[] = "/tmp/vorlr-find-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    g_dir = tmpl;
    fs::current_path(g_dir);  // the window writes its list and scratch files here
    samples::writeBigArchive(g_dir + "/unique.qar", samples::uniqueArchiveNames(kEntries, 1000));
    samples::writeBigArchive(g_dir + "/shuffled.qar", samples::bigArchiveNames(kEntries, true));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::current_path("/", ec);
    fs::remove_all(g_dir, ec);
    return 0;
}
