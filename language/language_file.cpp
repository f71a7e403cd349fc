#include "language/language_file.h"

#include <algorithm>

#include "core/bytes.h"
#include "platform/platform.h"

namespace quelvar {

namespace {

constexpr char16_t kByteOrderMark = 0xFEFF;
constexpr char16_t kTableEnd = 0xFFFF;
constexpr size_t kFlushThreshold = 64 * 1024;

void AppendUnitsLE(std::vector<uint8_t>& out, std::u16string_view units) {
    size_t at = out.size();
    out.resize(at + 2 * units.size());
    for (char16_t u : units) {
        Store16(out.data() + at, u);
        at += 2;
    }
}

}  // namespace

void AppendDecimal(std::u16string& out, int64_t value) {
    char16_t digits[24];
    size_t n = 0;
    uint64_t v = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        digits[n++] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (value < 0)
        out.push_back(u'-');
    while (n > 0)
        out.push_back(digits[--n]);
}

void AppendItemKey(std::u16string& out, ItemKey key) {
    if (key.text.empty())
        AppendDecimal(out, key.number);
    else
        out.append(key.text);
}

bool ReadWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& buffer,
                   uint64_t& length) {
    platform::File file;
    if (platform::OpenForReading(path, file) != kSuccess)
        return false;
    uint64_t size = 0;
    if (platform::GetSize(file, size) != kSuccess)
        size = 0;
    if (size > length)
        size = length;
    if (size > SIZE_MAX - 16)
        return false;
    try {
        buffer.assign(static_cast<size_t>(size) + 2, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    size_t got = 0;
    if (platform::ReadBytes(file, buffer.data(), static_cast<size_t>(size), got) != kSuccess)
        got = 0;
    buffer.resize(got + 2);
    buffer[got] = 0;
    buffer[got + 1] = 0;
    length = got;
    return true;
}

namespace {

uint32_t HashKey(std::u16string_view key) {
    return static_cast<uint32_t>(std::hash<std::u16string_view>{}(key));
}

std::u16string_view SlotKey(const LanguageTable& table, const LanguageSlot& slot) {
    return std::u16string_view(table.units)
        .substr(slot.valueStart - 1 - slot.keyLength, slot.keyLength);
}

// Adds a key unless an earlier line already gave it: the first line wins.
// `keyEnd` is the position of the "=" that ends the key.
void AddEntry(LanguageTable& table, size_t keyStart, size_t keyEnd, size_t valueLength) {
    std::u16string_view key = std::u16string_view(table.units).substr(keyStart, keyEnd - keyStart);
    uint32_t hash = HashKey(key);
    size_t mask = table.slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        LanguageSlot& slot = table.slots[i];
        if (slot.valueStart == 0) {
            slot = LanguageSlot{hash, static_cast<uint32_t>(keyEnd + 1),
                                static_cast<uint32_t>(keyEnd - keyStart),
                                static_cast<uint32_t>(valueLength)};
            ++table.entries;
            return;
        }
        if (slot.hash == hash && SlotKey(table, slot) == key)
            return;
    }
}

}  // namespace

bool ParseLanguageFile(const uint8_t* bytes, size_t length, LanguageTable& table) {
    if (length < 2 || Load16(bytes) != kByteOrderMark)
        return false;
    size_t count = length / 2;  // an odd last byte is not part of any unit
    if (count > UINT32_MAX)
        return false;  // positions are kept in 32 bits: 8 GB of text is no language file
    // Every "=" can end a key, so their number bounds the entries; it is counted while the
    // units are converted.
    table.units.resize(count - 1);
    size_t bound = 0;
    for (size_t i = 1; i < count; ++i) {
        char16_t u = static_cast<char16_t>(Load16(bytes + 2 * i));
        table.units[i - 1] = u;
        bound += u == u'=';
    }
    size_t capacity = 16;  // the table is kept at most half full
    while (capacity < 2 * bound)
        capacity *= 2;
    table.slots.assign(capacity, LanguageSlot{});
    table.entries = 0;

    // A line runs up to its LF; a last line without LF is not part of the table. A line whose
    // first unit is 0xFFFF ends the table. Within a line, the text ends at the first CR or
    // zero unit, so a value never runs into the next line. Every "=" of the text ends a key
    // that the line answers: the key is what stands before it, the value what follows it
    // up to the end of the text. One pass over each line finds all of these.
    const char16_t* units = table.units.data();
    const size_t total = table.units.size();
    std::vector<size_t> equals;
    size_t start = 0;
    while (start < total) {
        constexpr size_t kNone = SIZE_MAX;
        size_t textEnd = kNone;
        size_t i = start;
        equals.clear();
        for (; i < total; ++i) {
            char16_t u = units[i];
            if (u > u'=')
                continue;
            if (u == u'\n')
                break;
            if (textEnd != kNone)
                continue;
            if (u == u'=')
                equals.push_back(i);
            else if (u == u'\r' || u == 0)
                textEnd = i;
        }
        if (i == total)
            break;  // the last line has no LF
        size_t lineStart = start;
        start = i + 1;
        if (i > lineStart && units[lineStart] == kTableEnd)
            break;
        size_t end = textEnd == kNone ? i : textEnd;
        for (size_t eq : equals)
            AddEntry(table, lineStart, eq, end - eq - 1);
    }
    return true;
}

bool LoadLanguageFile(const std::filesystem::path& path, LanguageTable& table) {
    // Mapped rather than read: the units are converted straight from the file's pages.
    platform::FileView view;
    if (platform::MapWholeFile(path, view) != kSuccess || view.size > SIZE_MAX)
        return false;  // an empty file, which has no byte-order mark, lands here too
    try {
        return ParseLanguageFile(view.data, static_cast<size_t>(view.size), table);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::optional<std::u16string_view> FindValue(const LanguageTable& table,
                                             std::u16string_view fullKey) {
    if (table.entries == 0)
        return std::nullopt;
    uint32_t hash = HashKey(fullKey);
    size_t mask = table.slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const LanguageSlot& slot = table.slots[i];
        if (slot.valueStart == 0)
            return std::nullopt;
        if (slot.hash == hash && SlotKey(table, slot) == fullKey)
            return std::u16string_view(table.units).substr(slot.valueStart, slot.valueLength);
    }
}

void AppendEscaped(std::u16string& out, char16_t unit) {
    switch (unit) {
        case u'\\':
            out.append(u"\\\\");
            break;
        case u'\r':
            out.append(u"\\r");
            break;
        case u'\n':
            out.append(u"\\n");
            break;
        default:
            out.push_back(unit);
    }
}

namespace {

// The unit of an escaped value that starts at `i`, which is moved past its escape.
char16_t DecodeUnit(std::u16string_view value, size_t& i) {
    char16_t u = value[i];
    if (u != u'\\' || i + 1 == value.size())
        return u;  // a lone backslash at the end stays a backslash
    char16_t next = value[++i];
    return next == u'r' ? u'\r' : next == u'n' ? u'\n' : next;
}

}  // namespace

std::u16string DecodeValue(std::u16string_view value) {
    std::u16string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i)
        out.push_back(DecodeUnit(value, i));
    return out;
}

LanguageFilePaths ExportPaths(const std::filesystem::path& languagePath) {
    using std::filesystem::file_type;
    std::error_code ec;
    LanguageFilePaths paths{languagePath, {}};
    if (std::filesystem::is_symlink(languagePath, ec)) {
        std::filesystem::path resolved = std::filesystem::weakly_canonical(languagePath, ec);
        if (!ec)
            paths.file = resolved;
    }
    file_type type = std::filesystem::status(paths.file, ec).type();
    paths.draft = paths.file;
    if (type != file_type::block && type != file_type::character && type != file_type::fifo &&
        type != file_type::socket)
        paths.draft += ".QN";
    return paths;
}

Result CreateLanguageFileDraft(const LanguageFilePaths& paths, platform::File& file) {
    using std::filesystem::perms;
    std::error_code ec;
    // A renamed draft would replace a read-only file all the same: refuse it as a write
    // into it would be refused.
    perms mode = std::filesystem::status(paths.file, ec).permissions();
    if (!ec && mode != perms::unknown &&
        (mode & (perms::owner_write | perms::group_write | perms::others_write)) == perms::none)
        return kErrorOpenFailed;
    if (platform::CreateForWriting(paths.draft, file) != kSuccess)
        return kErrorOpenFailed;
    return kSuccess;
}

Result PutLanguageFileInPlace(const LanguageFilePaths& paths, Result written) {
    if (paths.draft == paths.file)
        return written;  // written directly: nothing to move, and a device is never removed
    if (written == kSuccess) {
        // The finished file keeps the permissions of the one it replaces.
        std::error_code ec;
        auto perms = std::filesystem::status(paths.file, ec).permissions();
        if (!ec)
            std::filesystem::permissions(paths.draft, perms, ec);
        if (platform::ReplacePath(paths.draft, paths.file) == kSuccess)
            return kSuccess;
        written = kErrorOpenFailed;
    }
    platform::DeletePath(paths.draft);
    return written;
}

Result FlushLanguageFile(WalkContext& ctx) {
    if (ctx.pendingLines.empty() || ctx.languageFile == nullptr)
        return ctx.failure;
    if (ctx.failure == kSuccess) {
        if (platform::WriteBytes(*ctx.languageFile, ctx.pendingLines.data(),
                                 ctx.pendingLines.size()) != kSuccess)
            ctx.failure = kErrorWriteFault;
    }
    ctx.pendingLines.clear();
    return ctx.failure;
}

void EmitEntry(WalkContext& ctx, ItemKey key, const uint8_t* text, size_t available,
               int32_t count) {
    std::u16string& line = ctx.scratch;
    line.assign(ctx.keyPath);
    AppendItemKey(line, key);
    line.push_back(u'=');
    size_t valueStart = line.size();
    size_t limit = count < 0 ? available : std::min(available, static_cast<size_t>(count));
    for (size_t i = 0; i < limit; ++i) {
        char16_t u = static_cast<char16_t>(Load16(text + 2 * i));
        if (u == 0)
            break;
        AppendEscaped(line, u);
    }
    if (line.size() == valueStart)
        return;
    line.append(u"\r\n");
    AppendUnitsLE(ctx.pendingLines, line);
    if (ctx.pendingLines.size() >= kFlushThreshold)
        FlushLanguageFile(ctx);
}

int32_t SubstituteText(WalkContext& ctx, ItemKey key, const uint8_t* defaultText, size_t available,
                       int32_t count) {
    std::u16string& fullKey = ctx.scratch;
    fullKey.assign(ctx.keyPath);
    AppendItemKey(fullKey, key);
    if (ctx.languageTable != nullptr) {
        if (auto value = FindValue(*ctx.languageTable, fullKey)) {
            // The decoded text is never longer than its escaped form: write into room for that
            // and give back what the escapes saved.
            size_t at = OutputAppendZeros(ctx, 2 * (value->size() + 1));
            uint8_t* p = ctx.output->data() + at;
            size_t units = 0;
            for (size_t i = 0; i < value->size(); ++i, ++units)
                Store16(p + 2 * units, DecodeUnit(*value, i));
            Store16(p + 2 * units, 0);
            ++units;
            ctx.outputCursor = at + 2 * units;
            return static_cast<int32_t>(units);
        }
    }
    size_t units;
    if (count >= 0) {
        units = std::min(available, static_cast<size_t>(count));
    } else {
        units = 0;
        while (units < available && Load16(defaultText + 2 * units) != 0)
            ++units;
        if (units < available)
            ++units;  // the terminating zero
    }
    OutputAppend(ctx, defaultText, 2 * units);
    if (count < 0 && (units == 0 || Load16(defaultText + 2 * (units - 1)) != 0)) {
        OutputAppend16(ctx, 0);  // the source text ran out before its zero
        ++units;
    }
    return static_cast<int32_t>(units);
}

}  // namespace quelvar
