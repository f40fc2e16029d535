#pragma once
// Little-endian numbers in file bytes: the one reader and writer for every format here.
#include <cstdint>

namespace vorlr {

inline uint16_t leU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline int16_t leI16(const uint8_t* p) { return static_cast<int16_t>(leU16(p)); }
inline uint32_t leU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline int32_t leI32(const uint8_t* p) { return static_cast<int32_t>(leU32(p)); }

inline void putLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace vorlr
