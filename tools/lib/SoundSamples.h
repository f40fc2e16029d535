#pragma once
// Sound fixtures made in code: sine tones written as WAV (16-bit PCM) or MP3 (MPEG layer III)
// through libsndfile, returned as bytes; and MP3 files made by the lame encoder from them.
#include <cstdint>
#include <string>
#include <vector>

namespace vorlr::samples {

struct ToneSpec {
    int64_t milliseconds = 1000;
    int sampleRate = 44100;
    int channels = 1;
    double frequency = 440.0;
    // Peak of a hiss added to the tone (the same every time), which makes MP3 frames larger.
    int noise = 0;
};

// A WAV file of exactly tone.milliseconds * sampleRate / 1000 frames.
std::vector<uint8_t> makeWavTone(const ToneSpec& tone);
// An MP3 file of about tone.milliseconds (the encoder adds padding of a few frames).
std::vector<uint8_t> makeMp3Tone(const ToneSpec& tone);
// A WAV file encoded by the `lame` program with the given options (for example {"-V", "6", "-t"}:
// variable bit rate, no Xing/Info header). Throws std::runtime_error when lame fails or is missing.
std::vector<uint8_t> encodeWithLame(const std::vector<uint8_t>& wav,
                                    const std::vector<std::string>& options);

}  // namespace vorlr::samples
