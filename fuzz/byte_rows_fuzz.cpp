// Arbitrary bytes as an entry shown as rows: every row's text, a selection as hex and as text,
// a search from several places both ways against a plain search of the same bytes, and the
// same input typed in as an offset and as hex bytes. An entry may claim more bytes than it has
// (it then ends where its reads end). Anything but agreement is a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ByteSource.h"
#include "viewers/ByteRows.h"

using namespace vorlr;

namespace {

// The match a plain search finds: the first after from going forward (wrapping), the last
// before from going back (wrapping).
std::optional<int64_t> plainSearch(const std::vector<uint8_t>& bytes, const std::string& pattern,
                                   int64_t from, bool forward) {
    std::vector<int64_t> at;
    if (pattern.empty() || pattern.size() > bytes.size()) return std::nullopt;
    for (size_t i = 0; i + pattern.size() <= bytes.size(); ++i)
        if (std::equal(pattern.begin(), pattern.end(), bytes.begin() + static_cast<long>(i),
                       [](char p, uint8_t b) { return static_cast<uint8_t>(p) == b; }))
            at.push_back(static_cast<int64_t>(i));
    if (at.empty()) return std::nullopt;
    if (forward) {
        for (const int64_t a : at)
            if (a > from) return a;
        return at.front();
    }
    for (auto it = at.rbegin(); it != at.rend(); ++it)
        if (*it < from) return *it;
    return at.back();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint8_t flags = data[0];
    const size_t patternLength = std::min<size_t>(data[1] % 8, size - 2);
    const std::string pattern(reinterpret_cast<const char*>(data + 2), patternLength);
    const std::vector<uint8_t> bytes(data + 2 + patternLength, data + size);
    const int64_t claimed = static_cast<int64_t>(bytes.size()) + (flags & 1 ? flags : 0);
    const size_t blockSize = size_t{1} + (flags >> 4);

    ByteBlocks blocks(std::make_unique<MemoryByteSource>(bytes), claimed, blockSize, 2);
    std::vector<uint8_t> row(kBytesPerRow);
    for (int64_t r = 0; r * kBytesPerRow < claimed; ++r) {
        const size_t n = blocks.read(r * kBytesPerRow, row.data(), row.size());
        if (RowText(r * kBytesPerRow, row.data(), static_cast<int>(n)).size() != kRowColumns)
            __builtin_trap();
    }
    if (blocks.size() != static_cast<int64_t>(bytes.size())) __builtin_trap();
    const int64_t a = bytes.empty() ? 0 : data[1] % static_cast<int64_t>(bytes.size());
    const QString hex = SelectionText(blocks, a, claimed, CopyAs::Hex);
    const QString text = SelectionText(blocks, a, claimed, CopyAs::Text);
    const int64_t selected = static_cast<int64_t>(bytes.size()) - a;
    if (text.size() != selected || hex.size() != (selected > 0 ? selected * 3 - 1 : 0))
        __builtin_trap();

    // Plain byte comparison only: the A to Z folding is left to the tests.
    for (const int64_t from : {int64_t{-1}, a, static_cast<int64_t>(bytes.size())}) {
        for (const bool forward : {true, false}) {
            if (!forward && from < 0) continue;
            ByteSearch search(blocks, pattern, false, 1 + (flags >> 5));
            search.start(from, forward);
            while (!search.run(1 + flags % 7)) {
            }
            if (search.match() != plainSearch(bytes, pattern, from, forward)) __builtin_trap();
        }
    }
    const std::string typed(reinterpret_cast<const char*>(data + 2), patternLength);
    if (const auto to = ParseGoTo(typed, blocks.size()))
        if (to->offset < 0 || (blocks.size() > 0 && to->offset >= blocks.size())) __builtin_trap();
    if (const auto parsed = ParseHexBytes(typed))
        if (parsed->empty() || parsed->size() * 2 > typed.size()) __builtin_trap();
    return 0;
}
