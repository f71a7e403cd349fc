#include "driver/driver.h"

#include <new>
#include <vector>

#include "driver/files.h"
#include "driver/opened_image.h"
#include "exchange/language_file.h"
#include "formats/handlers.h"
#include "pe/headers.h"
#include "pe/rebuild.h"
#include "platform/platform.h"

namespace quelvar {

namespace {

Result ExportSection(const ResourceSection& section, const WalkOptions& options,
                     const std::filesystem::path& languagePath) {
    return WriteLanguageFileAtomically(languagePath, [&](LanguageFileWriter& writer) {
        ExportTexts(section, ResourceHandlers(), options,
                    [&writer](const TextItem& item) { WriteLanguageLine(writer, item); });
    });
}

Result ImportSection(std::span<const uint8_t> image, const pe::ImageHeaders& headers,
                     const pe::RebuildPlan& plan, const ResourceSection& section,
                     WalkOptions options, const std::filesystem::path& languagePath,
                     const std::filesystem::path& outputPath) {
    LanguageTable table;
    if (!LoadLanguageFile(languagePath, table))
        return kErrorOpenFailed;
    if (Result r = ReadLanguageOverride(table, options.languageOverride); r != kSuccess)
        return r;
    options.targetRva = plan.targetRva;
    SectionWriter writer;
    // Room for the usual growth (translations a quarter longer than the texts they replace);
    // the section grows if they need more.
    size_t rawSize = plan.resource->rawSize;
    writer.bytes.reserve(rawSize + rawSize / 4 + 65536);
    RebuildSection(section, ResourceHandlers(), options, LanguageFileSource(table), writer);
    pe::UpdatedImage updated;
    if (Result r = pe::BuildUpdatedImage(image, headers, plan, writer.bytes, updated);
        r != kSuccess)
        return r;
    return WriteUpdateCopy(outputPath, updated.pieces);
}

}  // namespace

Result OpenImage(const std::filesystem::path& imagePath, OpenedImage& opened) {
    if (platform::MapWholeFile(imagePath, opened.view) != kSuccess)
        return kErrorFileNotFound;
    opened.bytes =
        std::span<const uint8_t>(opened.view.data, static_cast<size_t>(opened.view.size));
    if (Result r = pe::ReadImageHeaders(opened.bytes, opened.headers); r != kSuccess)
        return r;
    if (Result r = pe::FindResourceSection(opened.bytes, opened.headers, opened.location);
        r != kSuccess)
        return r;
    const pe::SectionHeader& s = *opened.location.section;
    opened.section = ResourceSection{opened.bytes.subspan(s.rawPointer, s.rawSize), s.rva,
                                     opened.location.RootOffset()};
    return kSuccess;
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
    OpenedImage opened;
    if (Result r = OpenImage(imagePath, opened); r != kSuccess)
        return r;
    std::span<const uint8_t> image = opened.bytes;
    const pe::ImageHeaders& headers = opened.headers;
    const bool import = outputPath != nullptr;
    pe::RebuildPlan plan;
    if (import) {
        if (Result r = pe::PlanRebuild(image, headers, opened.location, plan); r != kSuccess)
            return r;
    }
    if (Result r = CheckResourceTree(opened.section); r != kSuccess)
        return r;
    const ResourceSection& section = opened.section;

    // Writing the language file or the update copy over the image would destroy the bytes
    // being read.
    if (SameFile(imagePath, import ? *outputPath : languagePath) ||
        (!import && SameFile(imagePath, ExportPaths(languagePath).draft)))
        return kErrorSharingViolation;

    WalkOptions walk;
    walk.languageFilter = options.languageFilter;
    walk.notify = options.notify;
    try {
        if (!import)
            return ExportSection(section, walk, languagePath);
        return ImportSection(image, headers, plan, section, walk, languagePath, *outputPath);
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
    OpenedImage opened;
    if (OpenImage(path, opened) != kSuccess)
        return false;
    for (const pe::SectionHeader& s : opened.headers.sections)
        if (uint64_t{s.rawPointer} + s.rawSize > opened.bytes.size())
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
