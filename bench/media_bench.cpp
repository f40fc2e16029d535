// Sound: selecting a 10-minute MP3 or WAV entry until the first decoded frames reach the
// output, until its length is counted, and the longest UI-thread slice spent decoding while it
// plays.
#include <benchmark/benchmark.h>
#include <time.h>

#include <QApplication>
#include <QAudioDevice>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "app/MediaPage.h"
#include "app/MediaPlayer.h"
#include "app/StatusBar.h"
#include "lib/QarBuilder.h"
#include "lib/SoundSamples.h"
#include "platform/gui/Application.h"
#include "support/ManualAudioOutput.h"

namespace fs = std::filesystem;
using namespace vorlr;
using namespace vorlr::samples;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int64_t kTenMinutes = 10 * 60 * 1000;
bool g_fixtureMade = false;

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct Fixture {
    fs::path dir;
    std::string wavArchive, mp3Archive, monoArchive, vbrArchive;
    int32_t wavSize = 0, mp3Size = 0, monoSize = 0, vbrSize = 0;
};

// The archives are made once per run: a 10-minute stereo 44.1 kHz tone as WAV (106 MB) and as
// MP3 (libsndfile's encoder: 320 kbit/s with a Xing header), the same length as a mono
// 22.05 kHz WAV (26 MB), and, when the lame program is installed, the stereo tone as a VBR MP3
// without a Xing/Info header (lame -V 6 -t), whose length only a count of its frames gives.
const Fixture& fixture() {
    static Fixture f = [] {
        Fixture x;
        x.dir = fs::temp_directory_path() / ("vorlr-media-bench-" + std::to_string(::getpid()));
        fs::create_directories(x.dir);
        const ToneSpec tone{kTenMinutes, 44100, 2, 440};
        auto wav = makeWavTone(tone);
        x.wavSize = static_cast<int32_t>(wav.size());
        x.wavArchive = (x.dir / "wav.qar").string();
        writeQar(x.wavArchive, {QarEntry{"LONG.WAV", wav, {}, {}, false}});
        auto mono = makeWavTone({kTenMinutes, 22050, 1, 440});
        x.monoSize = static_cast<int32_t>(mono.size());
        x.monoArchive = (x.dir / "mono.qar").string();
        writeQar(x.monoArchive, {QarEntry{"LONG.WAV", std::move(mono), {}, {}, false}});
        auto mp3 = makeMp3Tone(tone);
        x.mp3Size = static_cast<int32_t>(mp3.size());
        x.mp3Archive = (x.dir / "mp3.qar").string();
        writeQar(x.mp3Archive, {QarEntry{"LONG.MP3", std::move(mp3), {}, {}, false}});
        try {
            auto vbr = encodeWithLame(wav, {"-V", "6", "-t"});
            x.vbrSize = static_cast<int32_t>(vbr.size());
            x.vbrArchive = (x.dir / "vbr.qar").string();
            writeQar(x.vbrArchive, {QarEntry{"LONG.MP3", std::move(vbr), {}, {}, false}});
        } catch (const std::runtime_error&) {
            // No lame: the header-less cases report an error.
        }
        g_fixtureMade = true;
        return x;
    }();
    return f;
}

// The Media page inside a page control, as the window holds it.
struct Page {
    ViewerState state;
    StatusBar statusBar;
    QTabWidget pageControl;
    QWidget* tsMedia;
    std::unique_ptr<MediaPage> page;
    Page() {
        pageControl.addTab(new QWidget, "Text");
        pageControl.addTab(new QWidget, "Image");
        tsMedia = new QWidget;
        pageControl.addTab(tsMedia, "Media");
        page = std::make_unique<MediaPage>(tsMedia, PageContext{state, statusBar, pageControl});
    }
    // What a tree selection does before the viewer runs.
    void select(const std::string& archive, const std::string& ext, int32_t size) {
        state.archive.open(archive);
        state.ArchiveFile.seek(520);
        state.CurrentExtension = ext;
        state.CurrentEntrySize = size;
        page->tmMedia()->stop();
    }
};

enum class Entry { Mp3, Wav, MonoWav, VbrMp3 };

void selectEntry(Page& p, const Fixture& fx, Entry e) {
    switch (e) {
        case Entry::Mp3:
            p.select(fx.mp3Archive, "mp3", fx.mp3Size);
            break;
        case Entry::Wav:
            p.select(fx.wavArchive, "wav", fx.wavSize);
            break;
        case Entry::MonoWav:
            p.select(fx.monoArchive, "wav", fx.monoSize);
            break;
        case Entry::VbrMp3:
            p.select(fx.vbrArchive, "mp3", fx.vbrSize);
            break;
    }
}

// Selection (copy, open, start) until the output has been handed its first frames.
void selectToFirstFrames(benchmark::State& st, Entry entry) {
    const auto& fx = fixture();
    if (entry == Entry::VbrMp3 && fx.vbrArchive.empty()) {
        st.SkipWithError("lame is not installed");
        for (auto _ : st) {
        }
        return;
    }
    fs::current_path(fx.dir);
    ManualAudioOutputs outputs;
    setAudioOutputs(&outputs);
    Page p;
    for (auto _ : st) {
        selectEntry(p, fx, entry);
        p.page->ShowSoundEntry();
        outputs.advance(10);  // the output's first pull
        if (!outputs.last() || outputs.last()->bytesPulled() == 0) st.SkipWithError("no frames reached the output");
        st.PauseTiming();
        p.page->mediaPlayer()->control().Close();
        p.state.archive.close();
        st.ResumeTiming();
    }
    setAudioOutputs(nullptr);
}

void BM_SelectMp3ToFirstFrames(benchmark::State& st) { selectToFirstFrames(st, Entry::Mp3); }
void BM_SelectWavToFirstFrames(benchmark::State& st) { selectToFirstFrames(st, Entry::Wav); }
void BM_SelectMonoWavToFirstFrames(benchmark::State& st) {
    selectToFirstFrames(st, Entry::MonoWav);
}
void BM_SelectVbrMp3ToFirstFrames(benchmark::State& st) { selectToFirstFrames(st, Entry::VbrMp3); }
BENCHMARK(BM_SelectMp3ToFirstFrames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_SelectWavToFirstFrames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_SelectMonoWavToFirstFrames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_SelectVbrMp3ToFirstFrames)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

// Selection until the bar's range is the counted length (the count runs on a thread of its
// own while the sound starts; the UI thread only takes its result).
void selectToExactLength(benchmark::State& st, Entry entry) {
    const auto& fx = fixture();
    if (entry == Entry::VbrMp3 && fx.vbrArchive.empty()) {
        st.SkipWithError("lame is not installed");
        for (auto _ : st) {
        }
        return;
    }
    fs::current_path(fx.dir);
    ManualAudioOutputs outputs;
    setAudioOutputs(&outputs);
    Page p;
    for (auto _ : st) {
        selectEntry(p, fx, entry);
        p.page->ShowSoundEntry();
        outputs.advance(10);
        MediaDevice* dev = p.page->mediaPlayer()->control().device();
        // Waiting, not spinning: the count's thread runs below the UI thread's priority.
        QElapsedTimer t;
        t.start();
        QTimer guard;
        guard.start(100);
        while (dev && !dev->lengthExact() && t.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!dev || !dev->lengthExact() ||
            p.page->tbMedia()->maximum() != p.page->mediaPlayer()->control().Length())
            st.SkipWithError("the bar's range is not the counted length");
        st.PauseTiming();
        st.counters["length_ms"] = p.page->tbMedia()->maximum();
        p.page->mediaPlayer()->control().Close();
        p.state.archive.close();
        st.ResumeTiming();
    }
    setAudioOutputs(nullptr);
}

void BM_SelectMp3ToExactLength(benchmark::State& st) { selectToExactLength(st, Entry::Mp3); }
void BM_SelectVbrMp3ToExactLength(benchmark::State& st) { selectToExactLength(st, Entry::VbrMp3); }
BENCHMARK(BM_SelectMp3ToExactLength)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_SelectVbrMp3ToExactLength)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

// Plays a minute of the sound in 100 ms pulls plus a timer tick each: the longest single
// slice of UI-thread work is the figure that matters (max_slice_ms wall clock, max_slice_cpu_ms
// the thread's own CPU time, which other load on the machine does not inflate).
void playSlices(benchmark::State& st, bool mp3) {
    const auto& fx = fixture();
    fs::current_path(fx.dir);
    ManualAudioOutputs outputs;
    setAudioOutputs(&outputs);
    Page p;
    double worst = 0, worstCpu = 0, total = 0;
    int64_t slices = 0;
    for (auto _ : st) {
        p.select(mp3 ? fx.mp3Archive : fx.wavArchive, mp3 ? "mp3" : "wav", mp3 ? fx.mp3Size : fx.wavSize);
        p.page->ShowSoundEntry();
        for (int i = 0; i < 600; ++i) {
            const auto t0 = Clock::now();
            const double c0 = threadCpuMs();
            outputs.advance(100);
            p.page->tmMediaTimer();
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            worst = std::max(worst, ms);
            worstCpu = std::max(worstCpu, threadCpuMs() - c0);
            total += ms;
            ++slices;
        }
        p.page->mediaPlayer()->control().Close();
        p.state.archive.close();
    }
    st.counters["max_slice_ms"] = worst;
    st.counters["max_slice_cpu_ms"] = worstCpu;
    st.counters["mean_slice_ms"] = total / static_cast<double>(std::max<int64_t>(slices, 1));
    setAudioOutputs(nullptr);
}

void BM_PlayMp3Slices(benchmark::State& st) { playSlices(st, true); }
void BM_PlayWavSlices(benchmark::State& st) { playSlices(st, false); }
BENCHMARK(BM_PlayMp3Slices)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_PlayWavSlices)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The real output (PulseAudio): selection until the sink has pulled its first frames, and the
// longest decode call it made during two seconds of play. Skipped without an output device.
void realOutput(benchmark::State& st, bool mp3) {
    setAudioOutputs(nullptr);
    if (QMediaDevices::defaultAudioOutput().isNull()) {
        st.SkipWithError("no audio output device");
        for (auto _ : st) {
        }
        return;
    }
    const auto& fx = fixture();
    fs::current_path(fx.dir);
    Page p;
    for (auto _ : st) {
        QElapsedTimer t;
        t.start();
        p.select(mp3 ? fx.mp3Archive : fx.wavArchive, mp3 ? "mp3" : "wav", mp3 ? fx.mp3Size : fx.wavSize);
        p.page->ShowSoundEntry();
        MediaDevice* dev = p.page->mediaPlayer()->control().device();
        while (dev && dev->bytesDelivered() == 0 && t.elapsed() < 5000) QCoreApplication::processEvents();
        st.SetIterationTime(static_cast<double>(t.nsecsElapsed()) / 1e9);
        if (!dev || dev->bytesDelivered() == 0) st.SkipWithError("the output pulled nothing");
        p.page->mediaPlayer()->control().Close();
        p.state.archive.close();
    }
}

void BM_RealOutputMp3ToFirstFrames(benchmark::State& st) { realOutput(st, true); }
void BM_RealOutputWavToFirstFrames(benchmark::State& st) { realOutput(st, false); }
BENCHMARK(BM_RealOutputMp3ToFirstFrames)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_RealOutputWavToFirstFrames)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    Application app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::current_path(fs::temp_directory_path(), ec);
    if (g_fixtureMade) fs::remove_all(fixture().dir, ec);
    return 0;
}
