#pragma once
// Writing entries to files under a target folder, never anywhere else: unsafe names are refused,
// and no symbolic link or other file found inside the folder is followed or written through.
// Shared by `qar extract` and the viewer's extraction command.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Archive.h"
#include "archive/EntryNames.h"

namespace vorlr {

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
    bool converted = false;       // path is one of the files the entry was converted to
    std::string conversionError;  // the conversion failed: the entry was written as it is
};

// One file an entry is converted to: named after the entry's file name up to its first "."
// followed by suffix (LOGO.TGA with ".png" gives LOGO.png), in the entry's folder.
struct ConvertedFile {
    std::string suffix;
    std::vector<uint8_t> bytes;
};

// Entries written as files of their own instead of their bytes (pictures as PNG, say).
struct EntryConversion {
    // Whether the entry is converted at all; the others are written as they are.
    std::function<bool(const ArchiveEntry& entry)> applies;
    // The entry's files. Runs on worker threads, several entries at once: it reads the archive
    // only through readers of its own. A failure raises Error, and the entry is then written as
    // it is, with the error reported.
    std::function<std::vector<ConvertedFile>(const Archive& archive, size_t index)> convert;
    // Conversions running at once (and entries held converted, waiting for their turn); 1 or
    // less converts on the calling thread.
    int workers = 1;
};

// Entries as someone else holds them (an edit's pending ones): what the selection's indexes
// stand for instead of the archive's own entries. Not converted.
struct ExtractSource {
    size_t count = 0;
    std::function<std::string(size_t index)> name;
    std::function<int32_t(size_t index)> size;
    std::function<std::unique_ptr<ByteSource>(size_t index)> open;  // at the entry's first byte
};

struct ExtractOptions {
    bool keepExisting = false;
    const EntryConversion* conversion = nullptr;
    const ExtractSource* source = nullptr;
    // The name the k-th entry of the selection is written under (split at '\\' and '/', checked
    // as a stored name is), when not its own; notices still give its own.
    std::function<std::string(size_t k)> writtenAs;
    // Called after each block of an entry's bytes while they are copied (not inside the
    // kernel then); returning false stops the run there, the entry's file not kept.
    std::function<bool()> whileCopying;
    // Called once per file handled (once per entry unless it was converted to several files),
    // in the order of the selection.
    std::function<void(const ExtractNotice&)> onEntry;
    // Called before the first entry and after each one; returning false stops the run.
    std::function<bool(size_t done, size_t total)> progress;
};

struct ExtractSummary {
    size_t written = 0;    // files Written and Truncated, converted ones included
    size_t kept = 0;
    size_t converted = 0;  // files written from conversions
    size_t conversionFailures = 0;  // entries written as they are since conversion failed
    size_t problems = 0;   // Truncated, UnsafeName, Blocked, Failed, conversion failures
    bool cancelled = false;
};

// Writes the data of entry i for each i of selection, copied as ExtractEntry copies it, to
// targetDir plus the name's segments (or the files options.conversion makes of it). targetDir
// is created when missing. A file that exists is replaced by renaming a new one over it, never
// written through. Files are written, and notices given, in the order of the selection; a
// cancel takes effect between entries. A failure to write ("Disk full") or to open targetDir
// raises; problems of single entries are reported through onEntry and counted. Indexes past
// the archive's entries are skipped.
ExtractSummary ExtractEntries(const Archive& archive, const std::vector<size_t>& selection,
                              const std::string& targetDir, const ExtractOptions& options);

}  // namespace vorlr
