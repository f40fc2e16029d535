#pragma once
// Truevision TGA images, the subset the viewer shows: types 1 (colour-mapped), 2 (true-colour),
// 3 (grey) and 10 (run-length true-colour) at 8, 24 or 32 bits per pixel; every other type is
// read as uncompressed data. Widget-free: decodes from a ByteSource into a Bitmap24.
#include <cstdint>
#include <string>

#include "platform/Bitmap24.h"
#include "platform/ByteSource.h"
#include "platform/Errors.h"
#include "viewers/DecoderState.h"

namespace vorlr {

constexpr int kTargaHeaderSize = 18;
constexpr int kTargaColourMapSize = 768;
// The run-length input window is the upper part of WorkBuffer; decoded rows live below it.
constexpr size_t kTargaWindowOffset = 12288;
constexpr size_t kTargaWindowSize = kWorkBufferSize - kTargaWindowOffset;  // 4096

struct TargaHeader {
    uint8_t idLength = 0;
    uint8_t imageType = 0;
    int16_t width = 0;
    int16_t height = 0;
    uint8_t bitsPerPixel = 0;
    uint8_t descriptor = 0;  // low four bits: alpha bits a pixel
};

// Plain-reads the 18-byte header ("Read beyond end of file" when it is cut short).
TargaHeader readTargaHeader(ByteSource& source, DecoderState& state);
bool targaDepthSupported(int bitsPerPixel);
std::string unsupportedTargaText(int bitsPerPixel);  // "Unsupported TGA format: %d-bit"
std::string targaTypeText(int bitsPerPixel);         // "Type: Targa image file (%d-bit)"

// Skips the identification field and sets SharedPalette: the 768-byte colour map for type 1,
// the grey ramp for type 3, unchanged otherwise.
void readTargaPrelude(ByteSource& source, DecoderState& state, const TargaHeader& header);

// Sets ImageWidth/ImageHeight, resizes picture and writes every row, bottom row first. Sizes of
// 0 or below decode nothing and leave picture as it was; a picture past state.limits raises
// Error("Out of memory") before it is allocated. Pixel reads are counted: pixels the
// input does not supply come from what the row buffer held. With state.keepAlpha a 32-bit picture
// whose descriptor gives 8 alpha bits carries its fourth bytes as alpha; any other is RGB.
void decodeTargaPixels(ByteSource& source, DecoderState& state, const TargaHeader& header,
                       Bitmap24& picture);

// Run-length decoding state kept from row to row.
struct TargaRleState {
    int64_t carry = 0;      // pixels decoded past the end of the previous row
    int64_t inputPos = 0;   // next unread byte in the input window
    int64_t inputEnd = 0;   // bytes held in the input window
    bool exhausted = false; // a read returned no bytes
};

// Fills rowArea with the next row's width pixels of bytesPerPixel bytes from run-length data,
// reading input through the window in WorkBuffer on demand. rowArea must hold
// (width + 128) * bytesPerPixel bytes: pixels of a packet that belong to the next row stay
// behind the row.
void DecodeTargaRleRow(ByteSource& source, DecoderState& state, TargaRleState& rle,
                       uint8_t* rowArea, int width, int bytesPerPixel);

// Header, prelude and pixels in one go (the tool, benchmarks, fuzzers). An unsupported depth
// raises UnsupportedTargaFormat before anything changes. Returns the bits per pixel.
class UnsupportedTargaFormat : public Error {
public:
    explicit UnsupportedTargaFormat(int bits) : Error(unsupportedTargaText(bits)), bits_(bits) {}
    int bits() const noexcept { return bits_; }

private:
    int bits_;
};
int decodeTarga(ByteSource& source, DecoderState& state, Bitmap24& picture);

}  // namespace vorlr
