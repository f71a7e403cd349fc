// The layout check of translated dialogs, and the measured layout of an image's dialogs.
#include <algorithm>
#include <new>
#include <unordered_map>

#include "base/utf16.h"
#include "driver/driver.h"
#include "driver/files.h"
#include "driver/language_io.h"
#include "driver/po_files.h"
#include "driver/steps.h"
#include "exchange/language_file.h"
#include "formats/dialog.h"

namespace quelvar {

namespace {

constexpr uint32_t kDialogType = 5;  // RT_DIALOG
constexpr uint16_t kNoControlId = 0xFFFF;

// A dialog resource as the walk meets it; its data lies in the section.
struct FoundDialog {
    std::u16string keyPath;
    uint32_t dataRva = 0;
    std::span<const uint8_t> data;
    uint32_t language = 0;
    std::u16string name;
};

// The walk's handlers take no state of their own: the one below files the dialogs of the walk
// running on this thread here.
thread_local std::vector<FoundDialog>* tFound = nullptr;

void FileDialog(ResourceContext& ctx, std::span<const uint8_t> data) {
    if (tFound != nullptr)
        tFound->push_back({std::u16string(ctx.keyPath), ctx.dataRva, data, ctx.resource.language,
                           std::u16string(ctx.resource.name)});
}

constexpr HandlerEntry kDialogsOnly[] = {{kDialogType, FileDialog, "DIALOG"}};

std::vector<FoundDialog> FindDialogs(const ResourceSection& section, const WalkOptions& walk) {
    std::vector<FoundDialog> found;
    WalkOptions quiet = walk;
    quiet.describe = false;
    quiet.notify = {};
    tFound = &found;
    try {
        ExportTexts(section, kDialogsOnly, quiet, [](const TextItem&) {});
    } catch (...) {
        tFound = nullptr;
        throw;
    }
    tFound = nullptr;
    return found;
}

// The full key of each control's text as export gives it (empty for a control whose title is
// an ordinal): the id, "<id>#<n>" for its n-th use, "S<n>" for id 0xFFFF.
std::vector<std::u16string> ControlKeys(const std::u16string& keyPath, const DialogTemplate& t) {
    std::vector<std::u16string> keys(t.controls.size());
    std::unordered_map<uint16_t, uint32_t> seen;
    uint32_t sCounter = 0;
    for (size_t i = 0; i < t.controls.size(); ++i) {
        const DialogControl& c = t.controls[i];
        if (c.title.isOrdinal)
            continue;
        std::u16string& key = keys[i];
        key = keyPath;
        if (c.id == kNoControlId) {
            key.push_back(u'S');
            AppendDecimal(key, sCounter++);
            continue;
        }
        AppendDecimal(key, c.id);
        if (uint32_t n = ++seen[c.id]; n > 1) {
            key.push_back(u'#');
            AppendDecimal(key, n);
        }
    }
    return keys;
}

// The translation of a key as import looks it up: "<id>#<n>" first, then "<id>".
bool Translation(const TextSource& translations, const std::u16string& key, std::u16string& text) {
    text.clear();
    if (translations(key, text))
        return true;
    size_t hash = key.rfind(u'#');
    if (hash == std::u16string::npos)
        return false;
    text.clear();
    return translations(std::u16string_view(key).substr(0, hash), text);
}

// The font and control titles a translation gives a dialog (`keys` its controls' keys); true
// when it changes any.
bool TranslatedTexts(const TextSource& translations, const std::u16string& keyPath,
                     const DialogTemplate& t, const std::vector<std::u16string>& keys,
                     DialogTexts& translated) {
    std::u16string text;
    translated.titles.assign(t.controls.size(), std::nullopt);
    bool changed = false;
    if (t.hasTypeface && Translation(translations, keyPath + u"FONT", text)) {
        translated.font = text;
        changed = true;
    }
    for (size_t i = 0; i < keys.size(); ++i) {
        // As on import: a control without a title takes no text.
        bool repeated = keys[i].find(u'#') != std::u16string::npos;
        if (keys[i].empty() || (t.controls[i].title.text.empty() && !repeated))
            continue;
        if (Translation(translations, keys[i], text)) {
            translated.titles[i] = text;
            changed = true;
        }
    }
    return changed;
}

std::u16string FontDescription(const DialogMeasure& d) {
    std::u16string out = d.face;
    out += u' ';
    AppendDecimal(out, d.pointSize);
    out += u" pt, ";
    AppendFromUtf8(out, d.fontFile);
    if (d.standIn)
        out += u" standing in";
    return out;
}

CheckKind KindOf(LayoutIssue issue) {
    switch (issue) {
        case LayoutIssue::Clipped:
            return CheckKind::LayoutClipped;
        case LayoutIssue::TooManyLines:
            return CheckKind::LayoutTooManyLines;
        case LayoutIssue::Outside:
            return CheckKind::LayoutOutside;
        case LayoutIssue::TextOutside:
            return CheckKind::LayoutTextOutside;
        case LayoutIssue::Crowded:
            break;
    }
    return CheckKind::LayoutCrowded;
}

void NotMeasured(std::vector<Finding>& findings, std::u16string key, std::string_view why,
                 Severity severity) {
    Finding f{CheckKind::LayoutNotMeasured, severity, std::move(key), {}, {}, {}};
    AppendFromUtf8(f.detail, why);
    findings.push_back(std::move(f));
}

}  // namespace

void CheckDialogLayout(const ResourceSection& section, const WalkOptions& walk,
                       const TextSource& translations, const LayoutSettings& settings,
                       std::vector<Finding>& findings) {
    FontCache fonts;
    DialogTemplate t;
    std::u16string text;
    for (const FoundDialog& dialog : FindDialogs(section, walk)) {
        // The key path without its trailing dot names the dialog.
        std::u16string name = dialog.keyPath.substr(0, dialog.keyPath.size() - 1);
        if (!ReadDialogTemplate(dialog.data, dialog.dataRva, t)) {
            NotMeasured(findings, name, "the dialog template does not read", Severity::Warning);
            continue;
        }
        std::vector<std::u16string> keys = ControlKeys(dialog.keyPath, t);
        DialogTexts translated;
        bool changed = TranslatedTexts(translations, dialog.keyPath, t, keys, translated);
        DialogMeasure source = MeasureDialogLayout(t, DialogTexts{}, fonts, settings);
        if (!source.ok) {
            NotMeasured(findings, name, source.problem, Severity::Warning);
            continue;
        }
        DialogMeasure measured =
            changed ? MeasureDialogLayout(t, translated, fonts, settings) : source;
        if (!measured.ok) {
            NotMeasured(findings, dialog.keyPath + u"FONT", measured.problem, Severity::Error);
            continue;
        }
        std::u16string font = FontDescription(measured);
        for (const LayoutProblem& p : JudgeLayout(source, measured)) {
            Finding f{KindOf(p.issue), Severity::Error, keys[p.control], font, {}, {}};
            if (f.key.empty()) {  // a control without a text of its own: the dialog's
                f.key = name;
                f.other.push_back(u'#');
                AppendDecimal(f.other, static_cast<int64_t>(p.control));
            }
            // A control left of or above the dialog reaches -N px: said as its extent
            // beyond the edge.
            f.counts[0] = static_cast<uint64_t>(p.needed < 0 ? -int64_t{p.needed} : p.needed);
            f.counts[1] = static_cast<uint64_t>(std::max(p.given, 0));
            f.ofSource = p.sourceToo;
            if (p.sourceToo || p.issue == LayoutIssue::Crowded)
                f.severity = Severity::Warning;
            findings.push_back(std::move(f));
        }
    }
}

// Opens the image and checks its resource tree; the walk selects the dialogs of
// `options.languageFilter`.
Failure OpenForLayout(const std::filesystem::path& imagePath, const Options& options,
                      OpenedImage& opened, WalkOptions& walk) {
    if (Result r = OpenImage(imagePath, opened); r != kSuccess)
        return ImageFailure(imagePath, opened, r);
    if (Result r = CheckResourceTree(opened.section); r != kSuccess)
        return Failure{r, FailureCause::None, imagePath};
    walk.languageFilter = options.languageFilter;
    walk.withNeutral = OnlySpokenLanguage(opened.section, walk.languageFilter);
    return {};
}

Outcome<std::vector<MeasuredDialog>> MeasureDialogs(const std::filesystem::path& imagePath,
                                                    const Options& options,
                                                    const LayoutSettings& settings) {
    OpenedImage opened;
    WalkOptions walk;
    if (Failure f = OpenForLayout(imagePath, options, opened, walk); f.code != kSuccess)
        return Failed(std::move(f));
    try {
        std::vector<MeasuredDialog> out;
        FontCache fonts;
        DialogTemplate t;
        for (const FoundDialog& dialog : FindDialogs(opened.section, walk)) {
            MeasuredDialog m;
            m.resource = dialog.keyPath.substr(0, dialog.keyPath.size() - 1);
            if (ReadDialogTemplate(dialog.data, dialog.dataRva, t))
                m.measure = MeasureDialogLayout(t, DialogTexts{}, fonts, settings);
            else
                m.measure.problem = "the dialog template does not read";
            out.push_back(std::move(m));
        }
        return out;
    } catch (const std::bad_alloc&) {
        return Failed(Failure{kErrorOutOfMemory, FailureCause::None, imagePath});
    }
}

namespace {

// The controls a picture outlines: those with an error of the layout (not a crowded text).
std::vector<bool> Flagged(const std::vector<LayoutProblem>& problems, size_t controls) {
    std::vector<bool> out(controls, false);
    for (const LayoutProblem& p : problems)
        if (p.issue != LayoutIssue::Crowded && p.control < controls)
            out[p.control] = true;
    return out;
}

}  // namespace

Outcome<std::vector<LaidOutDialog>> LayOutDialogs(const std::filesystem::path& imagePath,
                                                  const std::filesystem::path* translationPath,
                                                  const Options& options,
                                                  const LayoutSettings& settings) {
    OpenedImage opened;
    WalkOptions walk;
    if (Failure f = OpenForLayout(imagePath, options, opened, walk); f.code != kSuccess)
        return Failed(std::move(f));
    walk.notify = options.notify;
    LoadedTranslation loaded;
    TextSource translations;
    if (translationPath != nullptr) {
        // Loaded as check loads it, the texts of its source language only.
        loaded.format = ChosenFormat(options, *translationPath);
        loaded.useFuzzy = options.useFuzzy;
        Failure f =
            loaded.format == TextFormat::Po
                ? LoadPoTranslation(*translationPath, opened.section, options, walk, loaded.catalog)
                : LoadLanguage(*translationPath, loaded.table, loaded.view, {});
        if (f.code != kSuccess)
            return Failed(std::move(f));
        if (loaded.format == TextFormat::Po) {
            translations = PoSource(loaded.catalog, loaded.useFuzzy);
        } else {
            translations = LanguageSource(loaded.table, loaded.view.get());
            if (walk.languageFilter == kAllLanguages) {
                walk.languageFilter = ChooseSourceLanguage(opened.section, walk);
                walk.withNeutral = OnlySpokenLanguage(opened.section, walk.languageFilter);
            }
        }
    }
    try {
        std::vector<LaidOutDialog> out;
        FontCache fonts;
        std::u16string text;
        for (const FoundDialog& found : FindDialogs(opened.section, walk)) {
            LaidOutDialog& d = out.emplace_back();
            d.resource = found.keyPath.substr(0, found.keyPath.size() - 1);
            d.name = found.name;
            d.language = found.language;
            if (!ReadDialogTemplate(found.data, found.dataRva, d.dialog)) {
                d.problem = "the dialog template does not read";
                continue;
            }
            const DialogTemplate& t = d.dialog;
            if (translationPath != nullptr) {
                d.translated = true;
                TranslatedTexts(translations, found.keyPath, t, ControlKeys(found.keyPath, t),
                                d.texts);
                if (Translation(translations, found.keyPath + u"HEAD", text))
                    d.caption = text;
            }
            d.source = MeasureDialogLayout(t, DialogTexts{}, fonts, settings);
            d.sourceProblems = JudgeLayout(d.source, d.source);
            if (d.translated) {
                d.measure = MeasureDialogLayout(t, d.texts, fonts, settings);
                d.problems = JudgeLayout(d.source, d.measure);
            } else {
                d.measure = d.source;
                d.problems = d.sourceProblems;
            }
        }
        return out;
    } catch (const std::bad_alloc&) {
        return Failed(Failure{kErrorOutOfMemory, FailureCause::None, imagePath});
    }
}

bool DrawLaidOutDialog(const LaidOutDialog& d, PictureFormat format, const LayoutSettings& settings,
                       std::vector<uint8_t>& bytes, std::string& problem) {
    if (!d.problem.empty()) {
        problem = d.problem;
        return false;
    }
    try {
        DialogView source{&d.dialog, &d.source, nullptr, std::nullopt,
                          Flagged(d.sourceProblems, d.dialog.controls.size())};
        if (!d.translated)
            return DrawDialogPicture(source, nullptr, format, settings, bytes, problem);
        // The translation outlines all its problems, the source's own among them.
        DialogView translated{&d.dialog, &d.measure, &d.texts, d.caption,
                              Flagged(d.problems, d.dialog.controls.size())};
        return DrawDialogPicture(source, &translated, format, settings, bytes, problem);
    } catch (const std::bad_alloc&) {
        problem = "out of memory";
        return false;
    }
}

Outcome<> WriteOutputFile(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    Result created = kSuccess;
    OutputPaths output = ChosenOutput(path);
    Result r = WriteOutput(output, std::span(&bytes, 1), created);
    if (r == kSuccess)
        return Done{};
    return Failed(created != kSuccess ? CreationFailure(kErrorOpenFailed, output, created)
                                      : Failure{r, FailureCause::None, path});
}

}  // namespace quelvar
