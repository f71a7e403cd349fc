#include "driver/driver.h"

#include <new>
#include <vector>

#include "driver/files.h"
#include "driver/po_files.h"
#include "exchange/language_file.h"
#include "formats/handlers.h"
#include "pe/headers.h"
#include "pe/rebuild.h"
#include "platform/platform.h"

namespace quelvar {

namespace {

Result ExportSection(const ResourceSection& section, const WalkOptions& options,
                     const std::filesystem::path& languagePath) {
    LanguageFilePaths paths = ExportPaths(languagePath);
    platform::File file;
    if (Result r = CreateLanguageFileDraft(paths, file); r != kSuccess)
        return r;
    Result written;
    try {
        LanguageFileWriter writer;
        BeginLanguageFile(writer, file);
        ExportTexts(section, ResourceHandlers(), options,
                    [&writer](const TextItem& item) { WriteLanguageLine(writer, item); });
        written = FinishLanguageFile(writer);
    } catch (const std::bad_alloc&) {
        written = kErrorOutOfMemory;
    }
    file = platform::File();  // closed before it is moved or removed
    return PutLanguageFileInPlace(paths, written);
}

Result ImportSection(std::span<const uint8_t> image, const pe::ImageHeaders& headers,
                     const pe::RebuildPlan& plan, const ResourceSection& section,
                     WalkOptions options, const std::filesystem::path& languagePath,
                     const std::filesystem::path& outputPath, const Options& choices) {
    LanguageTable table;
    PoCatalog catalog;
    TextSource source;
    if (ChosenFormat(choices, languagePath) == TextFormat::Po) {
        if (Result r = LoadPoTranslation(languagePath, section, choices, options, catalog);
            r != kSuccess)
            return r;
        source = PoSource(catalog, choices.useFuzzy);
    } else {
        if (!LoadLanguageFile(languagePath, table))
            return kErrorOpenFailed;
        if (Result r = ReadLanguageOverride(table, options.languageOverride); r != kSuccess)
            return r;
        source = LanguageFileSource(table);
    }
    if (choices.targetLanguage != kNoLanguageOverride)
        options.languageOverride = choices.targetLanguage;
    options.targetRva = plan.targetRva;
    std::vector<uint8_t> updated;
    {
        SectionWriter writer;
        // Room for the usual growth (translations a quarter longer than the texts they
        // replace); the section grows if they need more.
        size_t rawSize = plan.resource->rawSize;
        writer.bytes.reserve(rawSize + rawSize / 4 + 65536);
        RebuildSection(section, ResourceHandlers(), options, source, writer);
        if (Result r = pe::BuildUpdatedImage(image, headers, plan, writer.bytes, updated);
            r != kSuccess)
            return r;
    }
    return WriteUpdateCopy(outputPath, updated);
}

}  // namespace

TextFormat FormatOfPath(const std::filesystem::path& path) {
    std::u8string e = path.extension().u8string();
    for (char8_t& c : e)
        c = c >= u8'A' && c <= u8'Z' ? static_cast<char8_t>(c - u8'A' + u8'a') : c;
    return e == u8".po" || e == u8".pot" ? TextFormat::Po : TextFormat::Lng;
}

std::filesystem::path UpdateCopyPath(const std::filesystem::path& imagePath) {
    std::filesystem::path copy = imagePath;
    copy += kUpdateCopySuffix;
    return copy;
}

std::filesystem::path DefaultLanguagePath(const std::filesystem::path& imagePath) {
    using string = std::filesystem::path::string_type;
    const string& path = imagePath.native();
    if (path.empty())
        return {};
    size_t nameStart = path.find_last_of(string{std::filesystem::path::preferred_separator, '/'});
    nameStart = nameStart == string::npos ? 0 : nameStart + 1;
    size_t dot = path.rfind('.');
    string result = dot != string::npos && dot >= nameStart ? path.substr(0, dot) : path;
    result += std::filesystem::path(".lng").native();
    return result;
}

Result ProcessImage(const std::filesystem::path& imagePath,
                    const std::filesystem::path& languagePath,
                    const std::filesystem::path* outputPath, const Options& options) {
    platform::FileView view;
    if (platform::MapWholeFile(imagePath, view) != kSuccess)
        return kErrorFileNotFound;
    std::span<const uint8_t> image(view.data, static_cast<size_t>(view.size));

    pe::ImageHeaders headers;
    if (Result r = pe::ReadImageHeaders(image, headers); r != kSuccess)
        return r;
    pe::ResourceLocation location;
    if (Result r = pe::FindResourceSection(image, headers, location); r != kSuccess)
        return r;
    const bool import = outputPath != nullptr;
    pe::RebuildPlan plan;
    if (import) {
        if (Result r = pe::PlanRebuild(image, headers, location, plan); r != kSuccess)
            return r;
    }
    ResourceSection section{image.subspan(location.section->rawPointer, location.section->rawSize),
                            location.section->rva, location.RootOffset()};
    if (Result r = CheckResourceTree(section); r != kSuccess)
        return r;

    // Writing the language file or the update copy over the image would destroy the bytes
    // being read.
    if (SameFile(imagePath, import ? *outputPath : languagePath) ||
        (!import && SameFile(imagePath, ExportPaths(languagePath).draft)))
        return kErrorSharingViolation;

    WalkOptions walk;
    walk.languageFilter = options.languageFilter;
    walk.notify = options.notify;
    try {
        if (!import && ChosenFormat(options, languagePath) == TextFormat::Po)
            return ExportPo(section, walk, languagePath, MakePoExport(imagePath));
        if (!import)
            return ExportSection(section, walk, languagePath);
        return ImportSection(image, headers, plan, section, walk, languagePath, *outputPath,
                             options);
    } catch (const std::bad_alloc&) {
        return kErrorOutOfMemory;
    }
}

InPlaceImport ImportInPlace(const std::filesystem::path& imagePath,
                            const std::filesystem::path& languagePath, const Options& options) {
    InPlaceImport outcome;
    std::filesystem::path copy = UpdateCopyPath(imagePath);
    outcome.result = ProcessImage(imagePath, languagePath, &copy, options);
    if (outcome.result != kSuccess)
        return outcome;
    outcome.result = PutUpdateCopyInPlace(imagePath);
    outcome.copyLeft = outcome.result != kSuccess;
    return outcome;
}

bool IsCompleteImage(const std::filesystem::path& path) {
    platform::FileView view;
    if (platform::MapWholeFile(path, view) != kSuccess)
        return false;
    std::span<const uint8_t> image(view.data, static_cast<size_t>(view.size));
    pe::ImageHeaders headers;
    pe::ResourceLocation location;
    if (pe::ReadImageHeaders(image, headers) != kSuccess ||
        pe::FindResourceSection(image, headers, location) != kSuccess)
        return false;
    for (const pe::SectionHeader& s : headers.sections)
        if (uint64_t{s.rawPointer} + s.rawSize > image.size())
            return false;
    return true;
}

Result PutUpdateCopyInPlace(const std::filesystem::path& imagePath) {
    std::filesystem::path copy = UpdateCopyPath(imagePath);
    std::error_code ec;
    auto perms = std::filesystem::status(imagePath, ec).permissions();
    if (!ec)
        std::filesystem::permissions(copy, perms, ec);
    return platform::ReplacePath(copy, imagePath);
}

}  // namespace quelvar
