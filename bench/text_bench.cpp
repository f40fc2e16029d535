// Text viewer timings: the UTF-16 conversion of a 100 MB entry through the scratch files (and
// iconv on the same file, side by side), and a large plain text and RTF entry shown in the box.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QTabWidget>
#include <QTextDocument>
#include <QTextEdit>
#include <QPixmap>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/PageContext.h"
#include "app/StatusBar.h"
#include "app/TextPage.h"
#include "archive/Extract.h"
#include "app/ViewerState.h"
#include "lib/QarBuilder.h"
#include "lib/TextSamples.h"
#include "platform/RuntimeFile.h"
#include "viewers/richtext/RtfReader.h"
#include "viewers/TextConvert.h"

namespace fs = std::filesystem;
using namespace vorlr;

namespace {

constexpr int64_t kUnicodeBytes = 100 * 1000 * 1000;

// A scratch folder made the current directory for the whole run.
struct Workspace {
    std::string dir;
    Workspace() {
        char tmpl[] = "/tmp/vorlr-text-bench-XXXXXX";
        dir = ::mkdtemp(tmpl);
        fs::current_path(dir);
    }
    ~Workspace() {
        std::error_code ec;
        fs::current_path("/", ec);
        fs::remove_all(dir, ec);
    }
};

Workspace& workspace() {
    static Workspace w;
    return w;
}

// 100 MB of UTF-16 text (Latin-1 range, so iconv's //TRANSLIT has nothing to guess) with the mark.
const std::string& unicodeMaster() {
    static const std::string path = [] {
        workspace();
        const std::string text = samples::largePlainText(static_cast<size_t>(kUnicodeBytes / 2 - 1));
        std::vector<uint8_t> bytes = {0xFF, 0xFE};
        bytes.reserve(static_cast<size_t>(kUnicodeBytes));
        for (char c : text) {
            bytes.push_back(static_cast<uint8_t>(c));
            bytes.push_back(0);
        }
        samples::writeFile("master.utf16", bytes);
        samples::writeQar("unicode.qar", {samples::QarEntry{"BIG.TXT", bytes, {}, {}, false}});
        return std::string("master.utf16");
    }();
    return path;
}

// TEMP.TXT as a hard link to the master: ready in no time, and the conversion's rename and
// delete leave the master alone.
void freshScratch() {
    std::error_code ec;
    fs::remove("TEMP.TXT", ec);
    fs::create_hard_link(unicodeMaster(), "TEMP.TXT");
}

void BM_ConvertUnicodeFile(benchmark::State& st) {
    unicodeMaster();
    const auto buffer = std::make_unique<WorkBufferBytes>();
    freshScratch();
    ConvertUnicodeFile("TEMP.TXT", *buffer);  // warms the page cache
    for (auto _ : st) {
        st.PauseTiming();
        freshScratch();
        st.ResumeTiming();
        ConvertUnicodeFile("TEMP.TXT", *buffer);
    }
    st.SetBytesProcessed(st.iterations() * kUnicodeBytes);
}
BENCHMARK(BM_ConvertUnicodeFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// What the viewer does for the entry: copy out of the archive, then convert.
void BM_ExtractAndConvert(benchmark::State& st) {
    unicodeMaster();
    ViewerState state;
    state.archive.open("unicode.qar");
    for (auto _ : st) {
        state.ArchiveFile.seek(520);
        state.CurrentEntrySize = static_cast<int32_t>(kUnicodeBytes);
        ExtractEntry(state, "TEMP.TXT");
        ConvertUnicodeFile(state.TempFileName, state.WorkBuffer);
    }
    st.SetBytesProcessed(st.iterations() * kUnicodeBytes);
}
BENCHMARK(BM_ExtractAndConvert)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_KeepLowBytes16K(benchmark::State& st) {
    std::vector<uint8_t> buf(kWorkBufferSize, 0x41);
    for (auto _ : st) {
        benchmark::DoNotOptimize(KeepLowBytes(buf.data(), buf.size()));
        benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(st.iterations() * static_cast<int64_t>(buf.size()));
}
BENCHMARK(BM_KeepLowBytes16K);

// The Text page showing one entry, from selection until the whole document is laid out.
struct PageRig {
    ViewerState state;
    QTabWidget pageControl;
    QWidget* tsText = new QWidget;
    StatusBar statusBar;
    std::unique_ptr<TextPage> page;
    int32_t size = 0;

    PageRig(const std::string& archive, const std::vector<uint8_t>& data) {
        pageControl.addTab(tsText, "Text");
        pageControl.resize(570, 520);
        page = std::make_unique<TextPage>(tsText, PageContext{state, statusBar, pageControl});
        samples::writeQar(archive, {samples::QarEntry{"E.TXT", data, {}, {}, false}});
        state.archive.open(archive);
        size = static_cast<int32_t>(data.size());
        pageControl.show();
    }
    // fullLayout: until every line is laid out; otherwise until the first screen is painted
    // (the rest is then laid out in the background by the document's layout).
    double showOnce(bool fullLayout = true) {
        state.ArchiveFile.seek(520);
        state.CurrentEntrySize = size;
        page->ShowTextEntry();
        QTextDocument* doc = page->reText()->document();
        double height = 0;
        if (fullLayout) height = doc->documentLayout()->documentSize().height();
        height += page->reText()->viewport()->grab().height();
        return height;
    }
};

void showBench(benchmark::State& st, PageRig& rig, bool fullLayout = true) {
    rig.showOnce(fullLayout);
    for (auto _ : st) benchmark::DoNotOptimize(rig.showOnce(fullLayout));
    st.SetBytesProcessed(st.iterations() * rig.size);
    st.counters["blocks"] = rig.page->reText()->document()->blockCount();
}

void BM_ShowPlainText10MB(benchmark::State& st) {
    workspace();
    PageRig rig("plain.qar", samples::bytesOf(samples::largePlainText(10 * 1000 * 1000)));
    showBench(st, rig);
}
BENCHMARK(BM_ShowPlainText10MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_ShowPlainText10MBFirstScreen(benchmark::State& st) {
    workspace();
    PageRig rig("plain.qar", samples::bytesOf(samples::largePlainText(10 * 1000 * 1000)));
    showBench(st, rig, false);
}
BENCHMARK(BM_ShowPlainText10MBFirstScreen)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_ShowRtf1MB(benchmark::State& st) {
    workspace();
    PageRig rig("rtf.qar", samples::bytesOf(samples::largeRtf(1000 * 1000)));
    showBench(st, rig);
}
BENCHMARK(BM_ShowRtf1MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The reader alone, into a document no widget shows.
void BM_ReadRtf1MB(benchmark::State& st) {
    const std::string rtf = samples::largeRtf(1000 * 1000);
    QTextDocument doc;
    for (auto _ : st) {
        ReadRtf(rtf, doc);
        benchmark::DoNotOptimize(doc.blockCount());
    }
    st.SetBytesProcessed(st.iterations() * static_cast<int64_t>(rtf.size()));
}
BENCHMARK(BM_ReadRtf1MB)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 1.9 MB Chinese document as a word processor writes it: code page 936 pairs through iconv.
void BM_ReadRtfChinese1_9MB(benchmark::State& st) {
    const std::string rtf = samples::largeChineseRtf(1900 * 1000);
    QTextDocument doc;
    for (auto _ : st) {
        ReadRtf(rtf, doc);
        benchmark::DoNotOptimize(doc.blockCount());
    }
    st.counters["characters"] = doc.characterCount();
    st.SetBytesProcessed(st.iterations() * static_cast<int64_t>(rtf.size()));
}
BENCHMARK(BM_ReadRtfChinese1_9MB)->Unit(benchmark::kMillisecond)->UseRealTime();

double seconds(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Best of five for each, on the same 100 MB file with a warm page cache.
void sideBySideWithIconv() {
    unicodeMaster();
    if (std::system("command -v iconv >/dev/null 2>&1") != 0) {
        std::printf("iconv not found: no side-by-side figure\n");
        return;
    }
    const auto buffer = std::make_unique<WorkBufferBytes>();
    double ours = 1e9, theirs = 1e9;
    const std::string cmd = "iconv -f UTF-16LE -t LATIN1//TRANSLIT " + unicodeMaster() + " > iconv.out";
    for (int i = 0; i < 5; ++i) {
        freshScratch();
        ours = std::min(ours, seconds([&] { ConvertUnicodeFile("TEMP.TXT", *buffer); }));
        theirs = std::min(theirs, seconds([&] {
            if (std::system(cmd.c_str()) != 0) std::printf("iconv failed\n");
        }));
    }
    const double gb = kUnicodeBytes / 1e9;
    std::printf("\nUTF-16 -> 8-bit, 100 MB file, best of 5, warm cache:\n"
                "  ConvertUnicodeFile  %8.1f ms  %6.2f GB/s\n"
                "  iconv //TRANSLIT    %8.1f ms  %6.2f GB/s\n"
                "  ratio (iconv time / ours) %.1fx\n",
                ours * 1e3, gb / ours, theirs * 1e3, gb / theirs, theirs / ours);
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    sideBySideWithIconv();
    return 0;
}
