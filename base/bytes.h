// Little-endian load and store helpers over byte buffers, and a checked reader. Every binary
// field of an image or a language file goes through these: no pointer casts, so neither the
// host's alignment rules nor its byte order matter.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// Word-at-a-time scans: four 16-bit units loaded into one 64-bit word are tested at once. A
// lane is one unit in the host's order; FirstLane gives the index of the first lane whose top
// bit a mask sets.
constexpr uint64_t kLaneLow15 = 0x7FFF7FFF7FFF7FFFull;

// The top bit of every lane that is zero, and no other bit.
constexpr uint64_t ZeroLanes(uint64_t word) {
    return ~(((word & kLaneLow15) + kLaneLow15) | word | kLaneLow15);
}

inline size_t FirstLane(uint64_t mask) {
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<size_t>(std::countr_zero(mask)) / 16;
    else
        return static_cast<size_t>(std::countl_zero(mask)) / 16;
}

// How many of the `available` little-endian 16-bit units at `bytes` come before the first
// zero unit (`available` when none is zero). A unit is zero in either byte order, so the
// words are tested as they lie.
inline size_t UnitsBeforeZero(const uint8_t* bytes, size_t available) {
    size_t n = 0;
    for (; n + 4 <= available; n += 4) {
        uint64_t word;
        std::memcpy(&word, bytes + 2 * n, sizeof word);
        if (uint64_t zero = ZeroLanes(word))
            return n + FirstLane(zero);
    }
    while (n < available && Load16(bytes + 2 * n) != 0)
        ++n;
    return n;
}

// True when [offset, offset + length) lies inside a block of `size` bytes, without overflow.
inline bool InBounds(uint64_t size, uint64_t offset, uint64_t length) {
    return offset <= size && length <= size - offset;
}

inline uint64_t AlignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// The offset of the next 4-byte boundary at or after `offset` of a block whose first byte lies
// at `address`: templates that the system walks where they lie in the mapped image align to
// addresses, not to the block's start.
inline uint64_t AlignFrom(uint64_t address, uint64_t offset) {
    return offset + (4 - (address + offset) % 4) % 4;
}

// A zero-terminated UTF-16 text inside a block: where its units start and how many come
// before the zero.
struct TextField {
    size_t at = 0;
    size_t units = 0;
};

// A field that holds an ordinal (0xFFFF, then a 16-bit number) or a zero-terminated text.
struct OrdinalOrText {
    bool isOrdinal = false;
    uint16_t ordinal = 0;
    TextField text;  // when not an ordinal
};

// Reads little-endian fields of a byte span, at given offsets or one after the other from
// `pos` (the cursor through a resource template). Every read is checked: one that would leave
// the span reads as 0, clears `ok` and keeps where the first failure was, so that a run of
// reads is checked once. Sequential reads after a failure read 0 and do not move `pos`.
struct CheckedReader {
    std::span<const uint8_t> bytes;
    // The address of the span's first byte, which Align4 counts from (0: from the span's start).
    uint64_t address = 0;
    size_t pos = 0;
    bool ok = true;
    size_t failedAt = 0;  // when not `ok`: the position of the first read that failed

    uint16_t U16(uint64_t offset) {
        if (!InBounds(bytes.size(), offset, 2))
            return Fail(offset);
        return Load16(bytes.data() + offset);
    }
    uint32_t U32(uint64_t offset) {
        if (!InBounds(bytes.size(), offset, 4))
            return Fail(offset);
        return Load32(bytes.data() + offset);
    }
    // True when `length` bytes at `offset` lie inside the span; clears `ok` when not.
    bool Has(uint64_t offset, uint64_t length) {
        if (InBounds(bytes.size(), offset, length))
            return true;
        Fail(offset);
        return false;
    }

    // A cursor at the same position that reads no further than `end` (at most the span's end):
    // the fields of a block that lies inside a larger one.
    CheckedReader Within(size_t end) const {
        return CheckedReader{bytes.first(std::min(end, bytes.size())), address, pos, ok, failedAt};
    }

    size_t Remaining() const { return pos < bytes.size() ? bytes.size() - pos : 0; }
    bool AtEnd() const { return pos >= bytes.size(); }

    uint16_t Read16() {
        if (!ok)
            return 0;
        uint16_t value = U16(pos);
        if (ok)
            pos += 2;
        return value;
    }
    uint32_t Read32() {
        if (!ok)
            return 0;
        uint32_t value = U32(pos);
        if (ok)
            pos += 4;
        return value;
    }
    // Steps over `length` bytes.
    bool Skip(uint64_t length) {
        if (!ok || !Has(pos, length))
            return false;
        pos += static_cast<size_t>(length);
        return true;
    }
    // Steps to the next 4-byte boundary of the addresses; fails when that lies past the end.
    bool Align4() {
        if (!ok)
            return false;
        uint64_t to = AlignFrom(address, pos);
        if (to > bytes.size()) {
            Fail(pos);
            return false;
        }
        pos = static_cast<size_t>(to);
        return true;
    }
    // Reads a zero-terminated UTF-16 text and steps past its zero; fails when the span ends
    // before the zero.
    TextField Text() {
        TextField text{pos, 0};
        if (!ok)
            return text;
        size_t available = Remaining() / 2;
        size_t units = UnitsBeforeZero(bytes.data() + pos, available);
        if (units == available) {
            Fail(pos);
            return text;
        }
        text.units = units;
        pos += 2 * units + 2;
        return text;
    }
    // Reads a UTF-16 text up to its zero, or up to the span's end (whole units) when it has
    // none, and steps past it and its zero.
    TextField TextOrRest() {
        TextField text{pos, 0};
        if (!ok)
            return text;
        size_t available = Remaining() / 2;
        text.units = UnitsBeforeZero(bytes.data() + pos, available);
        pos += 2 * text.units + (text.units < available ? 2 : 0);
        return text;
    }
    // Reads an ordinal-or-text field.
    OrdinalOrText Field() {
        OrdinalOrText field;
        if (ok && U16(pos) == 0xFFFF) {
            if (!Has(pos, 4))
                return field;
            field.isOrdinal = true;
            field.ordinal = Load16(bytes.data() + pos + 2);
            pos += 4;
        } else if (ok) {
            field.text = Text();
        }
        return field;
    }

  private:
    uint16_t Fail(uint64_t at) {
        if (ok)
            failedAt = static_cast<size_t>(std::min<uint64_t>(at, bytes.size()));
        ok = false;
        return 0;
    }
};

}  // namespace quelvar
