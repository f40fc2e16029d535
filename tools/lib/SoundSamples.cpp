#include "lib/SoundSamples.h"

#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "platform/sndfile/SndfileIo.h"

namespace vorlr::samples {
namespace {

std::vector<uint8_t> writeTone(const ToneSpec& tone, int format) {
    if (tone.channels < 1 || tone.sampleRate < 1 || tone.milliseconds < 0)
        throw std::invalid_argument("bad tone");
    MemorySndfile mem;
    SF_INFO info{};
    info.samplerate = tone.sampleRate;
    info.channels = tone.channels;
    info.format = format;
    SNDFILE* sf = mem.open(SFM_WRITE, info);
    if (!sf) throw std::runtime_error(std::string("sound writer: ") + sf_strerror(nullptr));
    const int64_t frames = tone.milliseconds * tone.sampleRate / 1000;
    constexpr int64_t kChunk = 4096;
    std::vector<short> buf(static_cast<size_t>(kChunk * tone.channels));
    const double step = 2.0 * M_PI * tone.frequency / tone.sampleRate;
    uint32_t seed = 20261209;
    for (int64_t done = 0; done < frames;) {
        const int64_t n = std::min(kChunk, frames - done);
        for (int64_t i = 0; i < n; ++i) {
            long hiss = 0;
            if (tone.noise > 0) {
                seed = seed * 1664525u + 1013904223u;
                hiss = static_cast<long>(seed >> 16) % (2 * tone.noise + 1) - tone.noise;
            }
            const auto v = static_cast<short>(std::clamp<long>(
                std::lround(12000.0 * std::sin(step * static_cast<double>(done + i))) + hiss,
                -32768, 32767));
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

std::vector<uint8_t> encodeWithLame(const std::vector<uint8_t>& wav,
                                    const std::vector<std::string>& options) {
    namespace fs = std::filesystem;
    std::string dirName = (fs::temp_directory_path() / "vorlr-lame-XXXXXX").string();
    if (!::mkdtemp(dirName.data())) throw std::runtime_error("lame: no temporary folder");
    const fs::path dir(dirName);
    struct Cleanup {
        fs::path dir;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    } cleanup{dir};
    const std::string in = (dir / "in.wav").string(), out = (dir / "out.mp3").string();
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(wav.data()), static_cast<std::streamsize>(wav.size()));
    std::vector<std::string> args{"lame", "--quiet"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(in);
    args.push_back(out);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "lame", nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("lame: the encoder is not installed (scripts/deps.sh test)");
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("lame: encoding failed");
    std::ifstream file(out, std::ios::binary);
    std::vector<uint8_t> mp3((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
    if (mp3.empty()) throw std::runtime_error("lame: no output");
    return mp3;
}

}  // namespace vorlr::samples
