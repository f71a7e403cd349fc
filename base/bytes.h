// Little-endian load and store helpers over byte buffers, and a checked reader. Every binary
// field of an image or a language file goes through these: no pointer casts, so neither the
// host's alignment rules nor its byte order matter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quelvar {

inline uint16_t Load16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t Load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t Load64(const uint8_t* p) {
    return Load32(p) | (uint64_t{Load32(p + 4)} << 32);
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

inline uint64_t AlignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// Reads little-endian fields at offsets of a byte span. Every read is checked: one that
// would leave the span reads as 0 and clears `ok`, so that a run of reads is checked once.
struct CheckedReader {
    std::span<const uint8_t> bytes;
    bool ok = true;

    uint16_t U16(uint64_t offset) {
        if (!InBounds(bytes.size(), offset, 2))
            return Fail();
        return Load16(bytes.data() + offset);
    }
    uint32_t U32(uint64_t offset) {
        if (!InBounds(bytes.size(), offset, 4))
            return Fail();
        return Load32(bytes.data() + offset);
    }
    // True when `length` bytes at `offset` lie inside the span; clears `ok` when not.
    bool Has(uint64_t offset, uint64_t length) {
        if (InBounds(bytes.size(), offset, length))
            return true;
        ok = false;
        return false;
    }

  private:
    uint16_t Fail() {
        ok = false;
        return 0;
    }
};

}  // namespace quelvar
