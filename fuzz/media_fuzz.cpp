// Arbitrary bytes opened as a .wav and as a .mp3 through the sound decoder (no output).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/media/SoundDecoder.h"

using vorlr::SoundDecoder;

static void decode(const uint8_t* data, size_t size, SoundDecoder::Kind kind) {
    std::unique_ptr<SoundDecoder> d;
    if (SoundDecoder::openMemory(data, size, kind, d) != vorlr::kMediaOk) return;
    const auto& f = d->format();
    if (f.channels < 1 || f.channels > 2 || d->frames() < 0 || d->lengthMs() < 0 || d->lengthMs() > INT32_MAX)
        __builtin_trap();
    std::vector<int16_t> buf(1024 * 2);
    int64_t total = 0;
    bool ended = false;
    while (total < (int64_t{1} << 22)) {
        const int64_t n = d->read(buf.data(), 1024);
        if (n > 1024) __builtin_trap();
        if (n <= 0) {
            ended = true;
            break;
        }
        total += n;
    }
    if (total > d->frames()) __builtin_trap();
    // Read to its end, the sound's length is exactly what was read.
    if (ended && (!d->framesExact() || d->frames() != total)) __builtin_trap();
    // Seeking back into the sound and reading again must stay safe too.
    if (d->seekFrame(d->frames() / 2)) d->read(buf.data(), 1024);
    d->seekFrame(0);
    d->read(buf.data(), 1024);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decode(data, size, SoundDecoder::Kind::Wave);
    decode(data, size, SoundDecoder::Kind::Mpeg);
    return 0;
}
