#include "formats/version_info.h"

#include <algorithm>
#include <string>

#include "base/bytes.h"
#include "base/utf16.h"

namespace quelvar {

namespace {

constexpr size_t kBlockHeader = 6;  // wLength, wValueLength, wType

struct Block {
    size_t end = 0;         // just past its wLength bytes
    size_t valueStart = 0;  // after the key and its padding
    uint16_t valueLength = 0;
    std::u16string key;
};

size_t Align4(uint32_t dataRva, size_t offset) {
    return offset + (4 - (dataRva + offset) % 4) % 4;
}

// Reads the block at `offset`, which must end by `limit`.
bool ReadBlock(std::span<const uint8_t> data, uint32_t dataRva, size_t offset, size_t limit,
               Block& block) {
    if (!InBounds(limit, offset, kBlockHeader))
        return false;
    size_t length = Load16(data.data() + offset);
    if (length < kBlockHeader || !InBounds(limit, offset, length))
        return false;
    block.end = offset + length;
    block.valueLength = Load16(data.data() + offset + 2);
    size_t keyAt = offset + kBlockHeader;
    ReadUnitsLE(data.data() + keyAt, (block.end - keyAt) / 2, -1, block.key);
    size_t keyEnd = keyAt + 2 * (block.key.size() + 1);
    if (keyEnd > block.end)
        return false;  // no terminating zero inside the block
    block.valueStart = std::min(Align4(dataRva, keyEnd), block.end);
    return true;
}

// Calls `each` for every child of the block whose children start at `at` and end at `end`.
template <typename Each>
void ForChildren(std::span<const uint8_t> data, uint32_t dataRva, size_t at, size_t end,
                 Each each) {
    Block child;
    for (at = Align4(dataRva, at); at < end; at = Align4(dataRva, child.end)) {
        if (!ReadBlock(data, dataRva, at, end, child))
            return;
        each(child);
    }
}

}  // namespace

void ReadVersionStrings(
    std::span<const uint8_t> data, uint32_t dataRva,
    const std::function<void(std::u16string_view key, std::u16string_view value)>& visit) {
    Block root;
    if (!ReadBlock(data, dataRva, 0, data.size(), root) || root.key != u"VS_VERSION_INFO")
        return;
    size_t children = std::min(root.valueStart + root.valueLength, root.end);
    std::u16string value;
    ForChildren(data, dataRva, children, root.end, [&](const Block& info) {
        if (info.key != u"StringFileInfo")
            return;
        ForChildren(data, dataRva, info.valueStart, info.end, [&](const Block& table) {
            ForChildren(data, dataRva, table.valueStart, table.end, [&](const Block& string) {
                ReadUnitsLE(data.data() + string.valueStart, (string.end - string.valueStart) / 2,
                            -1, value);
                visit(string.key, value);
            });
        });
    });
}

void ProcessVersionStrings(ResourceContext& ctx, std::span<const uint8_t> data) {
    if (IsImport(ctx)) {
        CopyUnchanged(ctx, data);
        return;
    }
    ctx.place = u"version information";
    ReadVersionStrings(data, ctx.dataRva, [&ctx](std::u16string_view key, std::u16string_view v) {
        ExportText(ctx, TextKey(key), v);
    });
}

}  // namespace quelvar
