#include "platform/RuntimeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <utility>

#include "platform/Errors.h"

namespace vorlr {

RuntimeFile::~RuntimeFile() { close(); }

RuntimeFile::RuntimeFile(RuntimeFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), pos_(other.pos_), path_(std::move(other.path_)) {}

RuntimeFile& RuntimeFile::operator=(RuntimeFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        pos_ = other.pos_;
        path_ = std::move(other.path_);
    }
    return *this;
}

static int openOrThrow(const std::string& path, int flags) {
    if (path.empty()) throwFileError(kFileNotFound);
    if (path.find('\0') != std::string::npos) throwFileError(kInvalidFilename);
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throwFromErrno(errno);
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throwFileError(kAccessDenied);
    }
    return fd;
}

void RuntimeFile::openExisting(const std::string& path, Access access) {
    close();
    fd_ = openOrThrow(path, access == Access::ReadOnly ? O_RDONLY : O_RDWR);
    pos_ = 0;
    path_ = path;
}

void RuntimeFile::create(const std::string& path) {
    close();
    fd_ = openOrThrow(path, O_RDWR | O_CREAT | O_TRUNC);
    pos_ = 0;
    path_ = path;
}

void RuntimeFile::close() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pos_ = 0;
}

void RuntimeFile::requireOpen() const {
    if (fd_ < 0) throwFileError(103);  // "File not open"
}

int64_t RuntimeFile::readAt(int64_t position, void* buffer, int64_t count) const {
    requireOpen();
    if (position < 0) throwFileError(kNegativeSeek);
    if (count <= 0) return 0;
    auto* out = static_cast<char*>(buffer);
    int64_t got = 0;
    while (got < count) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(count - got, INT_MAX / 2));
        const ssize_t n = ::pread(fd_, out + got, want, position + got);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwFromErrno(errno);
        }
        if (n == 0) break;
        got += n;
    }
    return got;
}

int64_t RuntimeFile::readCounted(void* buffer, int64_t count) {
    const int64_t got = readAt(pos_, buffer, count);
    pos_ += got;
    return got;
}

void RuntimeFile::write(const void* buffer, int64_t count) {
    requireOpen();
    if (count <= 0) return;
    const auto* in = static_cast<const char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(count - done, INT_MAX / 2));
        const ssize_t n = ::pwrite(fd_, in + done, want, pos_ + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwWriteError(errno);
        }
        if (n == 0) throwFileError(kDiskFull);
        done += n;
    }
    pos_ += done;
}

void writeAll(int fd, const void* data, int64_t count) {
    const auto* in = static_cast<const char*>(data);
    while (count > 0) {
        const ssize_t n = ::write(fd, in, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)));
        if (n < 0) {
            if (errno == EINTR) continue;
            throwWriteError(errno);
        }
        if (n == 0) throwFileError(kDiskFull);
        in += n;
        count -= n;
    }
}

FileId fileIdOf(const struct stat& st) { return FileId{st.st_dev, st.st_ino}; }

std::optional<FileId> fileIdOf(int fd) {
    struct stat st{};
    if (fd < 0 || ::fstat(fd, &st) != 0) return std::nullopt;
    return fileIdOf(st);
}

std::optional<FileId> fileIdOf(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return fileIdOf(st);
}

void RuntimeFile::seek(int64_t position) {
    requireOpen();
    if (position < 0) throwFileError(kNegativeSeek);
    pos_ = position;
}

int64_t RuntimeFile::position() {
    requireOpen();
    return pos_;
}

int64_t RuntimeFile::fileSize() const {
    requireOpen();
    struct stat st{};
    if (::fstat(fd_, &st) != 0) throwFromErrno(errno);
    return st.st_size;
}

bool RuntimeFile::eof() { return position() >= size(); }

bool fileExists(const std::string& path) {
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void deleteFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0) throwFromErrno(errno);
}

void renameFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) throwFromErrno(errno);
}

std::string currentDirectory() {
    std::string buf(4096, '\0');
    while (::getcwd(buf.data(), buf.size()) == nullptr) {
        if (errno != ERANGE) throwFromErrno(errno);
        buf.resize(buf.size() * 2);
    }
    buf.resize(std::char_traits<char>::length(buf.c_str()));
    return buf;
}

void setCurrentDirectory(const std::string& path) {
    if (::chdir(path.c_str()) != 0) throwFromErrno(errno);
}

std::string fullFileName(const std::string& path) {
    if (!path.empty() && path.front() == '/') return path;
    std::string dir;
    try {
        dir = currentDirectory();
    } catch (const Error&) {
        return path;
    }
    return dir + (dir.empty() || dir.back() != '/' ? "/" : "") + path;
}

}  // namespace vorlr
