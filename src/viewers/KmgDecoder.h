#pragma once
// The game's own image format (.kmg): one 16-bit RGB image, or 8-bit palette sub-images with
// runs of transparent and literal pixels. Widget-free: pictures are Bitmap24s handed out by a
// KmgTarget (image views in the window, plain bitmaps in the tool, tests and fuzzers).
#include <cstdint>

#include "platform/Bitmap24.h"
#include "platform/ByteSource.h"
#include "viewers/DecoderState.h"

namespace vorlr {

constexpr int kKmgHeaderSize = 64;
constexpr int kKmgPaletteSize = 768;
constexpr int kKmgRecordSize = 16;
constexpr int64_t kKmgTableStart = kKmgHeaderSize + kKmgPaletteSize;  // 832
constexpr int kKmgInputBlock = 1024;
constexpr int kKmgRowBufferBytes = 4096;

enum class KmgKind { Rgb16, Palette };

// Status panel 3 for a decoded image.
const char* kmgTypeText(KmgKind kind);

// The flowing layout of sub-images inside a 520-pixel band: 10 pixels of margin at the left and
// top, 10 between images, a new row 10 below the lowest image so far whenever the band left is
// not wider than the next image.
class KmgLayout {
public:
    struct Position {
        int64_t left = 0;
        int64_t top = 0;
    };
    Position place(int64_t width, int64_t height);

private:
    int64_t next_left_ = 10;
    int64_t row_top_ = 10;
    int64_t lowest_bottom_ = 0;
};

// Where decoded pictures go.
class KmgTarget {
public:
    virtual ~KmgTarget() = default;
    // The 16-bit image's picture: the first view's, resized but not cleared.
    virtual Bitmap24& firstPicture() = 0;
    // A palette image has count sub-images; the list gets that many elements (at least one).
    virtual void setSubImageCount(int count) = 0;
    // Sub-image index is about to be decoded at the given place; returns its picture (the
    // decoder sets its size and contents).
    virtual Bitmap24& beginSubImage(int index, KmgLayout::Position position) = 0;
    // The picture of index (0 for a 16-bit image) has been written.
    virtual void pictureDone(int index) = 0;
};

// Decodes the entry starting at source's current position. Plain reads of the header, the
// palette and the sub-image records raise "Read beyond end of file" when they come up short;
// pixel data ends quietly where the input ends. Sets ImageWidth/ImageHeight, SharedPalette
// entries 1..255 and uses WorkBuffer. A picture past state.limits, or sub-images past them
// in all, raise Error("Out of memory") before any picture is allocated.
KmgKind decodeKmg(ByteSource& source, DecoderState& state, KmgTarget& target);

// The pixel steps on their own, for pictures already sized to ImageWidth x ImageHeight. With
// state.keepAlpha a palette picture gets an alpha plane (0 in transparent runs) exactly when it
// has a transparent pixel; with state.keepIndexes an index plane (each literal pixel's index).
void decodeKmgRgb16Pixels(ByteSource& source, DecoderState& state, Bitmap24& picture);
void decodeKmgRunLengthPixels(ByteSource& source, DecoderState& state, Bitmap24& picture);

}  // namespace vorlr
