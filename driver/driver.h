// What the front ends call: export of an image's texts into a language file, import of a
// language file into a new image, and import in place (the update copy beside the image,
// which then takes its place).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "base/expected.h"
#include "base/notice.h"
#include "base/result.h"
#include "checks/checks.h"
#include "exchange/po.h"
#include "layout/layout.h"
#include "render/render.h"
#include "resources/tree.h"

namespace quelvar {

// Appended to an image's path, extension included, to name its update copy; export writes
// a language file under its name with this suffix before putting it in place.
inline constexpr char kUpdateCopySuffix[] = ".QN";

// As the language path: standard output for export, standard input for import.
inline constexpr char kStandardStream[] = "-";

// The update copy's path: the image path with ".QN" appended.
std::filesystem::path UpdateCopyPath(const std::filesystem::path& imagePath);

// The language file proposed for an image: the extension of its file name replaced by
// ".lng", or ".lng" appended when the name has none. Empty for an empty path.
std::filesystem::path DefaultLanguagePath(const std::filesystem::path& imagePath);

// What is known of a failure beyond its code, for the front end to say.
enum class FailureCause {
    None,                    // the code says it
    NotFound,                // the file or its folder does not exist
    NoAccess,                // the file cannot be opened: access is denied, or it is a folder
    Empty,                   // the file is empty
    ReadOnly,                // the file to be replaced is read-only (code 5)
    OverwritesImage,         // an output would be written over the image (code 32)
    OverwritesLanguageFile,  // an output would be written over the language file (code 32)
    Utf8,                    // the language file is UTF-8 text without a byte-order mark
    Utf8WithMark,            // the language file is UTF-8 text with its mark EF BB BF
    Utf16BigEndian,          // the language file is UTF-16 big-endian (mark FE FF)
    NotUtf16,                // the language file begins with no mark and is no UTF-8 text
    NameTaken,               // a link, folder or device has the name an output is written to
    NoFolder,                // the folder of the file does not exist
    Folder,                  // the path names a folder, not a file
    // Import with addLanguage (code 87): no target language was given; it is the source
    // language.
    NoTargetLanguage,
    TargetIsSource,
    // Import (code 87): the image has texts in several languages and the translation's source
    // language was not chosen (a notice lists them).
    SeveralLanguages,
    NotAFile,    // the path names a device, a pipe or a socket, which is never read as an image
    CrLineEnds,  // the language file's lines end in CR alone (code 110)
    PoFile,      // a PO file that cannot be used (code 13): `poProblem` says why, at `line`
    // Import (code 13): no text of the translation is in the image (a notice says how many it
    // has).
    NoTextApplies,
    Busy,     // another run is importing into the image (code 33)
    Changed,  // another program cut the file short or replaced it meanwhile (code 1006)
};

struct Failure {
    Result code = kSuccess;
    FailureCause cause = FailureCause::None;
    std::filesystem::path path;  // the file the failure concerns; empty when none
    uint64_t line = 0;           // the line of `path` it is at; 0 for none
    PoProblem poProblem = PoProblem::None;
    std::string detail = {};  // a PO file's charset or unknown language name (UTF-8)
};

// What a driver operation returns: its value, or its failure with the code, the cause and the
// file it concerns.
template <class T = Done>
using Outcome = Expected<T, Failure>;
inline Unexpected<Failure> Failed(Failure failure) {
    return {std::move(failure)};
}
// The outcome a failure record stands for: success when its code is 0.
inline Outcome<> OutcomeOf(Failure failure) {
    if (failure.code == kSuccess)
        return Done{};
    return Failed(std::move(failure));
}

// Which sentence says a failure: the front ends word each in their own language.
enum class FailureText {
    NoSuchFile,
    NoSuchFolder,
    AccessDenied,
    Empty,
    ReadOnly,
    OverwritesImage,
    OverwritesLanguageFile,
    Utf8,
    Utf8WithMark,
    Utf16BigEndian,
    NotUtf16,
    NameTaken,
    Folder,
    NotAnImage,            // 11
    UnusableLanguage,      // 13: a LANG value that is no language id, a PO file that cannot be used
    OutOfMemory,           // 14
    CannotWrite,           // 29
    OverwritesInput,       // 32 without a cause
    LanguageFileUnusable,  // 110 without a cause: the language file cannot be opened or created
    DiskFull,              // 112
    NameTooLong,           // 206
    NoResources,           // 1812
    Other,                 // any other code: the system's text for it
    // Only import meets these (see FailureCause).
    NoTargetLanguage,
    TargetIsSource,
    SeveralLanguages,
    // The dialog program says these with the system's text for their code.
    NotAFile,
    CrLineEnds,
    PoFile,  // what is wrong with a PO file: Failure::poProblem
    NoTextApplies,
    Busy,
    Changed,
};

// The sentence of a failure: its cause's, else its code's.
FailureText TextOfFailure(const Failure& failure);

// The text formats: the language file and gettext PO.
enum class TextFormat {
    ByExtension,  // PO for a path ending in ".po" or ".pot", otherwise the language file
    Lng,
    Po,
};

// The layout of one dialog of an image, as measured without a translation: its key path
// without the trailing dot ("5.100.1033") and its font, base units, client area and each
// control's rectangle in pixels and text extent (DialogMeasure::problem when not measured).
struct MeasuredDialog {
    std::u16string resource;
    DialogMeasure measure;
};

// The format a path's extension names.
TextFormat FormatOfPath(const std::filesystem::path& path);

// What `CheckImage` found.
struct CheckReport {
    std::vector<Finding> findings;
    std::vector<size_t> lines;  // for each finding, its line in the translation; 0 for none
    size_t texts = 0;           // the image's texts that were checked against it
};

// How one export or import runs.
struct Options {
    // Export only the texts of the resources in this language; import translates only those
    // resources and copies the others unchanged. kAllLanguages handles every resource on
    // export; a PO export then takes the image's only language, else English (1033) when
    // present, else the language with most texts. An import then translates the source
    // language its PO header names, else the image's only language, and refuses an image of
    // several (87). Language-neutral resources (id 0) go with the image's only language.
    uint32_t languageFilter = kAllLanguages;
    // Receives what the operation has to say without failing; empty drops it.
    NoticeSink notify;
    // Export: write the pseudo-translation of every text (see PseudoTranslate), padded by this
    // many percent, with "LANG" set to the pseudo-locale, instead of the texts.
    std::optional<unsigned> pseudoExpand = std::nullopt;
    TextFormat format = TextFormat::ByExtension;
    // Import: the language id translated resources receive, over the file's own ("LANG=",
    // the PO "Language" header); kNoLanguageOverride leaves it to the file.
    uint32_t targetLanguage = kNoLanguageOverride;
    // PO import: apply fuzzy translations too.
    bool useFuzzy = false;
    // Import: keep every resource as it is and add the translation beside it under the target
    // language (see WalkOptions::addLanguage). The source language is `languageFilter`, else
    // the PO header's, else the image's only one; the target language is required.
    bool addLanguage = false;
    // Import: whether translated dialogs are laid out right to left.
    RightToLeft rightToLeft = RightToLeft::ByLanguage;
    // Import: remove a signed image's certificate table, which the translation invalidates.
    // Either way an import of a signed image says so (NoticeKind::SignedImage).
    bool unsign = false;
    // Import: when set, the translation is first checked against the image's texts as
    // CheckImage checks it, with the file and the image loaded once for both, and the report
    // handed here; the import goes on only when it returns true, else it fails with 1223.
    // What the loading says reaches `notify` after this call.
    std::function<bool(const CheckReport&)> checkFirst = nullptr;
    // Check, and import's check: also judge the translated dialogs' layout with these fonts.
    std::optional<LayoutSettings> layout = std::nullopt;
};

// Writes the texts of an image into a language file or a PO file (Options::format, else the
// path's extension). Fails as Import does where that applies.
Outcome<> Export(const std::filesystem::path& imagePath, const std::filesystem::path& languagePath,
                 const Options& options = {});

// Reads the language file and writes the translated image to `outputPath`.
// An output is written under its name with ".QN" appended and put in place once complete; a
// symbolic link is followed to the file it names, and a device or pipe is written directly.
// The image's update copy (`outputPath` is UpdateCopyPath(image)) is written without a name
// where the system allows it (else under its name with ".QN" appended once more) and named
// only once complete, replacing a stale regular file of that name; the image's lock is held
// meanwhile (see ImportInPlace). No existing file or link is followed or truncated at a ".QN"
// name. A mapped image or language file that another program cuts short meanwhile fails with
// 1006 and nothing is written.
// Failure codes: 2 when the image cannot be read, 11 for an image that is malformed or cannot
// be rebuilt, 1812 for one without resources, 32 when an output would overwrite the image or
// the language file, 5 when the file to be replaced (the language file, the output, or the
// image for its update copy) is read-only, 110 when the language file cannot be loaded or
// created, 13 for a "LANG" value that is no language id or a translation none of whose texts
// is in the image, 87 when an import has no source language (an image of several languages,
// none chosen) or addLanguage no target language to work with, 29 when an output cannot be
// written, 14 without memory.
Outcome<> Import(const std::filesystem::path& imagePath, const std::filesystem::path& languagePath,
                 const std::filesystem::path& outputPath, const Options& options = {});

// Harvest: writes a PO file whose msgids are the texts of `original` (of `languageFilter`, else
// its only language, else English, else the one of most texts) and whose msgstrs are the texts
// of `translated` under the same keys, in `targetLanguage`, else the one language `translated`
// has and `original` has not, else its only one; its name fills "Language". Keys of only one
// image are said (KeyInOneImage). Fails as Export, or with 87 when the translated build has
// several languages that could be the translation's (said: TranslatedLanguageUnclear).
Outcome<> HarvestTranslation(const std::filesystem::path& original,
                             const std::filesystem::path& translated,
                             const std::filesystem::path& poPath, const Options& options);

// Converts a language file into a PO file, the msgids taken from `image`, or a PO file into a
// language file (`image` null). Fails as Export and Import, or with 87 for a pair of formats
// that cannot be converted (or a language file without an image).
Outcome<> ConvertTranslation(const std::filesystem::path& from, const std::filesystem::path& to,
                             const std::filesystem::path* image, const Options& options);

struct InPlaceImport {
    Failure failure = {};  // what failed: the code (0 for success), its cause and the file
    // The update copy is complete but could not take the image's place: it stays at
    // UpdateCopyPath(image), and `failure` tells why.
    bool copyLeft = false;
};

// The file an image path names: a symbolic link's target, else the path itself.
std::filesystem::path LinkTarget(const std::filesystem::path& path);

// True when a file is an image with resources whose sections' raw data all lie inside it,
// as an update copy that was written completely is.
bool IsCompleteImage(const std::filesystem::path& path);

// Imports into the image itself: writes the update copy, gives it the image's owner, group,
// mode and extended attributes and puts it in the image's place in one step. A symbolic link
// is followed: the file it names is translated, with its update copy beside it, and the link
// stays. The run holds the image's lock throughout: another run on the image fails with 33
// (FailureCause::Busy) and leaves everything as it is. The copy takes the image's place only
// while the image is still the file that was read and the copy the file this run wrote;
// otherwise the import fails with 1006 (FailureCause::Changed) and its copy is removed.
InPlaceImport ImportInPlace(const std::filesystem::path& imagePath,
                            const std::filesystem::path& languagePath, const Options& options = {});

// Measures every dialog of an image (of the resources in `options.languageFilter`, all without
// one) with the fonts of `settings`, or fails as export refuses the image.
Outcome<std::vector<MeasuredDialog>> MeasureDialogs(const std::filesystem::path& imagePath,
                                                    const Options& options,
                                                    const LayoutSettings& settings);

// One dialog of an image laid out for a picture: its template, the translation's texts (when
// a translation was given), the source's layout and the translated one's (the same when there
// is no translation), and the problems of each (the source's judged against itself).
struct LaidOutDialog {
    std::u16string resource;  // the key path without its trailing dot: "5.100"
    std::u16string name;      // the dialog's name: "100", or a name given as text
    uint32_t language = 0;    // its resource language
    std::string problem;      // the template does not read
    DialogTemplate dialog;
    bool translated = false;
    DialogTexts texts;
    std::optional<std::u16string> caption;
    DialogMeasure source, measure;
    std::vector<LayoutProblem> sourceProblems, problems;
};

// Lays out every dialog of an image (of `options.languageFilter`), with the texts of a
// translation (a language file or PO file) when `translationPath` is not null, or fails as
// CheckImage refuses the files.
Outcome<std::vector<LaidOutDialog>> LayOutDialogs(const std::filesystem::path& imagePath,
                                                  const std::filesystem::path* translationPath,
                                                  const Options& options,
                                                  const LayoutSettings& settings);

// Draws a laid-out dialog: the source, and the translation beside it when there is one, the
// controls with a layout error outlined in red. False with `problem` set when it cannot.
bool DrawLaidOutDialog(const LaidOutDialog& dialog, PictureFormat format,
                       const LayoutSettings& settings, std::vector<uint8_t>& bytes,
                       std::string& problem);

// Writes a picture or a report as every output is written (complete or not at all), or fails
// with 29 (110 when it cannot be created).
Outcome<> WriteOutputFile(const std::filesystem::path& path, std::span<const uint8_t> bytes);

// Checks a translation against the texts of an image (of the resources in
// `options.languageFilter`): what it finds, or what export and import refuse the files with.
Outcome<CheckReport> CheckImage(const std::filesystem::path& imagePath,
                                const std::filesystem::path& translationPath,
                                const Options& options);

struct LanguageTexts {
    uint32_t language = 0;
    size_t texts = 0;
};
// The languages of the image's translatable texts (resources whose type has a handler),
// ascending, each with its number of texts, or what export refuses the image with.
Outcome<std::vector<LanguageTexts>> TextLanguages(const std::filesystem::path& imagePath);

// The Windows pseudo-locale (qps-ploc) that a pseudo-translation gives its resources.
constexpr uint32_t kPseudoLanguage = 0x0501;

}  // namespace quelvar
