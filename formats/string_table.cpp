// String table blocks (resource type 6). A block holds 16 strings, one after the other without
// padding: a 16-bit length n, then n UTF-16 units, with no terminating zero required. Block b
// (its numeric name, 1 to 4096) holds the strings with ids (b - 1) * 16 to b * 16 - 1.
#include "base/bytes.h"
#include "base/utf16.h"
#include "formats/handlers.h"

namespace quelvar {

namespace {

constexpr size_t kStringsPerBlock = 16;
constexpr uint32_t kMaxBlockNumber = 4096;
// The longest string a length word can count.
constexpr size_t kMaxStringUnits = 0xFFFF;

// The length in bytes of the 16 strings at the start of the block, or 0 when they do not
// fit inside it.
size_t StringsLength(std::span<const uint8_t> data) {
    CheckedReader in{data};
    for (size_t k = 0; k < kStringsPerBlock; ++k)
        in.Skip(2 * uint64_t{in.Read16()});
    return in.ok ? in.pos : 0;
}

// Import of one string: its new length word, then its translation or its source units. A
// translation carries a counted terminating zero where the source string did (rc /n builds,
// blocks written with every zero) and none where it did not (rc and windres by default), so
// that LoadStringW returns the length the program's own strings have; an empty translation is
// one zero unit. A string without a text (an empty slot) is not translated: export writes no
// line for it.
void RebuildString(ResourceContext& ctx, uint32_t id, const uint8_t* units, size_t n) {
    SectionWriter& out = *ctx.writer;
    bool counted = false;  // the source counts a zero after its text
    for (size_t i = 0; i < n && !counted; ++i)
        counted = Load16(units + 2 * i) == 0;
    if (!LookUpText(ctx, NumberKey(id), n == 0 || Load16(units) == 0)) {
        Append16(out, static_cast<uint16_t>(n));
        Append(out, std::span(units, 2 * n));
        return;
    }
    std::u16string& text = ctx.text;
    if (counted || text.empty())
        text.push_back(0);
    if (text.size() > kMaxStringUnits) {
        // A translation can outgrow the length word: it is cut to the longest string the
        // word counts, keeping its terminating zero (where it has one) and the block
        // readable, and the cut is said. A surrogate pair is not split.
        size_t given = text.size() - (counted ? 1 : 0);
        size_t keep = kMaxStringUnits - (counted ? 1 : 0);
        if (text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF)
            --keep;
        text.resize(keep);
        if (counted)
            text.push_back(0);
        Notify(ctx, Notice{NoticeKind::TextCut, ctx.key, {given, keep}});
    }
    Append16(out, static_cast<uint16_t>(text.size()));
    AppendUnits(out, text);
}

}  // namespace

void ProcessStringTable(ResourceContext& ctx, std::span<const uint8_t> data) {
    uint32_t block = ctx.nameId;
    size_t length = StringsLength(data);
    // A block without a usable number, or whose strings run past its data, has no ids to
    // translate: it is kept as it is.
    if (block == 0 || block > kMaxBlockNumber || length == 0) {
        CopyUnchanged(ctx, data);
        return;
    }
    uint32_t id = (block - 1) * kStringsPerBlock;
    size_t at = 0;
    for (size_t k = 0; k < kStringsPerBlock; ++k, ++id) {
        size_t n = Load16(data.data() + at);
        const uint8_t* units = data.data() + at + 2;
        if (IsImport(ctx)) {
            RebuildString(ctx, id, units, n);
        } else {
            if (ctx.describe) {
                ctx.place = u"string ";
                AppendDecimal(ctx.place, id);
            }
            ctx.role = TextRole::String;
            ExportText(ctx, NumberKey(id), units, n, static_cast<int32_t>(n));
        }
        at += 2 + 2 * n;
    }
    // Bytes after the 16 strings mean nothing to a reader, but are kept.
    CopyUnchanged(ctx, data.subspan(length));
}

}  // namespace quelvar
