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

}  // namespace vorlr
