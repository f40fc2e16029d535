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

[[noreturn]] void throwWriteError(int err) {
    if (err == ENOSPC || err == EFBIG || err == EDQUOT) throwFileError(kDiskFull);
    throwFromErrno(err);
}

void writeAll(int fd, const uint8_t* data, int64_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)));
        if (n < 0) {
            if (errno == EINTR) continue;
            throwWriteError(errno);
        }
        if (n == 0) throwFileError(kDiskFull);
        data += n;
        count -= n;
    }
}

// Copies the entry to fd inside the kernel, without the round trip through WorkBuffer, then
// leaves CurrentEntrySize, WorkBuffer and the archive position exactly as the 16384-byte loop
// would have left them. Returns -1, having changed nothing, when the kernel cannot copy
// between these two files.
int64_t copyInKernel(ViewerState& state, int fd) {
    RuntimeFile& archive = state.ArchiveFile;
    const int64_t size = state.CurrentEntrySize;
    const int64_t start = archive.position();
    loff_t in = start;
    int64_t copied = 0;
    while (copied < size) {
        const ssize_t n = ::copy_file_range(archive.fd(), &in, fd, nullptr,
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
    state.CurrentEntrySize = static_cast<int32_t>(size - copied);
    // The loop's reads start at start + k * 16384; the last one with data leaves its bytes at
    // the front of WorkBuffer over the full block read before it, and the position at its end.
    const int64_t reads = (copied + kBlock - 1) / kBlock;
    if (reads >= 2) {
        archive.seek(start + (reads - 2) * kBlock);
        archive.readCounted(state.WorkBuffer.data(), kBlock);
    }
    if (reads >= 1) {
        archive.seek(start + (reads - 1) * kBlock);
        archive.readCounted(state.WorkBuffer.data(), kBlock);
    }
    return copied;
}

}  // namespace

int64_t CopyEntryBytes(ViewerState& state, const EntrySink& sink) {
    int64_t copied = 0;
    // Signed test: a size with the top bit set copies nothing.
    while (state.CurrentEntrySize > 0) {
        int64_t count = state.ArchiveFile.readCounted(state.WorkBuffer.data(),
                                                      static_cast<int64_t>(kWorkBufferSize));
        // Data recorded past the end of the archive: nothing more will ever arrive.
        if (count == 0) break;
        if (state.CurrentEntrySize < count) count = state.CurrentEntrySize;
        state.CurrentEntrySize -= static_cast<int32_t>(count);
        sink(state.WorkBuffer.data(), count);
        copied += count;
    }
    return copied;
}

int64_t CopyEntryToFile(ViewerState& state, int fd) {
    if (state.CurrentEntrySize <= 0) return 0;
    if (const int64_t copied = copyInKernel(state, fd); copied >= 0) return copied;
    return CopyEntryBytes(state, [fd](const uint8_t* data, int64_t count) { writeAll(fd, data, count); });
}

void ExtractEntry(ViewerState& state, const std::string& fileName) {
    // Truncating the open archive itself (an archive named like a scratch file) would destroy it.
    struct stat target{}, archive{};
    if (state.ArchiveFile.isOpen() && ::stat(fileName.c_str(), &target) == 0 &&
        ::fstat(state.ArchiveFile.fd(), &archive) == 0 && target.st_dev == archive.st_dev &&
        target.st_ino == archive.st_ino)
        throwFileError(kAccessDenied);
    RuntimeFile out;
    out.create(fileName);
    CopyEntryToFile(state, out.fd());
    // Bytes past a short file keep what the previous extraction left there.
    out.seek(0);
    out.readCounted(state.HeadBytes.data(), static_cast<int64_t>(state.HeadBytes.size()));
    out.close();
    state.TempFileName = fileName;
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
