#pragma once
// The 16384-byte scratch buffer that directory loading, entry copies, text conversion and the
// image decoders pass their bytes through. What it holds afterwards is visible: a truncated
// Targa image shows the bytes an earlier step left there.
#include <array>
#include <cstddef>
#include <cstdint>

namespace vorlr {

constexpr size_t kWorkBufferSize = 16384;
using WorkBufferBytes = std::array<uint8_t, kWorkBufferSize>;

// The first bytes of the file an entry copy wrote last.
using HeadBytesArray = std::array<uint8_t, 16>;

}  // namespace vorlr
