// Checks of a translation against an image, and pseudo-translations.
#include <map>
#include <new>

#include "base/utf16.h"
#include "driver/driver.h"
#include "driver/files.h"
#include "driver/opened_image.h"
#include "exchange/language_file.h"
#include "formats/handlers.h"

namespace quelvar {

namespace {

bool EndsWith(std::u16string_view text, std::u16string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

Result CheckImage(const std::filesystem::path& imagePath,
                  const std::filesystem::path& translationPath, const Options& options,
                  CheckReport& report) {
    report = CheckReport();
    OpenedImage opened;
    if (Result r = OpenImage(imagePath, opened); r != kSuccess)
        return r;
    if (Result r = CheckResourceTree(opened.section); r != kSuccess)
        return r;
    LanguageTable table;
    if (!LoadLanguageFile(translationPath, table))
        return kErrorOpenFailed;
    try {
        WalkOptions walk;
        walk.languageFilter = options.languageFilter;
        walk.describe = true;
        TextSource translations = LanguageFileSource(table);
        std::vector<CheckedText> texts;
        ExportTexts(opened.section, ResourceHandlers(), walk,
                    [&](const TextItem& item) { AddCheckedText(texts, item, translations); });
        std::vector<KeyLine> keyLines = LanguageFileKeyLines(table);
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

Result PseudoTranslateImage(const std::filesystem::path& imagePath,
                            const std::filesystem::path& languagePath, const Options& options,
                            unsigned expandPercent) {
    OpenedImage opened;
    if (Result r = OpenImage(imagePath, opened); r != kSuccess)
        return r;
    if (Result r = CheckResourceTree(opened.section); r != kSuccess)
        return r;
    if (SameFile(imagePath, languagePath) || SameFile(imagePath, ExportPaths(languagePath).draft))
        return kErrorSharingViolation;
    return WriteLanguageFileAtomically(languagePath, [&](LanguageFileWriter& writer) {
        std::u16string lang = u"LANG=";
        AppendDecimal(lang, kPseudoLanguage);
        lang += u"\r\n";
        AppendUnitsLE(writer.pending, lang);
        WalkOptions walk;
        walk.languageFilter = options.languageFilter;
        std::u16string pseudo;
        ExportTexts(opened.section, ResourceHandlers(), walk, [&](const TextItem& item) {
            // A font is no text to translate.
            if (EndsWith(item.key, u".FONT"))
                return;
            pseudo = PseudoTranslate(item.text, expandPercent);
            WriteLanguageLine(writer, TextItem{item.key, pseudo, {}, 0, item.resource});
        });
    });
}

}  // namespace quelvar
