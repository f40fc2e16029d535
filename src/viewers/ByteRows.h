#pragma once
// An entry's bytes as rows of hex and characters, for any size: the bytes are read in blocks as
// rows are asked for, a few blocks kept, never the whole entry. Row text and its columns, the
// bytes as Windows-1252 characters, a selection copied as hex or as text, offsets typed in and
// a search for bytes that runs in slices. No widgets: the bytes view paints what this gives.
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ByteSource.h"

namespace vorlr {

constexpr int kBytesPerRow = 16;

// The bytes of one entry. The source stands at the entry's first byte; held is how many bytes
// the entry holds from there. A read that ends early (or fails) ends the bytes where it ended:
// they show as far as they were read, and the reason is kept.
class ByteBlocks {
public:
    ByteBlocks() = default;  // no bytes
    ByteBlocks(std::unique_ptr<ByteSource> source, int64_t held, size_t blockSize = size_t{1} << 16,
               size_t keep = 8);

    int64_t size() const { return size_; }
    int64_t rows() const { return (size_ + kBytesPerRow - 1) / kBytesPerRow; }
    // Why the bytes end before held ("" when they do not).
    const std::string& cutReason() const { return cutReason_; }
    // Copies the bytes from offset on into out, at most n; fewer at the end (and after a read
    // that found the end sooner, which shrinks size()).
    size_t read(int64_t offset, uint8_t* out, size_t n);
    // Reads from the source straight into out, the blocks kept left alone (a search's run).
    size_t readThrough(int64_t offset, uint8_t* out, size_t n);
    // Reads from the source so far (tests: the rows shown cost blocks, not the entry).
    uint64_t sourceReads() const { return sourceReads_; }

private:
    struct Block {
        int64_t index = -1;
        uint64_t used = 0;
        std::vector<uint8_t> bytes;
    };
    const Block* block(int64_t index);
    size_t fetch(int64_t offset, uint8_t* out, size_t n);

    std::unique_ptr<ByteSource> source_;
    int64_t base_ = 0;  // the source position of the entry's first byte
    int64_t size_ = 0;
    size_t blockSize_ = 1;
    std::vector<Block> blocks_;
    uint64_t clock_ = 0;
    uint64_t sourceReads_ = 0;
    std::string cutReason_;
};

// Row layout in character columns: the offset (8 hex digits, more past 4 GiB), two spaces, 16
// bytes as "4D " with one more space after the eighth, a space, then 16 characters.
constexpr int kHexColumn = 10;
constexpr int kCharColumn = kHexColumn + 3 * kBytesPerRow + 2;  // 60
constexpr int kRowColumns = kCharColumn + kBytesPerRow;         // 76
constexpr int HexColumnOf(int k) { return kHexColumn + 3 * k + (k >= kBytesPerRow / 2 ? 1 : 0); }
constexpr int CharColumnOf(int k) { return kCharColumn + k; }
// The byte of a row a column stands on (a gap: the byte before it), and whether it is in the
// characters; columns left of the hex are byte 0, right of the characters byte 15.
struct ColumnHit {
    int byte = 0;
    bool inCharacters = false;
};
ColumnHit ByteAtColumn(int column);

std::string OffsetText(int64_t offset);
// The character a byte shows as: its Windows-1252 character, or '.' for control bytes, the
// bytes the page leaves undefined, and the soft hyphen (which shows as nothing).
char16_t ShownCharacter(uint8_t byte);
// One row: offset, hex and characters, n bytes (a last row may hold fewer; the rest is blank).
QString RowText(int64_t offset, const uint8_t* bytes, int n);

// A selection's bytes, [begin, end), as the clipboard gets them: hex ("4D 5A 90"), or text
// (the characters as shown, with tab, line feed and carriage return kept). More than
// kCopyLimit bytes raise Error before anything is read.
enum class CopyAs { Hex, Text };
constexpr int64_t kCopyLimit = int64_t{16} << 20;
QString SelectionText(ByteBlocks& bytes, int64_t begin, int64_t end, CopyAs as);

// Typed in: hex bytes ("4D5A", "4d 5a 90"), nullopt for anything else (an odd digit count too).
std::optional<std::string> ParseHexBytes(std::string_view text);
// An offset typed in: hex ("1F0", "$1F0", "0x1F0") or decimal after '#' ("#496"); nullopt for
// anything else. One past the last byte or further goes to the last byte (pastEnd set); an
// empty entry has nowhere to go.
struct GoTo {
    int64_t offset = 0;
    bool pastEnd = false;
};
std::optional<GoTo> ParseGoTo(std::string_view text, int64_t size);

// One search for a byte string, from a position to the next (or previous) match, wrapping
// round the entry, run in slices so that a long entry never holds the caller. Matches across
// block boundaries are found like any other.
class ByteSearch {
public:
    // ignoreCase: A to Z match a to z (a text typed in). chunk: match starts looked at per
    // read of the source.
    ByteSearch(ByteBlocks& bytes, std::string pattern, bool ignoreCase,
               int64_t chunk = int64_t{1} << 18);
    // The next match starting after from (forward), or the one before from (backward); from -1
    // forward starts at the first byte. The match at from itself counts only once round.
    void start(int64_t from, bool forward);
    // Looks through about budget more bytes; true once done.
    bool run(int64_t budget);
    bool done() const { return done_; }
    std::optional<int64_t> match() const { return match_; }
    // The match found lies the other way round the entry from where the search started.
    bool wrapped() const { return wrapped_; }
    // Share of the match starts looked at, 0 to 1.
    double progress() const;
    const std::string& pattern() const { return pattern_; }

private:
    bool scanChunk();

    ByteBlocks& bytes_;
    std::string pattern_;
    bool ignoreCase_;
    int64_t chunk_;
    bool forward_ = true;
    // Match starts still to look at, in the order looked at: legs_[leg_] = [lo, hi].
    struct Leg {
        int64_t lo = 0, hi = -1;
    };
    Leg legs_[2];
    int leg_ = 0;
    int64_t total_ = 0, looked_ = 0;
    bool done_ = true, wrapped_ = false;
    std::optional<int64_t> match_;
    std::vector<uint8_t> buffer_;
};

}  // namespace vorlr
