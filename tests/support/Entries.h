#pragma once
// Undamaged archive entries for building fixture archives.
#include <string>
#include <utility>
#include <vector>

#include "lib/QarBuilder.h"

namespace vorlr::testing {

inline samples::QarEntry entry(const std::string& name, const std::string& data = "") {
    return {name, samples::bytesOf(data), {}, {}, false};
}

inline samples::QarEntry byteEntry(std::string name, std::vector<uint8_t> data) {
    return {std::move(name), std::move(data), {}, {}, false};
}

}  // namespace vorlr::testing
