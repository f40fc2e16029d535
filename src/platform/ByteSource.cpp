#include "platform/ByteSource.h"

#include <algorithm>
#include <cstring>

#include "platform/Errors.h"

namespace vorlr {

void ByteSource::readExact(void* buffer, int64_t count) {
    if (count <= 0) return;
    if (readCounted(buffer, count) != count) throwFileError(kReadBeyondEof);
}

int64_t MemoryByteSource::readCounted(void* buffer, int64_t count) {
    if (count <= 0 || pos_ >= static_cast<int64_t>(size_)) return 0;
    const int64_t n = std::min<int64_t>(count, static_cast<int64_t>(size_) - pos_);
    std::memcpy(buffer, data_ + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
}

void MemoryByteSource::seek(int64_t position) {
    if (position < 0) throwFileError(kNegativeSeek);
    pos_ = position;
}

BufferedByteSource::BufferedByteSource(ByteSource& source, size_t blockSize)
    : source_(source), block_(blockSize), pos_(source.position()) {
    blockStart_ = blockEnd_ = pos_;
}

int64_t BufferedByteSource::readCounted(void* buffer, int64_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t got = 0;
    while (got < count) {
        if (pos_ < blockStart_ || pos_ >= blockEnd_) {
            // Large reads skip the block; small ones fill it from here on.
            source_.seek(pos_);
            if (count - got >= static_cast<int64_t>(block_.size())) {
                const int64_t n = source_.readCounted(out + got, count - got);
                pos_ += n;
                return got + n;
            }
            blockStart_ = pos_;
            blockEnd_ = pos_ + source_.readCounted(block_.data(), static_cast<int64_t>(block_.size()));
            if (blockEnd_ == blockStart_) break;  // the source has ended
        }
        const int64_t n = std::min(count - got, blockEnd_ - pos_);
        std::memcpy(out + got, block_.data() + (pos_ - blockStart_), static_cast<size_t>(n));
        got += n;
        pos_ += n;
    }
    return got;
}

void BufferedByteSource::seek(int64_t position) {
    if (position < 0) throwFileError(kNegativeSeek);
    pos_ = position;
}

}  // namespace vorlr
