// Checks of a translation against an image, and pseudo-translations.
#include <new>
#include <unordered_map>

#include "base/utf16.h"
#include "driver/driver.h"
#include "driver/files.h"
#include "driver/po_files.h"
#include "driver/steps.h"
#include "exchange/language_file.h"
#include "formats/handlers.h"

namespace quelvar {

std::vector<KeyLine> TranslationKeyLines(const LoadedTranslation& loaded) {
    if (loaded.format != TextFormat::Po)
        return LanguageFileKeyLines(loaded.table);
    std::vector<KeyLine> keyLines;
    for (const PoEntry& entry : loaded.catalog.entries)
        if (entry.hasContext)
            keyLines.push_back({entry.context, static_cast<size_t>(entry.line)});
    return keyLines;
}

Result CheckLoadedTranslation(const ResourceSection& section, WalkOptions walk,
                              const LoadedTranslation& loaded, CheckReport& report) {
    report = CheckReport();
    TextSource translations;
    std::vector<KeyLine> keyLines = TranslationKeyLines(loaded);
    if (loaded.format == TextFormat::Po) {
        // The PO file names its source language: only those texts are compared.
        translations = PoSource(loaded.catalog, loaded.useFuzzy);
    } else {
        translations = LanguageFileSource(loaded.table);
        // The texts of one language are compared: other languages share their keys.
        if (walk.languageFilter == kAllLanguages) {
            walk.languageFilter = ChooseSourceLanguage(section, walk);
            walk.withNeutral = OnlySpokenLanguage(section, walk.languageFilter);
        }
    }
    try {
        walk.describe = true;
        walk.notify = {};  // the texts were said on loading; the walk says nothing new
        std::vector<CheckedText> texts;
        ExportTexts(section, ResourceHandlers(), walk,
                    [&](const TextItem& item) { AddCheckedText(texts, item, translations); });
        // A PO entry says which source text it translates: its msgid.
        const PoCatalog& catalog = loaded.catalog;
        for (CheckedText& t : texts)
            if (auto entry = catalog.byContext.find(t.key); entry != catalog.byContext.end())
                t.madeFor = catalog.entries[entry->second].id;
        std::unordered_map<std::u16string_view, size_t> lineOf;
        std::vector<std::u16string> keys;
        lineOf.reserve(keyLines.size());
        keys.reserve(keyLines.size());
        for (const KeyLine& k : keyLines) {
            lineOf.emplace(k.key, k.line);  // the first line wins, as on import
            keys.push_back(k.key);
        }
        report.texts = texts.size();
        report.findings = CheckTranslation(texts, keys);
        for (const Finding& f : report.findings) {
            auto line = lineOf.find(f.key);
            report.lines.push_back(line == lineOf.end() ? 0 : line->second);
        }
        if (loaded.format == TextFormat::Lng && loaded.table.unendedLine != 0) {
            report.findings.push_back(
                Finding{CheckKind::UnendedLastLine, Severity::Warning, {}, {}, {}, {}});
            report.lines.push_back(loaded.table.unendedLine);
        }
    } catch (const std::bad_alloc&) {
        return kErrorOutOfMemory;
    }
    return kSuccess;
}

Outcome<CheckReport> CheckImage(const std::filesystem::path& imagePath,
                                const std::filesystem::path& translationPath,
                                const Options& options) {
    OpenedImage opened;
    if (Result r = OpenImage(imagePath, opened); r != kSuccess)
        return Failed(ImageFailure(imagePath, opened, r));
    if (Result r = CheckResourceTree(opened.section); r != kSuccess)
        return Failed(Failure{r, FailureCause::None, imagePath});
    WalkOptions walk;
    walk.languageFilter = options.languageFilter;
    walk.withNeutral = OnlySpokenLanguage(opened.section, walk.languageFilter);
    walk.notify = options.notify;
    LoadedTranslation loaded;
    loaded.format = ChosenFormat(options, translationPath);
    loaded.useFuzzy = options.useFuzzy;
    if (loaded.format == TextFormat::Po) {
        if (Failure f =
                LoadPoTranslation(translationPath, opened.section, options, walk, loaded.catalog);
            f.code != kSuccess)
            return Failed(f);
    } else if (Failure f = LoadLanguage(translationPath, loaded.table, {}); f.code != kSuccess) {
        return Failed(f);
    }
    CheckReport report;
    if (Result r = CheckLoadedTranslation(opened.section, walk, loaded, report); r != kSuccess)
        return Failed(Failure{r, FailureCause::None, imagePath});
    return report;
}

}  // namespace quelvar
