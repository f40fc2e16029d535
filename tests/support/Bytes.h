#pragma once
// Small conversions the tests use to write and compare bytes.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "lib/QarBuilder.h"

namespace vorlr::testing {

// Bytes written as numbers: raw({0xFF, 0xFE, 'A', 0}).
inline std::vector<uint8_t> raw(std::initializer_list<int> v) {
    std::vector<uint8_t> out;
    for (int b : v) out.push_back(static_cast<uint8_t>(b));
    return out;
}

inline std::string str(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

inline std::string fileText(const std::string& path) { return str(samples::readFile(path)); }

}  // namespace vorlr::testing
