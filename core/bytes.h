// Little-endian load and store helpers over byte buffers. Every binary field of an
// image or a language file goes through these: no pointer casts, so neither the host's
// alignment rules nor its byte order matter.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quelvar {

inline uint16_t Load16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t Load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void Store16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void Store32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// True when [offset, offset + length) lies inside a block of `size` bytes, without overflow.
inline bool InBounds(uint64_t size, uint64_t offset, uint64_t length) {
    return offset <= size && length <= size - offset;
}

}  // namespace quelvar
