#include "archive/Pack.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "archive/ArchiveWriter.h"
#include "archive/Container.h"
#include "platform/Errors.h"
#include "platform/LittleEndian.h"
#include "platform/RuntimeFile.h"

namespace vorlr {

namespace fs = std::filesystem;

std::vector<PackItem> CollectPackItems(const std::string& dir, const std::string& exclude) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) throw Error("not a folder: " + dir);
    const std::optional<FileId> excluded = exclude.empty() ? std::nullopt : fileIdOf(exclude);

    std::vector<PackItem> items;
    const fs::path root(dir);
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end;
    if (ec) throw Error("cannot read folder " + dir + ": " + ec.message());
    for (; it != end; it.increment(ec)) {
        if (ec) throw Error("cannot read folder " + dir + ": " + ec.message());
        const fs::directory_entry& e = *it;
        if (!e.is_regular_file(ec) || e.is_symlink(ec)) continue;
        const std::string diskPath = e.path().string();
        if (excluded && fileIdOf(diskPath) == excluded) continue;
        PackItem item;
        item.diskPath = diskPath;
        item.name = e.path().lexically_relative(root).generic_string();
        const auto size = e.file_size(ec);
        if (ec) throw Error("cannot read " + diskPath + ": " + ec.message());
        item.size = static_cast<int64_t>(std::min<uintmax_t>(size, uintmax_t{1} << 62));
        items.push_back(std::move(item));
    }
    // Byte order of the relative paths (with '/'), then the stored names use '\'.
    std::sort(items.begin(), items.end(),
              [](const PackItem& a, const PackItem& b) { return a.name < b.name; });

    if (items.empty()) throw Error("no regular files under " + dir);
    if (static_cast<int64_t>(items.size()) > kMaxField / kRecordSize)
        throw Error("too many files for one archive: " + std::to_string(items.size()));
    int64_t total = kDataStart + static_cast<int64_t>(items.size()) * kRecordSize;
    for (PackItem& item : items) {
        if (item.name.find('\\') != std::string::npos)
            throw Error("name holds a backslash: " + item.name);
        std::replace(item.name.begin(), item.name.end(), '/', '\\');
        if (static_cast<int64_t>(item.name.size()) >= kNameBytes)
            throw Error("name of 200 bytes or more: " + item.name);
        total += item.size;  // each size is below 2^62, so the sum cannot wrap first
        if (total > (int64_t{1} << 62)) break;
    }
    CheckArchiveSize(total);
    return items;
}

void WritePack(const std::vector<PackItem>& items, const std::string& out,
               std::function<void(int64_t written, int64_t total)> progress) {
    std::vector<std::pair<std::string, NewData>> entries;
    entries.reserve(items.size());
    for (const PackItem& item : items) entries.push_back({item.name, NewData{item.diskPath, {}}});
    WriteTarget target;
    target.path = out;
    target.progress = std::move(progress);
    WriteNewArchive(entries, target);
}

}  // namespace vorlr
