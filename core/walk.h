// The resource tree walk. One walk visits the resource directory tree of an image depth
// first. In export mode the handlers write one language file line per text; in import mode
// the walk serialises a complete new resource section into an output buffer, every offset
// rewritten for the new layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "platform/platform.h"

namespace quelvar {

struct LanguageTable;

constexpr uint32_t kNoLanguageOverride = 0xFFFFFFFF;
// A language filter that selects every resource.
constexpr uint32_t kAllLanguages = 0xFFFFFFFF;

// Deepest directory nesting accepted (a real tree has type, name and language levels).
constexpr unsigned kMaxTreeDepth = 8;

struct WalkContext {
    // Import: the language id that every numeric language entry receives, or
    // kNoLanguageOverride to keep them.
    uint32_t languageOverride = kNoLanguageOverride;
    // Relative virtual address of the source resource section.
    uint32_t sectionRva = 0;
    // Import: the relative virtual address that the new section will have, when it differs
    // from sectionRva (the driver moved it); the data entries point there.
    std::optional<uint32_t> targetRva;
    // The language whose resources are exported or translated; the others are skipped on
    // export and copied unchanged on import. kAllLanguages selects every resource.
    uint32_t languageFilter = kAllLanguages;
    // The resource section's raw data inside the mapped image, and its length.
    const uint8_t* sectionBase = nullptr;
    size_t sectionSize = 0;
    // Offset of the root directory inside the section (0 for every image import accepts).
    size_t rootOffset = 0;
    // Import: the buffer that receives the new section; null in export mode, which is how
    // every step tells the mode. It grows if a rebuilt section outgrows its first size.
    std::vector<uint8_t>* output = nullptr;
    // Import: offset of the next byte to write, counted from the start of the new section.
    size_t outputCursor = 0;
    // The key path of the place being visited, for example u"6.32.".
    std::u16string keyPath;
    // Export: the language file being written, and the lines not yet written to it.
    platform::File* languageFile = nullptr;
    std::vector<uint8_t> pendingLines;
    // Import: the loaded language file.
    const LanguageTable* languageTable = nullptr;
    // The first failure met during the walk (a write of the language file).
    Result failure = kSuccess;
    // Scratch space for building one line or one key, kept to avoid allocations.
    std::u16string scratch;
};

inline bool IsImport(const WalkContext& ctx) {
    return ctx.output != nullptr;
}

// Output helpers for import mode. All offsets count from the start of the new section.
// Appends `length` bytes and returns the offset they were placed at.
size_t OutputAppend(WalkContext& ctx, const uint8_t* bytes, size_t length);
size_t OutputAppendZeros(WalkContext& ctx, size_t length);
void OutputAppend16(WalkContext& ctx, uint16_t value);
void OutputAppend32(WalkContext& ctx, uint32_t value);
// Overwrites bytes already written.
void OutputPatch16(WalkContext& ctx, size_t offset, uint16_t value);
void OutputPatch32(WalkContext& ctx, size_t offset, uint32_t value);

// Checks that every directory, entry, name string, data entry and resource data of the tree
// lies inside the section, that no directory leads back to one of its ancestors and that the
// tree is no deeper than kMaxTreeDepth. Returns 0 or 11.
Result CheckResourceTree(const uint8_t* sectionBase, size_t sectionSize, uint32_t sectionRva,
                         size_t rootOffset);

// Runs one walk over a tree that CheckResourceTree accepted. `output` null selects export:
// the language file at `languagePath` is created. Otherwise the language file is loaded and
// the new section is written into `output` (it grows as needed; reserve room to spare
// reallocations), its length returned in `sectionLength`.
// Returns 0, 110 when the language file cannot be loaded or created, 13 for a "LANG" value
// that is no language id, 29 when the language file cannot be written.
Result WalkResourceTree(WalkContext& ctx, const uint8_t* sectionBase, size_t sectionSize,
                        uint32_t sectionRva, size_t rootOffset,
                        const std::filesystem::path& languagePath, std::vector<uint8_t>* output,
                        size_t& sectionLength);

void WalkDirectory(WalkContext& ctx, size_t directoryOffset);
// `outputEntry` is the offset of the entry's copy in the new section (import mode).
void WalkEntry(WalkContext& ctx, size_t entryOffset, size_t outputEntry);
void WalkDataEntry(WalkContext& ctx, size_t entryOffset, size_t outputEntry);

}  // namespace quelvar
