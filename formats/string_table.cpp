// String table blocks (resource type 6). A block holds 16 strings, one after the other without
// padding: a 16-bit length n, then n UTF-16 units, with no terminating zero required. Block b
// (its numeric name, 1 to 4096) holds the strings with ids (b - 1) * 16 to b * 16 - 1.
#include <string_view>

#include "core/bytes.h"
#include "formats/formats.h"
#include "language/language_file.h"

namespace quelvar {

namespace {

constexpr size_t kStringsPerBlock = 16;
constexpr uint32_t kMaxBlockNumber = 4096;
// The longest string a length word can count.
constexpr size_t kMaxStringUnits = 0xFFFF;

// The block number: the name component of the key path ("6.32." gives 32), or 0 when that
// component is not a decimal number from 1 to 4096 written without leading zeros (a block
// named by a text, or block 0).
uint32_t BlockNumber(std::u16string_view keyPath) {
    size_t start = keyPath.find(u'.');
    if (start == std::u16string_view::npos)
        return 0;
    ++start;
    size_t end = keyPath.find(u'.', start);
    if (end == std::u16string_view::npos || end == start || keyPath[start] == u'0')
        return 0;
    uint32_t number = 0;
    for (size_t i = start; i < end; ++i) {
        char16_t u = keyPath[i];
        if (u < u'0' || u > u'9')
            return 0;
        number = number * 10 + (u - u'0');
        if (number > kMaxBlockNumber)
            return 0;
    }
    return number;
}

// The length in bytes of the 16 strings at the start of the block, or 0 when they do not
// fit inside its `size` bytes.
size_t StringsLength(const uint8_t* data, size_t size) {
    size_t at = 0;
    for (size_t k = 0; k < kStringsPerBlock; ++k) {
        if (!InBounds(size, at, 2))
            return 0;
        size_t n = Load16(data + at);
        if (!InBounds(size, at + 2, 2 * n))
            return 0;
        at += 2 + 2 * n;
    }
    return at;
}

// Import of one string: its new length word, then its translation or its source units.
void RebuildString(WalkContext& ctx, uint32_t id, const uint8_t* units, size_t n) {
    size_t lengthAt = ctx.outputCursor;
    OutputAppend16(ctx, 0);
    size_t written =
        static_cast<size_t>(SubstituteText(ctx, NumberKey(id), units, n, static_cast<int32_t>(n)));
    if (written > kMaxStringUnits) {
        // Only a translation can outgrow the length word: it is cut to the longest string
        // the word counts, keeping its terminating zero and the block readable. A surrogate
        // pair is not split.
        size_t keep = kMaxStringUnits - 1;
        const uint8_t* text = ctx.output->data() + lengthAt + 2;
        uint16_t last = Load16(text + 2 * (keep - 1));
        if (last >= 0xD800 && last <= 0xDBFF)
            --keep;
        written = keep + 1;
        ctx.outputCursor = lengthAt + 2 + 2 * written;
        OutputPatch16(ctx, ctx.outputCursor - 2, 0);
    }
    OutputPatch16(ctx, lengthAt, static_cast<uint16_t>(written));
}

}  // namespace

void ProcessStringTable(WalkContext& ctx, const uint8_t* data, size_t size) {
    uint32_t block = BlockNumber(ctx.keyPath);
    size_t length = StringsLength(data, size);
    // A block without a usable number, or whose strings run past its data, has no ids to
    // translate: it is kept as it is.
    if (block == 0 || length == 0) {
        CopyResourceData(ctx, data, size);
        return;
    }
    uint32_t id = (block - 1) * kStringsPerBlock;
    size_t at = 0;
    for (size_t k = 0; k < kStringsPerBlock; ++k, ++id) {
        size_t n = Load16(data + at);
        const uint8_t* units = data + at + 2;
        if (IsImport(ctx))
            RebuildString(ctx, id, units, n);
        else
            EmitEntry(ctx, NumberKey(id), units, n, static_cast<int32_t>(n));
        at += 2 + 2 * n;
    }
    // Bytes after the 16 strings mean nothing to a reader, but are kept.
    if (length < size)
        CopyResourceData(ctx, data + length, size - length);
}

}  // namespace quelvar
