#include "platform/media/MediaDevice.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QIODevice>
#include <QMetaObject>
#include <algorithm>
#include <system_error>
#include <thread>

namespace vorlr {

// What the output pulls from: decodes on demand, a slice at a time.
class MediaDevice::Stream : public QIODevice {
public:
    explicit Stream(MediaDevice* device) : device_(device) { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        if (device_->ended_) return QIODevice::bytesAvailable();
        const auto& d = *device_->decoder_;
        int64_t left = std::max<int64_t>(d.frames() - d.framePosition(), 0);
        if (!d.framesExact())
            left = std::max<int64_t>(left, d.format().sampleRate);  // more may come
        return left * d.format().bytesPerFrame() + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 maxlen) override { return device_->pull(data, maxlen); }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    MediaDevice* device_;
};

uint32_t MediaDevice::open(const std::string& fileName, std::unique_ptr<MediaDevice>& device) {
    SoundDecoder::Kind kind;
    if (!SoundDecoder::kindForName(fileName, kind)) return kMediaUnsupportedType;
    std::unique_ptr<SoundDecoder> decoder;
    if (const uint32_t r = SoundDecoder::openFile(fileName, kind, decoder)) return r;
    uint32_t error = kMediaNoOutput;
    auto output = audioOutputs().create(decoder->format(), error);
    if (!output) return error ? error : kMediaNoOutput;
    std::unique_ptr<MediaDevice> d(new MediaDevice());
    d->decoder_ = std::move(decoder);
    d->output_ = std::move(output);
    d->stream_ = std::make_unique<Stream>(d.get());
    d->output_->onIdle = [dev = d.get()] { dev->onOutputIdle(); };
    d->output_->onFailed = [dev = d.get()] { dev->onOutputFailed(); };
    d->reportedLength_ = d->lengthMs();
    d->startCount();
    device = std::move(d);
    return kMediaOk;
}

// A frame count running on a thread of its own.
struct MediaDevice::Counting {
    std::unique_ptr<SoundDecoder::PendingCount> count;
    std::thread thread;
};

void MediaDevice::startCount() {
    auto count = decoder_->takePendingCount();
    if (!count) return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        count->run();
        decoder_->adoptCount(*count);
        return;
    }
    auto counting = std::make_unique<Counting>();
    SoundDecoder::PendingCount* job = count.get();
    counting->count = std::move(count);
    try {
        counting->thread = std::thread([this, job, app, alive = std::weak_ptr<bool>(alive_)] {
            // Below the UI thread, which decodes what is heard, when the cores are busy.
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
            try {
                job->run();
                // The result is taken on the UI thread, unless the device is gone by then.
                QMetaObject::invokeMethod(
                    app,
                    [this, alive] {
                        const auto token = alive.lock();
                        if (token && *token) countDone();
                    },
                    Qt::QueuedConnection);
            } catch (...) {
                // No count: the length becomes exact when playback reaches the end.
            }
        });
    } catch (const std::system_error&) {
        return;  // no thread to be had: the same
    }
    counting_ = std::move(counting);
}

void MediaDevice::countDone() {
    if (!counting_) return;
    if (counting_->thread.joinable()) counting_->thread.join();
    decoder_->adoptCount(*counting_->count);
    counting_.reset();
    reportLength();
}

void MediaDevice::reportLength() {
    lengthReportQueued_ = false;
    const int64_t now = lengthMs();
    if (now == reportedLength_) return;
    reportedLength_ = now;
    if (onLengthChanged) onLengthChanged();
}

void MediaDevice::queueLengthReport() {
    if (lengthReportQueued_) return;
    if (!QCoreApplication::instance()) {
        reportLength();
        return;
    }
    lengthReportQueued_ = true;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [this, alive = std::weak_ptr<bool>(alive_)] {
            const auto token = alive.lock();
            if (token && *token) reportLength();
        },
        Qt::QueuedConnection);
}

MediaDevice::~MediaDevice() {
    *alive_ = false;
    if (counting_) {
        counting_->count->cancel();
        if (counting_->thread.joinable()) counting_->thread.join();
    }
    output_->onIdle = nullptr;
    output_->onFailed = nullptr;
    if (outputRunning_) {
        outputRunning_ = false;
        output_->stop();
    }
    if (notify_) postNotice(MediaNotice::Aborted);
    output_.reset();  // before the stream it reads from
    stream_.reset();
}

int64_t MediaDevice::lengthMs() const { return decoder_->lengthMs(); }

int64_t MediaDevice::currentFrame() const {
    // Within the length even when a count arrives shorter than a guess stopped at.
    if (!outputRunning_) return std::min(frame_, decoder_->frames());
    const int64_t pending = std::max<int64_t>(output_->pendingBytes(), 0) / decoder_->format().bytesPerFrame();
    return std::min(std::max(startFrame_, decoder_->framePosition() - pending), decoder_->frames());
}

int64_t MediaDevice::positionMs() const { return decoder_->framesToMs(currentFrame()); }

int64_t MediaDevice::pull(char* data, int64_t maxBytes) {
    if (!outputRunning_ || ended_) return 0;
    const int bpf = decoder_->format().bytesPerFrame();
    // A slice of at most a quarter second keeps each call short on the UI thread.
    const int64_t frames = std::min<int64_t>(maxBytes / bpf, std::max(decoder_->format().sampleRate / 4, 1));
    if (frames <= 0) return 0;
    // Decoded into our own buffer: the output's may not be aligned for 16-bit samples.
    const auto samples = static_cast<size_t>(frames) * static_cast<size_t>(decoder_->format().channels);
    if (pullBuffer_.size() < samples) pullBuffer_.resize(samples);
    const int64_t got = decoder_->read(pullBuffer_.data(), frames);
    // The length changes when the end is found, or while playback passes an estimate.
    if (decoder_->lengthMs() != reportedLength_) queueLengthReport();
    if (got <= 0) {
        ended_ = true;
        return 0;
    }
    std::memcpy(data, pullBuffer_.data(), static_cast<size_t>(got * bpf));
    delivered_ += got * bpf;
    return got * bpf;
}

void MediaDevice::settle() {
    if (!outputRunning_) return;
    frame_ = currentFrame();
    output_->stop();
    outputRunning_ = false;
}

void MediaDevice::onOutputIdle() {
    if (!outputRunning_ || !ended_) return;  // a short underrun, not the end
    // Handled after the output's own signal has returned.
    auto finish = [this, alive = std::weak_ptr<bool>(alive_)] {
        const auto token = alive.lock();
        if (!token || !*token || !outputRunning_ || !ended_) return;
        output_->stop();
        outputRunning_ = false;
        frame_ = decoder_->frames();
        mode_ = MediaMode::Stopped;
        reportLength();
        postNotice(MediaNotice::Successful);
    };
    if (QCoreApplication::instance())
        QMetaObject::invokeMethod(QCoreApplication::instance(), finish, Qt::QueuedConnection);
    else
        finish();
}

void MediaDevice::onOutputFailed() {
    if (!outputRunning_) return;
    // Playback was cut off from outside: stopped where it was, with a failure notice.
    auto fail = [this, alive = std::weak_ptr<bool>(alive_)] {
        const auto token = alive.lock();
        if (!token || !*token || !outputRunning_) return;
        settle();
        mode_ = MediaMode::Stopped;
        postNotice(MediaNotice::Failure);
    };
    if (QCoreApplication::instance())
        QMetaObject::invokeMethod(QCoreApplication::instance(), fail, Qt::QueuedConnection);
    else
        fail();
}

void MediaDevice::setNotice(QObject* context, NoticeFn notify) {
    if (notify_) postNotice(MediaNotice::Superseded);
    noticeContext_ = context;
    notify_ = std::move(notify);
}

void MediaDevice::postNotice(MediaNotice outcome) {
    NoticeFn fn = std::move(notify_);
    notify_ = nullptr;
    QObject* context = noticeContext_.data();
    noticeContext_ = nullptr;
    if (!fn || !context) return;
    QMetaObject::invokeMethod(context, [fn = std::move(fn), outcome] { fn(outcome); }, Qt::QueuedConnection);
}

uint32_t MediaDevice::play(QObject* context, NoticeFn notify) {
    setNotice(context, std::move(notify));
    if (mode_ == MediaMode::Playing) return kMediaOk;  // plays on from where it is
    if (mode_ == MediaMode::Paused) {
        output_->resume();
        mode_ = MediaMode::Playing;
        return kMediaOk;
    }
    frame_ = std::min(frame_, decoder_->frames());
    if (frame_ >= decoder_->frames() && decoder_->framesExact()) {  // nothing left to play
        postNotice(MediaNotice::Successful);
        return kMediaOk;
    }
    if (!decoder_->seekFrame(frame_)) {
        postNotice(MediaNotice::Failure);
        return kMediaOutputFailed;
    }
    ended_ = false;
    startFrame_ = frame_;
    outputRunning_ = true;
    mode_ = MediaMode::Playing;
    if (!output_->start(stream_.get())) {
        outputRunning_ = false;
        mode_ = MediaMode::Stopped;
        postNotice(MediaNotice::Failure);
        return kMediaOutputFailed;
    }
    return kMediaOk;
}

uint32_t MediaDevice::pause() {
    if (mode_ == MediaMode::Playing) {
        output_->suspend();
        mode_ = MediaMode::Paused;
    }
    return kMediaOk;
}

uint32_t MediaDevice::resume(QObject* context, NoticeFn notify) {
    if (mode_ != MediaMode::Paused) return kMediaNotPaused;
    setNotice(context, std::move(notify));
    output_->resume();
    mode_ = MediaMode::Playing;
    return kMediaOk;
}

uint32_t MediaDevice::stop() {
    if (mode_ == MediaMode::Playing || mode_ == MediaMode::Paused) {
        settle();
        mode_ = MediaMode::Stopped;
    }
    if (notify_) postNotice(MediaNotice::Aborted);
    return kMediaOk;
}

uint32_t MediaDevice::seek(int64_t ms) {
    if (ms < 0 || ms > lengthMs()) return kMediaOutOfRange;
    settle();
    mode_ = MediaMode::Stopped;
    if (notify_) postNotice(MediaNotice::Aborted);
    frame_ = ms == lengthMs() ? decoder_->frames() : decoder_->msToFrames(ms);
    return kMediaOk;
}

}  // namespace vorlr
