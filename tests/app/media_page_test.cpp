// The Media page on the offscreen platform with a hand-driven audio output: ShowSoundEntry,
// the buttons under the mouse, the position bar and its timer, and the failure states.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QScrollArea>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <filesystem>

#include "app/MediaPage.h"
#include "app/MediaPlayer.h"
#include "app/StatusBar.h"
#include "lib/QarBuilder.h"
#include "lib/SoundSamples.h"
#include "platform/gui/Dialogs.h"
#include "support/ManualAudioOutput.h"
#include "support/CoreApp.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

using namespace vorlr;
using namespace vorlr::samples;
using vorlr::testing::ScopedCwd;
using vorlr::testing::TempDir;

namespace {

using vorlr::testing::drain;
using vorlr::testing::runUntil;

using vorlr::testing::RecordingDialogs;

// Hands out manual outputs and notes the scratch file's bytes whenever one is destroyed.
class WatchingOutputs : public AudioOutputFactory {
public:
    struct Watched : AudioOutput {
        Watched(std::unique_ptr<AudioOutput> inner, WatchingOutputs& owner) : inner_(std::move(inner)), owner_(owner) {
            inner_->onIdle = [this] {
                if (onIdle) onIdle();
            };
        }
        ~Watched() override {
            owner_.atClose.push_back(std::filesystem::exists("TEMP.wav") ? readFile("TEMP.wav") : std::vector<uint8_t>{});
        }
        bool start(QIODevice* s) override { return inner_->start(s); }
        void suspend() override { inner_->suspend(); }
        void resume() override { inner_->resume(); }
        void stop() override { inner_->stop(); }
        int64_t pendingBytes() const override { return inner_->pendingBytes(); }
        std::unique_ptr<AudioOutput> inner_;
        WatchingOutputs& owner_;
    };
    std::unique_ptr<AudioOutput> create(const PcmFormat& f, uint32_t& error) override {
        auto inner = manual.create(f, error);
        if (!inner) return nullptr;
        return std::make_unique<Watched>(std::move(inner), *this);
    }
    ManualAudioOutputs manual;
    std::vector<std::vector<uint8_t>> atClose;
};

// Runs the event loop for about ms of wall-clock time.
void runFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

class MediaPageTest : public ::testing::Test {
protected:
    MediaPageTest() : cwd(dir.path()) {
        setAudioOutputs(&outputs);
        setDialogs(&dialogs);
        for (const char* name : {"Text", "Image", "Media"}) {
            auto* page = new QWidget;
            pageControl.addTab(page, name);
        }
        tsMedia = pageControl.widget(2);
        page = std::make_unique<MediaPage>(tsMedia, PageContext{state, statusBar, pageControl});
        pageControl.setCurrentIndex(0);
    }
    ~MediaPageTest() override {
        page.reset();
        state.archive.close();
        setAudioOutputs(nullptr);
        setDialogs(nullptr);
    }
    MediaPlayerControl& mp() { return page->mediaPlayer()->control(); }
    QSlider& bar() { return *page->tbMedia(); }

    // What selecting a file node does before the viewer runs: the archive at the entry's data,
    // the current entry recorded, the sound timer off.
    void select(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string archive = "A" + std::to_string(++archives) + ".qar";
        writeQar(archive, {QarEntry{name, bytes, {}, {}, false}});
        state.archive.open(archive);
        state.ArchiveFile.seek(520);
        state.CurrentEntryName = name;
        std::string ext = name.substr(name.find('.') + 1);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        state.CurrentExtension = ext;
        state.CurrentEntrySize = static_cast<int32_t>(bytes.size());
        statusBar.setPanelText(3, "Type: not supported yet");
        page->tmMedia()->stop();
    }
    void show(const std::string& name, const std::vector<uint8_t>& bytes) {
        select(name, bytes);
        page->ShowSoundEntry();
    }
    // A left click on the visible button of that kind, through the widget.
    void click(TMPBtnType kind) {
        auto* w = page->mediaPlayer();
        const auto kinds = w->visibleKinds();
        const int i = static_cast<int>(std::find(kinds.begin(), kinds.end(), kind) - kinds.begin());
        const QPointF at = w->buttonRect(i).center();
        QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &press);
        QApplication::sendEvent(w, &release);
    }
    std::string look() {
        std::string s;
        s += mp().isUsable(btPlay) ? 'P' : '-';
        s += mp().isUsable(btPause) ? 'A' : '-';
        s += mp().isUsable(btStop) ? 'S' : '-';
        return s;
    }
    void tick() { page->tmMediaTimer(); }
    // The colour drawn inside the glyph of visible button i (left of centre misses no glyph).
    QColor glyphAt(int i) {
        auto* w = page->mediaPlayer();
        const QImage img = w->grab().toImage();
        const QPoint c = w->buttonRect(i).center();
        return img.pixelColor(c.x() - 3, c.y());
    }

    TempDir dir;
    ScopedCwd cwd;
    WatchingOutputs outputs;
    RecordingDialogs dialogs;
    ViewerState state;
    StatusBar statusBar;
    QTabWidget pageControl;
    QWidget* tsMedia = nullptr;
    std::unique_ptr<MediaPage> page;
    int archives = 0;
    const std::vector<uint8_t> second = makeWavTone({2000, 8000, 1, 300});
    const std::vector<uint8_t> first = makeWavTone({1000, 8000, 1, 440});
};

}  // namespace

TEST_F(MediaPageTest, ControlsStartAsLaidOut) {
    EXPECT_EQ(page->sbMedia()->geometry(), QRect(0, 60, 561, 431));
    EXPECT_EQ(page->mediaPlayer()->geometry(), QRect(10, 10, 151, 40));
    EXPECT_EQ(bar().geometry(), QRect(170, 10, 382, 40));
    EXPECT_EQ(bar().orientation(), Qt::Horizontal);
    EXPECT_EQ(bar().tickPosition(), QSlider::NoTicks);
    EXPECT_EQ(bar().minimum(), 0);
    EXPECT_EQ(bar().maximum(), 10);
    EXPECT_EQ(bar().value(), 0);
    EXPECT_EQ(page->tmMedia()->interval(), 100);
    EXPECT_FALSE(page->tmMedia()->isActive());
    // Three buttons of 51 pixels sharing their borders.
    auto* w = page->mediaPlayer();
    ASSERT_EQ(w->visibleKinds(), (std::vector<TMPBtnType>{btPlay, btPause, btStop}));
    EXPECT_EQ(w->buttonRect(0), QRect(0, 0, 51, 40));
    EXPECT_EQ(w->buttonRect(1), QRect(50, 0, 51, 40));
    EXPECT_EQ(w->buttonRect(2), QRect(100, 0, 51, 40));
    EXPECT_EQ(look(), "---");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(glyphAt(i), QColor(Qt::gray)) << i;
    // Tab order: sbMedia, MediaPlayer1, tbMedia.
    QWidget* next = page->sbMedia()->nextInFocusChain();
    while (next != w && next != &bar() && next != page->sbMedia()) next = next->nextInFocusChain();
    EXPECT_EQ(next, w);
}

TEST_F(MediaPageTest, WaveEntryIsCopiedTypedShownAndPlayed) {
    show("SOUND.WAV", first);
    EXPECT_EQ(readFile("TEMP.wav"), first);
    EXPECT_EQ(state.TempFileName, "TEMP.wav");
    EXPECT_EQ(mp().FileName, "TEMP.wav");
    EXPECT_EQ(statusBar.panelText(3), "Type: Microsoft wave sound file");
    EXPECT_EQ(pageControl.currentWidget(), tsMedia);
    EXPECT_EQ(bar().maximum(), 1000);
    EXPECT_EQ(bar().value(), 0);
    EXPECT_TRUE(page->tmMedia()->isActive());
    EXPECT_EQ(mp().Mode(), MediaMode::Playing);
    // Right after selection: Play usable, Pause and Stop grey.
    EXPECT_EQ(look(), "P--");
    EXPECT_NE(glyphAt(0), QColor(Qt::gray));
    EXPECT_EQ(glyphAt(1), QColor(Qt::gray));
    EXPECT_EQ(glyphAt(2), QColor(Qt::gray));
    outputs.manual.advance(300);
    tick();
    EXPECT_EQ(bar().value(), 300);
    // The timer itself moves the bar.
    outputs.manual.advance(200);
    runFor(250);
    EXPECT_EQ(bar().value(), 500);
    // Dragging the thumb moves only the thumb; the next tick puts it back.
    bar().setSliderDown(true);
    bar().setValue(900);
    bar().setSliderDown(false);
    EXPECT_EQ(mp().Position(), 500);
    EXPECT_EQ(mp().Mode(), MediaMode::Playing);
    tick();
    EXPECT_EQ(bar().value(), 500);
}

TEST_F(MediaPageTest, Mp3EntryGoesToItsOwnScratchFile) {
    const auto mp3 = makeMp3Tone({800, 22050, 1, 440});
    show("MUSIC.MP3", mp3);
    EXPECT_EQ(readFile("TEMP.mp3"), mp3);
    EXPECT_EQ(statusBar.panelText(3), "Type: MPEG layer 3 sound file");
    EXPECT_NEAR(bar().maximum(), 800, 50);
    EXPECT_EQ(mp().Mode(), MediaMode::Playing);
}

TEST_F(MediaPageTest, NewWaveWhileOnePlaysClosesTheFirstBeforeRewriting) {
    show("ONE.WAV", first);
    outputs.manual.advance(400);
    tick();
    ASSERT_EQ(bar().value(), 400);
    show("TWO.WAV", second);
    ASSERT_EQ(outputs.atClose.size(), 1u);
    EXPECT_EQ(outputs.atClose[0], first);  // still the first sound when its device closed
    EXPECT_EQ(readFile("TEMP.wav"), second);
    EXPECT_EQ(outputs.manual.outputs().size(), 1u);
    EXPECT_EQ(bar().maximum(), 2000);
    EXPECT_EQ(bar().value(), 0);
    outputs.manual.advance(100);
    drain();  // the first sound's late notice finds the second one playing
    tick();
    EXPECT_EQ(bar().value(), 100);
    EXPECT_EQ(look(), "P--");
    EXPECT_EQ(mp().Mode(), MediaMode::Playing);
}

TEST_F(MediaPageTest, StopDuringAPressedPlayPutsBarAndSoundToTheStart) {
    show("SOUND.WAV", first);
    click(btPlay);
    EXPECT_EQ(look(), "-AS");
    outputs.manual.advance(600);
    tick();
    ASSERT_EQ(bar().value(), 600);
    click(btStop);
    EXPECT_EQ(bar().value(), 0);
    EXPECT_EQ(mp().Position(), 0);
    EXPECT_EQ(mp().Mode(), MediaMode::Stopped);
    EXPECT_EQ(look(), "P--");
    outputs.manual.advance(300);
    drain();
    tick();
    EXPECT_EQ(bar().value(), 0);  // and stays there
    click(btPlay);
    outputs.manual.advance(100);
    tick();
    EXPECT_EQ(bar().value(), 100);
}

TEST_F(MediaPageTest, PlayedToTheEndTheBarStaysRightAndPlayStartsOver) {
    show("SOUND.WAV", first);
    outputs.manual.advance(1500);
    drain();
    tick();
    EXPECT_EQ(bar().value(), 1000);
    EXPECT_EQ(look(), "P--");
    EXPECT_TRUE(page->tmMedia()->isActive());  // it keeps polling
    click(btPlay);
    EXPECT_EQ(look(), "-AS");
    outputs.manual.advance(200);
    tick();
    EXPECT_EQ(bar().value(), 200);
}

// An MP3 counted while it plays: the bar's range starts at the estimate and widens to the real
// length when the count arrives; played to its end, the bar stands at its right end.
TEST_F(MediaPageTest, BarWidensWhenTheCountArrivesAndEndsAtItsRight) {
    show("LONG.MP3", encodeWithLame(makeWavTone({20000, 44100, 2, 440, 3000}), {"-V", "6", "-t"}));
    const int estimate = bar().maximum();
    EXPECT_EQ(estimate, mp().Length());
    EXPECT_LT(estimate, 10000);
    ASSERT_TRUE(runUntil([&] { return mp().device()->lengthExact(); }));
    EXPECT_GT(bar().maximum(), 19900);
    EXPECT_EQ(bar().maximum(), mp().Length());
    outputs.manual.advance(21000);
    drain();
    tick();
    EXPECT_EQ(mp().Position(), mp().Length());
    EXPECT_EQ(bar().value(), bar().maximum());
    click(btPlay);
    outputs.manual.advance(200);
    tick();
    EXPECT_EQ(bar().value(), 200);
}

TEST_F(MediaPageTest, PauseTwiceThenPlaysOn) {
    show("SOUND.WAV", first);
    click(btPlay);
    outputs.manual.advance(300);
    click(btPause);
    outputs.manual.advance(300);
    tick();
    EXPECT_EQ(bar().value(), 300);
    EXPECT_EQ(look(), "PAS");
    click(btPause);
    outputs.manual.advance(100);
    tick();
    EXPECT_EQ(bar().value(), 400);
    EXPECT_EQ(mp().Mode(), MediaMode::Playing);
}

TEST_F(MediaPageTest, GreyButtonsAndReleasesOffTheButtonDoNothing) {
    show("SOUND.WAV", first);
    click(btStop);  // grey right after selection
    EXPECT_EQ(mp().Mode(), MediaMode::Playing);
    auto* w = page->mediaPlayer();
    const QPointF on = w->buttonRect(0).center(), off(w->width() + 20.0, 5.0);
    QMouseEvent press(QEvent::MouseButtonPress, on, w->mapToGlobal(on), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, off, w->mapToGlobal(off), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, off, w->mapToGlobal(off), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    EXPECT_EQ(w->pressedIndex(), 0);
    QApplication::sendEvent(w, &move);
    QApplication::sendEvent(w, &release);
    EXPECT_EQ(w->pressedIndex(), -1);
    EXPECT_EQ(look(), "P--");  // no Play press happened
    w->grab();                 // painting every state must not fail
}

TEST_F(MediaPageTest, AnotherEntrySelectedWhilePlayingLeavesTheSoundOnAndTheBarStill) {
    show("SOUND.WAV", first);
    outputs.manual.advance(200);
    tick();
    // A text entry is selected: the selection stops the timer and the text page comes up.
    page->tmMedia()->stop();
    pageControl.setCurrentIndex(0);
    outputs.manual.advance(300);
    runFor(250);
    EXPECT_EQ(bar().value(), 200);
    EXPECT_EQ(mp().Mode(), MediaMode::Playing);
    EXPECT_EQ(mp().Position(), 500);
    // The buttons on the Media page still work.
    pageControl.setCurrentWidget(tsMedia);
    click(btPlay);
    click(btPause);
    EXPECT_EQ(mp().Mode(), MediaMode::Paused);
}

TEST_F(MediaPageTest, FailedOpenLeavesPageBarAndTimerAndRaises) {
    show("SOUND.WAV", first);
    outputs.manual.advance(300);
    tick();
    page->tmMedia()->stop();
    pageControl.setCurrentIndex(0);
    const auto junk = bytesOf(std::string(300, 'x'));
    select("BROKEN.WAV", junk);
    try {
        page->ShowSoundEntry();
        ADD_FAILURE() << "no exception";
    } catch (const EMCIDeviceError& e) {
        EXPECT_EQ(std::string(e.what()), mediaErrorText(kMediaBadWave));
    }
    EXPECT_FALSE(mp().isOpen());
    EXPECT_TRUE(outputs.manual.outputs().empty());  // the previous sound was closed
    EXPECT_EQ(look(), "---");
    EXPECT_EQ(statusBar.panelText(3), "Type: Microsoft wave sound file");
    EXPECT_EQ(bar().maximum(), 1000);
    EXPECT_EQ(bar().value(), 300);
    EXPECT_EQ(pageControl.currentIndex(), 0);
    EXPECT_FALSE(page->tmMedia()->isActive());
    EXPECT_EQ(readFile("TEMP.wav"), junk);  // the scratch file stays
}

TEST_F(MediaPageTest, RefusedPlayIsOnlyRecorded) {
    outputs.manual.failStart = true;
    EXPECT_NO_THROW(show("SOUND.WAV", first));
    EXPECT_NE(mp().LastMciResult(), 0u);
    EXPECT_EQ(pageControl.currentWidget(), tsMedia);
    EXPECT_EQ(bar().value(), 0);
    EXPECT_EQ(look(), "P--");
    EXPECT_EQ(mp().Mode(), MediaMode::Stopped);
}

TEST_F(MediaPageTest, NoAudioDeviceIsAClearError) {
    outputs.manual.noDevice = true;
    select("MUSIC.MP3", makeMp3Tone({300, 22050, 1, 440}));
    try {
        page->ShowSoundEntry();
        ADD_FAILURE() << "no exception";
    } catch (const EMCIDeviceError& e) {
        EXPECT_STREQ(e.what(), "No audio output device is available");
    }
    EXPECT_EQ(statusBar.panelText(3), "Type: MPEG layer 3 sound file");
    EXPECT_EQ(look(), "---");
}

TEST_F(MediaPageTest, FailedCopyEndsAfterClosingTheOldSound) {
    show("SOUND.WAV", first);
    std::filesystem::remove("TEMP.mp3");
    std::filesystem::create_directory("TEMP.mp3");  // cannot be created as a file
    select("MUSIC.MP3", makeMp3Tone({300, 22050, 1, 440}));
    EXPECT_THROW(page->ShowSoundEntry(), FileError);
    EXPECT_FALSE(mp().isOpen());
    EXPECT_EQ(look(), "---");
    EXPECT_EQ(statusBar.panelText(3), "Type: not supported yet");
}
