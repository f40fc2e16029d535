#include "archive/EntryNames.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

namespace vorlr {

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

unsigned char fold(char c) { return static_cast<unsigned char>(FoldNameChar(c)); }

// The bracket expression starting at pattern[at] ('['), tried on c (folded). Returns its
// length, or 0 when it is not closed (then '[' is an ordinary character).
size_t matchBracket(std::string_view pattern, size_t at, unsigned char c, bool& matched) {
    size_t i = at + 1;
    bool negate = false;
    if (i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^')) {
        negate = true;
        ++i;
    }
    bool hit = false;
    bool first = true;  // a ']' right after the opening is a member
    while (i < pattern.size() && (first || pattern[i] != ']')) {
        first = false;
        const unsigned char lo = fold(pattern[i]);
        unsigned char hi = lo;
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            hi = fold(pattern[i + 2]);
            i += 3;
        } else {
            ++i;
        }
        if (lo <= c && c <= hi) hit = true;
    }
    if (i >= pattern.size()) return 0;
    matched = hit != negate;
    return i + 1 - at;
}

}  // namespace

namespace {

// Eight bytes of text from at, the first in the lowest byte; past the end, zeros.
uint64_t wordAt(std::string_view text, size_t at) {
    uint64_t word = 0;
    if (at + 8 <= text.size()) {
        std::memcpy(&word, text.data() + at, 8);
        if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
        return word;
    }
    for (size_t k = 0; at + k < text.size(); ++k)
        word |= uint64_t{static_cast<unsigned char>(text[at + k])} << (8 * k);
    return word;
}

// The high bit of each byte of word that is '\\' or '/', exactly (no carry crosses a byte).
uint64_t separatorBytes(uint64_t word) {
    constexpr uint64_t kOnes = 0x0101010101010101u, kLow7 = 0x7f7f7f7f7f7f7f7fu;
    const auto zeros = [](uint64_t x) { return ~(((x & kLow7) + kLow7) | x | kLow7); };
    return zeros(word ^ (kOnes * '\\')) | zeros(word ^ (kOnes * '/'));
}

NameVerdict segmentVerdict(std::string_view name, size_t start, size_t end) {
    if (end == start) return NameVerdict::EmptySegment;
    if (end - start <= 2 && name[start] == '.' && name[end - 1] == '.') return NameVerdict::DotSegment;
    return NameVerdict::Safe;
}

}  // namespace

size_t FindSeparator(std::string_view text) {
    for (size_t i = 0; i < text.size(); i += 8)
        if (const uint64_t found = separatorBytes(wordAt(text, i)))
            return i + static_cast<size_t>(std::countr_zero(found) / 8);
    return text.size();
}

// Eight bytes at a time, segment by segment as the separators come.
NameVerdict CheckSafeName(std::string_view name) {
    if (name.empty()) return NameVerdict::Empty;
    if (name.find('\0') != std::string_view::npos) return NameVerdict::ZeroByte;
    if (isSeparator(name[0])) return NameVerdict::Absolute;
    const char c = name[0];
    if (name.size() >= 2 && name[1] == ':' && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
        return NameVerdict::DriveLetter;
    size_t start = 0;
    for (size_t i = 0; i < name.size(); i += 8) {
        for (uint64_t found = separatorBytes(wordAt(name, i)); found; found &= found - 1) {
            const size_t at = i + static_cast<size_t>(std::countr_zero(found) / 8);
            if (const NameVerdict v = segmentVerdict(name, start, at); v != NameVerdict::Safe) return v;
            start = at + 1;
        }
    }
    return segmentVerdict(name, start, name.size());
}

NameVerdict SplitSafeName(std::string_view name, std::vector<std::string>& segments) {
    segments.clear();
    const NameVerdict verdict = CheckSafeName(name);
    if (verdict != NameVerdict::Safe) return verdict;
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !isSeparator(name[i])) continue;
        segments.emplace_back(name.substr(start, i - start));
        start = i + 1;
    }
    return NameVerdict::Safe;
}

const char* DescribeVerdict(NameVerdict verdict) {
    switch (verdict) {
    case NameVerdict::Safe: return "safe name";
    case NameVerdict::Empty: return "empty name";
    case NameVerdict::Absolute: return "absolute name";
    case NameVerdict::DriveLetter: return "name with a drive letter";
    case NameVerdict::EmptySegment: return "name with an empty segment";
    case NameVerdict::DotSegment: return "name with a \".\" or \"..\" segment";
    case NameVerdict::ZeroByte: return "name with a zero byte";
    }
    return "unsafe name";
}

bool MatchEntryPattern(std::string_view pattern, std::string_view name) {
    size_t p = 0, n = 0;
    size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        bool advanced = false;
        if (p < pattern.size()) {
            const char pc = pattern[p];
            if (pc == '*') {
                starP = ++p;
                starN = n;
                continue;
            }
            if (pc == '?') {
                ++p;
                ++n;
                continue;
            }
            bool matched = false;
            const size_t len = pc == '[' ? matchBracket(pattern, p, fold(name[n]), matched) : 0;
            if (len > 0) {
                if (matched) {
                    p += len;
                    ++n;
                    advanced = true;
                }
            } else if (fold(pc) == fold(name[n])) {
                ++p;
                ++n;
                advanced = true;
            }
        }
        if (advanced) continue;
        if (starP == std::string_view::npos) return false;
        p = starP;
        n = ++starN;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace vorlr
