#include "archive/Pack.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "archive/Container.h"
#include "platform/Errors.h"
#include "platform/LittleEndian.h"
#include "platform/RuntimeFile.h"

namespace vorlr {

namespace fs = std::filesystem;

namespace {

constexpr int64_t kMaxField = std::numeric_limits<int32_t>::max();

void put32(uint8_t* p, int64_t value) {
    putLe32(p, static_cast<uint32_t>(static_cast<int32_t>(value)));
}

}  // namespace

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
        total += item.size;
        if (item.size > kMaxField || total > kMaxField)
            throw Error("more data than an archive's 32-bit fields hold (at " + item.name + ")");
    }
    return items;
}

void WritePack(const std::vector<PackItem>& items, const std::string& out) {
    std::string tmpl = out + ".tmp-XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) throwFromErrno(errno);
    // mkstemp makes the file private; give it the permissions of a newly created file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    (void)::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    const std::string temp = tmpl;
    try {
        RuntimeFile file;
        file.create(temp);
        std::vector<uint8_t> head(kDataStart, 0);
        put32(head.data() + 512, static_cast<int64_t>(items.size()));
        put32(head.data() + 516, static_cast<int64_t>(items.size()));
        file.write(head.data(), static_cast<int64_t>(head.size()));

        std::vector<uint8_t> buffer(1 << 20);
        std::vector<int64_t> offsets;
        offsets.reserve(items.size());
        int64_t position = kDataStart;
        for (const PackItem& item : items) {
            offsets.push_back(position);
            RuntimeFile in;
            in.openExisting(item.diskPath, RuntimeFile::Access::ReadOnly);
            for (int64_t left = item.size; left > 0;) {
                const int64_t got = in.readCounted(
                    buffer.data(), std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
                if (got == 0) throw Error("file shrank while packing: " + item.diskPath);
                file.write(buffer.data(), got);
                left -= got;
            }
            position += item.size;
        }

        // The directory, written a buffer at a time.
        const size_t perWrite = buffer.size() / kRecordSize;
        for (size_t i = 0; i < items.size();) {
            const size_t n = std::min(perWrite, items.size() - i);
            std::fill(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(n * kRecordSize), 0);
            for (size_t k = 0; k < n; ++k, ++i) {
                uint8_t* record = buffer.data() + k * kRecordSize;
                std::memcpy(record, items[i].name.data(), items[i].name.size());
                put32(record + 256, offsets[i]);
                put32(record + 260, items[i].size);
            }
            file.write(buffer.data(), static_cast<int64_t>(n * kRecordSize));
        }
        if (::fsync(file.fd()) != 0) throwFromErrno(errno);
        file.close();
        renameFile(temp, out);
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
}

}  // namespace vorlr
