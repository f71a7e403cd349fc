// The language file: UTF-16 little-endian text with the byte-order mark FF FE and one
// `<full key>=<escaped value>` line per text, ended by CR LF. Backslash, CR and LF in values
// are written as "\\", "\r" and "\n".
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "core/walk.h"

namespace quelvar {

// The key of one text inside a resource: a numeric id or a text key ("HEAD", "P3").
struct ItemKey {
    uint32_t number = 0;
    std::u16string_view text;  // empty for a numeric key
};

inline ItemKey NumberKey(uint32_t id) {
    return ItemKey{id, {}};
}
inline ItemKey TextKey(std::u16string_view text) {
    return ItemKey{0, text};
}

void AppendItemKey(std::u16string& out, ItemKey key);
void AppendDecimal(std::u16string& out, int64_t value);

// One key of a loaded language file and its value, as positions in the file's units.
struct LanguageSlot {
    uint32_t hash = 0;
    uint32_t valueStart = 0;  // the key ends at the "=" just before; 0 for a free slot
    uint32_t keyLength = 0;
    uint32_t valueLength = 0;
};

// A loaded language file, indexed once: every full key maps to the value of the first line
// that carries it. The index is an open-addressing hash table (linear probing, at most half
// full) kept in one array, so that a lookup touches few cache lines even for a large file.
struct LanguageTable {
    std::u16string units;  // the file's units after the byte-order mark
    std::vector<LanguageSlot> slots;
    size_t entries = 0;
};

// Reads a whole file: at most `length` bytes on entry, the number read on return. The buffer
// holds the bytes followed by two zero bytes. False when the file cannot be opened or read.
bool ReadWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& buffer,
                   uint64_t& length);

// Loads and indexes a language file. False when it cannot be read or does not begin with
// the byte-order mark.
bool LoadLanguageFile(const std::filesystem::path& path, LanguageTable& table);
// Builds a table from a file's bytes (the mark included).
bool ParseLanguageFile(const uint8_t* bytes, size_t length, LanguageTable& table);

// The value of the first line whose key is exactly `fullKey`.
std::optional<std::u16string_view> FindValue(const LanguageTable& table,
                                             std::u16string_view fullKey);

// Appends the escaped form of a text to a line.
void AppendEscaped(std::u16string& out, char16_t unit);
// Decodes an escaped value.
std::u16string DecodeValue(std::u16string_view value);

// Export: appends the line for one text under the current key path. `text` holds up to
// `available` UTF-16 units (little-endian bytes); the text ends at its first zero unit or
// after `count` units (-1: no count). A text with no unit writes no line.
void EmitEntry(WalkContext& ctx, ItemKey key, const uint8_t* text, size_t available, int32_t count);

// Import: writes at the output cursor the translation of the text under the current key
// path followed by a zero unit, or, without a line for it, the source text: up to and
// including its zero (count -1) or exactly `count` units. Advances the cursor and returns
// the number of units written.
int32_t SubstituteText(WalkContext& ctx, ItemKey key, const uint8_t* defaultText, size_t available,
                       int32_t count);

// Writes the export lines still held in memory. Returns 0 or the write's failure.
Result FlushLanguageFile(WalkContext& ctx);

}  // namespace quelvar
