#pragma once
// One opened sound: opens a sound file by name (the extension picks the decoder), plays it
// through an audio output while decoding on demand, and reports the end of playback as a
// queued call. Length and position are milliseconds. Everything runs on the UI thread, except
// the frame count of a large MP3 file, whose result is taken there as a queued call.
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/AudioOutput.h"
#include "platform/media/Media.h"
#include "platform/media/SoundDecoder.h"

namespace vorlr {

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
