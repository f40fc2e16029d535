#pragma once
// libsndfile's virtual I/O over streams of our own: sounds read from memory or through a
// descriptor by the media layer, and sounds written to memory by the fixture generators. One
// set of callbacks for all of them.
#include <sndfile.h>

#include <cstdint>
#include <vector>

namespace vorlr {

// A position moved as lseek moves one in size bytes; -1 for a target before 0, or an offset
// that would overflow (hostile files ask for those).
int64_t movedPosition(int64_t pos, int64_t size, int64_t offset, int whence);

class SndfileStream {
public:
    virtual ~SndfileStream() = default;
    virtual int64_t length() const = 0;
    // Up to n bytes at pos: the count, 0 at the end, -1 on an error.
    virtual int64_t readAt(int64_t pos, void* out, int64_t n) = 0;
    // Writes n bytes at pos; a stream that is only read takes none.
    virtual int64_t writeAt(int64_t pos, const void* data, int64_t n);
    // libsndfile on this stream (mode SFM_READ or SFM_WRITE); nullptr when it refuses.
    SNDFILE* open(int mode, SF_INFO& info);
    int64_t position = 0;  // libsndfile's read or write position
};

// A file in memory that grows as it is written.
class MemorySndfile final : public SndfileStream {
public:
    int64_t length() const override { return static_cast<int64_t>(bytes.size()); }
    int64_t readAt(int64_t pos, void* out, int64_t n) override;
    int64_t writeAt(int64_t pos, const void* data, int64_t n) override;
    std::vector<uint8_t> bytes;
};

}  // namespace vorlr
