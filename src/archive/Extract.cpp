#include "archive/Extract.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/Errors.h"
#include "platform/RuntimeFile.h"

namespace vorlr {

namespace {

constexpr int64_t kBlock = static_cast<int64_t>(kWorkBufferSize);
static_assert(kBlock == 16384);

// Copies the entry to fd inside the kernel, without the round trip through WorkBuffer, then
// leaves CurrentEntrySize, WorkBuffer and the archive position exactly as the 16384-byte loop
// would have left them. Returns -1, having changed nothing, when the kernel cannot copy
// between these two files.
int64_t copyInKernel(const EntryCopy& copy, int fd) {
    auto* reader = dynamic_cast<ArchiveReader*>(&copy.archive);
    if (!reader) return -1;
    ArchiveReader& archive = *reader;
    const int64_t size = copy.remaining;
    const int64_t start = archive.position();
    loff_t in = start;
    int64_t copied = 0;
    while (copied < size) {
        const ssize_t n = ::copy_file_range(archive.archive().fd(), &in, fd, nullptr,
                                            static_cast<size_t>(std::min<int64_t>(size - copied, 1 << 30)), 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (copied == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                                errno == EOPNOTSUPP || errno == EBADF))
                return -1;
            throwWriteError(errno);
        }
        if (n == 0) break;  // the archive ended
        copied += n;
    }
    copy.remaining = static_cast<int32_t>(size - copied);
    // The loop's reads start at start + k * 16384; the last one with data leaves its bytes at
    // the front of WorkBuffer over the full block read before it, and the position at its end.
    const int64_t reads = (copied + kBlock - 1) / kBlock;
    if (reads >= 2) {
        archive.seek(start + (reads - 2) * kBlock);
        archive.readCounted(copy.WorkBuffer.data(), kBlock);
    }
    if (reads >= 1) {
        archive.seek(start + (reads - 1) * kBlock);
        archive.readCounted(copy.WorkBuffer.data(), kBlock);
    }
    return copied;
}

}  // namespace

int64_t CopyEntryBytes(const EntryCopy& copy, const EntrySink& sink) {
    int64_t copied = 0;
    uint8_t* const buffer = copy.WorkBuffer.data();
    // Signed test: a size with the top bit set copies nothing.
    while (copy.remaining > 0) {
        int64_t count = copy.archive.readCounted(buffer, kBlock);
        // Data recorded past the end of the archive: nothing more will ever arrive.
        if (count == 0) break;
        if (copy.remaining < count) count = copy.remaining;
        copy.remaining -= static_cast<int32_t>(count);
        sink(buffer, count);
        copied += count;
    }
    return copied;
}

int64_t CopyEntryToFile(const EntryCopy& copy, int fd) {
    if (copy.remaining <= 0) return 0;
    if (const int64_t copied = copyInKernel(copy, fd); copied >= 0) return copied;
    return CopyEntryBytes(copy, [fd](const uint8_t* data, int64_t count) { writeAll(fd, data, count); });
}

void ExtractEntry(const EntryCopy& copy, const std::string& fileName, HeadBytesArray& HeadBytes) {
    // Truncating the open archive itself (an archive named like a scratch file) would destroy it.
    // Likewise a picked file that an entry not saved yet is read from.
    int sourceFd = -1;
    if (const auto* reader = dynamic_cast<const ArchiveReader*>(&copy.archive))
        sourceFd = reader->archive().fd();
    else if (const auto* file = dynamic_cast<const RuntimeFile*>(&copy.archive))
        sourceFd = file->fd();
    if (sourceFd >= 0) {
        const auto target = fileIdOf(fileName);
        if (target && target == fileIdOf(sourceFd)) throwFileError(kAccessDenied);
    }
    RuntimeFile out;
    out.create(fileName);
    CopyEntryToFile(copy, out.fd());
    // Bytes past a short file keep what the previous extraction left there.
    out.seek(0);
    out.readCounted(HeadBytes.data(), static_cast<int64_t>(HeadBytes.size()));
    out.close();
}

void ReplaceFile(const std::string& source, const std::string& target) {
    // rename(2) replaces the target in one step, so the target only goes away when the source
    // takes its place; a missing source leaves everything as it was.
    struct stat st{};
    if (source.empty() || target.empty() || ::lstat(source.c_str(), &st) != 0 ||
        S_ISDIR(st.st_mode))
        return;
    (void)std::rename(source.c_str(), target.c_str());
}

}  // namespace vorlr
