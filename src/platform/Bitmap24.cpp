#include "platform/Bitmap24.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/Errors.h"
#include "platform/LittleEndian.h"
#include "platform/RuntimeFile.h"

namespace vorlr {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
}

template <class T>
T* PixelAllocator<T>::allocate(size_t n) {
    const size_t bytes = n * sizeof(T);
    if (bytes < kHugePage) return static_cast<T*>(::operator new(bytes));
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (!p) throw std::bad_alloc();
    ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint; without it the pages are merely small
    return static_cast<T*>(p);
}

template <class T>
void PixelAllocator<T>::deallocate(T* p, size_t n) noexcept {
    if (n * sizeof(T) < kHugePage)
        ::operator delete(p);
    else
        std::free(p);
}

template struct PixelAllocator<uint8_t>;
template struct PixelAllocator<uint16_t>;

Bitmap24::Bitmap24(int width, int height) { setSize(width, height); }

void Bitmap24::setSize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == width_ && height == height_) return;
    const size_t bytes = static_cast<size_t>(width) * 3 * static_cast<size_t>(height);
    if (bytes > kMaxPixelBytes) throw Error("Out of memory");
    PixelBuffer next(bytes, 0xFF);
    const size_t newStride = static_cast<size_t>(width) * 3;
    const size_t keep = std::min(newStride, stride());
    const int rows = std::min(height, height_);
    for (int y = 0; y < rows && keep > 0; ++y)
        std::memcpy(next.data() + static_cast<size_t>(y) * newStride, row(y), keep);
    PixelBuffer nextAlpha;
    if (hasAlpha_) {
        nextAlpha.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0xFF);
        const size_t keepA = std::min(width, width_);
        for (int y = 0; y < rows && keepA > 0; ++y)
            std::memcpy(nextAlpha.data() + static_cast<size_t>(y) * width, alphaRow(y), keepA);
    }
    IndexBuffer nextIndexes;
    if (hasIndexes_) {
        nextIndexes.assign(static_cast<size_t>(width) * static_cast<size_t>(height), kNoIndex);
        const size_t keepI = std::min(width, width_);
        for (int y = 0; y < rows && keepI > 0; ++y)
            std::copy_n(indexRow(y), keepI, nextIndexes.data() + static_cast<size_t>(y) * width);
    }
    pixels_ = std::move(next);
    alpha_ = std::move(nextAlpha);
    indexes_ = std::move(nextIndexes);
    width_ = width;
    height_ = height;
}

void Bitmap24::setHasAlpha(bool on) {
    hasAlpha_ = on;
    if (!on)
        alpha_ = PixelBuffer();
    else if (alpha_.size() != static_cast<size_t>(width_) * static_cast<size_t>(height_))
        alpha_.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_), 0xFF);
}

void Bitmap24::setHasIndexes(bool on) {
    hasIndexes_ = on;
    if (!on)
        indexes_ = IndexBuffer();
    else
        indexes_.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_), kNoIndex);
}

void Bitmap24::copyRect(const Rect& dst, const Rect& src) {
    if (dst.width() <= 0 || dst.height() <= 0 || src.width() <= 0 || src.height() <= 0) return;
    // Work from a copy of the source area so overlapping rectangles read unchanged pixels.
    const int sw = src.width(), sh = src.height();
    std::vector<uint8_t> area(static_cast<size_t>(sw) * sh * 3, 0xFF);
    for (int y = 0; y < sh; ++y) {
        const int sy = src.top + y;
        if (sy < 0 || sy >= height_) continue;
        for (int x = 0; x < sw; ++x) {
            const int sx = src.left + x;
            if (sx < 0 || sx >= width_) continue;
            std::memcpy(&area[(static_cast<size_t>(y) * sw + x) * 3], row(sy) + sx * 3, 3);
        }
    }
    const int dw = dst.width(), dh = dst.height();
    const bool same = dw == sw && dh == sh;
    for (int y = 0; y < dh; ++y) {
        const int dy = dst.top + y;
        if (dy < 0 || dy >= height_) continue;
        const int ay = same ? y : static_cast<int>(static_cast<int64_t>(y) * sh / dh);
        for (int x = 0; x < dw; ++x) {
            const int dx = dst.left + x;
            if (dx < 0 || dx >= width_) continue;
            const int ax = same ? x : static_cast<int>(static_cast<int64_t>(x) * sw / dw);
            std::memcpy(row(dy) + dx * 3, &area[(static_cast<size_t>(ay) * sw + ax) * 3], 3);
        }
    }
}

std::vector<uint8_t> Bitmap24::toBmp() const {
    const size_t rowBytes = (stride() + 3) & ~size_t{3};
    const size_t imageSize = rowBytes * static_cast<size_t>(height_);
    std::vector<uint8_t> out(54 + imageSize, 0);
    out[0] = 'B';
    out[1] = 'M';
    uint8_t* h = out.data();
    putLe32(h + 2, static_cast<uint32_t>(out.size()));
    putLe32(h + 10, 54);
    putLe32(h + 14, 40);
    putLe32(h + 18, static_cast<uint32_t>(width_));
    putLe32(h + 22, static_cast<uint32_t>(height_));
    putLe16(h + 26, 1);
    putLe16(h + 28, 24);
    putLe32(h + 34, static_cast<uint32_t>(imageSize));
    for (int y = 0; y < height_; ++y) {
        uint8_t* dst = out.data() + 54 + static_cast<size_t>(height_ - 1 - y) * rowBytes;
        if (stride()) std::memcpy(dst, row(y), stride());
    }
    return out;
}

void Bitmap24::saveToFile(const std::string& path) const {
    const std::vector<uint8_t> bytes = toBmp();
    RuntimeFile file;
    try {
        file.create(path);
    } catch (const FileError& e) {
        throw Error("Cannot create file \"" + fullFileName(path) + "\". " + e.what());
    }
    // A failed write is the runtime's own error ("Disk full"): the file was created.
    file.write(bytes.data(), static_cast<int64_t>(bytes.size()));
}

}  // namespace vorlr
