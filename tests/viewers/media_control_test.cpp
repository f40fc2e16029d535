// MediaPlayer1's state machine on a hand-driven audio output: guards, button sets, the click
// sequence, end-of-playback notices (late ones included) and closing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "lib/QarBuilder.h"
#include "lib/SoundSamples.h"
#include "platform/gui/Dialogs.h"
#include "support/ManualAudioOutput.h"
#include "support/CoreApp.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"
#include "viewers/player/MediaPlayerControl.h"

using namespace vorlr;
using namespace vorlr::samples;
using vorlr::testing::TempDir;

namespace {

using vorlr::testing::drain;
using vorlr::testing::runUntil;

using vorlr::testing::RecordingDialogs;

QCoreApplication& app() { return vorlr::testing::coreApp("viewers_media_control_test"); }

// Reports a code the layer has no text for.
struct OddFactory : AudioOutputFactory {
    std::unique_ptr<AudioOutput> create(const PcmFormat&, uint32_t& error) override {
        error = 4711;
        return nullptr;
    }
};

// The visible buttons as the user sees them: P(lay) A(pause) S(top), '-' when grey.
std::string look(const MediaPlayerControl& mp) {
    std::string s;
    s += mp.isUsable(btPlay) ? 'P' : '-';
    s += mp.isUsable(btPause) ? 'A' : '-';
    s += mp.isUsable(btStop) ? 'S' : '-';
    return s;
}

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        setAudioOutputs(&outputs);
        setDialogs(&dialogs);
        mp.VisibleButtons = {btPlay, btPause, btStop};
        mp.OnRedraw = [this] { ++redraws; };
        wav = dir.file("TEMP.wav");
        writeFile(wav, makeWavTone({1000, 8000, 1, 440}));
    }
    void TearDown() override {
        setAudioOutputs(nullptr);
        setDialogs(nullptr);
    }
    // The page's click handler: Stop puts the sound back to the start.
    void seekOnStop() {
        mp.OnClick = [](MediaPlayerControl& sender, TMPBtnType b, bool&) {
            if (b == btStop) sender.SetPosition(0);
        };
    }
    void openWav() {
        mp.FileName = wav;
        mp.Open();
    }

    TempDir dir;
    ManualAudioOutputs outputs;
    RecordingDialogs dialogs;
    MediaPlayerControl mp;
    std::string wav;
    int redraws = 0;
};

}  // namespace

TEST_F(ControlTest, WithoutADeviceOperationsRaiseAndQueriesYieldNothing) {
    EXPECT_FALSE(mp.isOpen());
    EXPECT_EQ(mp.DeviceID(), 0);
    EXPECT_EQ(look(mp), "---");
    const std::vector<std::pair<const char*, std::function<void()>>> guarded = {
        {"Length", [&] { mp.Length(); }},       {"Play", [&] { mp.Play(); }},
        {"Pause", [&] { mp.Pause(); }},         {"Stop", [&] { mp.Stop(); }},
        {"Resume", [&] { mp.Resume(); }},       {"Rewind", [&] { mp.Rewind(); }},
        {"Eject", [&] { mp.Eject(); }},         {"Position :=", [&] { mp.SetPosition(0); }}};
    for (const auto& [name, op] : guarded) {
        SCOPED_TRACE(name);
        try {
            op();
            ADD_FAILURE() << "no exception";
        } catch (const EMCIDeviceError& e) {
            EXPECT_STREQ(e.what(), "No MCI device open");
        }
    }
    EXPECT_EQ(mp.Position(), 0);
    EXPECT_EQ(mp.Mode(), MediaMode::NotReady);
    const int before = redraws;
    mp.Close();  // nothing is sent
    EXPECT_EQ(redraws, before);
    // A grey button does not react at all.
    bool clicked = false;
    mp.OnClick = [&](MediaPlayerControl&, TMPBtnType, bool&) { clicked = true; };
    mp.press(btPlay);
    EXPECT_FALSE(clicked);
}

TEST_F(ControlTest, FailedOpenRaisesTheLayersTextAndLeavesNoDevice) {
    openWav();
    ASSERT_TRUE(mp.isOpen());
    mp.FileName = dir.file("MISSING.mp3");
    try {
        mp.Open();
        ADD_FAILURE() << "no exception";
    } catch (const EMCIDeviceError& e) {
        EXPECT_EQ(std::string(e.what()), mediaErrorText(kMediaCannotOpenFile));
    }
    EXPECT_FALSE(mp.isOpen());  // the previous device was closed first
    EXPECT_EQ(mp.DeviceID(), 0);
    EXPECT_EQ(mp.LastMciResult(), kMediaCannotOpenFile);
    EXPECT_EQ(look(mp), "---");
    EXPECT_TRUE(outputs.outputs().empty());

    OddFactory odd;
    setAudioOutputs(&odd);
    mp.FileName = wav;
    try {
        mp.Open();
        ADD_FAILURE() << "no exception";
    } catch (const EMCIDeviceError& e) {
        EXPECT_STREQ(e.what(), "Unknown error code");
    }
    EXPECT_EQ(mp.LastMciResult(), 4711u);
}

TEST_F(ControlTest, OpenMakesOnlyPlayUsableAndTheSystemsPlayKeepsIt) {
    openWav();
    EXPECT_TRUE(mp.isOpen());
    EXPECT_NE(mp.DeviceID(), 0);
    EXPECT_EQ(mp.Length(), 1000);
    EXPECT_EQ(mp.LastMciResult(), 0u);
    EXPECT_EQ(look(mp), "P--");
    EXPECT_GT(redraws, 0);
    mp.Play();  // not a press: the buttons stay
    EXPECT_EQ(mp.Mode(), MediaMode::Playing);
    EXPECT_EQ(look(mp), "P--");
    outputs.advance(300);
    EXPECT_EQ(mp.Position(), 300);
    // Pressing Play while playing goes on from the current position.
    mp.press(btPlay);
    EXPECT_EQ(look(mp), "-AS");
    outputs.advance(100);
    EXPECT_EQ(mp.Position(), 400);
    // Hidden kinds are never pressable.
    EXPECT_FALSE(mp.isUsable(btEject));
    EXPECT_FALSE(mp.isUsable(btRecord));
}

TEST_F(ControlTest, PauseTwicePausesThenPlaysOnFromTheSamePoint) {
    openWav();
    mp.press(btPlay);
    outputs.advance(200);
    mp.press(btPause);
    EXPECT_EQ(mp.Mode(), MediaMode::Paused);
    EXPECT_EQ(look(mp), "PAS");
    outputs.advance(500);
    EXPECT_EQ(mp.Position(), 200);
    mp.press(btPause);
    EXPECT_EQ(mp.Mode(), MediaMode::Playing);
    EXPECT_EQ(look(mp), "PAS");
    outputs.advance(100);
    EXPECT_EQ(mp.Position(), 300);
    // Play while paused plays on too.
    mp.press(btPause);
    mp.press(btPlay);
    EXPECT_EQ(mp.Mode(), MediaMode::Playing);
    EXPECT_EQ(look(mp), "-AS");
    outputs.advance(100);
    EXPECT_EQ(mp.Position(), 400);
}

TEST_F(ControlTest, StopDuringAPressedPlayGoesBackToTheStart) {
    seekOnStop();
    openWav();
    mp.press(btPlay);
    outputs.advance(600);
    mp.press(btStop);
    EXPECT_EQ(mp.Mode(), MediaMode::Stopped);
    EXPECT_EQ(mp.Position(), 0);
    EXPECT_EQ(look(mp), "P--");
    drain();  // the aborted notice changes nothing more
    EXPECT_EQ(look(mp), "P--");
    EXPECT_EQ(mp.NotifyValue(), TMPNotifyValues::nvAborted);
    outputs.advance(300);
    EXPECT_EQ(mp.Position(), 0);
    mp.press(btPlay);
    outputs.advance(100);
    EXPECT_EQ(mp.Position(), 100);
}

TEST_F(ControlTest, PlayingToTheEndThenPlayStartsAgainFromTheStart) {
    openWav();
    mp.press(btPlay);
    outputs.advance(1200);
    drain();
    EXPECT_EQ(mp.Mode(), MediaMode::Stopped);
    EXPECT_EQ(mp.Position(), mp.Length());
    EXPECT_EQ(look(mp), "P--");
    EXPECT_EQ(mp.NotifyValue(), TMPNotifyValues::nvSuccessful);
    mp.press(btPlay);  // rewinds first, since Position equals Length
    EXPECT_EQ(mp.Mode(), MediaMode::Playing);
    outputs.advance(50);
    EXPECT_EQ(mp.Position(), 50);
}

// The sound users heard cut off: a VBR MP3 without a header, large enough to be counted while
// it plays. Length starts as the estimate and grows once, when the count is taken over; the
// whole sound plays, Position equals Length at the end, and Play starts it over. A position
// past the old estimate is outside the sound until the count arrives, and inside afterwards.
TEST_F(ControlTest, VbrMp3WithoutHeaderPlaysToItsEndWhereLengthIsPosition) {
    const std::string mp3 = dir.file("TEMP.mp3");
    writeFile(mp3, encodeWithLame(makeWavTone({20000, 44100, 2, 440, 3000}), {"-V", "6", "-t"}));
    std::unique_ptr<SoundDecoder> whole;
    ASSERT_EQ(SoundDecoder::openFile(mp3, SoundDecoder::Kind::Mpeg, whole), kMediaOk);
    std::vector<int16_t> buf(8192);
    int64_t frames = 0;
    for (int64_t n; (n = whole->read(buf.data(), 4096)) > 0;) frames += n;

    int changes = 0;
    mp.OnLengthChange = [&] { ++changes; };
    mp.FileName = mp3;
    mp.Open();
    const int32_t estimate = mp.Length();
    ASSERT_GT(estimate, 1000);
    ASSERT_LT(estimate, 10000);
    mp.SetPosition(estimate + 1000);
    EXPECT_EQ(mp.LastMciResult(), kMediaOutOfRange);
    mp.press(btPlay);
    outputs.advance(1000);
    EXPECT_EQ(mp.Length(), estimate);
    ASSERT_TRUE(runUntil([&] { return mp.device()->lengthExact(); }));
    EXPECT_EQ(changes, 1);
    const int32_t length = mp.Length();
    EXPECT_EQ(length, whole->lengthMs());
    EXPECT_EQ(mp.Position(), 1000);
    outputs.advance(25000);
    drain();
    EXPECT_EQ(mp.Mode(), MediaMode::Stopped);
    EXPECT_EQ(mp.Position(), mp.Length());
    EXPECT_EQ(mp.Length(), length);
    EXPECT_EQ(changes, 1);  // the end is where the count said
    EXPECT_EQ(outputs.last()->bytesPulled(), frames * 4);
    EXPECT_EQ(look(mp), "P--");
    EXPECT_EQ(mp.NotifyValue(), TMPNotifyValues::nvSuccessful);
    mp.press(btPlay);
    outputs.advance(100);
    EXPECT_EQ(mp.Position(), 100);

    mp.SetPosition(length - 500);  // past the old estimate
    EXPECT_EQ(mp.LastMciResult(), 0u);
    EXPECT_EQ(mp.Position(), length - 500);
    mp.Play();  // Play stays grey while the pressed Play goes on
    outputs.advance(1000);
    drain();
    EXPECT_EQ(mp.Mode(), MediaMode::Stopped);
    EXPECT_EQ(mp.Position(), length);
}

TEST_F(ControlTest, LengthZeroRewindsAndEndsAtOnce) {
    writeFile(wav, makeWavTone({0, 8000, 1, 440}));
    openWav();
    EXPECT_EQ(mp.Length(), 0);
    mp.press(btPlay);
    EXPECT_EQ(look(mp), "-AS");
    drain();
    EXPECT_EQ(mp.Mode(), MediaMode::Stopped);
    EXPECT_EQ(look(mp), "P--");
}

TEST_F(ControlTest, ClickSequenceRunsOnClickFirstAndHonoursDoDefault) {
    openWav();
    std::vector<std::string> events;
    mp.OnClick = [&](MediaPlayerControl& sender, TMPBtnType b, bool& doDefault) {
        events.push_back("click " + std::to_string(b) + (sender.Mode() == MediaMode::Playing ? " playing" : " stopped"));
        EXPECT_TRUE(doDefault);
    };
    mp.OnPostClick = [&] { events.push_back("post"); };
    mp.press(btPlay);
    ASSERT_EQ(events, (std::vector<std::string>{"click 0 stopped", "post"}));

    events.clear();
    mp.OnClick = [&](MediaPlayerControl&, TMPBtnType, bool& doDefault) {
        events.push_back("click");
        doDefault = false;
    };
    mp.press(btPause);
    EXPECT_EQ(events, std::vector<std::string>{"click"});  // no action, no post-click
    EXPECT_EQ(mp.Mode(), MediaMode::Playing);
}

TEST_F(ControlTest, RefusedPlayLeavesTheButtonsAsTheyWere) {
    openWav();
    outputs.failStart = true;
    mp.press(btPlay);
    EXPECT_NE(mp.LastMciResult(), 0u);
    EXPECT_EQ(mp.Mode(), MediaMode::Stopped);
    EXPECT_EQ(look(mp), "P--");
}

TEST_F(ControlTest, ALateNoticeAsksTheDeviceOpenNow) {
    openWav();
    mp.press(btPlay);  // the first sound plays with its notice pending
    outputs.advance(100);
    const std::string second = dir.file("SECOND.wav");
    writeFile(second, makeWavTone({2000, 8000, 1, 440}));
    mp.FileName = second;
    mp.Open();  // closes the first device: its notice (aborted) is queued
    EXPECT_EQ(outputs.outputs().size(), 1u);
    mp.press(btPlay);
    EXPECT_EQ(look(mp), "-AS");
    drain();
    // The notice about the first sound found the second one playing: nothing changed.
    EXPECT_EQ(mp.NotifyValue(), TMPNotifyValues::nvAborted);
    EXPECT_EQ(look(mp), "-AS");
    EXPECT_EQ(mp.Mode(), MediaMode::Playing);
    EXPECT_EQ(mp.Length(), 2000);
}

TEST_F(ControlTest, NoticesHandledWhileAnOutputClosesFindTheDeviceGone) {
    outputs.runEventsOnStop = true;
    openWav();
    mp.press(btPlay);
    mp.Play();  // a superseded notice is now queued
    outputs.advance(100);
    mp.Close();  // the notices run inside the output's shutdown
    EXPECT_FALSE(mp.isOpen());
    EXPECT_EQ(look(mp), "---");
    EXPECT_EQ(mp.NotifyValue(), TMPNotifyValues::nvAborted);
    // A Close from inside the device's own stop is carried out after it.
    openWav();
    mp.press(btPlay);
    int closes = 0;
    mp.OnNotify = [&] {
        if (closes++ == 0) mp.Close();
    };
    mp.Play();  // queues a superseded notice
    mp.Stop();  // the stop runs it: the notice closes the device
    EXPECT_FALSE(mp.isOpen());
    drain();
    EXPECT_EQ(look(mp), "---");
    EXPECT_TRUE(outputs.outputs().empty());
}

TEST_F(ControlTest, SetPositionOutOfRangeIsOnlyRecorded) {
    openWav();
    mp.SetPosition(5000);
    EXPECT_EQ(mp.LastMciResult(), kMediaOutOfRange);
    mp.SetPosition(700);
    EXPECT_EQ(mp.LastMciResult(), 0u);
    EXPECT_EQ(mp.Position(), 700);
    mp.Rewind();
    EXPECT_EQ(mp.Position(), 0);
}

TEST_F(ControlTest, WithoutAutoEnableTheEnabledSetRules) {
    mp.AutoEnable = false;
    mp.EnabledButtons = {btPlay, btStop};
    EXPECT_EQ(look(mp), "P-S");
    // With no device the press reaches the action, which raises.
    EXPECT_THROW(mp.press(btPlay), EMCIDeviceError);
}

TEST(ControlLifetimeTest, DestroyingTheControlClosesItsDeviceQuietly) {
    app();
    ManualAudioOutputs outputs;
    setAudioOutputs(&outputs);
    TempDir dir;
    writeFile(dir.file("TEMP.mp3"), makeMp3Tone({500, 22050, 1, 440}));
    {
        MediaPlayerControl mp;
        mp.FileName = dir.file("TEMP.mp3");
        mp.Open();
        mp.Play();
        outputs.advance(100);
        EXPECT_EQ(outputs.outputs().size(), 1u);
    }
    EXPECT_TRUE(outputs.outputs().empty());
    drain();  // the notice for the closed device has nobody to go to
    setAudioOutputs(nullptr);
}
