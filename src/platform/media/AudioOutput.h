#pragma once
// Where decoded sound goes: the output the media layer plays through, and the factory that makes
// one per opened sound (QAudioSink on the default device, or one that tests put in its place).
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/media/Media.h"

class QIODevice;

namespace vorlr {

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

}  // namespace vorlr
