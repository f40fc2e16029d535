#pragma once
// The media layer's common terms: result codes and their texts, the decoded sound's format, and
// the modes and notices of a playing sound. The layer itself: SoundDecoder (decoding),
// AudioOutput (where the sound goes), MediaDevice (one opened sound).
#include <cstdint>
#include <string>

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

}  // namespace vorlr
