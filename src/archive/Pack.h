#pragma once
// Writing a new archive from the regular files under a folder (the tool's `pack`).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vorlr {

struct PackItem {
    std::string diskPath;  // the file on disk
    std::string name;      // stored name: relative path with backslash separators
    int64_t size = 0;
};

// Every regular file under dir (symbolic links are not followed), sorted by relative path in
// byte order, with its stored name. Raises Error, before anything is written, for a name of 200
// bytes or more, a name holding a backslash, and for more files or bytes than the archive's
// 32-bit signed fields hold; also when dir holds no regular file. A file equal to `exclude`
// (the output, when it lies under dir) is left out.
std::vector<PackItem> CollectPackItems(const std::string& dir, const std::string& exclude = {});

// Writes the archive: 512 zero bytes, the count twice, the data back to back, then the
// directory (name zero-padded to 256 bytes, offset, size, 16 zero bytes). Written to a
// temporary file beside out and renamed over it; nothing is left behind on failure. progress
// is as WriteTarget's.
void WritePack(const std::vector<PackItem>& items, const std::string& out,
               std::function<void(int64_t written, int64_t total)> progress = {});

}  // namespace vorlr
