#pragma once
// Runtime file access: every failure raises FileError with the runtime's text.
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/ByteSource.h"

namespace vorlr {

class RuntimeFile final : public ByteSource {
public:
    enum class Access { ReadOnly, ReadWrite };

    RuntimeFile() = default;
    ~RuntimeFile() override;
    RuntimeFile(const RuntimeFile&) = delete;
    RuntimeFile& operator=(const RuntimeFile&) = delete;
    RuntimeFile(RuntimeFile&& other) noexcept;
    RuntimeFile& operator=(RuntimeFile&& other) noexcept;

    // Open an existing file. Closes any file held before.
    void openExisting(const std::string& path, Access access);
    // Create a file for reading and writing, truncating an existing one.
    void create(const std::string& path);
    void close() noexcept;
    bool isOpen() const noexcept { return fd_ >= 0; }
    const std::string& path() const noexcept { return path_; }

    // ByteSource: counted read (short at end of file is no error), seek, position, size.
    int64_t readCounted(void* buffer, int64_t count) override;
    // Counted read at a position, leaving the file's own position alone; safe from several
    // threads at once.
    int64_t readAt(int64_t position, void* buffer, int64_t count) const;
    void seek(int64_t position) override;  // negative position: "I/O error 131"
    int64_t position() override;
    int64_t size() override { return fileSize(); }
    int64_t fileSize() const;

    // Write all bytes; a short write is "Disk full".
    void write(const void* buffer, int64_t count);
    bool eof();
    int fd() const noexcept { return fd_; }

private:
    void requireOpen() const;
    int fd_ = -1;
    int64_t pos_ = 0;
    std::string path_;
};

// Writes all bytes to a file descriptor at its current offset; a failure is the runtime's write
// error ("Disk full" for a full disk).
void writeAll(int fd, const void* data, int64_t count);

// Which file a name or descriptor stands for, to tell whether two are the same file.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};
std::optional<FileId> fileIdOf(int fd);
std::optional<FileId> fileIdOf(const std::string& path);  // follows symbolic links
FileId fileIdOf(const struct stat& st);

bool fileExists(const std::string& path);
void deleteFile(const std::string& path);                            // raises on failure
void renameFile(const std::string& from, const std::string& to);     // raises on failure
std::string currentDirectory();
void setCurrentDirectory(const std::string& path);
// The name with the current directory in front unless it is absolute; the name as given when
// the current directory cannot be read. For error texts that must name the file in full.
std::string fullFileName(const std::string& path);

}  // namespace vorlr
