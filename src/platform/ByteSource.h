#pragma once
// A readable, seekable byte stream: a real file or a memory buffer. Decoders read through it,
// so tests, benchmarks and fuzzers need no files.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorlr {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Counted read: returns how many bytes arrived (fewer only at the end); never fails on a
    // short read.
    virtual int64_t readCounted(void* buffer, int64_t count) = 0;
    virtual void seek(int64_t position) = 0;
    virtual int64_t position() = 0;
    virtual int64_t size() = 0;
    // Plain read: fewer bytes than asked raises "Read beyond end of file".
    void readExact(void* buffer, int64_t count);
};

class MemoryByteSource final : public ByteSource {
public:
    MemoryByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit MemoryByteSource(const std::vector<uint8_t>& bytes)
        : data_(bytes.data()), size_(bytes.size()) {}
    int64_t readCounted(void* buffer, int64_t count) override;
    void seek(int64_t position) override;
    int64_t position() override { return pos_; }
    int64_t size() override { return static_cast<int64_t>(size_); }

private:
    const uint8_t* data_;
    size_t size_;
    int64_t pos_ = 0;
};

// Reads another source in large blocks, so that decoders asking for a few bytes at a time cost
// one system call per block: the same bytes, counts and errors as reading the source itself.
class BufferedByteSource final : public ByteSource {
public:
    explicit BufferedByteSource(ByteSource& source, size_t blockSize = size_t{1} << 16);
    int64_t readCounted(void* buffer, int64_t count) override;
    void seek(int64_t position) override;
    int64_t position() override { return pos_; }
    int64_t size() override { return source_.size(); }

private:
    ByteSource& source_;
    std::vector<uint8_t> block_;
    int64_t blockStart_ = 0;  // source position of block_[0]
    int64_t blockEnd_ = 0;    // one past the last byte held
    int64_t pos_;
};

}  // namespace vorlr
