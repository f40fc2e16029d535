#include "lib/LayoutArchive.h"

#include <algorithm>
#include <cstring>

namespace vorlr::samples {

namespace {

void put32(std::vector<uint8_t>& out, size_t at, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<uint8_t> buildLayout(const LayoutArchive& archive) {
    std::vector<uint8_t> out(520, 0);
    std::copy_n(archive.header.begin(), std::min<size_t>(archive.header.size(), 512), out.begin());
    const auto count = static_cast<int32_t>(archive.entries.size());
    put32(out, 512, count);
    put32(out, 516, count);
    std::vector<int32_t> offsets;
    for (const LayoutEntry& e : archive.entries) {
        for (int64_t i = 0; i < e.gapBefore; ++i) out.push_back(static_cast<uint8_t>(0xA5 ^ i));
        if (archive.alignment > 1)
            while (out.size() % static_cast<size_t>(archive.alignment) != 0) out.push_back(0xEE);
        offsets.push_back(static_cast<int32_t>(out.size()));
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    for (size_t k = 0; k < archive.entries.size(); ++k) {
        const LayoutEntry& e = archive.entries[k];
        const size_t at = out.size();
        out.resize(at + 280, 0);
        uint8_t* r = out.data() + at;
        if (e.unterminated) {
            std::memset(r, 'x', 256);
        } else {
            const size_t n = std::min<size_t>(e.name.size(), 255);
            std::memcpy(r, e.name.data(), n);
            const size_t tail = std::min(e.nameTail.size(), 255 - n);
            if (tail > 0) std::memcpy(r + n + 1, e.nameTail.data(), tail);
        }
        put32(out, at + 256, e.offset.value_or(offsets[k]));
        put32(out, at + 260, e.size.value_or(static_cast<int32_t>(e.data.size())));
        std::memcpy(out.data() + at + 264, e.trailing.data(), 16);
    }
    if (archive.truncateTo >= 0 && static_cast<size_t>(archive.truncateTo) < out.size())
        out.resize(static_cast<size_t>(archive.truncateTo));
    return out;
}

}  // namespace vorlr::samples
