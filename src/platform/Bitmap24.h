#pragma once
// A 24-bit picture: rows top-down in memory, 3-byte pixels in blue, green, red order.
#include <cstdint>
#include <string>
#include <vector>

namespace vorlr {

struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

// Large pictures live in transparent huge pages where the system offers them: a new 4096 x 4096
// picture then takes a few dozen page faults instead of twelve thousand.
template <class T>
struct PixelAllocator {
    using value_type = T;
    PixelAllocator() = default;
    template <class U>
    PixelAllocator(const PixelAllocator<U>&) noexcept {}
    T* allocate(size_t n);
    void deallocate(T* p, size_t n) noexcept;
    template <class U>
    bool operator==(const PixelAllocator<U>&) const noexcept { return true; }
};

class Bitmap24 {
public:
    using PixelBuffer = std::vector<uint8_t, PixelAllocator<uint8_t>>;
    using IndexBuffer = std::vector<uint16_t, PixelAllocator<uint16_t>>;

    Bitmap24() = default;
    // A width x height picture filled with white.
    Bitmap24(int width, int height);

    int width() const noexcept { return width_; }
    int height() const noexcept { return height_; }
    bool empty() const noexcept { return width_ == 0 || height_ == 0; }
    // Bytes per row in memory (3 x width, unpadded).
    size_t stride() const noexcept { return static_cast<size_t>(width_) * 3; }
    uint8_t* row(int y) noexcept { return pixels_.data() + static_cast<size_t>(y) * stride(); }
    const uint8_t* row(int y) const noexcept {
        return pixels_.data() + static_cast<size_t>(y) * stride();
    }
    const PixelBuffer& pixels() const noexcept { return pixels_; }

    // An optional alpha plane, one byte a pixel (0 transparent, 255 opaque), rows top-down.
    // Pictures from files that carry transparency have it; the window never looks at it.
    bool hasAlpha() const noexcept { return hasAlpha_; }
    // Adds a plane filled with 255 (kept across setSize, new area opaque), or drops it.
    void setHasAlpha(bool on);
    uint8_t* alphaRow(int y) noexcept { return alpha_.data() + static_cast<size_t>(y) * width_; }
    const uint8_t* alphaRow(int y) const noexcept {
        return alpha_.data() + static_cast<size_t>(y) * width_;
    }
    const PixelBuffer& alpha() const noexcept { return alpha_; }

    // An optional palette-index plane, two bytes a pixel: the index a palette decoder wrote the
    // pixel from, or kNoIndex where it wrote none (transparent runs, pixels the input never
    // reached). Only the window asks for it, for its pixel readout.
    static constexpr uint16_t kNoIndex = 0xFFFF;
    bool hasIndexes() const noexcept { return hasIndexes_; }
    // Adds a plane filled with kNoIndex (refilled when there is one already), or drops it.
    void setHasIndexes(bool on);
    uint16_t* indexRow(int y) noexcept {
        return indexes_.data() + static_cast<size_t>(y) * width_;
    }
    const uint16_t* indexRow(int y) const noexcept {
        return indexes_.data() + static_cast<size_t>(y) * width_;
    }

    // New size: old pixels kept at the top left, added area white (opaque, without index).
    // Sizes below 0 count as 0.
    // Raises Error("Out of memory") past kMaxPixelBytes.
    void setSize(int width, int height);
    void setWidth(int width) { setSize(width, height_); }
    void setHeight(int height) { setSize(width_, height); }

    // Plain source copy of src onto dst within this bitmap; both clipped to the picture.
    // When the rectangles differ in size the source is stretched (nearest pixel). Colours only.
    void copyRect(const Rect& dst, const Rect& src);

    // The 24-bit BMP file: 54-byte header, rows bottom-up padded to 4 bytes.
    std::vector<uint8_t> toBmp() const;
    // Writes the BMP. A file that cannot be created raises "Cannot create file" with its full
    // name and the reason; a failed write raises the runtime's error ("Disk full").
    void saveToFile(const std::string& path) const;

    bool operator==(const Bitmap24&) const = default;

    static constexpr size_t kMaxPixelBytes = size_t{1} << 30;

private:
    int width_ = 0;
    int height_ = 0;
    bool hasAlpha_ = false;
    bool hasIndexes_ = false;
    PixelBuffer pixels_;
    PixelBuffer alpha_;
    IndexBuffer indexes_;
};

}  // namespace vorlr
