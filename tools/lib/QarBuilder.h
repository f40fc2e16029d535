#pragma once
// Writes QAR archives from (name, bytes) lists, with knobs for damaged ones. Used by the
// tests, benchmarks, fuzzers and the demo generator.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlr::samples {

struct QarEntry {
    std::string name;            // stored name; longer than 255 bytes is cut
    std::vector<uint8_t> data;
    // Overrides for damaged archives (the stored offset and size fields).
    std::optional<int32_t> offsetOverride;
    std::optional<int32_t> sizeOverride;
    bool noZeroByte = false;     // fill the whole 256-byte name field without a zero byte
};

struct QarOptions {
    std::optional<int32_t> firstCount;   // default: number of entries
    std::optional<int32_t> secondCount;  // default: firstCount
    std::vector<uint8_t> header;         // up to 512 bytes placed at offset 0
    int64_t truncateTo = -1;             // cut the finished file to this many bytes
};

std::vector<uint8_t> buildQar(const std::vector<QarEntry>& entries, const QarOptions& options = {});
void writeQar(const std::string& path, const std::vector<QarEntry>& entries,
              const QarOptions& options = {});
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFile(const std::string& path);
std::vector<uint8_t> bytesOf(const std::string& text);

}  // namespace vorlr::samples
