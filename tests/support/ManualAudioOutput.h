#pragma once
// An audio output whose clock is advanced by hand: nothing is heard, the stream is pulled as
// if time passed. For tests and measurements.
#include <QIODevice>
#include <vector>

#include "platform/media/AudioOutput.h"

namespace vorlr {

class ManualAudioOutput;

class ManualAudioOutputs final : public AudioOutputFactory {
public:
    std::unique_ptr<AudioOutput> create(const PcmFormat& format, uint32_t& error) override;

    // Moves every running output's clock on by ms, pulling that much sound.
    void advance(int64_t ms);
    // Outputs alive now (in creation order).
    const std::vector<ManualAudioOutput*>& outputs() const { return outputs_; }
    ManualAudioOutput* last() const { return outputs_.empty() ? nullptr : outputs_.back(); }
    // Simulates a machine without an audio device: create() fails with kMediaNoOutput.
    bool noDevice = false;
    // Makes start() fail.
    bool failStart = false;
    // Runs pending events inside stop() and on destruction, as some real sinks do.
    bool runEventsOnStop = false;

private:
    friend class ManualAudioOutput;
    std::vector<ManualAudioOutput*> outputs_;
};

class ManualAudioOutput final : public AudioOutput {
public:
    ManualAudioOutput(ManualAudioOutputs& owner, const PcmFormat& format);
    ~ManualAudioOutput() override;
    bool start(QIODevice* source) override;
    void suspend() override { suspended_ = true; }
    void resume() override { suspended_ = false; }
    void stop() override;
    int64_t pendingBytes() const override { return 0; }

    void advance(int64_t ms);
    // The device goes away under a running output.
    void fail();
    bool running() const { return source_ && !suspended_; }
    bool suspended() const { return suspended_; }
    const PcmFormat& format() const { return format_; }
    int64_t bytesPulled() const { return pulled_; }
    int64_t pulls() const { return pulls_; }
    int64_t starts() const { return starts_; }
    // Samples of the latest pull (for checks on what was decoded).
    const std::vector<char>& lastChunk() const { return chunk_; }

private:
    ManualAudioOutputs& owner_;
    PcmFormat format_;
    QIODevice* source_ = nullptr;
    bool suspended_ = false;
    int64_t pulled_ = 0, pulls_ = 0, starts_ = 0;
    std::vector<char> chunk_;
};

}  // namespace vorlr
