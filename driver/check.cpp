// Checks of a translation against an image, and pseudo-translations.
#include <new>
#include <unordered_map>

#include "base/utf16.h"
#include "checks/shortcuts.h"
#include "driver/driver.h"
#include "driver/files.h"
#include "driver/language_io.h"
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
                              const LoadedTranslation& loaded, CheckReport& report,
                              const LayoutSettings* layout) {
    report = CheckReport();
    TextSource translations;
    const PoCatalog& catalog = loaded.catalog;
    bool po = loaded.format == TextFormat::Po;
    if (po) {
        // The PO file names its source language: only those texts are compared.
        translations = PoSource(catalog, loaded.useFuzzy);
    } else {
        translations = LanguageSource(loaded.table, loaded.view.get());
        // The texts of one language are compared: other languages share their keys.
        if (walk.languageFilter == kAllLanguages) {
            walk.languageFilter = ChooseSourceLanguage(section, walk);
            walk.withNeutral = OnlySpokenLanguage(section, walk.languageFilter);
        }
    }
    try {
        // The texts are checked a resource at a time, and only the marks of the translation's
        // keys that the image has outlive the walk: a check holds no record of every text.
        // The entry of a key in the translation's own index, or SIZE_MAX.
        auto entryOf = [&](std::u16string_view key) -> size_t {
            if (po) {
                auto entry = catalog.byContext.find(std::u16string(key));
                return entry == catalog.byContext.end() ? SIZE_MAX : entry->second;
            }
            uint32_t entry = FindKeyEntry(loaded.table, key);
            return entry == UINT32_MAX ? SIZE_MAX : entry;
        };
        std::vector<bool> known(po ? catalog.entries.size() : loaded.table.keys.size());
        std::vector<CheckedText> texts;  // of the resource being walked
        // Menu items and accelerators, whose keys are compared across resources.
        std::vector<CheckedText> shortcuts;
        std::vector<Finding> accelerators;
        auto checkResource = [&] {
            CheckResourceTexts(texts, report.findings, accelerators);
            texts.clear();
        };
        walk.describe = true;
        walk.notify = {};  // the texts were said on loading; the walk says nothing new
        ExportTexts(section, ResourceHandlers(), walk, [&](const TextItem& item) {
            AddCheckedText(texts, item, translations);
            ++report.texts;
            if (texts.size() > 1 && texts.back().resource != texts[texts.size() - 2].resource) {
                CheckedText next = std::move(texts.back());
                texts.pop_back();
                checkResource();
                texts.push_back(std::move(next));
            }
            CheckedText& t = texts.back();
            size_t entry = entryOf(t.key);
            if (entry != SIZE_MAX) {
                known[entry] = true;
                // A PO entry says which source text it translates: its msgid.
                if (po)
                    t.madeFor = catalog.entries[entry].id;
            }
            if (t.id != 0 && (t.role == TextRole::MenuItem || t.role == TextRole::Popup ||
                              t.role == TextRole::Accelerator))
                shortcuts.push_back(t);
        });
        checkResource();
        report.findings.insert(report.findings.end(), accelerators.begin(), accelerators.end());
        accelerators = {};
        CheckShortcutKeys(shortcuts, report.findings);
        shortcuts = {};
        if (layout != nullptr)
            CheckDialogLayout(section, walk, translations, *layout, report.findings);

        // One pass over the translation's lines: its keys the image lacks, and the first line
        // of each key, which the findings name.
        std::vector<size_t> firstLine(known.size(), 0);
        std::unordered_map<std::u16string, size_t> unindexed;  // lines the index holds no key of
        auto visit = [&](std::u16string_view key, size_t line) {
            size_t entry = entryOf(key);
            if (entry == SIZE_MAX)
                unindexed.emplace(key, line);
            else if (firstLine[entry] == 0)
                firstLine[entry] = line;
            if (!IsSettingKey(key) && (entry == SIZE_MAX || !known[entry]))
                report.findings.push_back(UnknownKey(key));
        };
        if (po) {
            for (const PoEntry& entry : catalog.entries)
                if (entry.hasContext)
                    visit(entry.context, static_cast<size_t>(entry.line));
        } else {
            ForEachKeyLine(loaded.table, visit);
        }
        for (const Finding& f : report.findings) {
            size_t entry = entryOf(f.key);
            auto other = entry == SIZE_MAX ? unindexed.find(f.key) : unindexed.end();
            report.lines.push_back(entry != SIZE_MAX          ? firstLine[entry]
                                   : other != unindexed.end() ? other->second
                                                              : 0);
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
    if (Result r = OpenImage(imagePath, opened); r != kSuccess) {
        TellUnreadableResFile(imagePath, opened, r, options.notify);
        return Failed(ImageFailure(imagePath, opened, r));
    }
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
    } else if (Failure f = LoadLanguage(translationPath, loaded.table, loaded.view, {});
               f.code != kSuccess) {
        return Failed(f);
    }
    CheckReport report;
    if (Result r = CheckLoadedTranslation(opened.section, walk, loaded, report,
                                          options.layout ? &*options.layout : nullptr);
        r != kSuccess)
        return Failed(Failure{r, FailureCause::None, imagePath});
    return report;
}

}  // namespace quelvar
