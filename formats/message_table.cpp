// Message tables (resource type 11), what FormatMessage reads: a block count (u32), that many
// blocks {LowId, HighId, OffsetToEntries} (u32 each, offsets from the resource's start), and
// per block one entry for each id from LowId to HighId: {u16 Length (the whole entry, a
// multiple of 4), u16 Flags (0 ANSI, 1 UTF-16, 2 UTF-8), the text with its zero, padding}.
//
// Export keys each entry by its 32-bit id in hexadecimal as mc writes it ("0xC0000005"). Import
// lays the entries out anew in block order, each Length and offset recomputed; a translated
// entry is written as UTF-16 whatever the source's encoding (FormatMessageW reads it in any
// system code page), an entry that keeps its text keeps its bytes, and a table that keeps all
// its texts is copied byte for byte.
#include <algorithm>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/utf16.h"
#include "formats/handlers.h"

namespace quelvar {

namespace {

constexpr size_t kBlockSize = 12;
constexpr size_t kEntryHead = 4;  // Length, Flags
constexpr uint16_t kAnsi = 0, kUtf16 = 1, kUtf8 = 2;
constexpr size_t kMaxEntryLength = 0xFFFF;

struct Entry {
    uint32_t id;
    size_t offset;
    size_t length;
    uint16_t flags;
};

struct IdRange {
    uint32_t low, high;
};

struct MessageTable {
    uint32_t blocks = 0;
    std::vector<IdRange> ids;    // each block's
    std::vector<Entry> entries;  // in block order
};

struct Problem {
    ResourceProblem what;
    uint64_t where;
};

// Reads and checks the whole table: blocks inside the resource with ascending ids, every
// entry inside it with a usable Length and encoding, and no two blocks' entries (nor the
// entries and the block array) sharing a byte.
bool ReadMessageTable(std::span<const uint8_t> data, MessageTable& table, Problem& problem) {
    CheckedReader r{data};
    table.blocks = r.Read32();
    if (!r.ok || !r.Has(r.pos, uint64_t{table.blocks} * kBlockSize)) {
        problem = {ResourceProblem::BlocksPastEnd, 0};
        return false;
    }
    size_t headEnd = 4 + size_t{table.blocks} * kBlockSize;
    struct Range {
        size_t from, to;
    };
    std::vector<Range> ranges;
    ranges.reserve(table.blocks);
    table.ids.reserve(table.blocks);
    for (uint32_t b = 0; b < table.blocks; ++b) {
        uint32_t low = r.Read32(), high = r.Read32();
        size_t offset = r.Read32();
        if (low > high || (b > 0 && low <= table.entries.back().id)) {
            problem = {ResourceProblem::IdsOutOfOrder, low};
            return false;
        }
        // Each entry takes at least its head: more ids than that cannot fit.
        if (uint64_t{high} - low + 1 > data.size() / kEntryHead) {
            problem = {ResourceProblem::EntryPastEnd, low};
            return false;
        }
        table.ids.push_back({low, high});
        CheckedReader in{data, 0, offset};
        for (uint64_t id = low; id <= high; ++id) {
            size_t at = in.pos;
            uint16_t length = in.Read16();
            uint16_t flags = in.Read16();
            if (!in.ok || !in.Has(at, length)) {
                problem = {ResourceProblem::EntryPastEnd, id};
                return false;
            }
            if (length == 0 || length % 4 != 0) {
                problem = {ResourceProblem::BadEntryLength, id};
                return false;
            }
            if (flags != kAnsi && flags != kUtf16 && flags != kUtf8) {
                problem = {ResourceProblem::UnknownEncoding, id};
                return false;
            }
            table.entries.push_back({static_cast<uint32_t>(id), at, length, flags});
            in.Skip(length - kEntryHead);  // the text and its padding
        }
        ranges.push_back({offset, in.pos});
    }
    // The entries of one block follow each other; no block's run may touch another's or the
    // block array.
    for (size_t i = 0; i < ranges.size(); ++i) {
        if (ranges[i].from == ranges[i].to)
            continue;
        bool overlaps = ranges[i].from < headEnd;
        for (size_t j = 0; j < i && !overlaps; ++j)
            overlaps = ranges[j].from < ranges[i].to && ranges[i].from < ranges[j].to;
        if (overlaps) {
            problem = {ResourceProblem::BlocksOverlap, ranges[i].from};
            return false;
        }
    }
    return true;
}

// Languages whose ANSI code page is Windows-1252 (by primary language id); the language
// neutral id reads as it too.
bool UsesWestern(uint32_t language) {
    switch (language & 0x3FF) {
        case 0x00:
        case 0x03:
        case 0x06:
        case 0x07:
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0F:
        case 0x10:
        case 0x13:
        case 0x14:
        case 0x16:
        case 0x17:
        case 0x1D:
        case 0x21:
        case 0x2D:
        case 0x36:
        case 0x38:
        case 0x3C:
        case 0x3E:
        case 0x41:
        case 0x52:
        case 0x56:
        case 0x62:
        case 0x6E:
            return true;
        default:
            return false;
    }
}

// Windows-1252's characters from 0x80 to 0x9F (the five it leaves out as the system maps them).
constexpr char16_t kWestern80[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The text of an entry up to its zero. False for an ANSI text with bytes past ASCII in a
// language whose code page is not Windows-1252, and for UTF-8 that does not decode: such an
// entry is not exported and keeps its bytes.
bool EntryText(std::span<const uint8_t> data, const Entry& e, uint32_t language,
               std::u16string& text) {
    std::span<const uint8_t> entry = data.subspan(e.offset, e.length);
    text.clear();
    if (e.flags == kUtf16) {
        CheckedReader in{entry, 0, kEntryHead};
        UnitsOf(entry, in.TextOrRest(), text);
        return true;
    }
    const uint8_t* p = entry.data() + kEntryHead;
    size_t n = static_cast<size_t>(std::find(p, entry.data() + e.length, 0) - p);
    if (e.flags == kUtf8)
        return AppendFromUtf8(text, std::string(p, p + n));
    bool western = UsesWestern(language);
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = p[i];
        if (c >= 0x80 && !western)
            return false;
        text.push_back(c >= 0x80 && c < 0xA0 ? kWestern80[c - 0x80] : char16_t{c});
    }
    return true;
}

void AppendHex8(std::u16string& out, uint32_t value) {
    out += u"0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        out.push_back(u"0123456789ABCDEF"[(value >> shift) & 0xF]);
}

// "message 0xC0000005 (error, facility 0x0, code 5)": the fields of an id as mc defines them.
void DescribeMessage(std::u16string& place, uint32_t id) {
    static constexpr const char16_t* kSeverity[] = {u"success", u"informational", u"warning",
                                                    u"error"};
    place = u"message ";
    AppendHex8(place, id);
    place += u" (";
    place += kSeverity[id >> 30];
    place += u", facility ";
    AppendDecimal(place, (id >> 16) & 0xFFF);
    if (id & 0x20000000)
        place += u" (customer)";
    place += u", code ";
    AppendDecimal(place, id & 0xFFFF);
    place += u")";
}

}  // namespace

void ProcessMessageTable(ResourceContext& ctx, std::span<const uint8_t> data) {
    MessageTable table;
    Problem problem{};
    if (!ReadMessageTable(data, table, problem)) {
        std::u16string resource(ctx.keyPath.substr(0, ctx.keyPath.size() - 1));
        Notify(ctx, Notice{NoticeKind::ResourceUnreadable,
                           resource,
                           {static_cast<uint64_t>(problem.what), problem.where}});
        CopyUnchanged(ctx, data);
        return;
    }
    uint32_t language = ctx.resource.language;
    std::u16string source, key;
    if (!IsImport(ctx)) {
        for (const Entry& e : table.entries) {
            if (!EntryText(data, e, language, source))
                continue;
            key.clear();
            AppendHex8(key, e.id);
            if (ctx.describe)
                DescribeMessage(ctx.place, e.id);
            ctx.role = TextRole::Message;
            ExportText(ctx, TextKey(key), source);
        }
        return;
    }
    // Import: the new text of each entry, when it has one other than its own.
    std::vector<std::u16string> texts(table.entries.size());
    std::vector<bool> changed(table.entries.size(), false);
    bool any = false;
    for (size_t i = 0; i < table.entries.size(); ++i) {
        const Entry& e = table.entries[i];
        key.clear();
        AppendHex8(key, e.id);
        bool readable = EntryText(data, e, language, source);
        // An entry that export skips (unreadable or empty) takes no line.
        if (LookUpText(ctx, TextKey(key), !readable || source.empty()) && ctx.text != source) {
            texts[i] = ctx.text;
            changed[i] = any = true;
            size_t length = AlignUp(kEntryHead + 2 * (texts[i].size() + 1), 4);
            if (length > kMaxEntryLength) {
                Notify(ctx, Notice{NoticeKind::ResourceTooLong,
                                   std::u16string(ctx.keyPath.substr(0, ctx.keyPath.size() - 1)),
                                   {length, kMaxEntryLength}});
                any = false;
                break;
            }
        }
    }
    if (!any) {
        CopyUnchanged(ctx, data);
        return;
    }
    SectionWriter& out = *ctx.writer;
    Append32(out, table.blocks);
    size_t offset = 4 + size_t{table.blocks} * kBlockSize;
    size_t first = 0;
    for (const auto& [low, high] : table.ids) {
        Append32(out, low);
        Append32(out, high);
        Append32(out, static_cast<uint32_t>(offset));
        for (size_t i = first; i < first + (size_t{high} - low + 1); ++i)
            offset += changed[i] ? AlignUp(kEntryHead + 2 * (texts[i].size() + 1), 4)
                                 : table.entries[i].length;
        first += size_t{high} - low + 1;
    }
    for (size_t i = 0; i < table.entries.size(); ++i) {
        const Entry& e = table.entries[i];
        if (!changed[i]) {
            Append(out, data.subspan(e.offset, e.length));
            continue;
        }
        size_t length = AlignUp(kEntryHead + 2 * (texts[i].size() + 1), 4);
        Append16(out, static_cast<uint16_t>(length));
        Append16(out, kUtf16);
        AppendUnits(out, texts[i]);
        AppendZeros(out, length - kEntryHead - 2 * texts[i].size());  // the zero and padding
    }
}

}  // namespace quelvar
