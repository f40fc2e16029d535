#pragma once
// Archives laid out byte by byte: header bytes, gaps and alignment between entries, bytes after
// each name's zero and in each record's 16 trailing bytes, offsets and sizes of one's own. For
// the tests and fuzzers of the writing and comparing commands.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlr::samples {

struct LayoutEntry {
    std::string name;                 // stored name (up to 255 bytes)
    std::vector<uint8_t> data;
    int64_t gapBefore = 0;            // filler bytes written before the data
    std::vector<uint8_t> nameTail;    // bytes after the name's zero in the 256-byte field
    std::array<uint8_t, 16> trailing{};
    std::optional<int32_t> offset;    // stored instead of where the data went
    std::optional<int32_t> size;      // stored instead of the data's size
    bool unterminated = false;        // the name field holds no zero byte (filled with 'x')
};

struct LayoutArchive {
    std::vector<uint8_t> header;      // the first 512 bytes (zero-filled)
    std::vector<LayoutEntry> entries;
    int64_t alignment = 0;            // data of every entry starts at a multiple of this
    int64_t truncateTo = -1;          // cut the file to this many bytes
};

std::vector<uint8_t> buildLayout(const LayoutArchive& archive);

}  // namespace vorlr::samples
