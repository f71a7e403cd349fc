#include "resources/section_writer.h"

#include <algorithm>

#include "base/bytes.h"
#include "base/utf16.h"

namespace quelvar {

namespace {

uint8_t* Extend(SectionWriter& writer, size_t length) {
    size_t at = writer.bytes.size();
    writer.bytes.resize(at + length);  // beyond the capacity, the vector doubles
    return writer.bytes.data() + at;
}

}  // namespace

size_t Append(SectionWriter& writer, std::span<const uint8_t> bytes) {
    size_t at = Position(writer);
    writer.bytes.insert(writer.bytes.end(), bytes.begin(), bytes.end());
    return at;
}

size_t AppendZeros(SectionWriter& writer, size_t length) {
    size_t at = Position(writer);
    Extend(writer, length);  // resize fills with zeros
    return at;
}

void Append16(SectionWriter& writer, uint16_t value) {
    Store16(Extend(writer, 2), value);
}

void Append32(SectionWriter& writer, uint32_t value) {
    Store32(Extend(writer, 4), value);
}

void AppendUnits(SectionWriter& writer, std::u16string_view text) {
    StoreUnitsLE(text, Extend(writer, 2 * text.size()));
}

void AlignTo(SectionWriter& writer, size_t alignment, std::span<const uint8_t> fill) {
    size_t needed = static_cast<size_t>(AlignUp(Position(writer), alignment)) - Position(writer);
    uint8_t* p = Extend(writer, needed);
    size_t reused = std::min(needed, fill.size());
    std::copy(fill.begin(), fill.begin() + static_cast<ptrdiff_t>(reused), p);
}

void Patch16(SectionWriter& writer, size_t offset, uint16_t value) {
    if (InBounds(writer.bytes.size(), offset, 2))
        Store16(writer.bytes.data() + offset, value);
}

void Patch32(SectionWriter& writer, size_t offset, uint32_t value) {
    if (InBounds(writer.bytes.size(), offset, 4))
        Store32(writer.bytes.data() + offset, value);
}

}  // namespace quelvar
