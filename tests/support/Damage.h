#pragma once
// Damaged copies of a file for the robustness sweeps: cut at many lengths, and with 1% of the
// bytes flipped (fixed seed).
#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace vorlr::testing {

// Truncations: every length for small inputs, about 300 spread lengths for larger ones.
inline std::vector<std::vector<uint8_t>> truncations(const std::vector<uint8_t>& whole) {
    std::vector<std::vector<uint8_t>> out;
    const size_t step = whole.size() <= 2048 ? 1 : whole.size() / 300;
    for (size_t n = 0; n < whole.size(); n += step) out.emplace_back(whole.begin(), whole.begin() + n);
    return out;
}

// 100 copies with 1% of their bits flipped each.
inline std::vector<std::vector<uint8_t>> flips(const std::vector<uint8_t>& whole, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::vector<uint8_t>> out;
    if (whole.empty()) return out;
    const size_t count = std::max<size_t>(1, whole.size() / 100);
    for (int round = 0; round < 100; ++round) {
        std::vector<uint8_t> b = whole;
        for (size_t k = 0; k < count; ++k) b[rng() % b.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        out.push_back(std::move(b));
    }
    return out;
}

}  // namespace vorlr::testing
