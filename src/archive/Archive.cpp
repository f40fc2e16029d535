#include "archive/Archive.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/Errors.h"
#include "platform/LittleEndian.h"

namespace vorlr {

namespace {
constexpr int kFileNotOpen = 103;
}

void Archive::open(const std::string& path) {
    close();
    ++generation_;
    file_.openExisting(path, RuntimeFile::Access::ReadOnly);
}

void Archive::close() noexcept {
    file_.close();
    clearEntries();
}

void Archive::clearEntries() noexcept {
    entries_.clear();
    entries_.shrink_to_fit();
    names_.clear();
    names_.shrink_to_fit();
}

ArchiveEntry Archive::entry(size_t index) const {
    const Stored& s = entries_.at(index);
    return ArchiveEntry{std::string_view(names_.data() + s.nameAt, s.nameLength), s.terminated,
                        s.offset, s.size};
}

void Archive::reserveEntries(size_t count) { entries_.reserve(count); }

void Archive::addEntry(const uint8_t* record) {
    const void* zero = std::memchr(record, 0, kNameBytes);
    const size_t length = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - record) : 0;
    if (names_.size() > UINT32_MAX - kNameBytes) throw Error("Out of memory");
    Stored s;
    s.nameAt = static_cast<uint32_t>(names_.size());
    s.nameLength = static_cast<uint8_t>(length);
    s.terminated = zero != nullptr;
    s.offset = leI32(record + kOffsetField);
    s.size = leI32(record + kSizeField);
    if (names_.size() + length > names_.capacity()) {
        // Past a sample of names, grown at once to what they foretell for every entry reserved
        // and a quarter more: doubling would copy the names and touch fresh memory for them
        // several times over. Only room is taken, not yet memory.
        const size_t doubled = std::max(names_.capacity() * 2, size_t{4096});
        size_t room = doubled;
        if (entries_.size() >= 1024)
            room = std::max(room, names_.size() / entries_.size() * entries_.capacity() / 4 * 5);
        try {
            names_.reserve(room);
        } catch (const std::bad_alloc&) {
            names_.reserve(doubled);
        }
    }
    names_.insert(names_.end(), record, record + length);
    entries_.push_back(s);
}

ArchiveReader Archive::entryReader(size_t index) const {
    ArchiveReader reader(*this);
    reader.seek(entry(index).offset);
    return reader;
}

int64_t ArchiveReader::readCounted(void* buffer, int64_t count) {
    const int64_t got = archive_->readAt(pos(), buffer, count);
    pos_ += got;
    return got;
}

void ArchiveReader::seek(int64_t position) {
    if (!archive_->isOpen()) throwFileError(kFileNotOpen);
    if (position < 0) throwFileError(kNegativeSeek);
    pos() = position;
}

int64_t ArchiveReader::position() {
    if (!archive_->isOpen()) throwFileError(kFileNotOpen);
    return pos();
}

}  // namespace vorlr
