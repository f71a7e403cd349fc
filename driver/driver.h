// What the front ends call: export of an image's texts into a language file, import of a
// language file into a new image, and import in place (the update copy beside the image,
// which then takes its place).
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "base/notice.h"
#include "base/result.h"
#include "checks/checks.h"
#include "resources/tree.h"

namespace quelvar {

// Appended to an image's path, extension included, to name its update copy; export writes
// a language file under its name with this suffix before putting it in place.
inline constexpr char kUpdateCopySuffix[] = ".QN";

// The update copy's path: the image path with ".QN" appended.
std::filesystem::path UpdateCopyPath(const std::filesystem::path& imagePath);

// The language file proposed for an image: the extension of its file name replaced by
// ".lng", or ".lng" appended when the name has none. Empty for an empty path.
std::filesystem::path DefaultLanguagePath(const std::filesystem::path& imagePath);

// How one export or import runs.
struct Options {
    // Export only the texts of the resources in this language; import translates only those
    // resources and copies the others unchanged. kAllLanguages handles every resource.
    uint32_t languageFilter = kAllLanguages;
    // Receives what the operation has to say without failing; empty drops it.
    NoticeSink notify;
};

// Export when `outputPath` is null: writes the language file. Import otherwise: reads the
// language file and writes the new image to `outputPath`.
// Returns 0 or a Win32 error number: 2 when the image cannot be read, 11 for an image that
// is malformed or cannot be rebuilt, 1812 for one without resources, 32 when the output would
// overwrite the image, 110 when the language file cannot be loaded or created, 13 for a "LANG"
// value that is no language id, 29 when an output cannot be written, 14 without memory.
Result ProcessImage(const std::filesystem::path& imagePath,
                    const std::filesystem::path& languagePath,
                    const std::filesystem::path* outputPath, const Options& options);
inline Result ProcessImage(const std::filesystem::path& imagePath,
                           const std::filesystem::path& languagePath,
                           const std::filesystem::path* outputPath,
                           uint32_t languageFilter = kAllLanguages) {
    return ProcessImage(imagePath, languagePath, outputPath, Options{languageFilter, {}});
}

struct InPlaceImport {
    Result result = kSuccess;
    // The update copy is complete but could not take the image's place: it stays at
    // UpdateCopyPath(image), and `result` tells why.
    bool copyLeft = false;
};

// Puts a complete update copy in the image's place in one step, with the image's
// permissions. Returns 0 or why it failed; the image is then as it was and the copy stays.
Result PutUpdateCopyInPlace(const std::filesystem::path& imagePath);

// True when a file is an image with resources whose sections' raw data all lie inside it,
// as an update copy that was written completely is.
bool IsCompleteImage(const std::filesystem::path& path);

// Imports into the image itself: writes the update copy, gives it the image's permissions
// and puts it in the image's place in one step.
InPlaceImport ImportInPlace(const std::filesystem::path& imagePath,
                            const std::filesystem::path& languagePath, const Options& options = {});

// What `CheckImage` found.
struct CheckReport {
    std::vector<Finding> findings;
    std::vector<size_t> lines;  // for each finding, its line in the translation; 0 for none
    size_t texts = 0;           // the image's texts that were checked against it
};

// Checks a translation against the texts of an image (of the resources in
// `options.languageFilter`). Returns 0 or what export and import refuse the files with.
Result CheckImage(const std::filesystem::path& imagePath,
                  const std::filesystem::path& translationPath, const Options& options,
                  CheckReport& report);

// The Windows pseudo-locale (qps-ploc) that a pseudo-translation gives its resources.
constexpr uint32_t kPseudoLanguage = 0x0501;

// Writes a language file that translates every text of the image into its pseudo-translation
// (see PseudoTranslate), with "LANG" set to the pseudo-locale.
Result PseudoTranslateImage(const std::filesystem::path& imagePath,
                            const std::filesystem::path& languagePath, const Options& options,
                            unsigned expandPercent);

}  // namespace quelvar
