// Reading and writing language files: the files are opened, mapped or read here, and their
// bytes handed to exchange/language_file, which knows nothing of files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "base/result.h"
#include "exchange/language_file.h"
#include "platform/platform.h"

namespace quelvar {

// Reads a whole file: at most `length` bytes on entry, the number read on return. The buffer
// holds the bytes followed by two zero bytes. False when the file cannot be opened or read.
bool ReadWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& buffer,
                   uint64_t& length);

// Loads and indexes a language file. A file that can be mapped is indexed where its pages lie,
// and `view` keeps the mapping (it must outlive the table's use); a file that cannot (a pipe,
// a device) is read to its end into the table's buffer and `view` stays empty. Returns None or
// why not; `code` is then the system's reason for Unreadable.
LanguageFileFault LoadLanguageFile(const std::filesystem::path& path, LanguageTable& table,
                                   std::unique_ptr<platform::FileView>& view, Result& code);
// Loads the language file an open file (standard input) gives, read to its end.
LanguageFileFault LoadLanguageFile(platform::File& file, LanguageTable& table, Result& code);
// False when the file cannot be read or is no language file.
bool LoadLanguageFile(const std::filesystem::path& path, LanguageTable& table,
                      std::unique_ptr<platform::FileView>& view);

// The replacements of a loaded table (LanguageFileSource); the pages of its mapping `view`
// (when there is one) that the lookups have passed are given back to the system.
TextSource LanguageSource(const LanguageTable& table, const platform::FileView* view);

// A sink that writes into an open file.
ByteSink FileSink(platform::File& file);

}  // namespace quelvar
