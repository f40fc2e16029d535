#pragma once
// What qar cat, text, convert and extract share: an archive opened read-only with its whole
// directory, NAME resolved to an entry, and the entry's bytes copied out as the viewer copies
// them (fresh buffers per entry, as in a viewer just started).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Archive.h"
#include "archive/Extract.h"
#include "archive/MergedView.h"

namespace CLI {
class App;
}

namespace qar {

// Opens path read-only and reads its directory; file errors and a directory that cannot be
// read raise.
void OpenWithDirectory(vorlr::Archive& archive, const std::string& path);
// The same for an archive that must pass the validation rule ("Not a valid vorlund
// packed-file!" otherwise): the archives that mount, layers and merge stack.
std::unique_ptr<vorlr::Archive> LoadValidArchive(const std::string& path);
// The archives that layers and merge stack, loaded in that order (a failure names the
// archive), and their merged view; unsafe names are warned about on standard error.
struct LoadedLayers {
    std::vector<std::unique_ptr<vorlr::Archive>> archives;
    vorlr::MergedView view;
};
std::unique_ptr<LoadedLayers> LoadLayers(const std::vector<std::string>& paths, bool ignoreCase);

// NAME -> entry index: "#N" is entry N (0-based); otherwise the first entry whose stored name
// equals NAME byte for byte, where '/' in NAME also stands for '\'.
std::optional<size_t> FindEntry(const vorlr::Archive& archive, const std::string& name);
// As FindEntry; an unknown NAME raises "no entry named NAME".
size_t ResolveEntry(const vorlr::Archive& archive, const std::string& name);
// NAME -> the one entry a writing command changes: "#N", or the only entry of that name; a NAME
// held by several entries raises "NAME names entries #4 and #5: give #N".
size_t ResolveSingleEntry(const vorlr::Archive& archive, const std::string& name);
// "#N" as an index, whether or not the archive has entry N.
std::optional<size_t> ParseEntryIndex(const std::string& name);
// "#4 and #5", "#1, #4 and #5".
std::string ListIndexes(const std::vector<size_t>& indexes);

// The PATTERNs of list and tree: globs on the stored name as extract's (MatchEntryPattern).
class PatternFilter {
public:
    explicit PatternFilter(std::vector<std::string> patterns);
    bool empty() const { return patterns_.empty(); }
    // Whether name matches one of the patterns (every name when there are none); remembers
    // which patterns matched.
    bool wants(std::string_view name);
    // "qar: no entry matches PATTERN" on standard error for each pattern that matched no name;
    // true when there was one.
    bool reportUnmatched() const;

private:
    std::vector<std::string> patterns_;
    std::vector<bool> matched_;
};

// ARCHIVE [PATTERN...] of list and tree: no options, so a PATTERN that starts with '-' comes
// after "--".
struct ArchiveAndPatterns {
    std::string archive;
    std::vector<std::string> patterns;
    bool json = false;  // --json
};
void AddArchiveAndPatterns(CLI::App& command, ArchiveAndPatterns& values);

// Copies entry index with ExtractEntry's loop from its data offset (a negative offset raises
// "I/O error 131"). Returns the number of bytes handed on; below a positive recorded size
// only when the archive ended first.
int64_t CopyEntry(const vorlr::Archive& archive, size_t index, const vorlr::EntrySink& sink);
// ... to a file descriptor (a short write is "Disk full").
int64_t CopyEntryToFd(const vorlr::Archive& archive, size_t index, int fd);

}  // namespace qar
