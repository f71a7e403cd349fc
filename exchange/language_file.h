// The language file: UTF-16 little-endian text with the byte-order mark FF FE and one
// `<full key>=<escaped value>` line per text, ended by CR LF. Backslash, CR and LF in values
// are written as "\\", "\r" and "\n". An optional "LANG=<id>" line gives every translated
// resource a new language id.
//
// This module turns bytes into an index and texts into bytes; reading and writing the files is
// the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "base/utf16.h"
#include "resources/handler.h"

namespace quelvar {

// One key of a loaded language file and its value, as positions in the file's units (counted
// after the byte-order mark).
struct LanguageEntry {
    uint32_t valueStart = 0;  // the key ends at the "=" just before
    uint32_t keyLength = 0;
    uint32_t valueLength = 0;
    // The entry of the longest shorter key of the line that added this one (the key up to the
    // line's previous "="), or UINT32_MAX: lets a later line with the same start compare only
    // the units after it.
    uint32_t shorter = 0;
};

// A place of the index: the hash of a key and the number of its entry.
struct LanguageSlot {
    uint32_t hash = 0;
    uint32_t entry = UINT32_MAX;  // UINT32_MAX for a free slot
};

// A loaded language file, indexed once where its bytes lie: every full key maps to the value of
// the first line that carries it. The keys are kept in the order of the file, each once; the
// index over them is an open-addressing hash table (linear probing, at most half full) of
// eight-byte slots, so that a lookup touches few cache lines even for a large file.
struct LanguageTable {
    // The file's units after the byte-order mark (an odd last byte left out), in `buffer` or
    // in bytes the caller keeps (a mapping of the file).
    UnitsLE units;
    std::vector<uint8_t> buffer;      // the file's bytes, when the table keeps them
    std::vector<LanguageEntry> keys;  // in the order of their first lines
    std::vector<LanguageSlot> slots;
    size_t entries = 0;  // keys.size()
    // The number of a last line that holds text but no LF, which is not read; 0 when none.
    size_t unendedLine = 0;
    // The file holds CR but no LF: its lines end in CR alone, and it reads as no line at all.
    bool crLineEnds = false;
};

// Why a language file did not load.
enum class LanguageFileFault {
    None,
    Unreadable,       // it cannot be opened or read (said by the caller that reads it)
    Empty,            // it holds no byte
    Utf8,             // UTF-8 (or ASCII) text without the byte-order mark FF FE
    Utf8WithMark,     // UTF-8 text with its mark EF BB BF
    Utf16BigEndian,   // UTF-16 big-endian text, with the mark FE FF
    NoByteOrderMark,  // anything else that does not begin with FF FE
    OutOfMemory,
    CrLineEnds,  // its lines end in CR alone (see LanguageTable::crLineEnds)
};

// What the bytes of a file that does not begin with FF FE look like.
LanguageFileFault FindLanguageFileFault(const uint8_t* bytes, size_t length);

// Checks and indexes a language file's bytes (the mark included), which must outlive the
// table. Returns None or why not: what FindLanguageFileFault finds, CrLineEnds, or OutOfMemory
// (also for a file too large for the table's positions).
LanguageFileFault IndexLanguageFile(std::span<const uint8_t> bytes, LanguageTable& table);
// The same for bytes that the table keeps (in `buffer`).
LanguageFileFault IndexLanguageFile(std::vector<uint8_t>&& bytes, LanguageTable& table);
// Builds a table from a file's bytes (the mark included), which must outlive it: false
// without the byte-order mark or for more than 8 GB of text.
bool ParseLanguageFile(const uint8_t* bytes, size_t length, LanguageTable& table);
// Builds a table from a file's bytes (the mark included), which it keeps.
bool ParseLanguageFile(std::vector<uint8_t> bytes, LanguageTable& table);

// The escaped value of the first line whose key is exactly `fullKey`.
std::optional<UnitsLE> FindValue(const LanguageTable& table, std::u16string_view fullKey);
// The number of the table's entry for `fullKey` (an index of `keys`), or UINT32_MAX for none.
uint32_t FindKeyEntry(const LanguageTable& table, std::u16string_view fullKey);

// The key of every line of a loaded file as its writer meant it (up to the line's first "="),
// with the line's number counted from 1, in file order.
struct KeyLine {
    std::u16string key;
    size_t line;
};
std::vector<KeyLine> LanguageFileKeyLines(const LanguageTable& table);
// The same, one line at a time, without holding them all.
void ForEachKeyLine(const LanguageTable& table,
                    const std::function<void(std::u16string_view key, size_t line)>& visit);

// Appends the escaped form of a text to a line.
void AppendEscaped(std::u16string& out, char16_t unit);
// Decodes an escaped value.
std::u16string DecodeValue(std::u16string_view value);
// Appends the decoded form of an escaped value held as little-endian bytes to `out`.
void AppendDecoded(std::u16string& out, UnitsLE value);

// The language id of the "LANG" line: kNoLanguageOverride without one or for "-1". Returns 0,
// or 13 for a value that is no language id.
Result ReadLanguageOverride(const LanguageTable& table, uint32_t& languageId);

// The "SOURCE_LANG" line: the language whose texts the file translates, which pseudo and
// convert write. Read as "LANG" is: kNoLanguageOverride without one; 13 for no language id.
inline constexpr char16_t kSourceLanguageKey[] = u"SOURCE_LANG";
Result ReadSourceLanguage(const LanguageTable& table, uint32_t& languageId);

// Told that the lookups of a source have moved past the file's bytes [offset, offset + length)
// (offsets in the file, the mark included), a megabyte or more at a time: a caller that maps
// the file can give those pages back (a line asked for again is read again).
using PassedBytes = std::function<void(uint64_t offset, uint64_t length)>;

// The replacements a loaded table gives: the decoded value of the key's line. An import asks
// for the texts in the order an export wrote them, so the key after the one found last is
// tried first, and `passed` (when set) hears of the bytes before the line found.
TextSource LanguageFileSource(const LanguageTable& table, PassedBytes passed = {});

// Where a writer's bytes go, in order: false when they could not be written.
using ByteSink = std::function<bool(std::span<const uint8_t> bytes)>;

// Export: hands the bytes of a language file to a sink as the texts arrive, some 64 KB at a
// time, so that the whole file is never held.
struct LanguageFileWriter {
    ByteSink sink;
    std::vector<uint8_t> pending;  // lines not yet handed on, as bytes
    std::u16string line;           // scratch space for one line
    Result failure = kSuccess;     // 29 once the sink refused bytes
};

// Starts the file (its byte-order mark) in `writer`, which hands its bytes to `sink`.
void BeginLanguageFile(LanguageFileWriter& writer, ByteSink sink);
// Appends the line of one text, CR LF included, to `out`.
void AppendLanguageLine(std::u16string& out, const TextItem& item);
// Appends the line of one text.
void WriteLanguageLine(LanguageFileWriter& writer, const TextItem& item);
// Hands on what is still held. Returns 0, or 29 when the sink refused any bytes.
Result FinishLanguageFile(LanguageFileWriter& writer);

}  // namespace quelvar
