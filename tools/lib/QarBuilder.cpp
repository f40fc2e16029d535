#include "lib/QarBuilder.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/LittleEndian.h"

namespace vorlr::samples {

static void put32(std::vector<uint8_t>& out, size_t at, int32_t v) {
    putLe32(out.data() + at, static_cast<uint32_t>(v));
}

std::vector<uint8_t> buildQar(const std::vector<QarEntry>& entries, const QarOptions& options) {
    std::vector<uint8_t> out(520, 0);
    if (!options.header.empty())
        std::memcpy(out.data(), options.header.data(), std::min<size_t>(options.header.size(), 512));
    const int32_t first = options.firstCount.value_or(static_cast<int32_t>(entries.size()));
    put32(out, 512, first);
    put32(out, 516, options.secondCount.value_or(first));
    std::vector<int32_t> offsets;
    for (const auto& e : entries) {
        offsets.push_back(static_cast<int32_t>(out.size()));
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& e = entries[i];
        const size_t at = out.size();
        out.resize(at + 280, 0);
        if (e.noZeroByte) {
            std::memset(&out[at], 'N', 256);
            std::memcpy(&out[at], e.name.data(), std::min<size_t>(e.name.size(), 256));
        } else {
            std::memcpy(&out[at], e.name.data(), std::min<size_t>(e.name.size(), 255));
        }
        put32(out, at + 256, e.offsetOverride.value_or(offsets[i]));
        put32(out, at + 260, e.sizeOverride.value_or(static_cast<int32_t>(e.data.size())));
    }
    if (options.truncateTo >= 0 && static_cast<size_t>(options.truncateTo) < out.size())
        out.resize(static_cast<size_t>(options.truncateTo));
    return out;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) throw std::runtime_error("cannot write " + path);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

void writeQar(const std::string& path, const std::vector<QarEntry>& entries,
              const QarOptions& options) {
    writeFile(path, buildQar(entries, options));
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace vorlr::samples
