#include "driver/po_files.h"

#include <algorithm>
#include <ctime>
#include <initializer_list>
#include <iterator>
#include <map>
#include <new>
#include <unordered_map>
#include <vector>

#include "base/utf16.h"
#include "driver/files.h"
#include "driver/language_io.h"
#include "driver/steps.h"
#include "exchange/language_file.h"
#include "exchange/language_names.h"
#include "formats/handlers.h"
#include "formats/version_info.h"
#include "pe/headers.h"
#include "pe/rebuild.h"
#include "platform/platform.h"

namespace quelvar {

namespace {

// A PO file larger than this is refused rather than read in part.
constexpr uint64_t kMaxPoFileSize = uint64_t{1} << 30;

std::string Utf8Path(const std::filesystem::path& path) {
    std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

void Say(const WalkOptions& walk, Notice notice) {
    if (walk.notify)
        walk.notify(notice);
}

// "ProductName ProductVersion" of the image's version information, or empty.
std::string ProjectOf(const ResourceSection& section) {
    static constexpr HandlerEntry kVersionHandler[] = {
        {kVersionType, ProcessVersionStrings, "VERSIONINFO"}};
    std::u16string name, version;
    ExportTexts(section, kVersionHandler, WalkOptions{}, [&](const TextItem& item) {
        std::u16string_view key = item.key.substr(item.key.rfind(u'.') + 1);
        if (key == u"ProductName" && name.empty())
            name = item.text;
        else if (key == u"ProductVersion" && version.empty())
            version = item.text;
    });
    std::u16string project = name;
    if (!version.empty())
        project += (project.empty() ? u"" : u" ") + version;
    return ToUtf8(project);
}

std::string Now() {
    std::time_t t = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &t);
#else
    gmtime_r(&t, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M+0000", &utc);
    return text;
}

// Writes a finished text file as export writes language files (through a draft put in place
// once complete, a device or pipe directly).
Failure WriteTextFile(const std::filesystem::path& path, std::string_view text) {
    std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    Result created = kSuccess;
    OutputPaths output = ChosenOutput(path);
    Result r = WriteOutput(output, std::span(&bytes, 1), created);
    if (r == kSuccess)
        return {};
    if (created != kSuccess)
        return CreationFailure(kErrorOpenFailed, output, created);
    return Failure{r, FailureCause::None, path};
}

// A PO file refused with 13 for `problem` at `line`.
Failure PoFailure(const std::filesystem::path& path, PoProblem problem, uint64_t line,
                  std::string detail = {}) {
    Failure f{kErrorInvalidData, FailureCause::PoFile, path};
    f.line = line;
    f.poProblem = problem;
    f.detail = std::move(detail);
    return f;
}

// Reads and parses a PO file. A file that cannot be read fails with 110 and the reason (a
// missing file, a folder); one that cannot be used with 13, its problem and line.
Failure ReadPo(const std::filesystem::path& path, PoCatalog& catalog) {
    std::vector<uint8_t> bytes;
    uint64_t length = kMaxPoFileSize + 1;
    if (!ReadWholeFile(path, bytes, length)) {
        platform::File file;
        Result system = platform::OpenForReading(path, file);
        return ReadingFailure(kErrorOpenFailed, path, system);
    }
    if (length > kMaxPoFileSize)
        return Failure{kErrorOpenFailed, FailureCause::None, path};
    PoError error = ParsePo(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), static_cast<size_t>(length)),
        catalog);
    if (error.problem == PoProblem::None)
        return {};
    return PoFailure(path, error.problem, error.line,
                     error.problem == PoProblem::Charset ? PoCharset(catalog) : std::string());
}

// The language id the PO's "Language" names: kNoLanguageOverride without one; 13 for a name
// the table does not know.
Failure TargetLanguageOf(const std::filesystem::path& path, const PoCatalog& catalog,
                         uint32_t& id) {
    id = kNoLanguageOverride;
    std::string name = PoHeaderField(catalog, "Language");
    if (name.empty() || LanguageIdOfName(name, id))
        return {};
    return PoFailure(path, PoProblem::UnknownLanguage, catalog.headerLine, name);
}

// An image opened, its resource tree checked.
Failure Open(const std::filesystem::path& path, OpenedImage& image) {
    if (Result r = OpenImage(path, image); r != kSuccess)
        return ImageFailure(path, image, r);
    if (Result r = CheckResourceTree(image.section); r != kSuccess)
        return Failure{r, FailureCause::None, path};
    return {};
}

// An input of convert or harvest, and what writing over it is refused as.
struct Input {
    const std::filesystem::path* path;  // null for none
    FailureCause cause;
};

// Refuses an output of convert or harvest that would be written over one of its inputs,
// whatever the paths' spelling (through a link too), a folder and a read-only file, as export
// does.
Failure CheckTextOutput(std::initializer_list<Input> inputs, const std::filesystem::path& to) {
    OutputPaths output = ChosenOutput(to);
    if (output.kind == OutputKind::Stream)
        return {};
    for (const std::filesystem::path* out : {&output.file, &output.draft})
        for (const Input& input : inputs)
            if (input.path != nullptr && platform::SameFile(*input.path, *out))
                return Failure{kErrorSharingViolation, input.cause, to};
    std::error_code ec;
    std::filesystem::file_status status = std::filesystem::status(output.file, ec);
    if (!ec && status.type() == std::filesystem::file_type::directory)
        return Failure{kErrorOpenFailed, FailureCause::Folder, to};
    if (!ec && IsReadOnly(status))
        return Failure{kErrorAccessDenied, FailureCause::ReadOnly, to};
    return {};
}

}  // namespace

uint32_t ChooseSourceLanguage(const ResourceSection& section, const WalkOptions& walk) {
    std::map<uint32_t, uint64_t> counts;
    WalkOptions all = walk;
    all.languageFilter = kAllLanguages;
    all.notify = {};
    ExportTexts(section, ResourceHandlers(), all,
                [&counts](const TextItem& item) { ++counts[item.resource->language]; });
    // Language-neutral texts go with the image's only language.
    if (counts.size() > 1)
        counts.erase(0);
    if (counts.empty())
        return 0;
    if (counts.size() == 1)
        return counts.begin()->first;
    uint32_t chosen = counts.begin()->first;
    if (counts.count(0x409)) {
        chosen = 0x409;
    } else {
        for (const auto& [language, n] : counts)
            if (n > counts[chosen])
                chosen = language;
    }
    Say(walk, Notice{NoticeKind::SourceLanguageChosen, {}, {chosen, counts.size()}});
    return chosen;
}

TextFormat ChosenFormat(const Options& options, const std::filesystem::path& path) {
    if (options.format != TextFormat::ByExtension)
        return options.format;
    return FormatOfPath(path);
}

PoExport MakePoExport(const std::filesystem::path& imagePath) {
    PoExport extra;
    extra.fileName = Utf8Path(imagePath.filename());
    return extra;
}

Failure ExportPo(const ResourceSection& section, WalkOptions walk,
                 const std::filesystem::path& poPath, const PoExport& extra) {
    if (walk.languageFilter == kAllLanguages)
        walk.languageFilter = ChooseSourceLanguage(section, walk);
    walk.describe = true;  // every entry's "#." place
    walk.withNeutral = OnlySpokenLanguage(section, walk.languageFilter);
    PoHeader header;
    header.projectVersion = ProjectOf(section);
    if (header.projectVersion.empty())
        header.projectVersion = extra.fileName;
    header.creationDate = Now();
    header.language = extra.language;
    header.sourceLanguage = walk.languageFilter;
    header.translated = extra.translations != nullptr || extra.pseudoExpand.has_value();
    PoWriter writer;
    AppendPoHeader(writer.out, header);
    std::u16string translation;
    ExportTexts(section, ResourceHandlers(), walk, [&](const TextItem& item) {
        translation.clear();
        if (extra.pseudoExpand)
            PseudoTranslation(item, *extra.pseudoExpand, translation);
        else if (extra.translations != nullptr)
            (*extra.translations)(item.key, translation);
        AppendPoEntry(writer, item, translation);
    });
    return WriteTextFile(poPath, writer.out);
}

Failure LoadPoTranslation(const std::filesystem::path& poPath, const ResourceSection& section,
                          const Options& options, WalkOptions& walk, PoCatalog& catalog,
                          uint64_t* matches) {
    if (Failure f = ReadPo(poPath, catalog); f.code != kSuccess)
        return f;
    uint32_t sourceLanguage;
    if (options.languageFilter == kAllLanguages && PoSourceLanguage(catalog, sourceLanguage))
        walk.languageFilter = sourceLanguage;
    // A file without entries and without a language changes nothing and needs none.
    bool texts = std::any_of(catalog.entries.begin(), catalog.entries.end(),
                             [](const PoEntry& e) { return e.hasContext; });
    if (texts || options.addLanguage || options.targetLanguage != kNoLanguageOverride ||
        !PoHeaderField(catalog, "Language").empty())
        if (Result r = ChooseTranslatedLanguage(section, walk); r != kSuccess)
            return Failure{r, FailureCause::None, poPath};
    if (options.targetLanguage != kNoLanguageOverride)
        walk.languageOverride = options.targetLanguage;
    else if (Failure f = TargetLanguageOf(poPath, catalog, walk.languageOverride);
             f.code != kSuccess)
        return f;

    uint64_t fuzzy = 0;
    for (const PoEntry& entry : catalog.entries)
        fuzzy += entry.fuzzy && entry.hasContext && !entry.str.empty();
    if (fuzzy > 0 && !options.useFuzzy)
        Say(walk, Notice{NoticeKind::FuzzySkipped, {}, {fuzzy, 0}});

    // Translations made for other texts than the program's are applied, and counted.
    TextSource source = PoSource(catalog, options.useFuzzy);
    uint64_t changed = 0, matched = 0;
    std::u16string scratch;
    WalkOptions quiet = walk;
    quiet.notify = {};
    ExportTexts(section, ResourceHandlers(), quiet, [&](const TextItem& item) {
        auto it = catalog.byContext.find(std::u16string(item.key));
        if (it == catalog.byContext.end())
            return;
        if (catalog.entries[it->second].id == item.text)
            ++matched;
        else if (source(item.key, scratch))
            ++changed;
    });
    if (matches != nullptr)
        *matches = matched;
    if (changed > 0)
        Say(walk, Notice{NoticeKind::SourceTextsChanged, {}, {changed, 0}});
    return {};
}

namespace {

Failure Harvest(const std::filesystem::path& original, const std::filesystem::path& translated,
                const std::filesystem::path& poPath, const Options& options) {
    try {
        OpenedImage source, target;
        if (Failure f = Open(original, source); f.code != kSuccess)
            return f;
        if (Failure f = Open(translated, target); f.code != kSuccess)
            return f;
        if (Failure f = CheckTextOutput({{&original, FailureCause::OverwritesImage},
                                         {&translated, FailureCause::OverwritesImage}},
                                        poPath);
            f.code != kSuccess)
            return f;
        WalkOptions walk;
        walk.notify = options.notify;
        WalkOptions quiet;
        uint32_t language = options.targetLanguage;
        if (language == kNoLanguageOverride) {
            // The translated build's language: the one the original does not have, else its
            // only one; several that could be it are refused.
            std::vector<uint32_t> own = HandledLanguages(source.section, ResourceHandlers());
            std::vector<uint32_t> built = HandledLanguages(target.section, ResourceHandlers());
            std::erase(built, 0u);
            std::vector<uint32_t> added;
            std::set_difference(built.begin(), built.end(), own.begin(), own.end(),
                                std::back_inserter(added));
            if (added.size() == 1 || (added.empty() && built.size() == 1)) {
                language = added.empty() ? built[0] : added[0];
            } else if (!built.empty()) {
                if (walk.notify) {
                    std::u16string list;
                    for (const LanguageTexts& l : CountTextLanguages(target.section))
                        if (l.language != 0 &&
                            (added.empty() ||
                             std::binary_search(added.begin(), added.end(), l.language)))
                            AppendLanguageCount(list, l.language, l.texts);
                    walk.notify(Notice{NoticeKind::TranslatedLanguageUnclear,
                                       std::move(list),
                                       {added.empty() ? built.size() : added.size(), 0}});
                }
                return Failure{kErrorInvalidParameter, FailureCause::None, translated};
            } else {
                language = 0;
            }
        }
        quiet.languageFilter = language;
        quiet.withNeutral = OnlySpokenLanguage(target.section, language);
        // The translated texts by key; the first text of a key wins, as on import.
        std::unordered_map<std::u16string, std::u16string> texts;
        std::vector<std::u16string> order;
        ExportTexts(target.section, ResourceHandlers(), quiet, [&](const TextItem& item) {
            if (texts.emplace(item.key, item.text).second)
                order.emplace_back(item.key);
        });
        std::unordered_map<std::u16string, bool> seen;
        TextSource lookup = [&](std::u16string_view key, std::u16string& text) {
            auto it = texts.find(std::u16string(key));
            if (it == texts.end()) {
                if (seen.emplace(key, false).second)
                    Say(walk, Notice{NoticeKind::KeyInOneImage, std::u16string(key), {0, 0}});
                return false;
            }
            seen.emplace(key, true);
            text = it->second;
            return true;
        };
        PoExport extra = MakePoExport(original);
        extra.translations = &lookup;
        extra.language = LanguageNameOfId(language);
        walk.languageFilter = options.languageFilter;
        if (Failure f = ExportPo(source.section, walk, poPath, extra); f.code != kSuccess)
            return f;
        for (const std::u16string& key : order)
            if (!seen.count(key))
                Say(walk, Notice{NoticeKind::KeyInOneImage, key, {1, 0}});
        return {};
    } catch (const std::bad_alloc&) {
        return Failure{kErrorOutOfMemory, FailureCause::None, {}};
    }
}

Failure Convert(const std::filesystem::path& from, const std::filesystem::path& to,
                const std::filesystem::path* image, const Options& options) {
    TextFormat in = FormatOfPath(from);
    TextFormat out = ChosenFormat(options, to);
    if (Failure f = CheckTextOutput(
            {{&from, FailureCause::OverwritesLanguageFile}, {image, FailureCause::OverwritesImage}},
            to);
        f.code != kSuccess)
        return f;
    if (in == TextFormat::Lng && out == TextFormat::Po && image != nullptr) {
        LanguageTable table;
        std::unique_ptr<platform::FileView> view;
        if (Failure f = LoadLanguage(from, table, view, options.notify); f.code != kSuccess)
            return f;
        uint32_t language, source;
        if (Result r = ReadLanguageOverride(table, language); r != kSuccess)
            return Failure{r, FailureCause::None, from};
        if (Result r = ReadSourceLanguage(table, source); r != kSuccess)
            return Failure{r, FailureCause::None, from};
        OpenedImage opened;
        if (Failure f = Open(*image, opened); f.code != kSuccess)
            return f;
        TextSource values = LanguageSource(table, view.get());
        PoExport extra = MakePoExport(*image);
        extra.translations = &values;
        if (language != kNoLanguageOverride)
            extra.language = LanguageNameOfId(language);
        WalkOptions walk;
        walk.languageFilter =
            options.languageFilter == kAllLanguages && source != kNoLanguageOverride
                ? source
                : options.languageFilter;
        walk.notify = options.notify;
        return ExportPo(opened.section, walk, to, extra);
    }
    if (in == TextFormat::Po && out == TextFormat::Lng) {
        PoCatalog catalog;
        if (Failure f = ReadPo(from, catalog); f.code != kSuccess)
            return f;
        uint32_t language;
        if (Failure f = TargetLanguageOf(from, catalog, language); f.code != kSuccess)
            return f;
        std::u16string lines;
        if (language != kNoLanguageOverride) {
            lines = u"LANG=";
            AppendDecimal(lines, language);
            lines += u"\r\n";
        }
        uint32_t source;
        if (PoSourceLanguage(catalog, source)) {
            lines += kSourceLanguageKey;
            lines += u'=';
            AppendDecimal(lines, source);
            lines += u"\r\n";
        }
        for (const PoEntry& entry : catalog.entries)
            if (entry.hasContext && !entry.str.empty() && (options.useFuzzy || !entry.fuzzy))
                AppendLanguageLine(lines, TextItem{entry.context, entry.str, {}, 0, nullptr});
        std::vector<uint8_t> bytes = {0xFF, 0xFE};
        AppendUnitsLE(bytes, lines);
        return WriteTextFile(
            to, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    return Failure{kErrorInvalidParameter, FailureCause::None, {}};
}

}  // namespace

Outcome<> HarvestTranslation(const std::filesystem::path& original,
                             const std::filesystem::path& translated,
                             const std::filesystem::path& poPath, const Options& options) {
    return OutcomeOf(Harvest(original, translated, poPath, options));
}

Outcome<> ConvertTranslation(const std::filesystem::path& from, const std::filesystem::path& to,
                             const std::filesystem::path* image, const Options& options) {
    try {
        return OutcomeOf(Convert(from, to, image, options));
    } catch (const std::bad_alloc&) {
        return Failed(Failure{kErrorOutOfMemory, FailureCause::None, {}});
    }
}

}  // namespace quelvar
