#include "support/ManualAudioOutput.h"

#include <QCoreApplication>
#include <algorithm>

namespace vorlr {

std::unique_ptr<AudioOutput> ManualAudioOutputs::create(const PcmFormat& format, uint32_t& error) {
    if (noDevice) {
        error = kMediaNoOutput;
        return nullptr;
    }
    error = kMediaOk;
    return std::make_unique<ManualAudioOutput>(*this, format);
}

void ManualAudioOutputs::advance(int64_t ms) {
    // Copy: an idle report may close a device and so remove its output.
    const auto now = outputs_;
    for (auto* o : now)
        if (std::find(outputs_.begin(), outputs_.end(), o) != outputs_.end()) o->advance(ms);
}

ManualAudioOutput::ManualAudioOutput(ManualAudioOutputs& owner, const PcmFormat& format)
    : owner_(owner), format_(format) {
    owner_.outputs_.push_back(this);
}

ManualAudioOutput::~ManualAudioOutput() {
    if (owner_.runEventsOnStop) QCoreApplication::processEvents();
    auto& v = owner_.outputs_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
}

bool ManualAudioOutput::start(QIODevice* source) {
    if (owner_.failStart) return false;
    source_ = source;
    suspended_ = false;
    ++starts_;
    return true;
}

void ManualAudioOutput::stop() {
    source_ = nullptr;
    suspended_ = false;
    if (owner_.runEventsOnStop) QCoreApplication::processEvents();
}

void ManualAudioOutput::advance(int64_t ms) {
    if (!running() || ms <= 0) return;
    int64_t want = ms * format_.sampleRate / 1000 * format_.bytesPerFrame();
    bool idle = false;
    while (want > 0 && source_) {
        chunk_.resize(static_cast<size_t>(want));
        const qint64 got = source_->read(chunk_.data(), want);
        ++pulls_;
        if (got <= 0) {
            chunk_.clear();
            idle = true;
            break;
        }
        chunk_.resize(static_cast<size_t>(got));
        pulled_ += got;
        want -= got;
    }
    if (idle && onIdle) onIdle();
}

}  // namespace vorlr

namespace vorlr {

void ManualAudioOutput::fail() {
    if (!source_) return;
    source_ = nullptr;
    suspended_ = false;
    if (onFailed) onFailed();
}

}  // namespace vorlr
