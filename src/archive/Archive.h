#pragma once
// An open archive: the read-only file and the directory records read from it. Any number of
// readers, on any threads, read its bytes at once; each keeps a position of its own.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ContainerLayout.h"
#include "platform/ByteSource.h"
#include "platform/RuntimeFile.h"

namespace vorlr {

// One directory record as read.
struct ArchiveEntry {
    std::string_view name;   // the bytes before the first zero of the first 200; empty if none
    bool terminated = true;  // a zero byte among the first 200 name bytes
    int32_t offset = 0;      // data offset, signed as stored
    int32_t size = 0;        // data size, signed as stored
};

class ArchiveReader;

class Archive {
public:
    Archive() = default;
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // Opens path read-only, closing the file held before and forgetting its entries. Failures
    // raise the runtime's file errors.
    void open(const std::string& path);
    void close() noexcept;
    bool isOpen() const noexcept { return file_.isOpen(); }
    const std::string& path() const noexcept { return file_.path(); }
    int fd() const noexcept { return file_.fd(); }
    int64_t size() const { return file_.fileSize(); }
    // Counted read at a position: "File not open" when closed, "I/O error 131" when negative.
    int64_t readAt(int64_t position, void* buffer, int64_t count) const {
        return file_.readAt(position, buffer, count);
    }

    // The entries read so far, in directory order. A name stays valid until entries are added,
    // the archive is opened again or closed.
    size_t entryCount() const noexcept { return entries_.size(); }
    ArchiveEntry entry(size_t index) const;
    // entry(index).name, without the rest (for walks over every name).
    std::string_view name(size_t index) const {
        const Stored& s = entries_.at(index);
        return std::string_view(names_.data() + s.nameAt, s.nameLength);
    }
    void reserveEntries(size_t count);
    void clearEntries() noexcept;
    // Adds the entry of one 280-byte directory record.
    void addEntry(const uint8_t* record);

    // A reader at entry index's data offset. Its reads run on past the recorded size, to the
    // end of the file, as the viewer's do. A negative offset raises "I/O error 131".
    ArchiveReader entryReader(size_t index) const;
    // Counts the opens, so that a reader starts again at 0 on a file opened anew.
    uint64_t generation() const noexcept { return generation_; }

private:
    struct Stored {
        uint32_t nameAt = 0;
        uint8_t nameLength = 0;
        bool terminated = true;
        int32_t offset = 0;
        int32_t size = 0;
    };
    RuntimeFile file_;
    uint64_t generation_ = 0;
    std::vector<char> names_;  // every entry's name, back to back
    std::vector<Stored> entries_;
};

// A read position in an archive: the file as a ByteSource of its own. Like a file handle's, the
// position is 0 again once the archive has been opened anew.
class ArchiveReader final : public ByteSource {
public:
    explicit ArchiveReader(const Archive& archive)
        : archive_(&archive), generation_(archive.generation()) {}
    int64_t readCounted(void* buffer, int64_t count) override;
    // "File not open" when the archive is closed; a negative position: "I/O error 131".
    void seek(int64_t position) override;
    int64_t position() override;
    int64_t size() override { return archive_->size(); }
    const Archive& archive() const noexcept { return *archive_; }

private:
    int64_t& pos() {
        if (generation_ != archive_->generation()) {
            generation_ = archive_->generation();
            pos_ = 0;
        }
        return pos_;
    }
    const Archive* archive_;
    uint64_t generation_;
    int64_t pos_ = 0;
};

}  // namespace vorlr
