#pragma once
// A file that replaces its target whole or not at all. It is written as an unnamed temporary in
// the target's folder (a named one, removed on every way out, where the file system cannot make
// unnamed ones), flushed, given a temporary name and renamed over the target at once.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

namespace vorlr {

class AtomicFile {
public:
    enum class Temporary { Unnamed, Named };  // Named: what file systems without unnamed files get
    // Creates the temporary beside target (a symbolic link is followed: the file it points at
    // is replaced). It gets target's permission bits when target exists, those of a newly
    // created file otherwise. Failures raise the runtime's errors.
    explicit AtomicFile(const std::string& target, Temporary kind = Temporary::Unnamed);
    ~AtomicFile();  // discards the temporary unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    int fd() const noexcept { return fd_; }
    const std::string& target() const noexcept { return target_; }
    // Flushes the data, runs beforeRename (which may raise to give up), then renames the
    // temporary over the target and flushes the folder. On failure the target is as it was.
    void commit(const std::function<void()>& beforeRename = {});

private:
    std::string target_;
    std::string dir_;
    std::string namedTemp_;  // the fallback's temporary name; empty for an unnamed file
    int fd_ = -1;
    bool committed_ = false;
};

// Writes count bytes of in from inOffset at out's current position; copy_file_range where the
// kernel can, read and write otherwise. A source that ends early raises "Read beyond end of
// file"; a write that fails is the runtime's write error ("Disk full").
void CopyFileRange(int in, int64_t inOffset, int out, int64_t count);

// A name in dir that no file has yet, for a temporary (".NAME.XXXXXX").
std::string TemporaryNameBeside(const std::string& path);

}  // namespace vorlr
