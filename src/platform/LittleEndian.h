#pragma once
// Little-endian numbers in file bytes: the one reader and writer for every format here.
#include <cstdint>
#include <cstring>

namespace vorlr {

inline uint16_t leU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline int16_t leI16(const uint8_t* p) { return static_cast<int16_t>(leU16(p)); }
inline uint32_t leU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline int32_t leI32(const uint8_t* p) { return static_cast<int32_t>(leU32(p)); }

// Through a local array and memcpy: GCC 12 misjudges byte stores into a vector's data() as
// overflowing when it cannot see the vector's size.
inline void putLe16(uint8_t* p, uint16_t v) {
    const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    std::memcpy(p, b, 2);
}
inline void putLe32(uint8_t* p, uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                          static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    std::memcpy(p, b, 4);
}

}  // namespace vorlr
