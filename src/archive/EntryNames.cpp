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

size_t FindSeparator(std::string_view text) {
    constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
        const uint64_t back = word ^ (kOnes * '\\'), slash = word ^ (kOnes * '/');
        // The high bit of each zero byte (of the lowest one exactly; above it may be false).
        const uint64_t found = ((back - kOnes) & ~back & kHighs) | ((slash - kOnes) & ~slash & kHighs);
        if (found) return i + static_cast<size_t>(std::countr_zero(found) / 8);
    }
    while (i < text.size() && !isSeparator(text[i])) ++i;
    return i;
}

NameVerdict CheckSafeName(std::string_view name) {
    if (name.empty()) return NameVerdict::Empty;
    if (name.find('\0') != std::string_view::npos) return NameVerdict::ZeroByte;
    if (isSeparator(name[0])) return NameVerdict::Absolute;
    const char c = name[0];
    if (name.size() >= 2 && name[1] == ':' && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
        return NameVerdict::DriveLetter;
    for (size_t start = 0;;) {
        const std::string_view rest = name.substr(start);
        const size_t length = FindSeparator(rest);
        const std::string_view segment = rest.substr(0, length);
        if (segment.empty()) return NameVerdict::EmptySegment;
        if (segment == "." || segment == "..") return NameVerdict::DotSegment;
        if (length == rest.size()) return NameVerdict::Safe;
        start += length + 1;
    }
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
