#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <random>
#include <vector>

#include "platform/Errors.h"
#include "platform/RuntimeFile.h"
#include "platform/Text.h"

namespace vorlr {

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a target names: a symbolic link is followed, so that the file it points at is the
// one replaced.
std::string resolveTarget(const std::string& path) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string resolved(real);
    ::free(real);
    return resolved;
}

}  // namespace

std::string TemporaryNameBeside(const std::string& path) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    const std::string base = baseNameOf(path);
    std::string name = path.substr(0, path.size() - base.size()) + "." + base + ".";
    for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    return name;
}

AtomicFile::AtomicFile(const std::string& target, Temporary kind)
    : target_(resolveTarget(target)), dir_(folderOf(target_)) {
    if (target.empty()) throwFileError(kFileNotFound);
    struct stat st{};
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) throwFileError(kAccessDenied);
    errno = EOPNOTSUPP;
    while (kind == Temporary::Unnamed) {
        fd_ = ::open(dir_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd_ >= 0 || errno != EINTR) break;
    }
    if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // No unnamed files here: a named one, removed on every way out but a kill.
        for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
            namedTemp_ = TemporaryNameBeside(target_);
            fd_ = ::open(namedTemp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ < 0 && errno != EEXIST && errno != EINTR) break;
        }
        if (fd_ < 0) namedTemp_.clear();
    }
    if (fd_ < 0) throwFromErrno(errno);
    if (exists) (void)::fchmod(fd_, st.st_mode & 07777);
}

AtomicFile::~AtomicFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !namedTemp_.empty()) ::unlink(namedTemp_.c_str());
}

void AtomicFile::commit(const std::function<void()>& beforeRename) {
    if (::fsync(fd_) != 0) throwWriteError(errno);
    if (beforeRename) beforeRename();
    if (namedTemp_.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        for (int attempt = 0; namedTemp_.empty(); ++attempt) {
            const std::string name = TemporaryNameBeside(target_);
            int rc = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
            if (rc != 0 && errno == ENOENT)  // no /proc: the privileged way
                rc = ::linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
            if (rc == 0) {
                namedTemp_ = name;
            } else if (errno != EEXIST || attempt >= 100) {
                throwFromErrno(errno);
            }
        }
    }
    if (::rename(namedTemp_.c_str(), target_.c_str()) != 0) throwFromErrno(errno);
    committed_ = true;
    namedTemp_.clear();
    // The rename itself is kept only once the folder is flushed.
    const int dir = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
}

void CopyFileRange(int in, int64_t inOffset, int out, int64_t count) {
    bool kernelCopy = true;
    std::vector<char> buffer;
    while (count > 0) {
        if (kernelCopy) {
            loff_t from = inOffset;
            const size_t want = static_cast<size_t>(std::min<int64_t>(count, 1 << 30));
            const ssize_t n = ::copy_file_range(in, &from, out, nullptr, want, 0);
            if (n > 0) {
                inOffset += n;
                count -= n;
                continue;
            }
            if (n == 0) throwFileError(kReadBeyondEof);
            if (errno == EINTR) continue;
            if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT) throwWriteError(errno);
            if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL &&
                errno != EBADF && errno != EPERM)
                throwFromErrno(errno);
            kernelCopy = false;  // not between these files: read and write
        }
        if (buffer.empty()) buffer.resize(1 << 20);
        const size_t want = static_cast<size_t>(std::min<int64_t>(count, 1 << 20));
        const ssize_t n = ::pread(in, buffer.data(), want, inOffset);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwFromErrno(errno);
        }
        if (n == 0) throwFileError(kReadBeyondEof);
        writeAll(out, buffer.data(), n);
        inOffset += n;
        count -= n;
    }
}

}  // namespace vorlr
