// The real audio output: QAudioSink on the default output device, pulling from the stream.
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <algorithm>

#include "platform/media/AudioOutput.h"

namespace vorlr {
namespace {

class SinkOutput final : public AudioOutput {
public:
    SinkOutput(const QAudioDevice& device, const QAudioFormat& format) : sink_(device, format) {
        // About 200 ms ahead: enough against underruns, small enough for a close position.
        sink_.setBufferSize(format.bytesForDuration(200000));
        QObject::connect(&sink_, &QAudioSink::stateChanged, &sink_, [this](QAudio::State state) {
            try {
                if (state == QAudio::IdleState && onIdle) onIdle();
                // Our own stop() leaves no error; anything else stopped the sink from outside.
                if (state == QAudio::StoppedState && sink_.error() != QAudio::NoError && onFailed) onFailed();
            } catch (...) {
                // Nothing may cross the sink's signal; the end is then simply not reported.
            }
        });
    }
    ~SinkOutput() override {
        QObject::disconnect(&sink_, nullptr, nullptr, nullptr);
        sink_.stop();
    }
    bool start(QIODevice* source) override {
        sink_.start(source);
        return sink_.error() == QAudio::NoError && sink_.state() != QAudio::StoppedState;
    }
    void suspend() override { sink_.suspend(); }
    void resume() override { sink_.resume(); }
    void stop() override { sink_.stop(); }
    int64_t pendingBytes() const override {
        if (sink_.state() == QAudio::StoppedState) return 0;
        return std::max<int64_t>(sink_.bufferSize() - sink_.bytesFree(), 0);
    }

private:
    QAudioSink sink_;
};

class SinkFactory final : public AudioOutputFactory {
public:
    std::unique_ptr<AudioOutput> create(const PcmFormat& pcm, uint32_t& error) override {
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull() || QMediaDevices::audioOutputs().isEmpty()) {
            error = kMediaNoOutput;
            return nullptr;
        }
        QAudioFormat format;
        format.setSampleRate(pcm.sampleRate);
        format.setChannelCount(pcm.channels);
        format.setSampleFormat(QAudioFormat::Int16);
        if (!device.isFormatSupported(format)) {
            error = kMediaUnsupportedFormat;
            return nullptr;
        }
        error = kMediaOk;
        return std::make_unique<SinkOutput>(device, format);
    }
};

AudioOutputFactory* g_factory = nullptr;

}  // namespace

AudioOutputFactory& audioOutputs() {
    static SinkFactory real;
    return g_factory ? *g_factory : real;
}

void setAudioOutputs(AudioOutputFactory* factory) { g_factory = factory; }

}  // namespace vorlr
