#include "platform/sndfile/SndfileIo.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace vorlr {

int64_t movedPosition(int64_t pos, int64_t size, int64_t offset, int whence) {
    const int64_t base = whence == SEEK_CUR ? pos : whence == SEEK_END ? size : 0;
    if ((offset > 0 && base > INT64_MAX - offset) || (offset < 0 && base < INT64_MIN - offset))
        return -1;
    const int64_t target = base + offset;
    return target < 0 ? -1 : target;
}

int64_t SndfileStream::writeAt(int64_t, const void*, int64_t) { return 0; }

namespace {

SndfileStream& streamOf(void* user) { return *static_cast<SndfileStream*>(user); }

sf_count_t ioLength(void* user) { return streamOf(user).length(); }

sf_count_t ioSeek(sf_count_t offset, int whence, void* user) {
    SndfileStream& s = streamOf(user);
    const int64_t to = movedPosition(s.position, s.length(), offset, whence);
    if (to < 0) return -1;
    s.position = to;
    return to;
}

sf_count_t ioRead(void* ptr, sf_count_t count, void* user) {
    SndfileStream& s = streamOf(user);
    const int64_t got = count > 0 ? s.readAt(s.position, ptr, count) : 0;
    if (got <= 0) return 0;
    s.position += got;
    return got;
}

sf_count_t ioWrite(const void* ptr, sf_count_t count, void* user) {
    SndfileStream& s = streamOf(user);
    const int64_t put = count > 0 ? s.writeAt(s.position, ptr, count) : 0;
    if (put <= 0) return 0;
    s.position += put;
    return put;
}

sf_count_t ioTell(void* user) { return streamOf(user).position; }

}  // namespace

SNDFILE* SndfileStream::open(int mode, SF_INFO& info) {
    SF_VIRTUAL_IO io{ioLength, ioSeek, ioRead, ioWrite, ioTell};
    return sf_open_virtual(&io, mode, &info, this);
}

int64_t MemorySndfile::readAt(int64_t pos, void* out, int64_t n) {
    if (pos < 0 || n < 0) return -1;
    if (pos >= length()) return 0;
    n = std::min(n, length() - pos);
    std::memcpy(out, bytes.data() + pos, static_cast<size_t>(n));
    return n;
}

int64_t MemorySndfile::writeAt(int64_t pos, const void* data, int64_t n) {
    if (pos < 0 || n <= 0) return 0;
    const auto end = static_cast<size_t>(pos + n);
    if (bytes.size() < end) bytes.resize(end);
    std::memcpy(bytes.data() + pos, data, static_cast<size_t>(n));
    return n;
}

}  // namespace vorlr
