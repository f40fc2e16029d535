#pragma once
// Where things are in a QAR archive. The archive: 512 bytes nobody reads, the entry count at
// 512 and again at 516, entry data from 520 on, and the directory, count records of 280 bytes,
// as the last bytes of the file. Numbers are little-endian; offsets and sizes 32-bit signed.
#include <cstdint>
#include <limits>

namespace vorlr {

constexpr int64_t kHeadBytes = 512;          // never read
constexpr int64_t kCountOffset = 512;        // the entry count
constexpr int64_t kSecondCountOffset = 516;  // its copy; a valid archive holds the same
constexpr int64_t kDataStart = 520;          // the first byte after the counts

constexpr int64_t kRecordSize = 280;
constexpr int64_t kNameField = 256;      // the name field, zero-terminated...
constexpr int kNameBytes = 200;          // ...of which only the first 200 bytes are read
constexpr int64_t kOffsetField = 256;    // data offset in the record
constexpr int64_t kSizeField = 260;      // data size in the record
constexpr int64_t kTrailingField = 264;  // 16 bytes never read
constexpr int64_t kTrailingBytes = 16;

constexpr int64_t kMaxField = std::numeric_limits<int32_t>::max();  // offsets, sizes, counts

}  // namespace vorlr
