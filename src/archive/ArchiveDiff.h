#pragma once
// What differs between two archives, entry by entry, as `qar diff` prints it.
//
// Entries are matched by stored name: the n-th entry of a name in one archive with the n-th of
// that name in the other. Contents are the bytes extraction writes (from the offset, the
// recorded size or up to the end of the file, nothing for a size below 1 or a negative
// offset), compared by size and a 128-bit XXH3 digest. A record's unread bytes are the name
// field's bytes after the name's terminating zero (the whole 256-byte field when the first 200
// hold no zero, since the name then reads as empty) and its 16 trailing bytes; offset and size
// are not among them, so data that merely moved is no difference.
//
// Lines, in this order: "H" when the first 512 bytes differ; then, in the old archive's
// directory order, "- NAME", "R OLD -> NEW", "M NAME" and "X NAME" (M before X for one entry);
// then "+ NAME" in the new archive's directory order. An R pairs an unmatched old entry with
// the first unmatched new entry of equal content, in directory order.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/Archive.h"

namespace vorlr {

struct Digest128 {
    uint64_t low = 0, high = 0;
    bool operator==(const Digest128&) const = default;
};

// What the comparison needs of one entry.
struct EntryFingerprint {
    std::string name;
    int32_t size = 0;     // as stored
    int64_t length = 0;   // bytes of content that exist
    Digest128 content;
    Digest128 unread;
};

struct ArchiveFingerprint {
    std::vector<uint8_t> header;  // the first 512 bytes (fewer in a shorter file)
    std::vector<EntryFingerprint> entries;
};

// Reads an archive whose directory has been read (ReadDirectory): its header, every record's
// unread bytes and every entry's content digest, with large reads. File errors raise. Another
// thread may watch done (entries digested so far) and set stop, which raises FingerprintCancelled.
struct FingerprintWatch {
    std::atomic<size_t>* done = nullptr;
    const std::atomic<bool>* stop = nullptr;
};
struct FingerprintCancelled : std::exception {
    const char* what() const noexcept override { return "cancelled"; }
};
ArchiveFingerprint FingerprintArchive(const Archive& archive, const FingerprintWatch& watch = {});

// How the entries of two archives go together: the matching the lines are made from.
struct DiffPairs {
    static constexpr size_t kNone = static_cast<size_t>(-1);
    bool headerDiffers = false;
    struct Old {
        size_t partner = kNone;  // the new entry of its name's n-th place, or its rename
        bool renamed = false;
        bool contentDiffers = false;  // matched by name only
        bool unreadDiffers = false;   // matched by name only
    };
    std::vector<Old> old;        // per old entry; no partner: removed
    std::vector<bool> added;     // per new entry: neither matched nor a rename's target
};
DiffPairs PairFingerprints(const ArchiveFingerprint& oldOne, const ArchiveFingerprint& newOne);

struct DiffLine {
    enum class Kind { Header, Removed, Added, Modified, Renamed, Unread };
    Kind kind = Kind::Header;
    std::string name;     // the old name for Renamed
    std::string newName;  // Renamed only
    bool operator==(const DiffLine&) const = default;
};

std::vector<DiffLine> DiffFingerprints(const ArchiveFingerprint& oldOne,
                                       const ArchiveFingerprint& newOne);
// "H", "- NAME", "+ NAME", "M NAME", "R OLD -> NEW", "X NAME".
std::string FormatDiffLine(const DiffLine& line);

}  // namespace vorlr
