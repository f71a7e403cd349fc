// How the driver writes its outputs: a language file under a temporary name put in place only
// once complete, and update copies that a failed write leaves no part of.
#pragma once

#include <filesystem>
#include <functional>
#include <span>
#include <vector>

#include "base/result.h"
#include "exchange/language_file.h"
#include "platform/platform.h"

namespace quelvar {

// Where export writes a language file. The file is written under a temporary name beside
// the file the path names ("<name>.QN"; a symbolic link is followed) and put in its place only
// once complete, so that a failed export leaves an earlier language file as it was. A path
// that names an existing file other than a regular one (a device, a pipe) is written directly.
struct LanguageFilePaths {
    std::filesystem::path file;   // where the finished file goes
    std::filesystem::path draft;  // where it is written; `file` itself when written directly
};
LanguageFilePaths ExportPaths(const std::filesystem::path& languagePath);

// Creates the draft an export writes. Returns 0, or 110 when it cannot be created or the
// language file it would replace is read-only (no write permission for anyone).
Result CreateLanguageFileDraft(const LanguageFilePaths& paths, platform::File& file);

// Ends an export whose draft has been written and closed, `written` being 0 or the first
// failure: a complete draft replaces the language file; after any failure the draft is
// removed. Returns 0, `written`, or 110 when the draft cannot take the file's place.
Result PutLanguageFileInPlace(const LanguageFilePaths& paths, Result written);

// Writes a language file the way export does (under a draft put in place once complete):
// `fill` writes its lines. Returns 0, 110 when the draft cannot be created or put in place,
// 29 when a write fails, 14 without memory.
Result WriteLanguageFileAtomically(const std::filesystem::path& languagePath,
                                   const std::function<void(LanguageFileWriter&)>& fill);

// Writes a new image given as pieces in file order. Returns 0, or 29 when it cannot be created
// or written; what a failed write left of it is removed (never a device or pipe it wrote to).
Result WriteUpdateCopy(const std::filesystem::path& path,
                       std::span<const std::span<const uint8_t>> pieces);

// True when both paths name one existing file.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace quelvar
