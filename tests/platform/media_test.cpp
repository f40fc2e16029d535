// The media layer: decoding by extension, lengths, hostile files, and playback on a driven clock
// and on a real output when one is reachable.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QAudioDevice>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <cstring>

#include "lib/QarBuilder.h"
#include "lib/SoundSamples.h"
#include "platform/media/AudioExit.h"
#include "platform/media/MediaDevice.h"
#include "support/ManualAudioOutput.h"
#include "support/CoreApp.h"
#include "support/TempDir.h"

using namespace vorlr;
using namespace vorlr::samples;
using vorlr::testing::TempDir;

namespace {

using vorlr::testing::drain;

QCoreApplication& app() { return vorlr::testing::coreApp("platform_media_test"); }

void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Decodes everything the decoder gives; returns frames.
int64_t decodeAll(SoundDecoder& d) {
    std::vector<int16_t> buf(4096 * 2);
    int64_t total = 0, n;
    while ((n = d.read(buf.data(), 4096)) > 0) total += n;
    return total;
}

// Runs queued calls, including those queued by queued calls.
uint32_t openDecoder(const std::vector<uint8_t>& bytes, SoundDecoder::Kind kind, std::unique_ptr<SoundDecoder>& d) {
    return SoundDecoder::openMemory(bytes.data(), bytes.size(), kind, d);
}

// What libsndfile reports for a file and delivers from it: frame count, then frames decoded.
std::pair<int64_t, int64_t> sndfileFrames(const std::string& path) {
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    if (!sf) return {-1, -1};
    std::vector<short> buf(4096 * static_cast<size_t>(info.channels));
    int64_t total = 0;
    for (sf_count_t n; (n = sf_readf_short(sf, buf.data(), 4096)) > 0;) total += n;
    sf_close(sf);
    return {info.frames, total};
}

class MediaFixture : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        setAudioOutputs(&outputs);
    }
    void TearDown() override { setAudioOutputs(nullptr); }
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir.file(name);
        writeFile(path, bytes);
        return path;
    }
    TempDir dir;
    ManualAudioOutputs outputs;
    // Playback notices arrive in the event loop, delivered to context; note records them.
    std::vector<MediaNotice> notices;
    QObject context;
    MediaDevice::NoticeFn note = [this](MediaNotice n) { notices.push_back(n); };
};

}  // namespace

TEST(SoundDecoderTest, WaveLengthsAreExact) {
    struct Case { int64_t ms; int rate; int channels; };
    for (const Case c : {Case{1000, 44100, 1}, Case{250, 44100, 2}, Case{1500, 8000, 1}, Case{3, 48000, 2}, Case{0, 22050, 1}}) {
        SCOPED_TRACE(c.ms);
        std::unique_ptr<SoundDecoder> d;
        ASSERT_EQ(openDecoder(makeWavTone({c.ms, c.rate, c.channels, 440}), SoundDecoder::Kind::Wave, d), kMediaOk);
        EXPECT_EQ(d->lengthMs(), c.ms);
        EXPECT_EQ(d->frames(), c.ms * c.rate / 1000);
        EXPECT_EQ(d->format().channels, c.channels);
        EXPECT_EQ(decodeAll(*d), d->frames());
    }
}

TEST(SoundDecoderTest, Mp3LengthWithin50msOfDecodedSound) {
    for (const int64_t ms : {700, 2500}) {
        SCOPED_TRACE(ms);
        std::unique_ptr<SoundDecoder> d;
        ASSERT_EQ(openDecoder(makeMp3Tone({ms, 44100, 2, 330}), SoundDecoder::Kind::Mpeg, d), kMediaOk);
        const int64_t decoded = decodeAll(*d);
        EXPECT_NEAR(d->lengthMs(), d->framesToMs(decoded), 50);
        EXPECT_NEAR(d->lengthMs(), ms, 50);
    }
}

// MP3 files as lame writes them, with and without the Xing/LAME header that carries the frame
// count and the encoder's delay and padding: the count made at open is what decoding delivers.
// libsndfile, which stops reading at its own count, delivers the same from files with a header
// and less from most without one.
TEST(SoundDecoderTest, Mp3CountAtOpenIsWhatDecodingDelivers) {
    TempDir dir;
    const auto stereo = makeWavTone({3000, 44100, 2, 440});
    const auto mono16 = makeWavTone({3000, 16000, 1, 440});
    const auto mono8 = makeWavTone({2500, 8000, 1, 440});
    enum Sndfile { Same, Fewer };
    struct Case {
        const char* what;
        const std::vector<uint8_t>& wav;
        std::vector<std::string> options;
        int64_t toneFrames;  // the encoder's input
        bool header, cut;
        Sndfile sndfile;
    };
    const std::vector<std::string> id3v2{"-V", "6", "-t", "--id3v2-only", "--tt", "Title"};
    const Case cases[] = {
        {"VBR, no header", stereo, {"-V", "6", "-t"}, 132300, false, false, Fewer},
        {"VBR, LAME header", stereo, {"-V", "6"}, 132300, true, false, Same},
        {"CBR, no header", stereo, {"-b", "128", "-t"}, 132300, false, false, Same},
        {"CBR, Info header", stereo, {"-b", "128"}, 132300, true, false, Same},
        {"ID3v2 tag, no header", stereo, id3v2, 132300, false, false, Fewer},
        {"MPEG-2 mono 16 kHz, no header", mono16, {"-V", "4", "-t"}, 48000, false, false, Fewer},
        {"MPEG-2.5 mono 8 kHz, LAME header", mono8, {"-V", "7"}, 20000, true, false, Same},
        {"cut in half, LAME header", stereo, {"-V", "6"}, 132300, true, true, Fewer},
        {"cut in half, no header", stereo, {"-V", "6", "-t"}, 132300, false, true, Fewer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto mp3 = encodeWithLame(c.wav, c.options);
        if (c.cut) mp3.resize(mp3.size() / 2);
        ASSERT_LE(static_cast<int64_t>(mp3.size()), SoundDecoder::kCountAtOpenBytes);
        std::unique_ptr<SoundDecoder> d;
        ASSERT_EQ(openDecoder(mp3, SoundDecoder::Kind::Mpeg, d), kMediaOk);
        ASSERT_TRUE(d->framesExact());
        EXPECT_EQ(d->takePendingCount(), nullptr);
        const int64_t counted = d->frames();
        EXPECT_EQ(decodeAll(*d), counted);
        EXPECT_EQ(d->frames(), counted);
        if (c.header && !c.cut) {
            EXPECT_EQ(counted, c.toneFrames);  // delay and padding trimmed
        }
        if (!c.header && !c.cut) {
            EXPECT_GE(counted, c.toneFrames);
            EXPECT_LT(counted, c.toneFrames + 3 * 1152);
        }
        writeFile(dir.file("TEMP.mp3"), mp3);
        const int64_t sndfileDecoded = sndfileFrames(dir.file("TEMP.mp3")).second;
        if (c.sndfile == Same) {
            EXPECT_EQ(sndfileDecoded, counted);
        } else {
            EXPECT_LT(sndfileDecoded, counted);
        }
    }
}

// An MP3 too large to count at open: its estimate stands until the count made aside is taken
// over; the counted decoder then goes on from the same frame, and seeks past the estimate work.
TEST(SoundDecoderTest, LargeMp3IsCountedAsideAndTheCountTakesOver) {
    const auto wav = makeWavTone({20000, 44100, 2, 440, 3000});
    struct Case {
        const char* what;
        std::vector<std::string> options;
        bool cut;
    };
    for (const Case& c : {Case{"VBR, no header", {"-V", "6", "-t"}, false},
                          Case{"cut short, LAME header", {"-V", "6"}, true}}) {
        SCOPED_TRACE(c.what);
        auto mp3 = encodeWithLame(wav, c.options);
        if (c.cut) mp3.resize(mp3.size() * 3 / 5);
        ASSERT_GT(static_cast<int64_t>(mp3.size()), SoundDecoder::kCountAtOpenBytes);
        std::unique_ptr<SoundDecoder> d;
        ASSERT_EQ(openDecoder(mp3, SoundDecoder::Kind::Mpeg, d), kMediaOk);
        EXPECT_FALSE(d->framesExact());
        const int64_t estimate = d->frames();
        auto count = d->takePendingCount();
        ASSERT_NE(count, nullptr);
        EXPECT_EQ(d->takePendingCount(), nullptr);  // handed out once
        std::vector<int16_t> second(44100 * 2);
        ASSERT_EQ(d->read(second.data(), 44100), 44100);
        count->run();
        ASSERT_TRUE(count->succeeded());
        const int64_t counted = count->frames();
        if (!c.cut) {
            EXPECT_LT(estimate, counted / 2);  // the header-less estimate is far short
        }
        ASSERT_TRUE(d->adoptCount(*count));
        EXPECT_TRUE(d->framesExact());
        EXPECT_EQ(d->frames(), counted);
        EXPECT_EQ(d->framePosition(), 44100);
        EXPECT_EQ(decodeAll(*d), counted - 44100);
        EXPECT_EQ(d->frames(), counted);
        ASSERT_TRUE(d->seekFrame(counted - 1000));
        EXPECT_EQ(decodeAll(*d), 1000);

        // Read to the end before the count is in: the end is exact, and the late count is not
        // taken.
        std::unique_ptr<SoundDecoder> e;
        ASSERT_EQ(openDecoder(mp3, SoundDecoder::Kind::Mpeg, e), kMediaOk);
        auto late = e->takePendingCount();
        ASSERT_NE(late, nullptr);
        const int64_t all = decodeAll(*e);
        EXPECT_TRUE(e->framesExact());
        EXPECT_EQ(e->frames(), all);
        if (!c.cut) {
            EXPECT_EQ(all, counted);
        }
        late->run();
        EXPECT_FALSE(e->adoptCount(*late));
        EXPECT_EQ(e->frames(), all);
    }
    // A cancelled count ends without a result.
    std::unique_ptr<SoundDecoder> d;
    const auto mp3 = encodeWithLame(wav, {"-V", "6", "-t"});
    ASSERT_EQ(openDecoder(mp3, SoundDecoder::Kind::Mpeg, d), kMediaOk);
    auto count = d->takePendingCount();
    ASSERT_NE(count, nullptr);
    count->cancel();
    count->run();
    EXPECT_FALSE(count->succeeded());
    EXPECT_FALSE(d->adoptCount(*count));
}

TEST(SoundDecoderTest, ExtensionPicksTheDecoderWithoutCase) {
    SoundDecoder::Kind k;
    EXPECT_TRUE(SoundDecoder::kindForName("TEMP.wav", k));
    EXPECT_EQ(k, SoundDecoder::Kind::Wave);
    EXPECT_TRUE(SoundDecoder::kindForName("dir.x/SONG.Mp3", k));
    EXPECT_EQ(k, SoundDecoder::Kind::Mpeg);
    EXPECT_FALSE(SoundDecoder::kindForName("TEMP.ogg", k));
    EXPECT_FALSE(SoundDecoder::kindForName("TEMP", k));
    EXPECT_FALSE(SoundDecoder::kindForName("dir.wav/TEMP", k));
    EXPECT_FALSE(SoundDecoder::kindForName("TEMP.wav.txt", k));
}

TEST(SoundDecoderTest, ContentMustMatchTheExtension) {
    std::unique_ptr<SoundDecoder> d;
    EXPECT_EQ(openDecoder(makeWavTone({200}), SoundDecoder::Kind::Mpeg, d), kMediaBadMpeg);
    EXPECT_EQ(openDecoder(makeMp3Tone({200}), SoundDecoder::Kind::Wave, d), kMediaBadWave);
    EXPECT_EQ(d, nullptr);
}

TEST(SoundDecoderTest, MoreThanTwoChannelsPlayTheFirstTwo) {
    std::unique_ptr<SoundDecoder> d;
    ASSERT_EQ(openDecoder(makeWavTone({100, 8000, 4, 440}), SoundDecoder::Kind::Wave, d), kMediaOk);
    EXPECT_EQ(d->fileChannels(), 4);
    EXPECT_EQ(d->format().channels, 2);
    std::vector<int16_t> buf(800 * 2);
    ASSERT_EQ(d->read(buf.data(), 800), 800);
    bool nonZero = false;
    for (int i = 0; i < 800; ++i) {
        EXPECT_EQ(buf[2 * i], buf[2 * i + 1]);  // the tone is the same on every channel
        nonZero = nonZero || buf[2 * i] != 0;
    }
    EXPECT_TRUE(nonZero);
}

TEST(SoundDecoderTest, SeekMovesTheNextFrame) {
    std::unique_ptr<SoundDecoder> d;
    ASSERT_EQ(openDecoder(makeWavTone({1000, 8000, 1, 440}), SoundDecoder::Kind::Wave, d), kMediaOk);
    ASSERT_TRUE(d->seekFrame(6000));
    EXPECT_EQ(decodeAll(*d), 2000);
    ASSERT_TRUE(d->seekFrame(99999));  // clamped to the end
    EXPECT_EQ(d->framePosition(), 8000);
    EXPECT_EQ(d->framesToMs(d->msToFrames(123)), 123);
}

TEST(SoundDecoderTest, HostileWaveHeadersEndInAnError) {
    const auto good = makeWavTone({500, 8000, 1, 440});
    ASSERT_EQ(std::memcmp(good.data() + 12, "fmt ", 4), 0);
    struct Damage { const char* what; size_t at; int bits; uint32_t value; };
    for (const Damage dm : {Damage{"zero channels", 22, 16, 0}, Damage{"many channels", 22, 16, 9},
                            Damage{"huge channels", 22, 16, 65535}, Damage{"rate 0", 24, 32, 0},
                            Damage{"huge rate", 24, 32, 0xFFFFFFFFu}}) {
        SCOPED_TRACE(dm.what);
        auto bytes = good;
        if (dm.bits == 16) put16(bytes, dm.at, static_cast<uint16_t>(dm.value)); else put32(bytes, dm.at, dm.value);
        std::unique_ptr<SoundDecoder> d;
        const uint32_t r = openDecoder(bytes, SoundDecoder::Kind::Wave, d);
        EXPECT_TRUE(r == kMediaBadWave || r == kMediaUnsupportedFormat) << r;
        EXPECT_EQ(d, nullptr);
    }
}

TEST(SoundDecoderTest, TruncatedAndForeignBytesNeverHang) {
    const auto wav = makeWavTone({1000, 8000, 1, 440});
    const auto mp3 = makeMp3Tone({1000, 22050, 1, 440});
    // Cut sound: opens with what is there, or is refused; decoding ends.
    for (const auto& [bytes, kind] : {std::pair{wav, SoundDecoder::Kind::Wave}, std::pair{mp3, SoundDecoder::Kind::Mpeg}}) {
        for (size_t cut : {size_t{0}, size_t{10}, size_t{44}, size_t{45}, bytes.size() / 2}) {
            std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
            std::unique_ptr<SoundDecoder> d;
            if (openDecoder(part, kind, d) == kMediaOk) {
                EXPECT_LE(decodeAll(*d), d->frames());
            }
        }
    }
    std::vector<uint8_t> text(5000);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>("Not a sound at all. "[i % 20]);
    std::unique_ptr<SoundDecoder> d;
    EXPECT_EQ(openDecoder(text, SoundDecoder::Kind::Wave, d), kMediaBadWave);
    // A wave header claiming far more data than the file holds.
    auto lying = wav;
    put32(lying, 40, 0x7FFFFFF0u);
    if (openDecoder(lying, SoundDecoder::Kind::Wave, d) == kMediaOk) {
        EXPECT_EQ(decodeAll(*d), 8000);
        EXPECT_LE(d->lengthMs(), INT32_MAX);
    }
}

// WAV headers whose data size is wrong: what the file holds is played, and Length is that much.
// A size that is too small or zero counts only when another chunk follows the data it claims.
TEST_F(MediaFixture, WaveWithAWrongDataSizePlaysWhatIsThere) {
    const auto good = makeWavTone({1000, 8000, 1, 440});  // 8000 frames, 16000 bytes from 44
    ASSERT_EQ(std::memcmp(good.data() + 36, "data", 4), 0);
    const auto list = bytesOf(std::string("LIST\x04\x00\x00\x00INFO", 12));
    struct Case {
        const char* what;
        uint32_t size;
        uint32_t riff;
        bool listAfter;
        size_t keep;
        int64_t frames;
    };
    const uint32_t rightRiff = static_cast<uint32_t>(good.size() - 8);
    for (const Case c : {Case{"right, a chunk follows", 16000, rightRiff, true, SIZE_MAX, 8000},
                         Case{"too large", 26000, rightRiff, false, SIZE_MAX, 8000},
                         Case{"far too large", 0xFFFFFFFFu, rightRiff, false, SIZE_MAX, 8000},
                         Case{"too small", 6000, rightRiff, false, SIZE_MAX, 8000},
                         Case{"zero", 0, rightRiff, false, SIZE_MAX, 8000},
                         Case{"zero, RIFF size 8", 0, 8, false, SIZE_MAX, 8000},
                         Case{"zero, header only", 0, 36, false, 44, 0},
                         Case{"too large, cut file", 16000, rightRiff, false, 44 + 5001, 2500}}) {
        SCOPED_TRACE(c.what);
        auto bytes = good;
        put32(bytes, 40, c.size);
        put32(bytes, 4, c.riff);
        if (c.listAfter) bytes.insert(bytes.end(), list.begin(), list.end());
        if (c.keep < bytes.size()) bytes.resize(c.keep);
        std::unique_ptr<SoundDecoder> d;
        ASSERT_EQ(openDecoder(bytes, SoundDecoder::Kind::Wave, d), kMediaOk);
        EXPECT_EQ(d->frames(), c.frames);
        EXPECT_EQ(decodeAll(*d), c.frames);

        std::unique_ptr<MediaDevice> dev;
        ASSERT_EQ(MediaDevice::open(write("TEMP.wav", bytes), dev), kMediaOk);
        EXPECT_EQ(dev->lengthMs(), c.frames / 8);
        notices.clear();
        dev->play(&context, note);
        outputs.advance(1500);
        drain();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0], MediaNotice::Successful);
        EXPECT_EQ(dev->positionMs(), dev->lengthMs());
        EXPECT_EQ(dev->lengthMs(), c.frames / 8);
        EXPECT_EQ(dev->bytesDelivered(), c.frames * 2);
    }
}

TEST_F(MediaFixture, OpenReportsClearErrors) {
    std::unique_ptr<MediaDevice> dev;
    EXPECT_EQ(MediaDevice::open(dir.file("MISSING.wav"), dev), kMediaCannotOpenFile);
    EXPECT_EQ(MediaDevice::open(write("TEMP.ogg", makeWavTone({100})), dev), kMediaUnsupportedType);
    EXPECT_EQ(MediaDevice::open(write("TEMP.wav", bytesOf("RIFF....WAVEjunk")), dev), kMediaBadWave);
    outputs.noDevice = true;
    EXPECT_EQ(MediaDevice::open(write("OK.wav", makeWavTone({100})), dev), kMediaNoOutput);
    EXPECT_EQ(dev, nullptr);
    for (uint32_t code : {kMediaNoDevice, kMediaUnsupportedType, kMediaCannotOpenFile, kMediaBadWave, kMediaBadMpeg,
                          kMediaUnsupportedFormat, kMediaNoOutput, kMediaOutputFailed, kMediaNotPaused, kMediaOutOfRange})
        EXPECT_FALSE(mediaErrorText(code).empty()) << code;
    EXPECT_EQ(mediaErrorText(kMediaOk), "");
    EXPECT_EQ(mediaErrorText(12345), "");
}

TEST_F(MediaFixture, PlaybackFollowsTheDrivenClock) {
    std::unique_ptr<MediaDevice> dev;
    ASSERT_EQ(MediaDevice::open(write("TEMP.wav", makeWavTone({1000, 8000, 1, 440})), dev), kMediaOk);
    EXPECT_EQ(dev->lengthMs(), 1000);
    EXPECT_EQ(dev->mode(), MediaMode::Stopped);

    ASSERT_EQ(dev->play(&context, note), kMediaOk);
    EXPECT_EQ(dev->mode(), MediaMode::Playing);
    EXPECT_EQ(dev->positionMs(), 0);  // play returns before anything is heard
    outputs.advance(250);
    EXPECT_EQ(dev->positionMs(), 250);

    EXPECT_EQ(dev->pause(), kMediaOk);
    EXPECT_EQ(dev->mode(), MediaMode::Paused);
    outputs.advance(300);
    EXPECT_EQ(dev->positionMs(), 250);
    EXPECT_EQ(dev->resume(&context, note), kMediaOk);
    outputs.advance(100);
    EXPECT_EQ(dev->positionMs(), 350);

    EXPECT_EQ(dev->stop(), kMediaOk);
    EXPECT_EQ(dev->mode(), MediaMode::Stopped);
    EXPECT_EQ(dev->positionMs(), 350);
    EXPECT_EQ(dev->resume(&context, note), kMediaNotPaused);
    outputs.advance(100);
    EXPECT_EQ(dev->positionMs(), 350);  // stopped: the clock moves nothing

    EXPECT_EQ(dev->seek(900), kMediaOk);
    EXPECT_EQ(dev->seek(1001), kMediaOutOfRange);
    EXPECT_EQ(dev->seek(-1), kMediaOutOfRange);
    ASSERT_EQ(dev->play(&context, note), kMediaOk);
    outputs.advance(50);
    EXPECT_EQ(dev->positionMs(), 950);
    // The decoded samples that reached the output are the tone, not silence.
    bool sound = false;
    for (char c : outputs.last()->lastChunk()) sound = sound || c != 0;
    EXPECT_TRUE(sound);

    QCoreApplication::processEvents();
    notices.clear();
    outputs.advance(200);  // past the end
    drain();
    EXPECT_EQ(dev->mode(), MediaMode::Stopped);
    EXPECT_EQ(dev->positionMs(), 1000);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], MediaNotice::Successful);
}

TEST_F(MediaFixture, NoticesAreQueuedAndReportCutsAndSupersession) {
    std::unique_ptr<MediaDevice> dev;
    ASSERT_EQ(MediaDevice::open(write("TEMP.mp3", makeMp3Tone({1000, 22050, 1, 440})), dev), kMediaOk);
    dev->play(&context, note);
    dev->play(&context, note);  // playing on; the first notice is superseded
    EXPECT_TRUE(notices.empty());  // queued, not called from inside play
    QCoreApplication::processEvents();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], MediaNotice::Superseded);
    outputs.advance(100);
    EXPECT_GT(dev->positionMs(), 50);
    dev.reset();  // closing cuts playback off
    QCoreApplication::processEvents();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1], MediaNotice::Aborted);
}

TEST_F(MediaFixture, NoticeToADestroyedContextIsDropped) {
    std::unique_ptr<MediaDevice> dev;
    ASSERT_EQ(MediaDevice::open(write("TEMP.wav", makeWavTone({100, 8000, 1, 440})), dev), kMediaOk);
    int calls = 0;
    {
        QObject context;
        dev->play(&context, [&](MediaNotice) { ++calls; });
        dev->stop();
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

TEST_F(MediaFixture, PlayingAtTheEndEndsAtOnce) {
    std::unique_ptr<MediaDevice> dev;
    ASSERT_EQ(MediaDevice::open(write("EMPTY.wav", makeWavTone({0, 8000, 1, 440})), dev), kMediaOk);
    EXPECT_EQ(dev->lengthMs(), 0);
    EXPECT_EQ(dev->play(&context, note), kMediaOk);
    EXPECT_EQ(dev->mode(), MediaMode::Stopped);
    QCoreApplication::processEvents();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], MediaNotice::Successful);
}

TEST_F(MediaFixture, OutputLostDuringPlayStopsWithAFailureNotice) {
    std::unique_ptr<MediaDevice> dev;
    ASSERT_EQ(MediaDevice::open(write("TEMP.wav", makeWavTone({1000, 8000, 1, 440})), dev), kMediaOk);
    dev->play(&context, note);
    outputs.advance(400);
    outputs.last()->fail();
    drain();
    EXPECT_EQ(dev->mode(), MediaMode::Stopped);
    EXPECT_EQ(dev->positionMs(), 400);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], MediaNotice::Failure);
    // It can be played again from there.
    EXPECT_EQ(dev->play(&context, note), kMediaOk);
    outputs.advance(100);
    EXPECT_EQ(dev->positionMs(), 500);
}

TEST_F(MediaFixture, RefusedOutputStartLeavesTheDeviceStopped) {
    std::unique_ptr<MediaDevice> dev;
    ASSERT_EQ(MediaDevice::open(write("TEMP.wav", makeWavTone({500, 8000, 1, 440})), dev), kMediaOk);
    outputs.failStart = true;
    EXPECT_EQ(dev->play(&context, [](MediaNotice) {}), kMediaOutputFailed);
    EXPECT_EQ(dev->mode(), MediaMode::Stopped);
    EXPECT_EQ(dev->positionMs(), 0);
}

// The real output: PulseAudio (a null sink under the test script). Skipped without a server.
TEST(MediaRealOutputTest, PlaysWaveAndMp3ToTheirEnd) {
    app();
    setAudioOutputs(nullptr);
    if (QMediaDevices::defaultAudioOutput().isNull()) GTEST_SKIP() << "no audio output device reachable";
    TempDir dir;
    const std::pair<std::string, std::vector<uint8_t>> files[] = {
        {"TEMP.wav", makeWavTone({1500, 44100, 2, 440})}, {"TEMP.mp3", makeMp3Tone({1500, 44100, 2, 440})}};
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        writeFile(dir.file(name), bytes);
        std::unique_ptr<MediaDevice> dev;
        ASSERT_EQ(MediaDevice::open(dir.file(name), dev), kMediaOk) << mediaErrorText(MediaDevice::open(dir.file(name), dev));
        std::vector<MediaNotice> notices;
        QObject context;
        QElapsedTimer clock;
        clock.start();
        ASSERT_EQ(dev->play(&context, [&](MediaNotice n) { notices.push_back(n); }), kMediaOk);
        EXPECT_LT(clock.elapsed(), 1000);  // play does not wait for the sound
        while (notices.empty() && clock.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0], MediaNotice::Successful);
        EXPECT_EQ(dev->mode(), MediaMode::Stopped);
        EXPECT_EQ(dev->positionMs(), dev->lengthMs());
        EXPECT_GE(dev->bytesDelivered(), int64_t{1490} * 44100 / 1000 * 4);  // the whole sound went out
        EXPECT_GE(clock.elapsed(), 1300);  // it took about as long as the sound lasts
    }
}

// The fault users met: an MP3 of variable bit rate without a Xing/Info header, whose frame
// count libsndfile only estimates (far too short). It plays through to its real end, and the
// count made while it plays makes Length what was played.
TEST(MediaRealOutputTest, VbrMp3WithoutHeaderPlaysToItsRealEnd) {
    app();
    setAudioOutputs(nullptr);
    if (QMediaDevices::defaultAudioOutput().isNull())
        GTEST_SKIP() << "no audio output device reachable";
    TempDir dir;
    const std::string path = dir.file("TEMP.mp3");
    const auto mp3 = encodeWithLame(makeWavTone({10000, 44100, 2, 440, 3000}), {"-V", "6", "-t"});
    ASSERT_GT(static_cast<int64_t>(mp3.size()), SoundDecoder::kCountAtOpenBytes);  // counted aside
    writeFile(path, mp3);
    std::unique_ptr<SoundDecoder> whole;
    ASSERT_EQ(SoundDecoder::openFile(path, SoundDecoder::Kind::Mpeg, whole), kMediaOk);
    const int64_t frames = decodeAll(*whole);
    EXPECT_LT(sndfileFrames(path).first, frames / 2);

    std::unique_ptr<MediaDevice> dev;
    ASSERT_EQ(MediaDevice::open(path, dev), kMediaOk);
    std::vector<MediaNotice> notices;
    QObject context;
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(dev->play(&context, [&](MediaNotice n) { notices.push_back(n); }), kMediaOk);
    while (notices.empty() && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], MediaNotice::Successful);
    EXPECT_TRUE(dev->lengthExact());
    EXPECT_EQ(dev->lengthMs(), whole->lengthMs());
    EXPECT_EQ(dev->positionMs(), dev->lengthMs());
    EXPECT_EQ(dev->bytesDelivered(), frames * 4);  // every frame went out
    EXPECT_GE(clock.elapsed(), 9500);              // and was played, not dropped
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    vorlr::ExitSkippingAudioTeardown(RUN_ALL_TESTS());
}
