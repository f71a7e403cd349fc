// The steps that the driver's operations share: an image mapped for reading with its headers
// and resource section found, and a language file loaded.
#pragma once

#include <filesystem>
#include <memory>
#include <span>

#include "base/result.h"
#include "driver/driver.h"
#include "driver/files.h"
#include "exchange/language_file.h"
#include "exchange/po.h"
#include "pe/headers.h"
#include "pe/rebuild.h"
#include "platform/platform.h"
#include "resources/res_file.h"
#include "resources/tree.h"

namespace quelvar {

struct OpenedImage {
    platform::FileView view;
    // The image, or when read for export only its first bytes (its headers).
    std::span<const uint8_t> bytes;
    // The file was mapped or read: a failure since is the image's, not the file's.
    bool reached = false;
    uint64_t fileSize = 0;
    pe::ImageHeaders headers;
    pe::ResourceLocation location;
    ResourceSection section;  // its tree not yet checked
    // A compiled resource file (.res) instead of an image: its records, and the tree they are
    // laid out as, which `section` views (no headers, no location).
    bool resFile = false;
    ResFile res;
    ResFileError resError;  // why its records did not read, when they did not
    std::vector<uint8_t> resTree;
};

// Returns 0, the system's reason when the file cannot be mapped (`opened.view` then holds
// nothing), or what ReadImageHeaders and FindResourceSection refuse it with. A file that
// begins as a compiled resource file does is read as one (11 when its records do not read).
Result OpenImage(const std::filesystem::path& imagePath, OpenedImage& opened);

// Says why the records of a compiled resource file that OpenImage refused with `code` did not
// read (NoticeKind::ResFileUnreadable); nothing for an image.
void TellUnreadableResFile(const std::filesystem::path& path, const OpenedImage& opened,
                           Result code, const NoticeSink& notify);

// The same for an export, which needs only the headers and the resource section: a section of
// up to kReadSectionLimit bytes is read into a buffer that the calling thread keeps and reuses
// (valid until its next call), so that a batch of images costs no mapping and unmapping of
// each; an image with a larger one, or headers beyond its first page, is mapped.
Result ReadImageForExport(const std::filesystem::path& imagePath, OpenedImage& opened);
constexpr size_t kReadSectionLimit = 1 << 20;

// The failure of an image that OpenImage or ReadImageForExport refused with `code`: the image's
// own, or when it could not be read, why (missing, empty, a folder, a device).
Failure ImageFailure(const std::filesystem::path& imagePath, const OpenedImage& opened,
                     Result code);
// A file that could not be opened for reading (the system's reason `system`), failing with
// `code`: the cause names a missing file or folder, a folder, a device.
Failure ReadingFailure(Result code, const std::filesystem::path& path, Result system);
// An output that could not be created (the system's reason `system`), failing with `code`: the
// draft is named when something else has its name; otherwise the file asked for, whose folder
// is missing or refuses it.
Failure CreationFailure(Result code, const OutputPaths& paths, Result system);

// Why a file could not be read, from the system's reason: a folder, a missing file or folder.
FailureCause CauseOfReading(const std::filesystem::path& path, Result systemCode);

// The languages of a checked section's handled resources, ascending, with their texts.
std::vector<LanguageTexts> CountTextLanguages(const ResourceSection& section);

// The source language of a translation: the walk's filter when set, else the image's only
// language (language-neutral resources aside), else 0 for an image whose only language is
// neutral; an image without texts keeps the filter unset. Sets `withNeutral` when the source
// is the image's only language. An image of several languages without a chosen one is refused
// with 87 and a notice (SeveralSourceLanguages) that lists them with their texts.
Result ChooseTranslatedLanguage(const ResourceSection& section, WalkOptions& walk);

// True when `language` is the only language of the section's handled resources besides
// language-neutral ones: those then go with it (WalkOptions::withNeutral).
bool OnlySpokenLanguage(const ResourceSection& section, uint32_t language);

// Loads a language file, "-" being standard input. Returns what failed, if anything; a last
// line without a line break, which is not read, is said to `notify`.
// A file that can be mapped is indexed where it lies, and `view` keeps the mapping.
Failure LoadLanguage(const std::filesystem::path& languagePath, LanguageTable& table,
                     std::unique_ptr<platform::FileView>& view, const NoticeSink& notify);

// The pseudo-translation of an exported text into `out`; false for a font, which is no text
// to translate.
bool PseudoTranslation(const TextItem& item, unsigned expandPercent, std::u16string& out);

// A translation loaded for import or check: a language file or a PO catalog.
struct LoadedTranslation {
    TextFormat format = TextFormat::Lng;  // Lng or Po
    LanguageTable table;
    std::unique_ptr<platform::FileView> view;  // the mapped language file, if it was mapped
    PoCatalog catalog;
    bool useFuzzy = false;
};

// The key of every entry of a loaded translation with the line it starts on, in file order.
std::vector<KeyLine> TranslationKeyLines(const LoadedTranslation& loaded);

// Checks a loaded translation against the texts of a section whose tree has been checked
// (`walk` as the loading left it), and its dialogs' layout when `layout` is set. Returns 0 or
// 14 without memory.
Result CheckLoadedTranslation(const ResourceSection& section, WalkOptions walk,
                              const LoadedTranslation& loaded, CheckReport& report,
                              const LayoutSettings* layout = nullptr);

// The layout findings of the dialogs the walk selects, their texts and fonts as `translations`
// give them (see CheckKind::LayoutClipped).
void CheckDialogLayout(const ResourceSection& section, const WalkOptions& walk,
                       const TextSource& translations, const LayoutSettings& settings,
                       std::vector<Finding>& findings);

}  // namespace quelvar
