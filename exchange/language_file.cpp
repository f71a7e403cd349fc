#include "exchange/language_file.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "base/bytes.h"
#include "base/number.h"
#include "base/utf16.h"
#include "resources/tree.h"

namespace quelvar {

namespace {

constexpr char16_t kByteOrderMark = 0xFEFF;
constexpr char16_t kTableEnd = 0xFFFF;
constexpr size_t kFlushThreshold = 64 * 1024;

}  // namespace

namespace {

constexpr uint32_t kNoSlot = UINT32_MAX;

// The hash of a key is built unit by unit, so that the keys that end at the "=" signs of one
// line are hashed in one pass over it.
constexpr uint64_t kHashStart = 0xCBF29CE484222325ull;

// Extends `hash` by the units [from, to) of `units`, a std::u16string_view or UnitsLE.
template <typename Text>
uint64_t ExtendHash(uint64_t hash, Text units, size_t from, size_t to) {
    constexpr uint64_t kPrime = 0x100000001B3ull;
    size_t i = from;
    for (; i + 4 <= to; i += 4) {
        hash = (hash ^ units[i]) * kPrime;
        hash = (hash ^ units[i + 1]) * kPrime;
        hash = (hash ^ units[i + 2]) * kPrime;
        hash = (hash ^ units[i + 3]) * kPrime;
    }
    for (; i < to; ++i)
        hash = (hash ^ units[i]) * kPrime;
    return hash;
}

uint32_t FinishHash(uint64_t hash) {
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDull;
    hash ^= hash >> 33;
    return static_cast<uint32_t>(hash);
}

uint32_t HashKey(std::u16string_view key) {
    return FinishHash(ExtendHash(kHashStart, key, 0, key.size()));
}

// Equality of units, compared as bytes.
bool SameUnits(UnitsLE a, UnitsLE b) {
    return a.size() == b.size() &&
           (a.size() == 0 || std::memcmp(a.bytes, b.bytes, 2 * a.size()) == 0);
}

bool SameUnits(UnitsLE a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    if constexpr (std::endian::native == std::endian::little)
        return b.empty() || std::memcmp(a.bytes, b.data(), 2 * b.size()) == 0;
    for (size_t i = 0; i < b.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

UnitsLE KeyOf(const LanguageTable& table, const LanguageEntry& entry) {
    return table.units.substr(entry.valueStart - 1 - entry.keyLength, entry.keyLength);
}

// Asks the processor to fetch the memory at `p` ahead of its use.
inline void Prefetch(const void* p) {
#if defined(__GNUC__)
    __builtin_prefetch(p);
#else
    (void)p;
#endif
}

// Adds the key [keyStart, keyEnd) of a line unless an earlier line already gave it: the first
// line wins. `keyEnd` is the position of the "=" that ends the key; `shorter` is the entry of
// the line's key up to its previous "=" (kNoSlot for its first), `shorterLength` that key's
// length. Returns the entry of the key.
//
// Two keys are equal only when the shorter keys before them are: the same entry, so only the
// units after that key are compared. A line with many "=" thus costs time in proportion to
// its length, not to its length times its "=" signs.
uint32_t AddEntry(LanguageTable& table, size_t keyStart, size_t keyEnd, size_t valueLength,
                  uint32_t hash, uint32_t shorter, size_t shorterLength) {
    UnitsLE key = table.units.substr(keyStart, keyEnd - keyStart);
    size_t mask = table.slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        LanguageSlot& slot = table.slots[i];
        if (slot.entry == kNoSlot) {
            slot = LanguageSlot{hash, static_cast<uint32_t>(table.keys.size())};
            table.keys.push_back(LanguageEntry{static_cast<uint32_t>(keyEnd + 1),
                                               static_cast<uint32_t>(key.size()),
                                               static_cast<uint32_t>(valueLength), shorter});
            return slot.entry;
        }
        if (slot.hash != hash)
            continue;
        const LanguageEntry& entry = table.keys[slot.entry];
        if (entry.keyLength == key.size() && entry.shorter == shorter &&
            SameUnits(KeyOf(table, entry).substr(shorterLength, key.size() - shorterLength),
                      key.substr(shorterLength, key.size() - shorterLength)))
            return slot.entry;
    }
}

}  // namespace

namespace {

// The number of "=" units in `units`.
size_t CountEquals(UnitsLE units) {
    size_t count = 0;
    size_t i = 0;
    while (i + 8 <= units.size()) {
        // An "=" lane of a comparison holds 0xFFFF: subtracted, it adds one to its lane's
        // count. 8192 rounds count at most 8192 in a lane.
        EightUnits counts = {};
        for (size_t round = 0; round < 8192 && i + 8 <= units.size(); ++round, i += 8)
            counts -= static_cast<EightUnits>(LoadEightUnits(units, i) == Lane(u'='));
        for (int k = 0; k < 8; ++k)
            count += counts[k];
    }
    for (; i < units.size(); ++i)
        count += units[i] == u'=';
    return count;
}

// The position of the first unit at or after `i` that can end a key or a line: "=", or a unit
// below 0x10 (LF, CR and zero among them); units.size() when there is none.
size_t FindKeyOrLineEnd(UnitsLE units, size_t i) {
    return FindFirstUnit(
        units, i, [](EightUnits lanes) { return (lanes < 0x10) | (lanes == Lane(u'=')); },
        [](char16_t u) { return u < 0x10 || u == u'='; });
}

}  // namespace

bool ParseLanguageFile(const uint8_t* bytes, size_t length, LanguageTable& table) {
    if (length < 2 || Load16(bytes) != kByteOrderMark)
        return false;
    size_t count = length / 2;  // an odd last byte is not part of any unit
    if (count > UINT32_MAX)
        return false;  // positions are kept in 32 bits: 8 GB of text is no language file
    table.units = UnitsLE{bytes + 2, count - 1};
    // Every "=" can end a key, so their number bounds the entries.
    size_t bound = CountEquals(table.units);
    size_t capacity = 16;  // the table is kept at most half full
    while (capacity < 2 * bound)
        capacity *= 2;
    table.slots.assign(capacity, LanguageSlot{});
    table.keys.clear();
    table.keys.reserve(bound);

    // A line runs up to its LF; a last line without LF is not part of the table. A line whose
    // first unit is 0xFFFF ends the table. Within a line, the text ends at the first CR or
    // zero unit, so a value never runs into the next line. Every "=" of the text ends a key
    // that the line answers: the key is what stands before it, the value what follows it
    // up to the end of the text. One pass over each line finds all of these.
    const UnitsLE units = table.units;
    const size_t total = units.size();
    // Each key is hashed as soon as its "=" is found, and the place of the index it goes to is
    // fetched while the rest of the line is scanned: the index is touched at random, and this
    // hides much of the wait for its memory.
    struct Equals {
        size_t at;
        uint32_t hash;
    };
    std::vector<Equals> equals;
    const size_t mask = table.slots.size() - 1;
    size_t start = 0;
    size_t lines = 0;
    table.unendedLine = 0;
    table.crLineEnds = false;
    while (start < total) {
        constexpr size_t kNone = SIZE_MAX;
        size_t textEnd = kNone;
        size_t i = start;
        uint64_t hash = kHashStart;
        size_t hashed = start;
        equals.clear();
        for (;; ++i) {
            i = FindKeyOrLineEnd(units, i);
            if (i == total || units[i] == u'\n')
                break;
            if (units[i] == u'=') {
                hash = ExtendHash(hash, units, hashed, i);
                hashed = i;
                equals.push_back({i, FinishHash(hash)});
                Prefetch(&table.slots[equals.back().hash & mask]);
            } else if (units[i] == u'\r' || units[i] == 0) {
                textEnd = i;
                i = FindUnit(units, u'\n', i);
                break;
            }
        }
        if (i == total) {
            // The last line has no LF and is not read; a file without any LF whose lines
            // end in CR alone is told apart.
            table.crLineEnds = start == 0 && FindUnit(units, u'\r', 0) < total;
            table.unendedLine = lines + 1;
            break;
        }
        ++lines;
        size_t lineStart = start;
        start = i + 1;
        if (i > lineStart && units[lineStart] == kTableEnd)
            break;
        size_t end = textEnd == kNone ? i : textEnd;
        uint32_t shorter = kNoSlot;
        size_t shorterLength = 0;
        for (const Equals& eq : equals) {
            shorter =
                AddEntry(table, lineStart, eq.at, end - eq.at - 1, eq.hash, shorter, shorterLength);
            shorterLength = eq.at - lineStart;
        }
    }
    table.entries = table.keys.size();
    return true;
}

bool ParseLanguageFile(std::vector<uint8_t> bytes, LanguageTable& table) {
    table.buffer = std::move(bytes);
    return ParseLanguageFile(table.buffer.data(), table.buffer.size(), table);
}

namespace {

// True when the bytes are UTF-8 text: well-formed sequences and no zero byte, which a UTF-16
// file of Latin text has in every other place.
bool IsUtf8Text(const uint8_t* bytes, size_t length) {
    std::string_view text(reinterpret_cast<const char*>(bytes), length);
    for (size_t i = 0; i < length;) {
        Utf8Sequence seq = DecodeUtf8(text, i);
        if (!seq.valid || seq.code == 0)
            return false;
        i += seq.length;
    }
    return true;
}

}  // namespace

LanguageFileFault IndexLanguageFile(std::span<const uint8_t> bytes, LanguageTable& table) {
    if (LanguageFileFault fault = FindLanguageFileFault(bytes.data(), bytes.size());
        fault != LanguageFileFault::None)
        return fault;
    try {
        // Past the mark, only a file too large for the table's positions is refused, and one
        // whose lines end in CR alone: it would apply nothing without a word.
        if (!ParseLanguageFile(bytes.data(), bytes.size(), table))
            return LanguageFileFault::OutOfMemory;
        return table.crLineEnds ? LanguageFileFault::CrLineEnds : LanguageFileFault::None;
    } catch (const std::bad_alloc&) {
        return LanguageFileFault::OutOfMemory;
    }
}

LanguageFileFault IndexLanguageFile(std::vector<uint8_t>&& bytes, LanguageTable& table) {
    table.buffer = std::move(bytes);
    return IndexLanguageFile(std::span<const uint8_t>(table.buffer), table);
}

LanguageFileFault FindLanguageFileFault(const uint8_t* bytes, size_t length) {
    if (length == 0)
        return LanguageFileFault::Empty;
    if (length >= 2 && Load16(bytes) == kByteOrderMark)
        return LanguageFileFault::None;
    if (length >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
        return LanguageFileFault::Utf16BigEndian;
    if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        return LanguageFileFault::Utf8WithMark;
    return IsUtf8Text(bytes, length) ? LanguageFileFault::Utf8 : LanguageFileFault::NoByteOrderMark;
}

namespace {

// The entry of `key`, or kNoSlot. The entry `guess` is tried first: lookups in the order of
// the file's lines find their keys there without hashing or touching the index.
uint32_t FindEntry(const LanguageTable& table, std::u16string_view key, uint32_t guess) {
    if (guess < table.keys.size() && SameUnits(KeyOf(table, table.keys[guess]), key))
        return guess;
    if (table.keys.empty())
        return kNoSlot;
    uint32_t hash = HashKey(key);
    size_t mask = table.slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const LanguageSlot& slot = table.slots[i];
        if (slot.entry == kNoSlot)
            return kNoSlot;
        if (slot.hash == hash && SameUnits(KeyOf(table, table.keys[slot.entry]), key))
            return slot.entry;
    }
}

UnitsLE ValueOf(const LanguageTable& table, uint32_t entry) {
    return table.units.substr(table.keys[entry].valueStart, table.keys[entry].valueLength);
}

}  // namespace

std::optional<UnitsLE> FindValue(const LanguageTable& table, std::u16string_view fullKey) {
    uint32_t entry = FindEntry(table, fullKey, kNoSlot);
    if (entry == kNoSlot)
        return std::nullopt;
    return ValueOf(table, entry);
}

uint32_t FindKeyEntry(const LanguageTable& table, std::u16string_view fullKey) {
    return FindEntry(table, fullKey, kNoSlot);
}

std::vector<KeyLine> LanguageFileKeyLines(const LanguageTable& table) {
    std::vector<KeyLine> lines;
    ForEachKeyLine(table, [&lines](std::u16string_view key, size_t line) {
        lines.push_back({std::u16string(key), line});
    });
    return lines;
}

void ForEachKeyLine(const LanguageTable& table,
                    const std::function<void(std::u16string_view key, size_t line)>& visit) {
    std::u16string key;
    UnitsLE units = table.units;
    size_t number = 1;
    for (size_t start = 0; start < units.size(); ++number) {
        size_t end = FindUnit(units, u'\n', start);
        if (end == units.size())
            break;  // a last line without LF is not part of the table
        UnitsLE line = units.substr(start, end - start);
        if (line.size() != 0 && line[0] == kTableEnd)
            break;
        size_t eq = FindUnit(line, u'=');
        // The text, and so any key, ends at the first CR or zero unit.
        if (eq < line.size() &&
            FindFirstUnit(
                line.substr(0, eq), 0,
                [](EightUnits lanes) { return (lanes == Lane(u'\r')) | (lanes == 0); },
                [](char16_t u) { return u == u'\r' || u == 0; }) == eq) {
            key.clear();
            AppendUnits(key, line.substr(0, eq));
            visit(key, number);
        }
        start = end + 1;
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
template <typename Text>
char16_t DecodeUnit(Text value, size_t& i) {
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

void AppendDecoded(std::u16string& out, UnitsLE value) {
    // One pass: eight units at a time are stored and tested for a backslash, and the output
    // moves on by the units before it. A decoded value is never longer than its escaped form,
    // so every store of eight units stays within the room made for it.
    size_t at = out.size();
    out.resize(at + value.size());
    char16_t* const begin = out.data() + at;
    char16_t* o = begin;
    for (size_t i = 0; i < value.size();) {
        if (i + 8 <= value.size()) {
            EightUnits lanes = LoadEightUnits(value, i);
            std::memcpy(o, &lanes, sizeof lanes);
            size_t lane = FirstTrueLane(lanes == Lane(u'\\'));
            o += lane;
            i += lane;
            if (lane == 8)
                continue;
        } else if (value[i] != u'\\') {
            *o++ = value[i++];
            continue;
        }
        *o++ = DecodeUnit(value, i);
        ++i;
    }
    out.resize(at + static_cast<size_t>(o - begin));
}

namespace {

// Converts a "LANG" value as the command line's --language takes it: decimal digits, or
// hexadecimal digits after "0x", at most 0xFFFF; spaces and tabs around it are ignored. "-1"
// means no override. False for anything else.
bool ParseLanguageOverride(std::u16string_view text, uint32_t& value) {
    auto blank = [](char16_t u) { return u == u' ' || u == u'\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    if (text == u"-1") {
        value = kNoLanguageOverride;
        return true;
    }
    return ParseLanguageId(text, value);
}

}  // namespace

namespace {

Result ReadLanguageLine(const LanguageTable& table, std::u16string_view key, uint32_t& languageId) {
    languageId = kNoLanguageOverride;
    if (auto value = FindValue(table, key)) {
        std::u16string text;
        AppendUnits(text, *value);
        if (!ParseLanguageOverride(text, languageId))
            return kErrorInvalidData;
    }
    return kSuccess;
}

}  // namespace

Result ReadSourceLanguage(const LanguageTable& table, uint32_t& languageId) {
    return ReadLanguageLine(table, kSourceLanguageKey, languageId);
}

Result ReadLanguageOverride(const LanguageTable& table, uint32_t& languageId) {
    languageId = kNoLanguageOverride;
    if (auto value = FindValue(table, u"LANG")) {
        std::u16string text;
        AppendUnits(text, *value);
        if (!ParseLanguageOverride(text, languageId))
            return kErrorInvalidData;
    }
    return kSuccess;
}

namespace {

// Kept out of each lookup, which then needs no stack frame for the call.
[[gnu::noinline]] void TellPassed(const PassedBytes& passed, uint64_t& reported,
                                  uint64_t lineStart) {
    passed(reported, lineStart - reported);
    reported = lineStart;
}

}  // namespace

TextSource LanguageFileSource(const LanguageTable& table, PassedBytes passed) {
    // An import asks for the texts in the order an export wrote them: the key after the one
    // found last is the likeliest. The bytes before the line found are reported a megabyte at
    // a time, so that a caller can keep a large mapped file from being held in memory whole
    // beside the image and its new section.
    constexpr uint64_t kPassedStep = 1 << 20;
    return [&table, passed = std::move(passed), next = uint32_t{0}, reported = uint64_t{0}](
               std::u16string_view key, std::u16string& text) mutable {
        uint32_t entry = FindEntry(table, key, next);
        if (entry == kNoSlot)
            return false;
        next = entry + 1;
        if (passed) {
            const LanguageEntry& e = table.keys[entry];
            uint64_t lineStart = 2 + 2 * uint64_t{e.valueStart - 1 - e.keyLength};
            if (lineStart > reported + kPassedStep)
                TellPassed(passed, reported, lineStart);
        }
        text.clear();
        AppendDecoded(text, ValueOf(table, entry));
        return true;
    };
}

void BeginLanguageFile(LanguageFileWriter& writer, ByteSink sink) {
    static constexpr uint8_t kMark[2] = {0xFF, 0xFE};
    writer.sink = std::move(sink);
    writer.pending.assign(kMark, kMark + 2);
    writer.failure = kSuccess;
}

namespace {

// Kept out of the writing of each line, which then needs no stack frame.
[[gnu::noinline]] void Flush(LanguageFileWriter& writer) {
    if (writer.failure == kSuccess && !writer.pending.empty() && !writer.sink(writer.pending))
        writer.failure = kErrorWriteFault;
    writer.pending.clear();
}

}  // namespace

void AppendLanguageLine(std::u16string& out, const TextItem& item) {
    out.append(item.key);
    out.push_back(u'=');
    // Runs of units that need no escape are appended whole.
    std::u16string_view text = item.text;
    for (size_t from = 0;;) {
        size_t at = FindFirstUnit(
            text, from,
            [](EightUnits lanes) {
                return (lanes == Lane(u'\\')) | (lanes == Lane(u'\r')) | (lanes == Lane(u'\n'));
            },
            [](char16_t u) { return u == u'\\' || u == u'\r' || u == u'\n'; });
        out.append(text.substr(from, at - from));
        if (at == text.size())
            break;
        AppendEscaped(out, text[at]);
        from = at + 1;
    }
    out.append(u"\r\n");
}

void WriteLanguageLine(LanguageFileWriter& writer, const TextItem& item) {
    writer.line.clear();
    AppendLanguageLine(writer.line, item);
    AppendUnitsLE(writer.pending, writer.line);
    if (writer.pending.size() >= kFlushThreshold)
        Flush(writer);
}

Result FinishLanguageFile(LanguageFileWriter& writer) {
    Flush(writer);
    return writer.failure;
}

}  // namespace quelvar
