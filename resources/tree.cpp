#include "resources/tree.h"

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/utf16.h"

namespace quelvar {

namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kNamedCountField = 12;
constexpr size_t kIdCountField = 14;
constexpr size_t kEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
// Resource data starts at the next multiple of this strictly past its data entry.
constexpr size_t kDataAlignment = 16;

size_t EntryCount(const uint8_t* directory) {
    return static_cast<size_t>(Load16(directory + kNamedCountField)) +
           Load16(directory + kIdCountField);
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

// One directory entry on the way from the root to the place being visited.
struct Step {
    bool named;
    uint32_t id;
    size_t keyStart, keyEnd;  // the component of the key path it added, when any
};

// The state of one walk. `writer` is null on export.
struct Walk {
    const ResourceSection& section;
    const uint8_t* tree;  // the root directory
    std::span<const HandlerEntry> handlers;
    const WalkOptions& options;
    SectionWriter* writer = nullptr;
    // The key path of the place being visited, for example u"6.32.".
    std::u16string keyPath;
    std::vector<Step> steps;
    ResourceContext context;
    // Export: the texts reported so far, those of each numeric language, and whether two
    // languages of one resource both had texts (their keys are then the same).
    uint64_t texts = 0;
    std::map<uint32_t, uint64_t> languageTexts;
    bool keysCollide = false;
    // Import with addLanguage: the entry being walked is the translated copy.
    bool adding = false;
    // The language-neutral entry of the directory being walked stands in for the filter's
    // language (WalkOptions::withNeutral).
    bool neutralStandsIn = false;
};

bool Importing(const Walk& walk) {
    return walk.writer != nullptr;
}

// The handler of the resource reached through `walk.steps`: the type is the first step when it
// is a numeric directory entry (the data entry is deeper than it).
const HandlerEntry* FindHandler(const Walk& walk) {
    if (walk.steps.size() < 2 || walk.steps[0].named)
        return nullptr;
    for (const HandlerEntry& row : walk.handlers)
        if (row.typeId == walk.steps[0].id)
            return &row;
    return nullptr;
}

// Puts the numeric entries of a directory table already written to the output in ascending
// id order, keeping the order of equal ids and the named entries in front.
void SortIdEntries(SectionWriter& writer, size_t table) {
    uint8_t* directory = writer.bytes.data() + table;
    uint8_t* ids =
        directory + kDirectoryHeaderSize + kEntrySize * Load16(directory + kNamedCountField);
    std::vector<std::array<uint8_t, kEntrySize>> entries(Load16(directory + kIdCountField));
    for (size_t i = 0; i < entries.size(); ++i)
        std::copy(ids + i * kEntrySize, ids + (i + 1) * kEntrySize, entries[i].begin());
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return Load32(a.data()) < Load32(b.data());
    });
    for (size_t i = 0; i < entries.size(); ++i)
        std::copy(entries[i].begin(), entries[i].end(), ids + i * kEntrySize);
}

void WalkDirectory(Walk& walk, size_t directoryOffset);

void WalkData(Walk& walk, const uint8_t* entry, size_t outputEntry) {
    const ResourceSection& section = walk.section;
    const uint8_t* dataEntry = walk.tree + Load32(entry + 4);
    uint32_t dataRva = Load32(dataEntry);
    std::span<const uint8_t> data =
        section.bytes.subspan(dataRva - section.rva, Load32(dataEntry + 4));  // checked

    // The entry that leads to the data names the resource's language.
    uint32_t name = Load32(entry);
    const WalkOptions& options = walk.options;
    bool selected = options.addLanguage
                        ? walk.adding
                        : options.languageFilter == kAllLanguages ||
                              (!(name & kHighBit) && (name == options.languageFilter ||
                                                      (name == 0 && walk.neutralStandsIn)));
    size_t copy = 0;
    size_t dataStart = 0;
    if (Importing(walk)) {
        SectionWriter& out = *walk.writer;
        Patch32(out, outputEntry + 4, static_cast<uint32_t>(Position(out)));
        if (selected && !(name & kHighBit) && options.languageOverride != kNoLanguageOverride)
            Patch32(out, outputEntry, options.languageOverride);
        copy = Append(out, std::span(dataEntry, kDataEntrySize));
        AppendZeros(out, 1);
        AlignTo(out, kDataAlignment);
        dataStart = Position(out);
    }

    const HandlerEntry* row = selected ? FindHandler(walk) : nullptr;
    ResourceContext& ctx = walk.context;
    if (row != nullptr) {
        ctx.nameId = walk.steps.size() >= 3 && !walk.steps[1].named ? walk.steps[1].id : 0;
        ctx.dataRva = dataRva;
        ctx.keyPath = walk.keyPath;
        auto component = [&](const Step& step) {
            return std::u16string_view(walk.keyPath)
                .substr(step.keyStart, step.keyEnd - step.keyStart);
        };
        ctx.resource.type = component(walk.steps[0]);
        ctx.resource.name = walk.steps.size() >= 3 ? component(walk.steps[1]) : u"";
        ctx.resource.language = (name & kHighBit) ? kNamedLanguage : name;
        ctx.resource.typeId = row->typeId;
        ctx.resource.scriptName = row->scriptName;
        ctx.role = TextRole::Other;
        ctx.control = {};
        ctx.targetLanguage = (name & kHighBit) || options.languageOverride == kNoLanguageOverride
                                 ? ctx.resource.language
                                 : options.languageOverride;
        ctx.place.clear();
        ctx.group = 0;
        ClearOccurrences(ctx.occurrences);
        uint64_t before = walk.texts;
        row->handler(ctx, data);
        if (!(name & kHighBit) && walk.texts > before)
            walk.languageTexts[name] += walk.texts - before;
    } else {
        CopyUnchanged(ctx, data);
    }

    if (Importing(walk)) {
        SectionWriter& out = *walk.writer;
        Patch32(out, copy, options.targetRva + static_cast<uint32_t>(dataStart));
        Patch32(out, copy + 4, static_cast<uint32_t>(Position(out) - dataStart));
    }
}

void WalkEntry(Walk& walk, size_t entryOffset, size_t outputEntry) {
    const uint8_t* entry = walk.tree + entryOffset;
    size_t keyEnd = walk.keyPath.size();
    uint32_t name = Load32(entry);
    uint32_t target = Load32(entry + 4);

    walk.steps.push_back(Step{(name & kHighBit) != 0, name & ~kHighBit, keyEnd, keyEnd});
    if (name & kHighBit) {
        const uint8_t* string = walk.tree + (name & ~kHighBit);
        size_t length = Load16(string);
        for (size_t i = 0; i < length; ++i)
            walk.keyPath.push_back(static_cast<char16_t>(Load16(string + 2 + 2 * i)));
        walk.keyPath.push_back(u'.');
        if (Importing(walk)) {
            SectionWriter& out = *walk.writer;
            Patch32(out, outputEntry, kHighBit | static_cast<uint32_t>(Position(out)));
            Append(out, std::span(string, 2 + 2 * length));
        }
    } else if (target & kHighBit) {
        AppendDecimal(walk.keyPath, name);
        walk.keyPath.push_back(u'.');
    }
    if (walk.keyPath.size() > keyEnd)
        walk.steps.back().keyEnd = walk.keyPath.size() - 1;  // without its "."

    if (target & kHighBit) {
        if (Importing(walk))
            Patch32(*walk.writer, outputEntry + 4,
                    kHighBit | static_cast<uint32_t>(Position(*walk.writer)));
        WalkDirectory(walk, target & ~kHighBit);
    } else {
        WalkData(walk, entry, outputEntry);
    }
    walk.keyPath.resize(keyEnd);
    walk.steps.pop_back();
}

// Import with a language filter and a new language id: the entry of a language directory
// that already has the new id, when the directory also holds the selected language. The
// translated resource takes its place, so that one entry carries the id and the loader finds
// the translation. Returns the entry's index, or n when there is none.
size_t ReplacedEntry(Walk& walk, const uint8_t* directory, size_t n, bool neutralStandsIn) {
    const WalkOptions& options = walk.options;
    if (!Importing(walk) || options.languageFilter == kAllLanguages ||
        options.languageOverride == kNoLanguageOverride ||
        options.languageFilter == options.languageOverride)
        return n;
    size_t replaced = n;
    bool selected = false;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* entry = directory + kDirectoryHeaderSize + i * kEntrySize;
        uint32_t name = Load32(entry);
        if ((name & kHighBit) || (Load32(entry + 4) & kHighBit))
            continue;
        if (name == options.languageOverride && replaced == n)
            replaced = i;
        selected |= name == options.languageFilter || (name == 0 && neutralStandsIn);
    }
    if (!selected || replaced == n)
        return n;
    std::u16string resource(walk.keyPath, 0, walk.keyPath.empty() ? 0 : walk.keyPath.size() - 1);
    Notify(walk.context, Notice{NoticeKind::EntryReplaced,
                                std::move(resource),
                                {options.languageOverride, options.languageFilter}});
    return replaced;
}

// Import with addLanguage: the entry of a language directory, of a type that has a handler,
// whose resource is translated into a copy added beside it. Returns its index, or n.
size_t AddedEntry(const Walk& walk, const uint8_t* directory, size_t n, bool neutralStandsIn) {
    const WalkOptions& options = walk.options;
    if (!Importing(walk) || !options.addLanguage || options.languageFilter == kAllLanguages ||
        options.languageOverride == kNoLanguageOverride ||
        options.languageFilter == options.languageOverride || FindHandler(walk) == nullptr)
        return n;
    uint32_t source = neutralStandsIn ? 0 : options.languageFilter;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* entry = directory + kDirectoryHeaderSize + i * kEntrySize;
        if (Load32(entry) == source && !(Load32(entry + 4) & kHighBit))
            return i;
    }
    return n;
}

// Whether a directory's language-neutral data entry stands in for the filter's language: it
// has one and none of that language.
bool NeutralStandsIn(const Walk& walk, const uint8_t* directory, size_t n) {
    const WalkOptions& options = walk.options;
    if (!options.withNeutral || options.languageFilter == kAllLanguages ||
        options.languageFilter == 0)
        return false;
    bool neutral = false;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* entry = directory + kDirectoryHeaderSize + i * kEntrySize;
        uint32_t name = Load32(entry);
        if (Load32(entry + 4) & kHighBit)
            continue;
        if (name == options.languageFilter)
            return false;
        neutral |= name == 0;
    }
    return neutral;
}

void WalkDirectory(Walk& walk, size_t directoryOffset) {
    const uint8_t* directory = walk.tree + directoryOffset;
    size_t n = EntryCount(directory);
    const bool neutralStandsIn = NeutralStandsIn(walk, directory, n);
    size_t added = AddedEntry(walk, directory, n, neutralStandsIn);
    // With addLanguage, only a directory that receives a copy loses the entry it replaces.
    size_t replaced = walk.options.addLanguage && added == n
                          ? n
                          : ReplacedEntry(walk, directory, n, neutralStandsIn);
    auto entryAt = [&](size_t i) { return directory + kDirectoryHeaderSize + i * kEntrySize; };
    size_t copy = 0;
    if (Importing(walk)) {
        // The table as it was, less the replaced entry and with the copy's entry at its end
        // (sorted below); the walk patches every entry's offsets as it writes what they lead
        // to.
        SectionWriter& out = *walk.writer;
        size_t ids = Load16(directory + kIdCountField) - (replaced != n) + (added != n);
        copy = Append(out, std::span(directory, kIdCountField));
        Append16(out, static_cast<uint16_t>(ids));
        for (size_t i = 0; i < n; ++i)
            if (i != replaced)
                Append(out, std::span(entryAt(i), kEntrySize));
        if (added != n)
            Append(out, std::span(entryAt(added), kEntrySize));
    }
    size_t speaking = 0;  // export: data entries whose resource had texts
    size_t written = 0;
    for (size_t i = 0; i < n; ++i) {
        if (i == replaced)
            continue;
        size_t entryOffset = directoryOffset + kDirectoryHeaderSize + i * kEntrySize;
        uint64_t before = walk.texts;
        walk.neutralStandsIn = neutralStandsIn;
        WalkEntry(walk, entryOffset, copy + kDirectoryHeaderSize + written++ * kEntrySize);
        if (!(Load32(walk.tree + entryOffset + 4) & kHighBit) && walk.texts > before)
            ++speaking;
    }
    if (added != n) {
        walk.adding = true;
        WalkEntry(walk, directoryOffset + kDirectoryHeaderSize + added * kEntrySize,
                  copy + kDirectoryHeaderSize + written * kEntrySize);
        walk.adding = false;
    }
    if (speaking > 1)
        walk.keysCollide = true;
    // A language id given to one language only, or a copy added, can put the ids out of the
    // ascending order in which the loader searches them.
    if (Importing(walk) && walk.options.languageFilter != kAllLanguages &&
        walk.options.languageOverride != kNoLanguageOverride)
        SortIdEntries(*walk.writer, copy);
}

// Collects the numeric languages of the data entries below a directory; `handled` tells
// whether the type above has a handler.
void CollectLanguages(const uint8_t* tree, size_t offset, std::span<const HandlerEntry> handlers,
                      bool root, bool handled, std::vector<uint32_t>& languages) {
    const uint8_t* directory = tree + offset;
    for (size_t i = 0, n = EntryCount(directory); i < n; ++i) {
        const uint8_t* entry = directory + kDirectoryHeaderSize + i * kEntrySize;
        uint32_t name = Load32(entry);
        uint32_t target = Load32(entry + 4);
        if (root)
            handled = !(name & kHighBit) &&
                      std::any_of(handlers.begin(), handlers.end(),
                                  [&](const HandlerEntry& row) { return row.typeId == name; });
        if (target & kHighBit)
            CollectLanguages(tree, target & ~kHighBit, handlers, false, handled, languages);
        else if (handled && !root && !(name & kHighBit))
            languages.push_back(name);
    }
}

}  // namespace

Result CheckResourceTree(const ResourceSection& section) {
    size_t size = section.bytes.size();
    if (section.rootOffset > size)
        return kErrorBadFormat;
    TreeCheck check{section.bytes.data(),
                    size,
                    section.rva,
                    section.rootOffset,
                    (size - section.rootOffset) / kEntrySize,
                    {}};
    return CheckDirectory(check, 0);
}

void ExportTexts(const ResourceSection& section, std::span<const HandlerEntry> handlers,
                 const WalkOptions& options, const TextSink& sink) {
    Walk walk{section,  section.bytes.data() + section.rootOffset,
              handlers, options,
              nullptr,  {},
              {},       {},
              0,        {},
              false,    false};
    TextSink counted = [&walk, &sink](const TextItem& item) {
        ++walk.texts;
        sink(item);
    };
    walk.context.sink = &counted;
    walk.context.describe = options.describe;
    walk.context.notify = &options.notify;
    WalkDirectory(walk, 0);
    // Without a language filter, the texts of one resource in two languages share their keys,
    // and an import of the file would give both the first language's texts.
    if (walk.keysCollide && walk.languageTexts.size() > 1) {
        std::u16string list;
        for (const auto& [language, texts] : walk.languageTexts)
            AppendLanguageCount(list, language, texts);
        Notify(walk.context, Notice{NoticeKind::LanguageKeysCollide,
                                    std::move(list),
                                    {walk.languageTexts.size(), 0}});
    }
}

std::vector<uint32_t> HandledLanguages(const ResourceSection& section,
                                       std::span<const HandlerEntry> handlers) {
    std::vector<uint32_t> languages;
    CollectLanguages(section.bytes.data() + section.rootOffset, 0, handlers, true, false,
                     languages);
    std::sort(languages.begin(), languages.end());
    languages.erase(std::unique(languages.begin(), languages.end()), languages.end());
    return languages;
}

void RebuildSection(const ResourceSection& section, std::span<const HandlerEntry> handlers,
                    const WalkOptions& options, const TextSource& source, SectionWriter& writer) {
    Walk walk{section,  section.bytes.data() + section.rootOffset,
              handlers, options,
              &writer,  {},
              {},       {},
              0,        {},
              false,    false};
    walk.context.source = &source;
    walk.context.notify = &options.notify;
    walk.context.writer = &writer;
    walk.context.rightToLeft = options.rightToLeft;
    WalkDirectory(walk, 0);
}

}  // namespace quelvar
