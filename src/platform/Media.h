#pragma once
// The media layer: opens a sound file by name (the extension picks the decoder), plays it
// through an audio output while decoding on demand, and reports the end of playback as a
// queued call. Length and position are milliseconds. Everything runs on the UI thread, except
// the frame count of a large MP3 file, whose result is taken there as a queued call.
#include <QPointer>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QIODevice;

namespace vorlr {

enum class MediaMode { NotReady, Stopped, Playing, Paused };
enum class MediaNotice { Successful, Superseded, Aborted, Failure };

// Result codes of the media layer's commands; 0 is success.
enum MediaResult : uint32_t {
    kMediaOk = 0,
    kMediaNoDevice = 1,
    kMediaUnsupportedType = 2,
    kMediaCannotOpenFile = 3,
    kMediaBadWave = 4,
    kMediaBadMpeg = 5,
    kMediaUnsupportedFormat = 6,
    kMediaNoOutput = 7,
    kMediaOutputFailed = 8,
    kMediaNotPaused = 9,
    kMediaOutOfRange = 10,
};

// The text for a result code; empty when the layer has none for it.
std::string mediaErrorText(uint32_t code);

// Decoded sound as the output receives it: 16-bit signed samples, interleaved.
struct PcmFormat {
    int sampleRate = 0;
    int channels = 0;  // 1 or 2
    int bytesPerFrame() const { return 2 * channels; }
};

// Limits on what a file may ask for; anything outside is refused at open.
constexpr int kMaxFileChannels = 8;
constexpr int kMinSampleRate = 1000;
constexpr int kMaxSampleRate = 384000;

// A streaming decoder for one WAV file (libsndfile) or MP3 file (libmpg123, after libsndfile has
// recognised it). Reading goes on until the decoder gives no more, whatever the header claimed;
// frames() is the count known so far and becomes exact once the frames are counted or the end
// has been read.
class SoundDecoder {
public:
    enum class Kind { Wave, Mpeg };
    struct Impl;  // libsndfile or libmpg123 handle and the bytes it reads
    class PendingCount;
    ~SoundDecoder();
    SoundDecoder(const SoundDecoder&) = delete;
    SoundDecoder& operator=(const SoundDecoder&) = delete;

    // MP3 files up to this size are counted at open (a millisecond at most); larger ones are
    // counted by PendingCount, which may run on another thread.
    static constexpr int64_t kCountAtOpenBytes = 64 * 1024;

    // The kind for a file name's extension (compared without case); false when none fits.
    static bool kindForName(const std::string& fileName, Kind& kind);
    // Opens a file; returns 0 and sets decoder, or a result code.
    static uint32_t openFile(const std::string& path, Kind kind, std::unique_ptr<SoundDecoder>& decoder);
    // Opens bytes held in memory (copied).
    static uint32_t openMemory(const uint8_t* data, size_t size, Kind kind,
                               std::unique_ptr<SoundDecoder>& decoder);

    const PcmFormat& format() const { return format_; }
    int fileChannels() const { return fileChannels_; }
    // Never less than what has been read: an estimate grows while the sound plays past it.
    int64_t frames() const { return std::max(frames_, reached_); }
    bool framesExact() const { return exact_; }
    int64_t lengthMs() const;                        // clamped to 0..INT32_MAX
    int64_t framesToMs(int64_t frames) const;
    int64_t msToFrames(int64_t ms) const;
    // Next frame read() will return.
    int64_t framePosition() const { return next_; }
    // Decodes up to maxFrames frames of format() into out; 0 at the end or on a decode error.
    int64_t read(int16_t* out, int64_t maxFrames);
    // Moves to a frame (clamped to 0..frames()); false when the decoder cannot.
    bool seekFrame(int64_t frame);

    // The count still to be made, once (nullptr when the frames are known or cannot be counted).
    std::unique_ptr<PendingCount> takePendingCount();
    // Takes over a finished count: the counted decoder replaces this one at the same frame.
    // False when the count failed or came too late (the end was read first).
    bool adoptCount(PendingCount& count);

private:
    SoundDecoder();
    static uint32_t finishOpen(std::unique_ptr<Impl> impl, Kind kind,
                               std::unique_ptr<SoundDecoder>& decoder);
    std::unique_ptr<Impl> impl_;
    PcmFormat format_;
    int fileChannels_ = 0;
    int64_t frames_ = 0;
    bool exact_ = false;
    int64_t next_ = 0;
    // The furthest frame read so far. Reading that starts at a known frame (one read before, or
    // any frame once the count is exact) and finds the end has found the real end; a seek past
    // everything read to a guessed length may land beyond the real end, where nothing is known.
    int64_t reached_ = 0;
    bool runFromKnown_ = true;
    std::vector<int16_t> scratch_;
    std::unique_ptr<PendingCount> pending_;
};

// A full pass over an MP3 file's frames with a decoder of its own (libmpg123's scan). run() may
// be called on any one thread; cancel() from any thread makes a running pass end soon.
class SoundDecoder::PendingCount {
public:
    ~PendingCount();
    void run();
    void cancel() { cancelled_ = true; }
    bool succeeded() const { return ok_; }
    int64_t frames() const { return frames_; }
    struct Reader;  // the MP3 decoder it counts with, which then takes over the playback

private:
    friend class SoundDecoder;
    PendingCount();
    std::unique_ptr<Reader> reader_;
    std::atomic<bool> cancelled_{false};
    bool ok_ = false;
    int64_t frames_ = 0;
};

// Where decoded sound goes. A real output plays it; tests drive their own clock.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Starts pulling from source; false when the output cannot play.
    virtual bool start(QIODevice* source) = 0;
    virtual void suspend() = 0;
    virtual void resume() = 0;
    virtual void stop() = 0;
    // Bytes taken from the source but not yet heard.
    virtual int64_t pendingBytes() const = 0;
    // Called when the source gave no data on a pull (its end was reached).
    std::function<void()> onIdle;
    // Called when the output stopped by itself (device lost, server gone).
    std::function<void()> onFailed;
};

class AudioOutputFactory {
public:
    virtual ~AudioOutputFactory() = default;
    // An output for the format, or nullptr with error set (kMediaNoOutput, ...).
    virtual std::unique_ptr<AudioOutput> create(const PcmFormat& format, uint32_t& error) = 0;
};

// The factory in use: QAudioSink on the default output device until replaced; nullptr restores it.
AudioOutputFactory& audioOutputs();
void setAudioOutputs(AudioOutputFactory* factory);

// One opened sound: the player the control talks to.
class MediaDevice {
public:
    using NoticeFn = std::function<void(MediaNotice)>;

    // Opens fileName with the decoder its extension picks and an output from audioOutputs().
    static uint32_t open(const std::string& fileName, std::unique_ptr<MediaDevice>& device);
    // Closing: playback ends; a pending notice is reported as aborted.
    ~MediaDevice();
    MediaDevice(const MediaDevice&) = delete;
    MediaDevice& operator=(const MediaDevice&) = delete;

    int64_t lengthMs() const;
    int64_t positionMs() const;
    MediaMode mode() const { return mode_; }
    bool canPlay() const { return true; }
    bool canRecord() const { return false; }
    bool canEject() const { return false; }
    bool hasVideo() const { return false; }

    // Plays from the current position and returns at once; the notice goes to notify, as a
    // queued call on context, when playback ends, is cut off or is superseded.
    uint32_t play(QObject* context, NoticeFn notify);
    uint32_t pause();
    uint32_t resume(QObject* context, NoticeFn notify);
    uint32_t stop();
    uint32_t seek(int64_t ms);
    uint32_t seekToStart() { return seek(0); }

    // Bytes handed to the output since open (for measurements).
    int64_t bytesDelivered() const { return delivered_; }
    // Whether lengthMs() is final: the frames have been counted or the end has been read.
    bool lengthExact() const { return decoder_->framesExact(); }
    // Called from the event loop when lengthMs() has changed since open or since the last call
    // (a count arrived, or playback found the real end).
    std::function<void()> onLengthChanged;

private:
    class Stream;
    struct Counting;
    MediaDevice() = default;
    void startCount();
    void countDone();
    void reportLength();
    void queueLengthReport();
    int64_t currentFrame() const;
    void settle();  // stops the output and moves the decoder to the heard position
    void onOutputIdle();
    void onOutputFailed();
    void setNotice(QObject* context, NoticeFn notify);
    void postNotice(MediaNotice outcome);
    int64_t pull(char* data, int64_t maxBytes);

    std::unique_ptr<SoundDecoder> decoder_;
    std::unique_ptr<AudioOutput> output_;
    std::unique_ptr<Stream> stream_;
    MediaMode mode_ = MediaMode::Stopped;
    bool outputRunning_ = false;
    bool ended_ = false;
    int64_t frame_ = 0;       // heard position while the output is not running
    int64_t startFrame_ = 0;  // where the running output started
    int64_t delivered_ = 0;
    int64_t reportedLength_ = 0;
    bool lengthReportQueued_ = false;
    std::vector<int16_t> pullBuffer_;
    std::unique_ptr<Counting> counting_;
    QPointer<QObject> noticeContext_;
    NoticeFn notify_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vorlr
