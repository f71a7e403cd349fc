// Test support: builds small Portable Executable images with a resource section, reads the
// resources of an image back independently of the code under test, and handles temporary
// files and language files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/expected.h"
#include "base/result.h"
#include "driver/driver.h"
#include "resources/handler.h"

namespace quelvar {

// The code an operation ended with: 0 when it returned a value, else its failure's.
template <class T, class E>
Result CodeOf(const Expected<T, E>& outcome) {
    return outcome ? kSuccess : outcome.error().code;
}
// What an operation failed with; an empty failure (code 0) when it returned a value.
template <class T, class E>
E FailureOf(const Expected<T, E>& outcome) {
    return outcome ? E{} : outcome.error();
}
// The options of an export or import that takes the resources of `language` alone.
inline Options OfLanguage(uint32_t language) {
    Options options;
    options.languageFilter = language;
    return options;
}

}  // namespace quelvar

namespace quelvar::test {

using Bytes = std::vector<uint8_t>;

// A resource type or name: a numeric id, or a text name when `name` is not empty.
struct ResId {
    uint32_t id = 0;
    std::u16string name;
};

inline ResId Id(uint32_t id) {
    return ResId{id, {}};
}
inline ResId Name(std::u16string name) {
    return ResId{0, std::move(name)};
}

struct Resource {
    ResId type;
    ResId name;
    uint32_t language = 0;
    Bytes data;
    uint32_t codePage = 0;
};

// Serialises a three-level resource tree the way linkers do: all directory tables, then the
// data entries, then the name strings, then the data (each on a 4-byte boundary). Types and
// names keep their first-seen order, named entries before numeric ones.
Bytes BuildResourceSection(const std::vector<Resource>& resources, uint32_t sectionRva);

struct ImageOptions {
    uint16_t magic = 0x10B;  // 0x20B for PE32+
    uint32_t sectionAlignment = 0x1000;
    uint32_t fileAlignment = 0x200;
    Bytes overlay;                       // bytes after the last section
    bool sectionAfterResources = false;  // adds a ".reloc" section after ".rsrc"
    uint32_t checkSum = 0;
    uint32_t resourceVirtualSize = 0;  // 0: the section's length
};

// Layout of the images built here: ".text" at RVA 0x1000 and file offset 0x200, then
// ".rsrc" at RVA 0x2000 and file offset 0x400.
constexpr uint32_t kResourceRva = 0x2000;
constexpr uint32_t kResourceRawPointer = 0x400;
constexpr uint32_t kNtOffset = 0x80;

// A PE image whose resource section holds `section` (already serialised for kResourceRva).
Bytes BuildImageWithSection(const Bytes& section, const ImageOptions& options = {});
Bytes BuildImage(const std::vector<Resource>& resources, const ImageOptions& options = {});

// A resource as read back from an image.
struct ReadResource {
    std::u16string type;  // decimal id or name
    std::u16string name;
    std::u16string language;
    Bytes data;
    uint32_t codePage = 0;
    uint32_t dataRva = 0;
};

// Reads every resource of an image through its resource data directory and section table,
// checking every offset; throws std::runtime_error on a malformed image.
std::vector<ReadResource> ReadResources(const Bytes& image);

uint16_t Get16(const Bytes& b, size_t at);
uint32_t Get32(const Bytes& b, size_t at);
void Put16(Bytes& b, size_t at, uint16_t v);
void Put32(Bytes& b, size_t at, uint32_t v);

// Appends the low `bytes` bytes of a value, little-endian; a text as UTF-16LE with its zero.
void Put(Bytes& b, uint32_t v, int bytes);
void PutText(Bytes& b, std::u16string_view s);

// UTF-16LE bytes of a text, without a terminator.
Bytes Utf16(std::u16string_view text);
// A language file: the byte-order mark and the text as UTF-16LE.
Bytes LanguageFile(std::u16string_view text);
// The units of a language file after its byte-order mark.
std::u16string LanguageText(const Bytes& file);

Bytes ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);

// The PE image checksum of `image`, added word by word: the 16-bit one's complement sum of the
// image, the 4-byte CheckSum field at `checkSumOffset` counted as zero, plus the image's length.
uint32_t ImageChecksum(std::span<const uint8_t> image, size_t checkSumOffset);

// A fresh directory, removed with its contents at the end of the test.
struct TempDir {
    std::filesystem::path path;
    TempDir();
    ~TempDir();
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
};

// A string table block of 16 strings stored as given (missing ones empty): a string ending in
// u'\0' counts its zero.
Bytes StringBlock(const std::vector<std::u16string>& strings);
// A standard dialog template without font or controls: only its caption is translatable.
Bytes CaptionDialog(std::u16string_view caption);

// One text a handler reported on export, copied out of its TextItem.
struct ExportedText {
    std::u16string key, text, place;
    uint32_t group;
};

// Runs a resource handler as the walk does, on data at address `dataRva` of the source image.
// Export: every text it reports.
std::vector<ExportedText> ExportItems(ResourceHandler handler, std::span<const uint8_t> data,
                                      std::u16string_view keyPath, uint32_t dataRva = 0,
                                      uint32_t nameId = 0);
// Export: the lines a language file gets for the texts (without the byte-order mark).
std::u16string ExportWith(ResourceHandler handler, std::span<const uint8_t> data,
                          std::u16string_view keyPath, uint32_t dataRva = 0, uint32_t nameId = 0);
// Import, with the language file lines `lines`: the rebuilt data, written from offset `start`
// of the new section.
Bytes ImportWith(ResourceHandler handler, std::span<const uint8_t> data,
                 std::u16string_view keyPath, std::u16string_view lines, uint32_t dataRva = 0,
                 size_t start = 0, uint32_t nameId = 0);
// The same with the context's other fields (language, target language, notices) as `ctx` has
// them.
Bytes ImportAs(ResourceHandler handler, std::span<const uint8_t> data, std::u16string_view keyPath,
               std::u16string_view lines, ResourceContext ctx, size_t start = 0);

// Where the images built by mingw-w64 from the test resource scripts are, or empty when the
// build had no mingw-w64.
std::filesystem::path SampleImageDir();

// Calls `visit` with every resource of every image among the samples and Wine's 64-bit
// programs and libraries (when installed), images without resources left out.
void ForEachRealResource(const std::function<void(const std::filesystem::path& image,
                                                  const ReadResource& resource)>& visit);

}  // namespace quelvar::test
