#pragma once
// Writing archives: a new archive made from an open one and a list of edits, keeping every byte
// it is not told to change, or made from nothing (pack). The file is built in an unnamed
// temporary beside the target, flushed, and renamed over the target at once: a failure or a
// kill at any moment leaves the target as it was and no temporary behind.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <ctime>
#include <vector>

#include "archive/Archive.h"
#include "platform/RuntimeFile.h"

namespace vorlr {

// An entry's new data: the file at path (streamed, never held in memory), bytes when path is
// empty, or a range of another archive.
struct NewData {
    std::string path;
    std::vector<uint8_t> bytes;
    // The file found at path when the edit was planned: another one there by the time it is
    // written (a folder swapped for a link, say) fails the write.
    std::optional<FileId> identity = std::nullopt;
    // The file's modification time when it was picked: a file written since (before or while it
    // is copied) fails the write, so no archive gets half old and half new data.
    std::optional<struct timespec> modified = std::nullopt;
    // Set: fromSize bytes of this open archive at fromOffset instead (another archive's entry,
    // as merge writes them).
    const Archive* from = nullptr;
    int64_t fromOffset = 0;
    int64_t fromSize = 0;
    // 280 bytes: the directory record written for the entry, its name and unread bytes, the
    // writer setting offset and size. Empty: the source's record, or a fresh one when added.
    std::vector<uint8_t> record = {};
};

// Edits of one archive, by entry index (directory order of the source). An index may be in
// replace and rename at once, never removed and anything else.
struct ArchiveEdit {
    std::map<size_t, NewData> replace;                  // entry index -> new data
    std::set<size_t> remove;                            // entry indexes
    std::map<size_t, std::string> rename;               // entry index -> new stored name
    std::vector<std::pair<std::string, NewData>> add;   // appended in this order, stored names
    bool empty() const { return replace.empty() && remove.empty() && rename.empty() && add.empty(); }
};

struct WriteTarget {
    std::string path;       // the archive written; may not be the source unless inPlace
    bool inPlace = false;   // path is the source archive itself
    bool backup = false;    // with inPlace: the old archive is kept as path + ".bak"
    // Called as the archive is written, with the bytes written so far and the archive's whole
    // size (progress; tests use it to fail or die midway).
    std::function<void(int64_t written, int64_t total)> progress;
    // Called once the new archive is flushed, right before it takes the target's place; it may
    // raise to give up (a Cancel that came during the flush), leaving the target as it was.
    std::function<void()> beforeCommit;
};

// The largest archive a writer writes: every file position, the directory's included, is a
// signed 32-bit number. CheckArchiveSize raises Error giving the size and the limit past it.
constexpr int64_t kMaxArchiveBytes = 2147483647;
void CheckArchiveSize(int64_t bytes);

// Checks the edit against the source: indexes, names (1 to 199 bytes, no zero byte), that an
// entry remains, and the new archive's size (CheckArchiveSize), which keeps every offset in its
// 32-bit field. Raises Error naming the problem. WriteEditedArchive runs the same checks before
// it writes anything.
void CheckArchiveEdit(const Archive& source, const ArchiveEdit& edit);

// Writes source with edit applied to target. source must be open with its whole directory read
// (ReadDirectory). Raises Error or FileError; the target is then as it was. Fails when the
// source changed (size, modification time) while it was read.
void WriteEditedArchive(const Archive& source, const ArchiveEdit& edit, const WriteTarget& target);

// Writes a new archive of the entries given, in this order: 512 zero bytes, the count twice,
// the data back to back, then the directory (name zero-padded to 256 bytes, offset, size, 16
// zero bytes).
void WriteNewArchive(const std::vector<std::pair<std::string, NewData>>& entries,
                     const WriteTarget& target);

}  // namespace vorlr
