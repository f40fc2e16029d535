#pragma once
// Entry names as paths and as what patterns match: the split of a stored name into the segments
// of a safe relative path, and the glob that extract, find and entry lookup take.
#include <string>
#include <string_view>
#include <vector>

#include "platform/Text.h"

namespace vorlr {

enum class NameVerdict { Safe, Empty, Absolute, DriveLetter, EmptySegment, DotSegment, ZeroByte };

// Splits a stored name at '\' and '/' into path segments; anything but Safe means the name
// cannot be written under a folder (segments is then left empty).
NameVerdict SplitSafeName(std::string_view name, std::vector<std::string>& segments);
// The same verdict without the segments.
NameVerdict CheckSafeName(std::string_view name);
// Where the first '\\' or '/' of text is; text.size() when there is none. Eight bytes at a
// time: the walks over a million names look through each at every level.
size_t FindSeparator(std::string_view text);
// "empty name", "absolute name", ... for messages.
const char* DescribeVerdict(NameVerdict verdict);

// A character of a name as patterns and the find box compare it: A to Z in either case, '/' and
// '\' the same separator.
constexpr char FoldNameChar(char c) { return c == '/' ? '\\' : lowerAZ(c); }

// Glob on a full entry name: '*' (any run, separators included), '?', '[...]' with ranges and
// '!' or '^' to negate. Letters A to Z match either case; '/' and '\' are the same separator.
// An unclosed '[' is an ordinary character.
bool MatchEntryPattern(std::string_view pattern, std::string_view name);

}  // namespace vorlr
