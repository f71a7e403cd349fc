// The resource tree: its validation and the walks over it. A walk visits the resource
// directory tree depth first and hands each resource's data to the handler of its numeric
// type id; resource types named by a text never reach a handler. Export reports texts to a
// sink; import serialises a complete new resource section, every offset rewritten for the
// new layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "resources/handler.h"
#include "resources/section_writer.h"

namespace quelvar {

// A language filter that selects every resource.
constexpr uint32_t kAllLanguages = 0xFFFFFFFF;
constexpr uint32_t kNoLanguageOverride = 0xFFFFFFFF;

// Deepest directory nesting accepted (a real tree has type, name and language levels).
constexpr unsigned kMaxTreeDepth = 8;

// The source resource section's raw data.
struct ResourceSection {
    std::span<const uint8_t> bytes;
    uint32_t rva = 0;       // the address of its first byte
    size_t rootOffset = 0;  // the root directory's offset inside it
};

// Checks that every directory, entry, name string, data entry and resource data of the tree
// lies inside the section, that no directory leads back to one of its ancestors and that the
// tree is no deeper than kMaxTreeDepth. Returns 0 or 11.
Result CheckResourceTree(const ResourceSection& section);

struct WalkOptions {
    // The language whose resources are exported or translated; the others are skipped on
    // export and copied unchanged on import.
    uint32_t languageFilter = kAllLanguages;
    // With a language filter other than 0: a language-neutral entry (id 0) is selected with
    // the filter's language in a language directory that has no entry of that language, as
    // the loader falls back to it for a user of that language.
    bool withNeutral = false;
    // Import: the language id that every selected numeric language entry receives.
    uint32_t languageOverride = kNoLanguageOverride;
    // Import: keep every resource as it is and add the translated copy under
    // `languageOverride` beside each resource in `languageFilter` whose type has a handler
    // (an entry that already has that id is replaced by it). Needs both languages set.
    bool addLanguage = false;
    // Import: whether translated dialogs get the right-to-left layout.
    RightToLeft rightToLeft = RightToLeft::ByLanguage;
    // Import: the address the new section will have (the data entries point there).
    uint32_t targetRva = 0;
    // Export: report each text's place and group (TextItem), not only its key and text.
    bool describe = false;
    // Receives what the handlers have to say; empty drops it.
    NoticeSink notify;
};

// The distinct numeric languages of the resources whose types have a handler in `handlers`,
// in ascending order. Runs on a tree that CheckResourceTree accepted.
std::vector<uint32_t> HandledLanguages(const ResourceSection& section,
                                       std::span<const HandlerEntry> handlers);

// Both walks run on a tree that CheckResourceTree accepted, with the handlers of `handlers`.
void ExportTexts(const ResourceSection& section, std::span<const HandlerEntry> handlers,
                 const WalkOptions& options, const TextSink& sink);
// Appends the new section to `writer`, which starts empty.
void RebuildSection(const ResourceSection& section, std::span<const HandlerEntry> handlers,
                    const WalkOptions& options, const TextSource& source, SectionWriter& writer);

}  // namespace quelvar
