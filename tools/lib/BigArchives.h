#pragma once
// Large archives for the loading benchmarks: many empty entries in a three-level folder tree,
// written straight to disk (never the whole file in memory).
#include <cstdint>
#include <string>
#include <vector>

#include "lib/QarBuilder.h"

namespace vorlr::samples {

// Names of `entries` entries, ten per folder, in entries / 10 folders of three levels:
// 10 top folders, 100 below each, the rest below those (names repeat across parents, as in
// game archives: DATA\MAPS\NORTH\INFO.TXT beside DATA\TEXT\NORTH\INFO.TXT). entries must be a
// multiple of 10000. In path order, or shuffled with the given seed.
std::vector<std::string> bigArchiveNames(int32_t entries, bool shuffled, uint32_t seed = 1);

// Names that are all different: DATA\Dffff\FILEnnnnnnn.TXT, `entries` of them spread evenly
// over `folders` folders (folders 0: all in the archive's root as FILEnnnnnnn.TXT), in path order.
std::vector<std::string> uniqueArchiveNames(int32_t entries, int32_t folders);

// An archive of empty entries with these names (backslash separators).
void writeBigArchive(const std::string& path, const std::vector<std::string>& names);

// An archive of one entry of size bytes, written sparse (the file takes next to no room for
// them): zero bytes but for the marks, each at its offset inside the entry.
struct ByteMark {
    int64_t at = 0;
    std::vector<uint8_t> bytes;
};
void writeSparseEntryArchive(const std::string& path, const std::string& name, int32_t size,
                             const std::vector<ByteMark>& marks);

// The pictures of the export and grid benchmarks, GFX\SETn\ in 20 folders: sides cycle through
// 64, 128, 256 and 512, every tenth 1024; kinds cycle through 16-bit KMG, palette KMG (four
// sub-images of half the side), Targa raw and run-length.
std::vector<QarEntry> pictureMixEntries(int count);

}  // namespace vorlr::samples
