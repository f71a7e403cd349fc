// Checks of a translation against an image, and pseudo-translations.
#include <map>
#include <new>

#include "base/utf16.h"
#include "driver/driver.h"
#include "driver/files.h"
#include "driver/po_files.h"
#include "driver/steps.h"
#include "exchange/language_file.h"
#include "formats/handlers.h"

namespace quelvar {

Result CheckImage(const std::filesystem::path& imagePath,
                  const std::filesystem::path& translationPath, const Options& options,
                  CheckReport& report) {
    report = CheckReport();
    OpenedImage opened;
    if (Result r = OpenImage(imagePath, opened); r != kSuccess)
        return opened.view.data == nullptr ? kErrorFileNotFound : r;
    if (Result r = CheckResourceTree(opened.section); r != kSuccess)
        return r;
    WalkOptions walk;
    walk.languageFilter = options.languageFilter;
    walk.notify = options.notify;
    LanguageTable table;
    PoCatalog catalog;
    TextSource translations;
    std::vector<KeyLine> keyLines;
    if (ChosenFormat(options, translationPath) == TextFormat::Po) {
        // The PO file names its source language: only those texts are compared.
        if (Result r = LoadPoTranslation(translationPath, opened.section, options, walk, catalog);
            r != kSuccess)
            return r;
        translations = PoSource(catalog, options.useFuzzy);
        for (const PoEntry& entry : catalog.entries)
            if (entry.hasContext)
                keyLines.push_back({entry.context, static_cast<size_t>(entry.line)});
    } else {
        if (Failure f = LoadLanguage(translationPath, table); f.code != kSuccess) {
            if (options.failure != nullptr)
                *options.failure = f;
            return f.code;
        }
        translations = LanguageFileSource(table);
        keyLines = LanguageFileKeyLines(table);
        // The texts of one language are compared: other languages share their keys.
        if (walk.languageFilter == kAllLanguages)
            walk.languageFilter = ChooseSourceLanguage(opened.section, walk);
    }
    try {
        walk.describe = true;
        walk.notify = {};  // the texts were said on loading; the walk says nothing new
        std::vector<CheckedText> texts;
        ExportTexts(opened.section, ResourceHandlers(), walk,
                    [&](const TextItem& item) { AddCheckedText(texts, item, translations); });
        // A PO entry says which source text it translates: its msgid.
        for (CheckedText& t : texts)
            if (auto entry = catalog.byContext.find(t.key); entry != catalog.byContext.end())
                t.madeFor = catalog.entries[entry->second].id;
        std::map<std::u16string_view, size_t> lineOf;
        std::vector<std::u16string> keys;
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
    } catch (const std::bad_alloc&) {
        return kErrorOutOfMemory;
    }
    return kSuccess;
}

}  // namespace quelvar
