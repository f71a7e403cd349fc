#include "core/walk.h"

#include <algorithm>
#include <array>

#include "core/bytes.h"
#include "formats/formats.h"
#include "language/language_file.h"

namespace quelvar {

namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kEntrySize = 8;
constexpr size_t kDataEntrySize = 16;

size_t EntryCount(const uint8_t* directory) {
    return static_cast<size_t>(Load16(directory + 12)) + Load16(directory + 14);
}

uint8_t* Reserve(WalkContext& ctx, size_t length) {
    std::vector<uint8_t>& out = *ctx.output;
    if (length > out.size() - ctx.outputCursor)
        out.resize(ctx.outputCursor + length);  // beyond the capacity, the vector doubles
    uint8_t* p = out.data() + ctx.outputCursor;
    ctx.outputCursor += length;
    return p;
}

// Where a data entry's data lies in the section, or false when it lies outside.
bool LocateData(const WalkContext& ctx, const uint8_t* dataEntry, size_t& offset, size_t& size) {
    uint32_t rva = Load32(dataEntry);
    uint32_t length = Load32(dataEntry + 4);
    if (rva < ctx.sectionRva)
        return false;
    offset = rva - ctx.sectionRva;
    size = length;
    return InBounds(ctx.sectionSize, offset, size);
}

struct TreeCheck {
    const uint8_t* base;
    size_t size;
    uint32_t rva;
    size_t root;
    size_t entriesLeft;  // every entry of a real tree is visited once
    std::vector<size_t> ancestors;
};

Result CheckDirectory(TreeCheck& check, size_t offset) {
    if (check.ancestors.size() >= kMaxTreeDepth)
        return kErrorBadFormat;
    if (std::find(check.ancestors.begin(), check.ancestors.end(), offset) != check.ancestors.end())
        return kErrorBadFormat;
    size_t at = check.root + offset;
    if (!InBounds(check.size, at, kDirectoryHeaderSize))
        return kErrorBadFormat;
    size_t n = EntryCount(check.base + at);
    if (!InBounds(check.size, at + kDirectoryHeaderSize, n * kEntrySize))
        return kErrorBadFormat;
    if (n > check.entriesLeft)
        return kErrorBadFormat;
    check.entriesLeft -= n;
    check.ancestors.push_back(offset);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* entry = check.base + at + kDirectoryHeaderSize + i * kEntrySize;
        uint32_t name = Load32(entry);
        uint32_t target = Load32(entry + 4);
        if (name & kHighBit) {
            size_t nameAt = check.root + (name & ~kHighBit);
            if (!InBounds(check.size, nameAt, 2) ||
                !InBounds(check.size, nameAt + 2, 2 * size_t{Load16(check.base + nameAt)}))
                return kErrorBadFormat;
        }
        if (target & kHighBit) {
            if (Result r = CheckDirectory(check, target & ~kHighBit); r != kSuccess)
                return r;
        } else {
            size_t dataEntryAt = check.root + target;
            if (!InBounds(check.size, dataEntryAt, kDataEntrySize))
                return kErrorBadFormat;
            uint32_t dataRva = Load32(check.base + dataEntryAt);
            uint32_t dataSize = Load32(check.base + dataEntryAt + 4);
            if (dataRva < check.rva || !InBounds(check.size, dataRva - check.rva, dataSize))
                return kErrorBadFormat;
        }
    }
    check.ancestors.pop_back();
    return kSuccess;
}

// The resource type of the place being visited: the key path up to its first ".".
std::u16string_view ResourceType(const WalkContext& ctx) {
    std::u16string_view path(ctx.keyPath);
    return path.substr(0, path.find(u'.'));
}

// Hands one resource's data to the handler of its type. Types without a handler are copied
// unchanged on import and skipped on export.
void ProcessResourceData(WalkContext& ctx, const uint8_t* data, size_t size) {
    std::u16string_view type = ResourceType(ctx);
    if (type == u"4" && size >= 2) {
        if (Load16(data) == 0)
            ProcessMenu(ctx, data, size);
        else
            ProcessMenuEx(ctx, data, size);
    } else if (type == u"5" && size >= 4) {
        if (Load16(data + 2) == 0xFFFF)
            ProcessDialogEx(ctx, data, size);
        else
            ProcessDialog(ctx, data, size);
    } else if (type == u"6") {
        ProcessStringTable(ctx, data, size);
    } else {
        CopyResourceData(ctx, data, size);
    }
}

// Puts the numeric entries of a directory table already written to the output in ascending
// id order, keeping the order of equal ids and the named entries in front.
void SortIdEntries(WalkContext& ctx, size_t table) {
    uint8_t* directory = ctx.output->data() + table;
    uint8_t* ids = directory + kDirectoryHeaderSize + kEntrySize * size_t{Load16(directory + 12)};
    std::vector<std::array<uint8_t, kEntrySize>> entries(Load16(directory + 14));
    for (size_t i = 0; i < entries.size(); ++i)
        std::copy(ids + i * kEntrySize, ids + (i + 1) * kEntrySize, entries[i].begin());
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return Load32(a.data()) < Load32(b.data());
    });
    for (size_t i = 0; i < entries.size(); ++i)
        std::copy(entries[i].begin(), entries[i].end(), ids + i * kEntrySize);
}

// Converts a "LANG" value: an optional sign and decimal digits, up to the first other unit;
// no digits give 0. False for a value that is no language id.
bool ParseLanguageOverride(std::u16string_view text, uint32_t& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    int64_t number = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        number = number * 10 + (text[i] - u'0');
        if (number > 0xFFFFFFFFll)
            return false;
    }
    if (negative)
        number = -number;
    if (number == -1) {
        value = kNoLanguageOverride;
        return true;
    }
    if (number < 0 || number > 0xFFFF)
        return false;
    value = static_cast<uint32_t>(number);
    return true;
}

}  // namespace

void CopyResourceData(WalkContext& ctx, const uint8_t* data, size_t size) {
    if (IsImport(ctx))
        OutputAppend(ctx, data, size);
}

size_t OutputAppend(WalkContext& ctx, const uint8_t* bytes, size_t length) {
    size_t at = ctx.outputCursor;
    uint8_t* p = Reserve(ctx, length);
    if (length != 0)
        std::copy(bytes, bytes + length, p);
    return at;
}

size_t OutputAppendZeros(WalkContext& ctx, size_t length) {
    size_t at = ctx.outputCursor;
    uint8_t* p = Reserve(ctx, length);
    std::fill(p, p + length, uint8_t{0});
    return at;
}

void OutputAppend16(WalkContext& ctx, uint16_t value) {
    Store16(Reserve(ctx, 2), value);
}
void OutputAppend32(WalkContext& ctx, uint32_t value) {
    Store32(Reserve(ctx, 4), value);
}

void OutputPatch16(WalkContext& ctx, size_t offset, uint16_t value) {
    if (InBounds(ctx.outputCursor, offset, 2))
        Store16(ctx.output->data() + offset, value);
}

void OutputPatch32(WalkContext& ctx, size_t offset, uint32_t value) {
    if (InBounds(ctx.outputCursor, offset, 4))
        Store32(ctx.output->data() + offset, value);
}

Result CheckResourceTree(const uint8_t* sectionBase, size_t sectionSize, uint32_t sectionRva,
                         size_t rootOffset) {
    if (rootOffset > sectionSize)
        return kErrorBadFormat;
    TreeCheck check{
        sectionBase, sectionSize, sectionRva, rootOffset, (sectionSize - rootOffset) / kEntrySize,
        {}};
    return CheckDirectory(check, 0);
}

Result WalkResourceTree(WalkContext& ctx, const uint8_t* sectionBase, size_t sectionSize,
                        uint32_t sectionRva, size_t rootOffset,
                        const std::filesystem::path& languagePath, std::vector<uint8_t>* output,
                        size_t& sectionLength) {
    sectionLength = 0;
    ctx.keyPath.clear();
    ctx.output = output;
    ctx.outputCursor = 0;
    ctx.sectionRva = sectionRva;
    ctx.sectionBase = sectionBase;
    ctx.sectionSize = sectionSize;
    ctx.rootOffset = rootOffset;
    ctx.failure = kSuccess;

    LanguageTable table;
    platform::File file;
    if (output != nullptr) {
        if (!LoadLanguageFile(languagePath, table))
            return kErrorOpenFailed;
        ctx.languageTable = &table;
        ctx.languageOverride = kNoLanguageOverride;
        if (auto value = FindValue(table, u"LANG")) {
            if (!ParseLanguageOverride(*value, ctx.languageOverride)) {
                ctx.languageTable = nullptr;
                return kErrorInvalidData;
            }
        }
    } else {
        if (platform::CreateForWriting(languagePath, file) != kSuccess)
            return kErrorOpenFailed;
        ctx.languageFile = &file;
        static constexpr uint8_t kMark[2] = {0xFF, 0xFE};
        ctx.pendingLines.assign(kMark, kMark + 2);
    }

    WalkDirectory(ctx, 0);

    Result result = kSuccess;
    if (output != nullptr) {
        sectionLength = ctx.outputCursor;
        ctx.languageTable = nullptr;
    } else {
        result = FlushLanguageFile(ctx);
        ctx.languageFile = nullptr;
    }
    return result;
}

void WalkDirectory(WalkContext& ctx, size_t directoryOffset) {
    const uint8_t* directory = ctx.sectionBase + ctx.rootOffset + directoryOffset;
    size_t n = EntryCount(directory);
    size_t length = kDirectoryHeaderSize + n * kEntrySize;
    size_t copy = 0;
    if (IsImport(ctx))
        copy = OutputAppend(ctx, directory, length);
    for (size_t i = 0; i < n; ++i) {
        size_t entry = directoryOffset + kDirectoryHeaderSize + i * kEntrySize;
        WalkEntry(ctx, entry, copy + kDirectoryHeaderSize + i * kEntrySize);
    }
    // A language id given to one language only can put the ids out of the ascending order
    // in which the loader searches them.
    if (IsImport(ctx) && ctx.languageFilter != kAllLanguages &&
        ctx.languageOverride != kNoLanguageOverride)
        SortIdEntries(ctx, copy);
}

void WalkEntry(WalkContext& ctx, size_t entryOffset, size_t outputEntry) {
    const uint8_t* tree = ctx.sectionBase + ctx.rootOffset;
    const uint8_t* entry = tree + entryOffset;
    size_t keyEnd = ctx.keyPath.size();
    uint32_t name = Load32(entry);
    uint32_t target = Load32(entry + 4);

    if (name & kHighBit) {
        const uint8_t* string = tree + (name & ~kHighBit);
        size_t length = Load16(string);
        for (size_t i = 0; i < length; ++i)
            ctx.keyPath.push_back(static_cast<char16_t>(Load16(string + 2 + 2 * i)));
        ctx.keyPath.push_back(u'.');
        if (IsImport(ctx)) {
            OutputPatch32(ctx, outputEntry, kHighBit | static_cast<uint32_t>(ctx.outputCursor));
            OutputAppend(ctx, string, 2 + 2 * length);
        }
    } else if (target & kHighBit) {
        AppendDecimal(ctx.keyPath, name);
        ctx.keyPath.push_back(u'.');
    }

    if (target & kHighBit) {
        if (IsImport(ctx))
            OutputPatch32(ctx, outputEntry + 4, kHighBit | static_cast<uint32_t>(ctx.outputCursor));
        WalkDirectory(ctx, target & ~kHighBit);
    } else {
        WalkDataEntry(ctx, entryOffset, outputEntry);
    }
    ctx.keyPath.resize(keyEnd);
}

void WalkDataEntry(WalkContext& ctx, size_t entryOffset, size_t outputEntry) {
    const uint8_t* tree = ctx.sectionBase + ctx.rootOffset;
    const uint8_t* entry = tree + entryOffset;
    const uint8_t* dataEntry = tree + Load32(entry + 4);
    size_t dataOffset = 0;
    size_t dataSize = 0;
    if (!LocateData(ctx, dataEntry, dataOffset, dataSize))
        return;  // refused by the check
    const uint8_t* data = ctx.sectionBase + dataOffset;

    // The entry that leads to the data names the resource's language.
    uint32_t name = Load32(entry);
    bool selected =
        ctx.languageFilter == kAllLanguages || (!(name & kHighBit) && name == ctx.languageFilter);
    size_t copy = 0;
    size_t dataStart = 0;
    if (IsImport(ctx)) {
        OutputPatch32(ctx, outputEntry + 4, static_cast<uint32_t>(ctx.outputCursor));
        if (selected && !(name & kHighBit) && ctx.languageOverride != kNoLanguageOverride)
            OutputPatch32(ctx, outputEntry, ctx.languageOverride);
        copy = OutputAppend(ctx, dataEntry, kDataEntrySize);
        // The data starts at the next multiple of 16 strictly past the data entry.
        size_t aligned = (ctx.outputCursor + 16) & ~size_t{15};
        OutputAppendZeros(ctx, aligned - ctx.outputCursor);
        dataStart = ctx.outputCursor;
    }

    if (selected)
        ProcessResourceData(ctx, data, dataSize);
    else
        CopyResourceData(ctx, data, dataSize);

    if (IsImport(ctx)) {
        uint32_t rva = ctx.targetRva.value_or(ctx.sectionRva);
        OutputPatch32(ctx, copy, rva + static_cast<uint32_t>(dataStart));
        OutputPatch32(ctx, copy + 4, static_cast<uint32_t>(ctx.outputCursor - dataStart));
    }
}

}  // namespace quelvar
