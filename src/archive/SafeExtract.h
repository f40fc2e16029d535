#pragma once
// Writing entries to files under a target folder, never anywhere else: unsafe names are refused,
// and no symbolic link or other file found inside the folder is followed or written through.
// Shared by `qar extract` and the viewer's extraction command.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Archive.h"

namespace vorlr {

enum class NameVerdict { Safe, Empty, Absolute, DriveLetter, EmptySegment, DotSegment, ZeroByte };

// Splits a stored name at '\' and '/' into path segments; anything but Safe means the name
// cannot be written under a folder (segments is then left empty).
NameVerdict SplitSafeName(std::string_view name, std::vector<std::string>& segments);
// "empty name", "absolute name", ... for messages.
const char* DescribeVerdict(NameVerdict verdict);

// Glob on a full entry name: '*' (any run, separators included), '?', '[...]' with ranges and
// '!' or '^' to negate. Letters A to Z match either case; '/' and '\' are the same separator.
// An unclosed '[' is an ordinary character.
bool MatchEntryPattern(std::string_view pattern, std::string_view name);

enum class ExtractOutcome {
    Written,      // all bytes written
    Truncated,    // data beyond the end of the archive: written as far as it goes
    Kept,         // an existing file was kept (keepExisting)
    UnsafeName,   // refused by SplitSafeName
    Blocked,      // a symbolic link, file or folder in the way, or the archive itself
    Failed,       // an error of this entry alone (detail holds the runtime's text)
};

struct ExtractNotice {
    size_t index = 0;          // position in the directory
    std::string name;          // stored name
    std::string path;          // relative path under the target folder, '/' separated
    ExtractOutcome outcome = ExtractOutcome::Written;
    std::optional<size_t> replacedIndex;  // an earlier entry of this run wrote the same path
    int32_t size = 0;          // recorded size
    int64_t written = 0;
    std::string detail;
};

struct ExtractOptions {
    bool keepExisting = false;
    // Called once per entry handled.
    std::function<void(const ExtractNotice&)> onEntry;
    // Called before the first entry and after each one; returning false stops the run.
    std::function<bool(size_t done, size_t total)> progress;
};

struct ExtractSummary {
    size_t written = 0;    // Written and Truncated
    size_t kept = 0;
    size_t problems = 0;   // Truncated, UnsafeName, Blocked, Failed
    bool cancelled = false;
};

// Writes the data of entry i for each i of selection, copied as ExtractEntry copies it, to
// targetDir plus the name's segments. targetDir is created when missing. A file that exists is
// replaced by renaming a new one over it, never written through. A failure to write ("Disk
// full") or to open targetDir raises; problems of single entries are reported through onEntry
// and counted. Indexes past the archive's entries are skipped.
ExtractSummary ExtractEntries(const Archive& archive, const std::vector<size_t>& selection,
                              const std::string& targetDir, const ExtractOptions& options);

}  // namespace vorlr
