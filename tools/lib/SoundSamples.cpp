#include "lib/SoundSamples.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

namespace vorlr::samples {
namespace {

// Growable in-memory file for libsndfile's virtual I/O.
struct MemoryFile {
    std::vector<uint8_t> bytes;
    sf_count_t pos = 0;
};

sf_count_t memLength(void* user) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes.size()); }

sf_count_t memSeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    sf_count_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? memLength(user) : 0;
    const sf_count_t target = base + offset;
    if (target < 0) return -1;
    m->pos = target;
    return m->pos;
}

sf_count_t memRead(void* ptr, sf_count_t count, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    const sf_count_t size = memLength(user);
    if (m->pos >= size || count <= 0) return 0;
    const sf_count_t n = std::min(count, size - m->pos);
    std::memcpy(ptr, m->bytes.data() + m->pos, static_cast<size_t>(n));
    m->pos += n;
    return n;
}

sf_count_t memWrite(const void* ptr, sf_count_t count, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    if (count <= 0) return 0;
    const auto end = static_cast<size_t>(m->pos + count);
    if (m->bytes.size() < end) m->bytes.resize(end);
    std::memcpy(m->bytes.data() + m->pos, ptr, static_cast<size_t>(count));
    m->pos += count;
    return count;
}

sf_count_t memTell(void* user) { return static_cast<MemoryFile*>(user)->pos; }

std::vector<uint8_t> writeTone(const ToneSpec& tone, int format) {
    if (tone.channels < 1 || tone.sampleRate < 1 || tone.milliseconds < 0)
        throw std::invalid_argument("bad tone");
    MemoryFile mem;
    SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
    SF_INFO info{};
    info.samplerate = tone.sampleRate;
    info.channels = tone.channels;
    info.format = format;
    SNDFILE* sf = sf_open_virtual(&io, SFM_WRITE, &info, &mem);
    if (!sf) throw std::runtime_error(std::string("sound writer: ") + sf_strerror(nullptr));
    const int64_t frames = tone.milliseconds * tone.sampleRate / 1000;
    constexpr int64_t kChunk = 4096;
    std::vector<short> buf(static_cast<size_t>(kChunk * tone.channels));
    const double step = 2.0 * M_PI * tone.frequency / tone.sampleRate;
    for (int64_t done = 0; done < frames;) {
        const int64_t n = std::min(kChunk, frames - done);
        for (int64_t i = 0; i < n; ++i) {
            const auto v = static_cast<short>(std::lround(12000.0 * std::sin(step * static_cast<double>(done + i))));
            for (int c = 0; c < tone.channels; ++c) buf[static_cast<size_t>(i * tone.channels + c)] = v;
        }
        if (sf_writef_short(sf, buf.data(), n) != n) {
            const std::string err = sf_strerror(sf);
            sf_close(sf);
            throw std::runtime_error("sound writer: " + err);
        }
        done += n;
    }
    sf_close(sf);
    return std::move(mem.bytes);
}

}  // namespace

std::vector<uint8_t> makeWavTone(const ToneSpec& tone) {
    return writeTone(tone, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
}

std::vector<uint8_t> makeMp3Tone(const ToneSpec& tone) {
    return writeTone(tone, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
}

}  // namespace vorlr::samples
