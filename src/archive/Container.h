#pragma once
// The QAR container: counts at 512 and 516, entry data from 520, and the directory of 280-byte
// records that ends the file.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Archive.h"
#include "platform/ByteSource.h"

namespace vorlr {

struct ArchiveFigures {
    int32_t firstCount = 0;
    int32_t secondCount = 0;
    int64_t fileSize = 0;
    int64_t directoryOffset = 0;  // fileSize - firstCount * 280, in 64 bits
    bool valid = false;           // the validation rule below
};

// The validation rule: counts equal, at least 1, and fileSize >= count * 280 where the product
// wraps as a 32-bit signed value and the comparison is signed.
bool CountsAreValid(int32_t firstCount, int32_t secondCount, int64_t fileSize);
// Seeks to 512 and plain-reads both counts (a file under 520 bytes: "Read beyond end of file").
ArchiveFigures ReadArchiveFigures(ByteSource& file);
// Opens the file read-only, applies the rule, closes it. Open and read failures raise.
bool ValidateArchive(const std::string& path);

// The entry name of a record: the bytes before the first zero among its first 200, or empty
// when there is none.
std::string RecordName(const uint8_t* record);
std::string_view RecordNameView(const uint8_t* record);  // the same, in place
bool RecordNameTerminated(const uint8_t* record);

// Reads every record of an open archive whose count is at least 1 and whose directory lies
// inside the file into its entries (the ones held before are dropped); otherwise raises Error
// with a plain description. Returns the figures read on the way.
ArchiveFigures ReadDirectory(Archive& archive);
// A new archive open at path with its directory read, when it passes the validation rule ("Not
// a valid vorlund packed-file!" otherwise): the archives stacked in a merged view.
std::unique_ptr<Archive> OpenValidArchive(const std::string& path);

// Every structural problem of an archive, one plain sentence each (empty: none): a file larger
// than 2^31 - 1 bytes (positions are signed 32-bit numbers), counts that
// differ, a count below 1, a directory outside the file or over the counts, entries whose data
// lies outside 520..directory offset, names without a zero byte. A file under 520 bytes raises
// "Read beyond end of file" like ReadArchiveFigures.
std::vector<std::string> ArchiveProblems(ByteSource& file);

}  // namespace vorlr
