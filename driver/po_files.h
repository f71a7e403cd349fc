// The driver's side of PO files: export of an image's texts with a header and one source
// language, loading a PO file for import, harvest and conversion.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "driver/driver.h"
#include "exchange/po.h"

namespace quelvar {

// The format an operation uses: the chosen one, or the one the path's extension names.
TextFormat ChosenFormat(const Options& options, const std::filesystem::path& path);

// The one language a file of an image's texts holds when none was chosen: the image's only
// language, else English (1033) when present, else the language with most texts (said).
uint32_t ChooseSourceLanguage(const ResourceSection& section, const WalkOptions& walk);

// What a PO export takes besides the texts.
struct PoExport {
    std::string fileName;  // the image's file name, the project without version information
    const TextSource* translations = nullptr;  // the msgstrs; null leaves them empty
    std::string language;                      // the target language's name, when known
    // The msgstrs are the pseudo-translations of the texts, padded by this many percent.
    std::optional<unsigned> pseudoExpand = std::nullopt;
};
PoExport MakePoExport(const std::filesystem::path& imagePath);

// Writes the PO file of the texts of `section` in the walk's language, or in the language
// chosen for it when the walk takes all. Returns what failed, as Export does.
Failure ExportPo(const ResourceSection& section, WalkOptions walk,
                 const std::filesystem::path& poPath, const PoExport& extra);

// Loads a PO file for import into `catalog` and sets the walk's language (the file's source
// language unless `options` names one, else the image's only one) and new language id (its
// "Language"). Says skipped fuzzy entries and msgids that differ from the section's texts;
// `matches`, when given, receives the number of entries whose key is a text of that language
// and whose msgid is its text. Returns what failed, if anything: 110 when the file cannot be
// read (with the reason), 13 for a file that cannot be used or an unknown language
// (FailureCause::PoFile, with the problem and its line), or 87 for an image of several
// languages and no source language (said).
Failure LoadPoTranslation(const std::filesystem::path& poPath, const ResourceSection& section,
                          const Options& options, WalkOptions& walk, PoCatalog& catalog,
                          uint64_t* matches = nullptr);

}  // namespace quelvar
