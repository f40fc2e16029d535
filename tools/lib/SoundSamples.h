#pragma once
// Sound fixtures made in code: sine tones written as WAV (16-bit PCM) or MP3 (MPEG layer III)
// through libsndfile, returned as bytes.
#include <cstdint>
#include <vector>

namespace vorlr::samples {

struct ToneSpec {
    int64_t milliseconds = 1000;
    int sampleRate = 44100;
    int channels = 1;
    double frequency = 440.0;
};

// A WAV file of exactly tone.milliseconds * sampleRate / 1000 frames.
std::vector<uint8_t> makeWavTone(const ToneSpec& tone);
// An MP3 file of about tone.milliseconds (the encoder adds padding of a few frames).
std::vector<uint8_t> makeMp3Tone(const ToneSpec& tone);

}  // namespace vorlr::samples
