#include "archive/SafeExtract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <unordered_map>
#include <utility>

#include "archive/ConversionPool.h"
#include "archive/Extract.h"
#include "platform/Errors.h"

namespace vorlr {

namespace {

std::string errnoText(int err) { return runtimeErrorText(runtimeCodeFromErrno(err)); }

struct FdGuard {
    int fd = -1;
    ~FdGuard() {
        if (fd >= 0) ::close(fd);
    }
};

// Opens folders under the target folder one segment at a time, never following a symbolic
// link. Keeps the last folder open, since entries usually come folder by folder.
class FolderWalker {
public:
    explicit FolderWalker(int root) : root_(root) {}
    ~FolderWalker() { dropCache(); }
    FolderWalker(const FolderWalker&) = delete;
    FolderWalker& operator=(const FolderWalker&) = delete;

    // The folder made of segments[0, count), created where missing; -1 with notice filled in
    // when something else is in the way.
    int open(const std::vector<std::string>& segments, size_t count, ExtractNotice& notice) {
        if (count == 0) return root_;
        std::string key;
        for (size_t i = 0; i < count; ++i) (key += segments[i]) += '/';
        if (cachedFd_ >= 0 && key == cachedKey_) return cachedFd_;
        dropCache();
        int current = root_;
        std::string walked;
        for (size_t i = 0; i < count; ++i) {
            const char* segment = segments[i].c_str();
            walked += segments[i];
            int mkdirError = 0;
            if (::mkdirat(current, segment, 0777) != 0 && errno != EEXIST) mkdirError = errno;
            const int next = ::openat(current, segment, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0) {
                const int err = errno;
                struct stat st{};
                if (::fstatat(current, segment, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode)) {
                    notice.outcome = ExtractOutcome::Blocked;
                    notice.detail = walked + (S_ISLNK(st.st_mode) ? " is a symbolic link" : " is not a folder");
                } else {
                    notice.outcome = ExtractOutcome::Failed;
                    notice.detail = errnoText(mkdirError && err == ENOENT ? mkdirError : err);
                }
                if (current != root_) ::close(current);
                return -1;
            }
            if (current != root_) ::close(current);
            current = next;
            walked += '/';
        }
        cachedFd_ = current;
        cachedKey_ = std::move(key);
        return current;
    }

private:
    void dropCache() {
        if (cachedFd_ >= 0) ::close(cachedFd_);
        cachedFd_ = -1;
        cachedKey_.clear();
    }
    int root_;
    int cachedFd_ = -1;
    std::string cachedKey_;
};

// The file an entry is written to. Where nothing has that name yet it is created in place
// (O_EXCL: nothing planted there can be opened); otherwise it is written under a name of our
// own and renamed over the old file at the end, which replaces the name instead of writing
// through it (a hard link, a fifo). Removed again unless committed.
class OutputFile {
public:
    OutputFile(int dir, const std::string& leaf, bool leafExists) : dir_(dir) {
        if (!leafExists) {
            fd_ = ::openat(dir_, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd_ >= 0) {
                name_ = leaf;
                direct_ = true;
                return;
            }
            if (errno != EEXIST) throwFromErrno(errno);
        }
        static const std::string prefix = ".qar-extract-" + std::to_string(::getpid()) + "-";
        for (int attempt = 0; attempt < 1000; ++attempt) {
            name_ = prefix + std::to_string(counter_++);
            fd_ = ::openat(dir_, name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd_ >= 0) return;
            if (errno != EEXIST) throwFromErrno(errno);
        }
        throwFromErrno(EEXIST);
    }
    ~OutputFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_) ::unlinkat(dir_, name_.c_str(), 0);
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    int fd() const { return fd_; }
    void closeChecked() {
        const int fd = std::exchange(fd_, -1);
        if (::close(fd) != 0 && errno != EINTR) {
            throwWriteError(errno);
        }
    }
    // Gives the file the entry's name; with noReplace an existing file of that name stays.
    // Returns 0 or the errno.
    int commit(const std::string& leaf, bool noReplace) {
        if (direct_) {
            committed_ = true;
            return 0;
        }
        int rc = ::renameat2(dir_, name_.c_str(), dir_, leaf.c_str(), noReplace ? RENAME_NOREPLACE : 0);
        if (rc != 0 && noReplace && errno == EINVAL) {
            // File systems without the no-replace flag: check, then rename.
            struct stat st{};
            if (::fstatat(dir_, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
            rc = ::renameat(dir_, name_.c_str(), dir_, leaf.c_str());
        }
        if (rc != 0) return errno;
        committed_ = true;
        return 0;
    }

private:
    static inline unsigned counter_ = 0;
    int dir_;
    int fd_ = -1;
    bool direct_ = false;
    bool committed_ = false;
    std::string name_;
};

// Thrown out of a copy when whileCopying says stop.
struct StopCopying {};

struct RunContext {
    const Archive& archive;
    const ExtractOptions& options;
    FolderWalker& walker;
    std::unordered_map<std::string, size_t>& writtenPaths;
    std::optional<FileId> archiveId;
    WorkBufferBytes& buffer;
};

// Where one file goes: its folder (opened), leaf name and path, and whether something of that
// name is there already.
struct Destination {
    int dir = -1;
    std::string leaf;
    bool exists = false;
    bool keep = false;
};

// Checks what stands at notice.path's leaf in dir; false (notice filled in) when the file is not
// to be written.
bool prepare(RunContext& run, Destination& to, ExtractNotice& notice) {
    const auto earlier = run.writtenPaths.find(notice.path);
    to.keep = run.options.keepExisting && earlier == run.writtenPaths.end();
    struct stat st{};
    to.exists = ::fstatat(to.dir, to.leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (to.exists) {
        if (S_ISDIR(st.st_mode)) {
            notice.outcome = ExtractOutcome::Blocked;
            notice.detail = notice.path + " is a folder";
            return false;
        }
        if (run.archiveId && fileIdOf(st) == *run.archiveId) {
            notice.outcome = ExtractOutcome::Blocked;
            notice.detail = notice.path + " is the archive being read";
            return false;
        }
        if (to.keep) {
            notice.outcome = ExtractOutcome::Kept;
            return false;
        }
    }
    if (earlier != run.writtenPaths.end()) notice.replacedIndex = earlier->second;
    return true;
}

// Writes a file through fill (which returns the bytes written) and gives it the leaf's name.
template <class Fill>
bool writeFile(RunContext& run, const Destination& to, ExtractNotice& notice, Fill&& fill) {
    std::optional<OutputFile> created;
    try {
        created.emplace(to.dir, to.leaf, to.exists);
    } catch (const FileError& e) {
        if (e.code() == kDiskFull) throw;
        notice.outcome = ExtractOutcome::Failed;
        notice.detail = e.what();
        return false;
    }
    OutputFile& output = *created;
    notice.written = fill(output.fd());
    output.closeChecked();
    if (const int err = output.commit(to.leaf, to.keep); err != 0) {
        if (err == EEXIST && to.keep) {
            notice.outcome = ExtractOutcome::Kept;
        } else {
            notice.outcome = ExtractOutcome::Failed;
            notice.detail = errnoText(err);
        }
        return false;
    }
    run.writtenPaths[notice.path] = notice.index;
    return true;
}

// The entry's bytes, copied as selecting and extracting it in the viewer copies them.
void writeRaw(RunContext& run, const ArchiveEntry& record, const Destination& to,
              ExtractNotice& notice) {
    ArchiveReader reader(run.archive);
    std::unique_ptr<ByteSource> held;
    ByteSource* from = &reader;
    int32_t remaining = record.size;
    try {
        if (run.options.source) {
            held = run.options.source->open(notice.index);
            from = held.get();
        } else {
            reader.seek(record.offset);
        }
    } catch (const FileError& e) {
        notice.outcome = ExtractOutcome::Failed;
        notice.detail = e.what();
        return;
    }
    const bool written = writeFile(run, to, notice, [&](int fd) {
        const EntryCopy copy{*from, remaining, run.buffer};
        if (!run.options.whileCopying) return CopyEntryToFile(copy, fd);
        return CopyEntryBytes(copy, [&](const uint8_t* data, int64_t count) {
            writeAll(fd, data, count);
            if (!run.options.whileCopying()) throw StopCopying();
        });
    });
    if (written && record.size > 0 && notice.written < record.size) {
        notice.outcome = ExtractOutcome::Truncated;
        notice.detail = "data beyond the end of the archive: wrote " + std::to_string(notice.written) +
                        " of " + std::to_string(record.size) + " bytes";
    }
}

std::string pathOf(const std::vector<std::string>& segments, const std::string& leaf) {
    std::string path;
    for (size_t i = 0; i + 1 < segments.size(); ++i) (path += segments[i]) += '/';
    return path + leaf;
}

std::string stemOf(const std::string& leaf) { return leaf.substr(0, leaf.find('.')); }

// The entry as it is, or as the files it was converted to; one notice per file.
void extractOne(RunContext& run, const ArchiveEntry& record, ExtractNotice base,
                const ConversionPool::Result* converted) {
    std::vector<std::string> segments;
    const NameVerdict verdict = SplitSafeName(record.name, segments);
    const auto report = [&](ExtractNotice& n) {
        if (run.options.onEntry) run.options.onEntry(n);
    };
    if (verdict != NameVerdict::Safe) {
        base.outcome = ExtractOutcome::UnsafeName;
        base.detail = DescribeVerdict(verdict);
        return report(base);
    }
    base.path = pathOf(segments, segments.back());
    Destination to;
    to.dir = run.walker.open(segments, segments.size() - 1, base);
    if (to.dir < 0) return report(base);
    if (converted && converted->error.empty()) {
        for (const ConvertedFile& file : converted->files) {
            ExtractNotice n = base;
            n.converted = true;
            to.leaf = stemOf(segments.back()) + file.suffix;
            n.path = pathOf(segments, to.leaf);
            if (prepare(run, to, n)) {
                writeFile(run, to, n, [&](int fd) {
                    writeAll(fd, file.bytes.data(), static_cast<int64_t>(file.bytes.size()));
                    return static_cast<int64_t>(file.bytes.size());
                });
            }
            report(n);
        }
        return;
    }
    if (converted) base.conversionError = converted->error;
    to.leaf = segments.back();
    if (prepare(run, to, base)) writeRaw(run, record, to, base);
    report(base);
}

// Counts a notice into the summary.
void count(ExtractSummary& summary, const ExtractNotice& n) {
    switch (n.outcome) {
    case ExtractOutcome::Written: ++summary.written; break;
    case ExtractOutcome::Truncated: ++summary.written; ++summary.problems; break;
    case ExtractOutcome::Kept: ++summary.kept; break;
    default: ++summary.problems; break;
    }
    if (n.converted && n.outcome == ExtractOutcome::Written) ++summary.converted;
    if (!n.conversionError.empty()) {
        ++summary.conversionFailures;
        ++summary.problems;
    }
}

}  // namespace

ExtractSummary ExtractEntries(const Archive& archive, const std::vector<size_t>& selection,
                              const std::string& targetDir, const ExtractOptions& options) {
    std::error_code ignored;
    std::filesystem::create_directories(targetDir, ignored);  // opening it reports the failure
    FdGuard root;
    root.fd = ::open(targetDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root.fd < 0) throwFromErrno(errno);

    ExtractSummary summary;
    ExtractOptions counting = options;
    counting.onEntry = [&](const ExtractNotice& n) {
        count(summary, n);
        if (options.onEntry) options.onEntry(n);
    };
    FolderWalker walker(root.fd);
    std::unordered_map<std::string, size_t> writtenPaths;
    const auto buffer = std::make_unique<WorkBufferBytes>();
    RunContext run{archive, counting, walker, writtenPaths, fileIdOf(archive.fd()), *buffer};

    const size_t total = selection.size();
    const ExtractSource* source = options.source;
    const size_t count = source ? source->count : archive.entryCount();
    const auto converts = [&](size_t k) {
        return !source && options.conversion && selection[k] < archive.entryCount() &&
               options.conversion->applies(archive.entry(selection[k]));
    };
    std::optional<ConversionPool> pool;
    if (options.conversion) pool.emplace(archive, *options.conversion);
    size_t ahead = 0;  // the next position whose conversion may be queued
    if (options.progress && !options.progress(0, total)) {
        summary.cancelled = true;
        return summary;
    }
    for (size_t k = 0; k < total; ++k) {
        // Conversions run ahead of the writing, as many as there are workers.
        for (; pool && ahead < total && !pool->full(); ++ahead)
            if (ahead >= k && converts(ahead)) pool->submit(ahead, selection[ahead]);
        const size_t index = selection[k];
        if (index >= count) continue;
        std::string heldName;
        ArchiveEntry record;
        if (source) {
            heldName = source->name(index);
            record.name = heldName;
            record.size = source->size(index);
        } else {
            record = archive.entry(index);
        }
        ExtractNotice notice;
        notice.index = index;
        notice.name = std::string(record.name);
        notice.size = record.size;
        if (options.writtenAs) {
            heldName = options.writtenAs(k);
            record.name = heldName;
        }
        std::optional<ConversionPool::Result> converted;
        if (converts(k)) converted = pool->take(k);
        try {
            extractOne(run, record, std::move(notice), converted ? &*converted : nullptr);
        } catch (const StopCopying&) {
            summary.cancelled = true;
            break;
        }
        if (options.progress && !options.progress(k + 1, total)) {
            summary.cancelled = true;
            break;
        }
    }
    return summary;
}

}  // namespace vorlr
