#include "archive/ArchiveWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "archive/ContainerLayout.h"
#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "platform/LittleEndian.h"
#include "platform/RuntimeFile.h"

namespace vorlr {

// How the new archive is laid out. The data area (520 up to the directory) is cut into units:
// entries whose data overlap (one inside another, duplicates sharing their data) form one block,
// and the bytes up to the next block (a gap, padding) stay with it; the bytes before the first
// block stay with the head. Units are written in their old order, moved up or down as whole:
// - a unit none of whose entries is removed or replaced is copied byte for byte;
// - a unit whose entries are all removed disappears with its gap;
// - otherwise the new data of its replaced entries goes where the block was, after the old
//   block bytes when other entries still use them, then the gap.
// Entries whose data lies outside the data area keep their offsets; new data for them, and
// added entries, go after the last data. When every data offset in the data area is a multiple
// of some 2^k (4 to 4096), new data starts on such a multiple and the gap after changed data is
// made up to one (the old gap bytes as far as they go, then zeros), so every offset stays one.
namespace {

constexpr int kFileNotOpen = 103;
constexpr int64_t kMaxAlignment = 4096;
constexpr int64_t kRecordsPerChunk = 4096;
constexpr int64_t kWritebackSlice = int64_t{64} << 20;

struct Piece {
    enum class Kind : uint8_t { Source, Zeros, Data } kind;
    int64_t from = 0;  // Source: position in the source
    int64_t length = 0;
    const NewData* data = nullptr;  // Data
};

// The archive edited: its head, its entries' locations, and what was seen of the file.
struct Source {
    const Archive* archive = nullptr;
    int fd = -1;
    size_t count = 0;
    int64_t dirStart = kDataStart;
    std::vector<uint8_t> head = std::vector<uint8_t>(kDataStart, 0);
    struct stat seen{};
};

struct Plan {
    std::vector<Piece> pieces;  // everything between the head and the directory
    std::vector<int64_t> offset;  // new data offset of every source entry kept
    std::vector<int64_t> addOffset;
    std::map<size_t, int64_t> replaceSize;  // entry index -> size of its new data
    std::vector<int64_t> addSize;
    int64_t newCount = 0;
    int64_t dataEnd = kDataStart;
};

[[noreturn]] void sourceChanged(const std::string& path) {
    throw Error(path + " changed while the new archive was made; nothing written");
}

Source readSource(const Archive& archive) {
    if (!archive.isOpen()) throwFileError(kFileNotOpen);
    Source s;
    s.archive = &archive;
    s.fd = archive.fd();
    if (::fstat(s.fd, &s.seen) != 0) throwFromErrno(errno);
    if (archive.readAt(0, s.head.data(), kDataStart) != kDataStart)
        throwFileError(kReadBeyondEof);
    const int32_t count = leI32(s.head.data() + kCountOffset);
    if (count < 1) throw Error("entry count is not positive");
    if (static_cast<size_t>(count) != archive.entryCount()) sourceChanged(archive.path());
    s.count = static_cast<size_t>(count);
    s.dirStart = s.seen.st_size - int64_t{count} * kRecordSize;
    if (s.dirStart < kDataStart)
        throw Error("the directory overlaps the counts: " + archive.path() +
                    " cannot be rewritten");
    return s;
}

void checkName(const std::string& name) {
    if (name.empty()) throw Error("empty entry name");
    if (name.find('\0') != std::string::npos) throw Error("entry name holds a zero byte");
    if (static_cast<int64_t>(name.size()) >= kNameBytes)
        throw Error("name of 200 bytes or more: " + name);
}

int64_t sizeOf(const NewData& data) {
    if (data.from) return data.fromSize;
    if (data.path.empty()) return static_cast<int64_t>(data.bytes.size());
    struct stat st{};
    if (::stat(data.path.c_str(), &st) != 0) throwFromErrno(errno);
    if (!S_ISREG(st.st_mode)) throw Error("not a regular file: " + data.path);
    return st.st_size;
}

// One file larger than an archive may be (the sum of several is checked once planned).
void checkDataSize(int64_t size, const std::string& what) {
    if (size > kMaxArchiveBytes)
        throw Error(what + " is " + std::to_string(size) + " bytes, more than the limit of " +
                    std::to_string(kMaxArchiveBytes) + " bytes of an archive; nothing written");
}

std::string describe(const Source& s, size_t index) {
    const std::string_view name = s.archive->entry(index).name;
    return name.empty() ? "#" + std::to_string(index) : std::string(name);
}

class Planner {
public:
    Planner(const Source& source, const ArchiveEdit& edit) : s_(source), e_(edit) {}

    Plan run() {
        checkEdit();
        const auto inArea = [&](size_t i) {
            const int64_t off = s_.archive->entry(i).offset;
            return off >= kDataStart && off <= s_.dirStart;
        };
        std::vector<size_t> members;
        for (size_t i = 0; i < s_.count; ++i)
            if (inArea(i)) members.push_back(i);
        plan_.offset.assign(s_.count, -1);
        alignment_ = alignmentOf(members);
        std::sort(members.begin(), members.end(), [&](size_t a, size_t b) {
            if (begin(a) != begin(b)) return begin(a) < begin(b);
            if (end(a) != end(b)) return end(a) > end(b);  // the enclosing one first
            return a < b;
        });

        // Blocks: runs of members whose data overlap.
        struct Block {
            size_t first, last;  // in members
            int64_t start, end;
        };
        std::vector<Block> blocks;
        for (size_t k = 0; k < members.size(); ++k) {
            const size_t i = members[k];
            if (!blocks.empty() && begin(i) < blocks.back().end) {
                blocks.back().last = k;
                blocks.back().end = std::max(blocks.back().end, end(i));
            } else {
                blocks.push_back({k, k, begin(i), end(i)});
            }
        }

        pos_ = kDataStart;
        copy(kDataStart, (blocks.empty() ? s_.dirStart : blocks.front().start) - kDataStart);
        for (size_t b = 0; b < blocks.size(); ++b) {
            const Block& block = blocks[b];
            const bool last = b + 1 == blocks.size();
            const int64_t next = last ? s_.dirStart : blocks[b + 1].start;
            std::vector<size_t> kept, replaced;
            bool removed = false;
            for (size_t k = block.first; k <= block.last; ++k) {
                const size_t i = members[k];
                if (e_.remove.count(i)) removed = true;
                else if (e_.replace.count(i)) replaced.push_back(i);
                else kept.push_back(i);
            }
            if (!removed && replaced.empty()) {
                for (size_t i : kept) place(i, pos_ + begin(i) - block.start);
                copy(block.start, next - block.start);
                continue;
            }
            if (kept.empty() && replaced.empty()) continue;  // gone with its gap
            if (!kept.empty()) {
                const int64_t base = pos_;
                copy(block.start, block.end - block.start);
                for (size_t i : kept) place(i, base + begin(i) - block.start);
            }
            for (size_t i : replaced) {
                align();
                place(i, pos_);
                pos_ = data(e_.replace.at(i), plan_.replaceSize.at(i));
            }
            const int64_t gap = next - block.end;
            if (alignment_ == 1 || last) {
                copy(block.end, gap);
            } else if (gap >= alignment_) {
                copy(block.end, gap);
                align();
            } else {
                const int64_t pad = padding();
                copy(block.end, std::min(pad, gap));
                zeros(pad - std::min(pad, gap));
            }
        }

        // Outside the data area: offsets kept; new data for such entries goes at the end.
        for (size_t i = 0; i < s_.count; ++i) {
            if (inArea(i) || e_.remove.count(i)) continue;
            if (auto r = e_.replace.find(i); r != e_.replace.end()) {
                align();
                place(i, pos_);
                pos_ = data(r->second, plan_.replaceSize.at(i));
            } else {
                plan_.offset[i] = s_.archive->entry(i).offset;
            }
        }
        plan_.addOffset.reserve(e_.add.size());
        for (size_t a = 0; a < e_.add.size(); ++a) {
            align();
            plan_.addOffset.push_back(pos_);
            pos_ = data(e_.add[a].second, plan_.addSize[a]);
        }
        plan_.dataEnd = pos_;
        // Every position in the file, the directory's included, is a signed 32-bit number.
        CheckArchiveSize(plan_.dataEnd + plan_.newCount * kRecordSize);
        return std::move(plan_);
    }

private:
    void checkEdit() {
        const auto checkIndex = [&](size_t i) {
            if (i >= s_.count) throw Error("no entry #" + std::to_string(i));
        };
        for (size_t i : e_.remove) checkIndex(i);
        for (const auto& [i, d] : e_.replace) {
            checkIndex(i);
            if (e_.remove.count(i)) throw Error(describe(s_, i) + " is both removed and replaced");
        }
        for (const auto& [i, name] : e_.rename) {
            checkIndex(i);
            if (e_.remove.count(i)) throw Error(describe(s_, i) + " is both removed and renamed");
            checkName(name);
        }
        for (const auto& [name, d] : e_.add) checkName(name);
        plan_.newCount = static_cast<int64_t>(s_.count - e_.remove.size() + e_.add.size());
        if (plan_.newCount < 1) throw Error("an archive needs at least one entry");
        if (plan_.newCount > kMaxField / kRecordSize)
            throw Error("too many entries for one archive: " + std::to_string(plan_.newCount));
        for (const auto& [i, d] : e_.replace) plan_.replaceSize[i] = sized(d, describe(s_, i));
        plan_.addSize.reserve(e_.add.size());
        for (const auto& [name, d] : e_.add) plan_.addSize.push_back(sized(d, name));
    }

    static int64_t sized(const NewData& d, const std::string& what) {
        if (!d.record.empty() && d.record.size() != kRecordSize)
            throw Error("a directory record of " + std::to_string(d.record.size()) + " bytes for " + what);
        const int64_t size = sizeOf(d);
        checkDataSize(size, d.path.empty() ? what : d.path);
        return size;
    }

    int64_t begin(size_t i) const { return s_.archive->entry(i).offset; }
    // The data as far as it lies in the data area; a negative size holds nothing.
    int64_t end(size_t i) const {
        const ArchiveEntry e = s_.archive->entry(i);
        return std::min<int64_t>(int64_t{e.offset} + std::max<int32_t>(e.size, 0), s_.dirStart);
    }

    int64_t alignmentOf(const std::vector<size_t>& members) const {
        if (members.empty()) return 1;
        int64_t bits = 0;
        for (size_t i : members) bits |= begin(i);
        const int64_t lowest = std::min(bits & -bits, kMaxAlignment);
        return lowest >= 4 ? lowest : 1;
    }

    // An offset past the 32-bit fields makes the archive too large, refused once planned.
    void place(size_t i, int64_t offset) { plan_.offset[i] = offset; }
    int64_t padding() const { return (alignment_ - pos_ % alignment_) % alignment_; }
    void align() { zeros(padding()); }

    void copy(int64_t from, int64_t length) {
        if (length <= 0) return;
        auto& p = plan_.pieces;
        if (!p.empty() && p.back().kind == Piece::Kind::Source &&
            p.back().from + p.back().length == from)
            p.back().length += length;
        else
            p.push_back({Piece::Kind::Source, from, length, nullptr});
        pos_ += length;
    }
    void zeros(int64_t length) {
        if (length <= 0) return;
        plan_.pieces.push_back({Piece::Kind::Zeros, 0, length, nullptr});
        pos_ += length;
    }
    // Returns the position after the data.
    int64_t data(const NewData& d, int64_t size) {
        if (size > 0) plan_.pieces.push_back({Piece::Kind::Data, 0, size, &d});
        return pos_ + size;
    }

    const Source& s_;
    const ArchiveEdit& e_;
    Plan plan_;
    int64_t alignment_ = 1;
    int64_t pos_ = kDataStart;
};

void put32(uint8_t* p, int64_t value) {
    putLe32(p, static_cast<uint32_t>(static_cast<int32_t>(value)));
}

void writeData(const NewData& d, int64_t size, int out) {
    if (d.from) {
        if (d.fromOffset < 0 || d.from->size() < d.fromOffset + size) sourceChanged(d.from->path());
        return CopyFileRange(d.from->fd(), d.fromOffset, out, size);
    }
    if (d.path.empty()) return writeAll(out, d.bytes.data(), size);
    RuntimeFile in;
    in.openExisting(d.path, RuntimeFile::Access::ReadOnly);
    // The file the plan looked at, not one a link or a rename put there since.
    const auto unchanged = [&] {
        struct stat st{};
        if (::fstat(in.fd(), &st) != 0) throwFromErrno(errno);
        const bool same = st.st_size == size && (!d.identity || fileIdOf(st) == *d.identity) &&
                          (!d.modified || (st.st_mtim.tv_sec == d.modified->tv_sec &&
                                           st.st_mtim.tv_nsec == d.modified->tv_nsec));
        if (!same) throw Error(d.path + " changed while the new archive was made");
    };
    unchanged();
    CopyFileRange(in.fd(), 0, out, size);
    unchanged();
}

class DirectoryWriter {
public:
    explicit DirectoryWriter(int out) : out_(out) { buffer_.reserve(1 << 20); }
    uint8_t* next() {
        if (buffer_.size() + kRecordSize > buffer_.capacity()) flush();
        buffer_.resize(buffer_.size() + kRecordSize);
        return buffer_.data() + buffer_.size() - kRecordSize;
    }
    void flush() {
        writeAll(out_, buffer_.data(), static_cast<int64_t>(buffer_.size()));
        buffer_.clear();
    }

private:
    int out_;
    std::vector<uint8_t> buffer_;
};

void writeRecords(const Source& s, const ArchiveEdit& edit, const Plan& plan, int out) {
    DirectoryWriter dir(out);
    std::vector<uint8_t> chunk;
    for (size_t done = 0; done < s.count;) {
        const size_t n = std::min<size_t>(s.count - done, kRecordsPerChunk);
        chunk.resize(n * kRecordSize);
        const int64_t at = s.dirStart + static_cast<int64_t>(done) * kRecordSize;
        if (s.archive->readAt(at, chunk.data(), static_cast<int64_t>(chunk.size())) !=
            static_cast<int64_t>(chunk.size()))
            sourceChanged(s.archive->path());
        for (size_t k = 0; k < n; ++k) {
            const size_t i = done + k;
            const uint8_t* old = chunk.data() + k * kRecordSize;
            const ArchiveEntry e = s.archive->entry(i);
            if (leI32(old + kOffsetField) != e.offset || leI32(old + kSizeField) != e.size)
                sourceChanged(s.archive->path());
            if (edit.remove.count(i)) continue;
            uint8_t* record = dir.next();
            std::memcpy(record, old, kRecordSize);
            if (auto r = edit.replace.find(i); r != edit.replace.end()) {
                if (!r->second.record.empty()) std::memcpy(record, r->second.record.data(), kRecordSize);
                put32(record + kSizeField, plan.replaceSize.at(i));
            }
            put32(record + kOffsetField, plan.offset[i]);
            if (auto r = edit.rename.find(i); r != edit.rename.end()) {
                // The new name and its zero; bytes after the old name's zero stay as they were.
                const void* zero = std::memchr(old, 0, kNameField);
                const size_t oldEnd = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - old) : 0;
                std::memset(record, 0, std::max(oldEnd, r->second.size()) + 1);
                std::memcpy(record, r->second.data(), r->second.size());
            }
        }
        done += n;
    }
    for (size_t a = 0; a < edit.add.size(); ++a) {
        uint8_t* record = dir.next();
        const NewData& data = edit.add[a].second;
        if (data.record.empty()) {
            std::memset(record, 0, kRecordSize);
            const std::string& name = edit.add[a].first;
            std::memcpy(record, name.data(), name.size());
        } else {
            std::memcpy(record, data.record.data(), kRecordSize);
        }
        put32(record + kOffsetField, plan.addOffset[a]);
        put32(record + kSizeField, plan.addSize[a]);
    }
    dir.flush();
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void checkUnchanged(const Source& s, const std::string& path) {
    struct stat now{};
    if (::fstat(s.fd, &now) != 0 || now.st_size != s.seen.st_size ||
        now.st_mtim.tv_sec != s.seen.st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != s.seen.st_mtim.tv_nsec)
        sourceChanged(path);
}

// The old archive kept as path.bak: a second name for it, or a copy where links are refused.
void keepBackup(const std::string& path, int fd, int64_t size) {
    const std::string backup = path + ".bak";
    const std::string temp = TemporaryNameBeside(backup);
    if (::link(path.c_str(), temp.c_str()) == 0) {
        if (::rename(temp.c_str(), backup.c_str()) != 0) {
            const int err = errno;
            ::unlink(temp.c_str());
            throwFromErrno(err);
        }
        return;
    }
    AtomicFile copy(backup);
    CopyFileRange(fd, 0, copy.fd(), size);
    copy.commit();
}

void write(const Source& s, const ArchiveEdit& edit, const WriteTarget& target) {
    const Plan plan = Planner(s, edit).run();

    if (s.archive) {
        struct stat out{};
        const bool same = ::stat(target.path.c_str(), &out) == 0 && sameFile(out, s.seen);
        if (same && !target.inPlace)
            throw Error(target.path + " is the archive itself; --in-place writes over it");
        if (!same && target.inPlace) sourceChanged(s.archive->path());
    }

    AtomicFile file(target.path);
    const int out = file.fd();
    std::vector<uint8_t> head = s.head;
    const int32_t oldCount = leI32(head.data() + kCountOffset);
    if (leI32(head.data() + kSecondCountOffset) == oldCount)
        put32(head.data() + kSecondCountOffset, plan.newCount);
    put32(head.data() + kCountOffset, plan.newCount);
    writeAll(out, head.data(), kDataStart);
    int64_t written = kDataStart;
    int64_t total = kDataStart + int64_t{plan.newCount} * kRecordSize;
    for (const Piece& p : plan.pieces) total += p.length;
    const auto progress = [&](int64_t at) {
        if (target.progress) target.progress(at, total);
    };
    progress(written);

    // Big copies go in slices, each handed to the disk at once, so that the disk writes while
    // the next is copied and the flush at the end has little left to do.
    const auto copySlices = [&](int in, int64_t from, int64_t length) {
        for (int64_t done = 0; done < length;) {
            const int64_t n = std::min(length - done, kWritebackSlice);
            CopyFileRange(in, from + done, out, n);
            (void)::sync_file_range(out, written + done, n, SYNC_FILE_RANGE_WRITE);
            done += n;
            if (done < length) progress(written + done);
        }
    };
    std::vector<uint8_t> zeros;
    for (const Piece& p : plan.pieces) {
        switch (p.kind) {
        case Piece::Kind::Source:
            copySlices(s.fd, p.from, p.length);
            break;
        case Piece::Kind::Zeros:
            zeros.resize(static_cast<size_t>(std::max<int64_t>(p.length, static_cast<int64_t>(zeros.size()))));
            writeAll(out, zeros.data(), p.length);
            break;
        case Piece::Kind::Data:
            writeData(*p.data, p.length, out);
            break;
        }
        written += p.length;
        progress(written);
    }
    writeRecords(s, edit, plan, out);
    written += plan.newCount * kRecordSize;
    progress(written);

    file.commit([&] {
        if (target.beforeCommit) target.beforeCommit();
        if (!s.archive) return;
        checkUnchanged(s, s.archive->path());
        if (target.inPlace && target.backup) keepBackup(file.target(), s.fd, s.seen.st_size);
    });
}

}  // namespace

void CheckArchiveSize(int64_t bytes) {
    if (bytes > kMaxArchiveBytes)
        throw Error("the archive would be " + std::to_string(bytes) +
                    " bytes, more than the limit of " + std::to_string(kMaxArchiveBytes) +
                    " bytes; nothing written");
}

void CheckArchiveEdit(const Archive& source, const ArchiveEdit& edit) {
    const Source s = readSource(source);
    (void)Planner(s, edit).run();
}

void WriteEditedArchive(const Archive& source, const ArchiveEdit& edit, const WriteTarget& target) {
    write(readSource(source), edit, target);
}

void WriteNewArchive(const std::vector<std::pair<std::string, NewData>>& entries,
                     const WriteTarget& target) {
    ArchiveEdit edit;
    edit.add = entries;
    write(Source{}, edit, target);
}

}  // namespace vorlr
