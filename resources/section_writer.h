// The new resource section as it is built on import. This is the only code that appends to
// it, aligns it and patches offsets already written; offsets count from the section's start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace quelvar {

struct SectionWriter {
    std::vector<uint8_t> bytes;
};

inline size_t Position(const SectionWriter& writer) {
    return writer.bytes.size();
}

// Appends bytes and returns the offset they were placed at.
size_t Append(SectionWriter& writer, std::span<const uint8_t> bytes);
size_t AppendZeros(SectionWriter& writer, size_t length);
void Append16(SectionWriter& writer, uint16_t value);
void Append32(SectionWriter& writer, uint32_t value);
// Appends the units of a text as little-endian bytes, without a terminator.
void AppendUnits(SectionWriter& writer, std::u16string_view text);
// Brings the section to the next multiple of `alignment`, reusing the bytes of `fill` as far
// as they go (a source's own padding) and zeros after them.
void AlignTo(SectionWriter& writer, size_t alignment, std::span<const uint8_t> fill = {});
// Overwrite 2 or 4 bytes already written.
void Patch16(SectionWriter& writer, size_t offset, uint16_t value);
void Patch32(SectionWriter& writer, size_t offset, uint32_t value);

}  // namespace quelvar
