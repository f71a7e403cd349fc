#include "resources/res_file.h"

#include <algorithm>
#include <array>

#include "base/bytes.h"
#include "base/utf16.h"
#include "resources/section_writer.h"

namespace quelvar {

namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr size_t kEmptyHeaderSize = 32;
// DataVersion, MemoryFlags, LanguageId, Version, Characteristics.
constexpr size_t kFixedFieldsSize = 16;
constexpr size_t kLanguageField = 6;  // inside the fixed fields
constexpr uint16_t kOrdinalMark = 0xFFFF;
constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
constexpr size_t kDataEntryIndexField = 12;

// Reads a type or name at the cursor, which ends where the header does.
bool ReadId(CheckedReader& in, ResId& id, ResFileProblem& problem) {
    if (in.Remaining() < 2) {
        problem = ResFileProblem::HeaderTooSmall;
        return false;
    }
    bool ordinal = in.U16(in.pos) == kOrdinalMark;
    OrdinalOrText field = in.Field();
    if (!in.ok) {
        problem = ordinal ? ResFileProblem::HeaderTooSmall : ResFileProblem::NameUnterminated;
        return false;
    }
    id = ResId{!ordinal, field.ordinal, {}};
    if (!ordinal)
        UnitsOf(in.bytes, field.text, id.text);
    return true;
}

Result ReadRecord(std::span<const uint8_t> bytes, size_t at, ResRecord& record,
                  ResFileProblem& problem) {
    CheckedReader in{bytes, 0, at};
    record.start = at;
    record.dataSize = in.Read32();
    record.headerSize = in.Read32();
    if (!in.ok) {
        problem = ResFileProblem::RecordTruncated;
        return kErrorBadFormat;
    }
    if (record.headerSize < 8 + 2 + 2 + kFixedFieldsSize) {
        problem = ResFileProblem::HeaderTooSmall;
        return kErrorBadFormat;
    }
    if (!in.Has(at, record.headerSize)) {
        problem = ResFileProblem::HeaderPastEnd;
        return kErrorBadFormat;
    }
    size_t limit = at + record.headerSize;
    CheckedReader header = in.Within(limit);
    if (!ReadId(header, record.type, problem) || !ReadId(header, record.name, problem))
        return kErrorBadFormat;
    if (!header.Align4() || !header.Has(header.pos, kFixedFieldsSize)) {
        problem = ResFileProblem::HeaderTooSmall;
        return kErrorBadFormat;
    }
    record.languageAt = header.pos + kLanguageField;
    record.language = header.U16(record.languageAt);
    in.pos = limit;
    if (!in.Skip(record.dataSize)) {
        problem = ResFileProblem::DataPastEnd;
        return kErrorBadFormat;
    }
    // The next record starts on a boundary, or the file ends first.
    record.end = in.Align4() ? in.pos : bytes.size();
    return kSuccess;
}

int Compare(const ResId& a, const ResId& b) {
    if (a.named != b.named)
        return a.named ? -1 : 1;
    if (a.named)
        return a.text.compare(b.text) < 0 ? -1 : a.text == b.text ? 0 : 1;
    return a.id < b.id ? -1 : a.id == b.id ? 0 : 1;
}

// Lays out the tree of the records `order` (sorted) in `out`.
struct TreeBuilder {
    std::span<const uint8_t> bytes;
    const ResFile& file;
    SectionWriter out;
    std::vector<std::pair<size_t, const ResId*>> names;  // entries whose name is a text
    std::vector<std::pair<size_t, size_t>> data;         // data entries and their records
};

const ResId* IdAt(const ResRecord& record, int level) {
    return level == 0 ? &record.type : &record.name;
}

// Writes the directory of `level` (0 types, 1 names, 2 languages) over `order` and returns its
// offset.
size_t WriteDirectory(TreeBuilder& b, std::span<const size_t> order, int level) {
    const std::vector<ResRecord>& records = b.file.records;
    // The groups of equal ids at this level; at the language level each record is one.
    std::vector<std::span<const size_t>> groups;
    for (size_t i = 0; i < order.size();) {
        size_t j = i + 1;
        if (level < 2)
            while (j < order.size() &&
                   Compare(*IdAt(records[order[i]], level), *IdAt(records[order[j]], level)) == 0)
                ++j;
        groups.push_back(order.subspan(i, j - i));
        i = j;
    }
    size_t named = 0;
    if (level < 2)
        for (const auto& g : groups)
            named += IdAt(records[g[0]], level)->named;
    size_t at = AppendZeros(b.out, 12);
    Append16(b.out, static_cast<uint16_t>(named));
    Append16(b.out, static_cast<uint16_t>(groups.size() - named));
    AppendZeros(b.out, kEntrySize * groups.size());
    for (size_t i = 0; i < groups.size(); ++i) {
        size_t entry = at + kDirectoryHeaderSize + i * kEntrySize;
        const ResRecord& first = records[groups[i][0]];
        if (level == 2) {
            Patch32(b.out, entry, first.language);
            size_t dataEntry = AppendZeros(b.out, kDataEntrySize);
            Patch32(b.out, dataEntry + kDataEntryIndexField, static_cast<uint32_t>(groups[i][0]));
            b.data.emplace_back(dataEntry, groups[i][0]);
            Patch32(b.out, entry + 4, static_cast<uint32_t>(dataEntry));
            continue;
        }
        const ResId* id = IdAt(first, level);
        if (id->named)
            b.names.emplace_back(entry, id);
        else
            Patch32(b.out, entry, id->id);
        size_t below = WriteDirectory(b, groups[i], level + 1);
        Patch32(b.out, entry + 4, kHighBit | static_cast<uint32_t>(below));
    }
    return at;
}

// One data entry of a rebuilt tree.
struct RebuiltData {
    size_t record;
    uint32_t language;
    std::span<const uint8_t> data;
};

// Collects the data entries below the directory at `offset`, the language being the entry
// that leads to each.
Result CollectData(std::span<const uint8_t> tree, size_t offset, int level,
                   std::vector<RebuiltData>& found) {
    CheckedReader r{tree};
    size_t n = size_t{r.U16(offset + 12)} + r.U16(offset + 14);
    if (!r.ok || level > 2 || !r.Has(offset + kDirectoryHeaderSize, n * kEntrySize))
        return kErrorBadFormat;
    for (size_t i = 0; i < n; ++i) {
        size_t entry = offset + kDirectoryHeaderSize + i * kEntrySize;
        uint32_t name = r.U32(entry);
        uint32_t target = r.U32(entry + 4);
        if ((target & kHighBit) != 0) {
            if (level == 2)
                return kErrorBadFormat;
            if (Result res = CollectData(tree, target & ~kHighBit, level + 1, found);
                res != kSuccess)
                return res;
            continue;
        }
        if (level != 2 || (name & kHighBit) != 0 || name > 0xFFFF)
            return kErrorBadFormat;
        uint32_t dataAt = r.U32(target);
        uint32_t dataSize = r.U32(target + 4);
        uint32_t record = r.U32(target + kDataEntryIndexField);
        if (!r.ok || !r.Has(dataAt, dataSize))
            return kErrorBadFormat;
        found.push_back(RebuiltData{record, name, tree.subspan(dataAt, dataSize)});
    }
    return kSuccess;
}

void AppendBytes(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace

bool LooksLikeResFile(std::span<const uint8_t> bytes) {
    static constexpr std::array<uint8_t, 16> kStart = {0,    0,    0, 0, 32,   0,    0, 0,
                                                       0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
    return bytes.size() >= kEmptyHeaderSize &&
           std::equal(kStart.begin(), kStart.end(), bytes.data());
}

Result ReadResFile(std::span<const uint8_t> bytes, ResFile& file, ResFileError& error) {
    file = ResFile{};
    error = ResFileError{ResFileProblem::NoEmptyResource, 0};
    if (!LooksLikeResFile(bytes))
        return kErrorBadFormat;
    size_t at = 0;
    while (at < bytes.size()) {
        // Zeros short of a header are padding at the file's end.
        if (bytes.size() - at < 8 && std::all_of(bytes.begin() + static_cast<ptrdiff_t>(at),
                                                 bytes.end(), [](uint8_t b) { return b == 0; }))
            break;
        ResRecord record;
        if (ReadRecord(bytes, at, record, error.problem) != kSuccess) {
            error.offset = at;
            return kErrorBadFormat;
        }
        at = record.end;
        file.records.push_back(std::move(record));
        // A tree directory counts its entries in 16 bits.
        if (file.records.size() > 0x10000) {
            error = ResFileError{ResFileProblem::TooManyRecords, file.records.back().start};
            return kErrorBadFormat;
        }
    }
    file.end = at;
    return kSuccess;
}

ResourceSection ResFileSection(std::span<const uint8_t> bytes, const ResFile& file,
                               std::vector<uint8_t>& storage) {
    const std::vector<ResRecord>& records = file.records;
    std::vector<size_t> order;
    for (size_t i = 1; i < records.size(); ++i)
        order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const ResRecord& x = records[a];
        const ResRecord& y = records[b];
        if (int c = Compare(x.type, y.type); c != 0)
            return c < 0;
        if (int c = Compare(x.name, y.name); c != 0)
            return c < 0;
        return x.language < y.language;
    });
    TreeBuilder b{bytes, file, {}, {}, {}};
    WriteDirectory(b, order, 0);
    for (auto [entry, id] : b.names) {
        AlignTo(b.out, 2);
        size_t at = Position(b.out);
        Append16(b.out, static_cast<uint16_t>(id->text.size()));
        AppendUnits(b.out, id->text);
        Patch32(b.out, entry, kHighBit | static_cast<uint32_t>(at));
    }
    for (auto [entry, index] : b.data) {
        const ResRecord& record = records[index];
        // The data keeps its place among 4-byte boundaries, which layouts count from.
        size_t dataAt = record.start + record.headerSize;
        while (Position(b.out) % 4 != dataAt % 4)
            AppendZeros(b.out, 1);
        Patch32(b.out, entry, static_cast<uint32_t>(Position(b.out)));
        Patch32(b.out, entry + 4, record.dataSize);
        Append(b.out, bytes.subspan(dataAt, record.dataSize));
    }
    storage = std::move(b.out.bytes);
    return ResourceSection{storage, 0, 0};
}

Result WriteResFile(std::span<const uint8_t> bytes, const ResFile& file,
                    std::span<const uint8_t> rebuilt, std::vector<uint8_t>& out) {
    std::vector<RebuiltData> found;
    if (Result r = CollectData(rebuilt, 0, 0, found); r != kSuccess)
        return r;
    const std::vector<ResRecord>& records = file.records;
    std::vector<std::vector<const RebuiltData*>> byRecord(records.size());
    for (const RebuiltData& d : found) {
        if (d.record == 0 || d.record >= records.size())
            return kErrorBadFormat;
        byRecord[d.record].push_back(&d);
    }
    out.clear();
    out.reserve(rebuilt.size() + bytes.size() / 8 + 64);
    AppendBytes(out, bytes.subspan(0, records.empty() ? 0 : records[0].end));
    for (size_t i = 1; i < records.size(); ++i) {
        const ResRecord& record = records[i];
        // The record's own entry first, then a copy that the walk added.
        std::stable_partition(byRecord[i].begin(), byRecord[i].end(),
                              [&](const RebuiltData* d) { return d->language == record.language; });
        std::span<const uint8_t> data =
            bytes.subspan(record.start + record.headerSize, record.dataSize);
        for (const RebuiltData* d : byRecord[i]) {
            out.resize(static_cast<size_t>(AlignUp(out.size(), 4)));
            if (d->language == record.language &&
                std::equal(data.begin(), data.end(), d->data.begin(), d->data.end())) {
                AppendBytes(out, bytes.subspan(record.start, record.end - record.start));
                continue;
            }
            size_t at = out.size();
            AppendBytes(out, bytes.subspan(record.start, record.headerSize));
            Store32(out.data() + at, static_cast<uint32_t>(d->data.size()));
            Store16(out.data() + at + (record.languageAt - record.start),
                    static_cast<uint16_t>(d->language));
            AppendBytes(out, d->data);
            out.resize(static_cast<size_t>(AlignUp(out.size(), 4)));
        }
    }
    AppendBytes(out, bytes.subspan(file.end));
    return kSuccess;
}

}  // namespace quelvar
