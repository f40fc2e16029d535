#include "platform/Media.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QIODevice>
#include <QMetaObject>
#include <algorithm>
#include <climits>
#include <cstring>

namespace vorlr {

std::string mediaErrorText(uint32_t code) {
    switch (code) {
        case kMediaNoDevice: return "No sound is open";
        case kMediaUnsupportedType: return "There is no sound player for this type of file";
        case kMediaCannotOpenFile: return "The sound file cannot be opened";
        case kMediaBadWave: return "The file is not a valid wave sound file";
        case kMediaBadMpeg: return "The file is not a valid MPEG layer 3 sound file";
        case kMediaUnsupportedFormat:
            return "The sound's channel count or sample rate is not supported";
        case kMediaNoOutput: return "No audio output device is available";
        case kMediaOutputFailed: return "The audio output device could not be started";
        case kMediaNotPaused: return "The sound is not paused";
        case kMediaOutOfRange: return "The position is outside the sound";
        default: return {};
    }
}

// ---------------------------------------------------------------------------------------------
// Decoder

struct SoundDecoder::Impl {
    SNDFILE* sf = nullptr;
    SF_INFO info{};
    std::vector<uint8_t> bytes;  // the memory source, when not a file
    sf_count_t pos = 0;
    ~Impl() {
        if (sf) sf_close(sf);
    }
};

namespace {

using Impl = SoundDecoder::Impl;

sf_count_t memLength(void* user) { return static_cast<sf_count_t>(static_cast<Impl*>(user)->bytes.size()); }

sf_count_t memSeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<Impl*>(user);
    const sf_count_t size = memLength(user);
    sf_count_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? size : 0;
    // Hostile offsets must not overflow.
    if ((offset > 0 && base > LLONG_MAX - offset) || (offset < 0 && base < LLONG_MIN - offset)) return -1;
    const sf_count_t target = base + offset;
    if (target < 0) return -1;
    m->pos = target;
    return m->pos;
}

sf_count_t memRead(void* ptr, sf_count_t count, void* user) {
    auto* m = static_cast<Impl*>(user);
    const sf_count_t size = memLength(user);
    if (count <= 0 || m->pos >= size) return 0;
    const sf_count_t n = std::min(count, size - m->pos);
    std::memcpy(ptr, m->bytes.data() + m->pos, static_cast<size_t>(n));
    m->pos += n;
    return n;
}

sf_count_t memWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t memTell(void* user) { return static_cast<Impl*>(user)->pos; }

}  // namespace

SoundDecoder::SoundDecoder() = default;
SoundDecoder::~SoundDecoder() = default;

bool SoundDecoder::kindForName(const std::string& fileName, Kind& kind) {
    const auto slash = fileName.find_last_of('/');
    const auto dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string ext = fileName.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (ext == "wav") {
        kind = Kind::Wave;
        return true;
    }
    if (ext == "mp3") {
        kind = Kind::Mpeg;
        return true;
    }
    return false;
}

uint32_t SoundDecoder::openFile(const std::string& path, Kind kind,
                                std::unique_ptr<SoundDecoder>& decoder) {
    // Tell a missing or unreadable file apart from one the decoder rejects.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kMediaCannotOpenFile;
    ::close(fd);
    auto impl = std::make_unique<Impl>();
    impl->sf = sf_open(path.c_str(), SFM_READ, &impl->info);
    return finishOpen(std::move(impl), kind, decoder);
}

uint32_t SoundDecoder::openMemory(const uint8_t* data, size_t size, Kind kind,
                                  std::unique_ptr<SoundDecoder>& decoder) {
    auto impl = std::make_unique<Impl>();
    impl->bytes.assign(data, data + size);
    SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
    impl->sf = sf_open_virtual(&io, SFM_READ, &impl->info, impl.get());
    return finishOpen(std::move(impl), kind, decoder);
}

uint32_t SoundDecoder::finishOpen(std::unique_ptr<Impl> impl, Kind kind,
                                  std::unique_ptr<SoundDecoder>& decoder) {
    const uint32_t bad = kind == Kind::Wave ? kMediaBadWave : kMediaBadMpeg;
    if (!impl->sf) return bad;
    // The extension picks the player: a wave file named .mp3 is no MP3, and the other way round.
    const int major = impl->info.format & SF_FORMAT_TYPEMASK;
    const bool fits = kind == Kind::Wave ? (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX)
                                         : major == SF_FORMAT_MPEG;
    if (!fits) return bad;
    const SF_INFO& info = impl->info;
    if (info.channels < 1 || info.channels > kMaxFileChannels || info.samplerate < kMinSampleRate ||
        info.samplerate > kMaxSampleRate)
        return kMediaUnsupportedFormat;
    // No float-to-integer rescaling (SFC_SET_SCALE_FLOAT_INT_READ): it scans the whole file
    // for its peak at open, seconds for a long MP3. Float samples beyond full scale clip.

    std::unique_ptr<SoundDecoder> d(new SoundDecoder());
    d->fileChannels_ = info.channels;
    d->format_.sampleRate = info.samplerate;
    d->format_.channels = std::min(info.channels, 2);
    d->frames_ = std::max<sf_count_t>(info.frames, 0);
    d->impl_ = std::move(impl);
    decoder = std::move(d);
    return kMediaOk;
}

int64_t SoundDecoder::framesToMs(int64_t frames) const {
    const int64_t rate = format_.sampleRate;
    // Split to stay clear of overflow for absurd frame counts.
    const int64_t whole = frames / rate, rest = frames % rate;
    if (whole > INT32_MAX / 1000) return INT32_MAX;
    return std::min<int64_t>(whole * 1000 + rest * 1000 / rate, INT32_MAX);
}

int64_t SoundDecoder::msToFrames(int64_t ms) const {
    // Rounded up, so that framesToMs(msToFrames(ms)) == ms.
    const int64_t rate = format_.sampleRate;
    const int64_t whole = ms / 1000, rest = ms % 1000;
    if (whole > INT64_MAX / rate / 2) return frames_;
    return std::min(frames_, whole * rate + (rest * rate + 999) / 1000);
}

int64_t SoundDecoder::lengthMs() const { return framesToMs(frames_); }

int64_t SoundDecoder::read(int16_t* out, int64_t maxFrames) {
    const int64_t want = std::min(maxFrames, frames_ - next_);
    if (want <= 0) return 0;
    sf_count_t got = 0;
    if (fileChannels_ <= 2) {
        got = sf_readf_short(impl_->sf, out, want);
    } else {
        // Only the first two channels (front left and right) are played.
        const auto need = static_cast<size_t>(want) * static_cast<size_t>(fileChannels_);
        if (scratch_.size() < need) scratch_.resize(need);
        got = sf_readf_short(impl_->sf, scratch_.data(), want);
        for (sf_count_t i = 0; i < got; ++i) {
            out[2 * i] = scratch_[static_cast<size_t>(i * fileChannels_)];
            out[2 * i + 1] = scratch_[static_cast<size_t>(i * fileChannels_ + 1)];
        }
    }
    if (got <= 0) return 0;
    next_ += got;
    return got;
}

bool SoundDecoder::seekFrame(int64_t frame) {
    frame = std::clamp<int64_t>(frame, 0, frames_);
    if (frame == next_) return true;
    if (sf_seek(impl_->sf, frame, SEEK_SET) < 0) return false;
    next_ = frame;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Device

// What the output pulls from: decodes on demand, a slice at a time.
class MediaDevice::Stream : public QIODevice {
public:
    explicit Stream(MediaDevice* device) : device_(device) { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        if (device_->ended_) return QIODevice::bytesAvailable();
        const auto& d = *device_->decoder_;
        return (d.frames() - d.framePosition()) * d.format().bytesPerFrame() + QIODevice::bytesAvailable();
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
    device = std::move(d);
    return kMediaOk;
}

MediaDevice::~MediaDevice() {
    *alive_ = false;
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
    if (!outputRunning_) return frame_;
    const int64_t pending = std::max<int64_t>(output_->pendingBytes(), 0) / decoder_->format().bytesPerFrame();
    return std::max(startFrame_, decoder_->framePosition() - pending);
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
    if (frame_ >= decoder_->frames()) {  // nothing left to play
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
