#include "core/image.h"

#include <new>
#include <vector>

#include "core/bytes.h"
#include "core/walk.h"
#include "platform/platform.h"

namespace quelvar {

namespace {

constexpr uint64_t kMinimumImageSize = 512;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr size_t kMaxPathUnits = 260;

// Sections of the image other than the resource section must all lie before it, in the file
// and in the address space, and the resource directory must open the section: the rebuilt
// section then replaces the old one without moving anything that is addressed.
Result CheckImportLayout(const uint8_t* image, const ImageLayout& layout) {
    if (layout.magic != kMagicPe32)
        return kErrorBadFormat;
    if (layout.sectionAlignment == 0)
        return kErrorBadFormat;
    if (layout.resourceRva != layout.sectionRva)
        return kErrorBadFormat;
    for (uint32_t i = 0; i < layout.numberOfSections; ++i) {
        uint32_t header = layout.sectionTableOffset + i * kSectionHeaderSize;
        if (header == layout.resourceSectionHeader)
            continue;
        uint32_t rva = Load32(image + header + 12);
        uint32_t rawSize = Load32(image + header + 16);
        uint32_t rawPointer = Load32(image + header + 20);
        if (rva >= layout.sectionRva)
            return kErrorBadFormat;
        if (rawSize != 0 && uint64_t{rawPointer} + rawSize > layout.pointerToRawData)
            return kErrorBadFormat;
    }
    return kSuccess;
}

Result WriteUpdateCopy(const std::filesystem::path& outputPath, const uint8_t* image,
                       uint64_t imageSize, const ImageLayout& layout,
                       const std::vector<uint8_t>& section, uint32_t newLength,
                       uint32_t paddedSize) {
    platform::File out;
    if (platform::CreateForWriting(outputPath, out) != kSuccess)
        return kErrorWriteFault;
    uint64_t oldEnd = uint64_t{layout.pointerToRawData} + layout.sizeOfRawData;
    Result r = platform::WriteBytes(out, image, layout.pointerToRawData);
    if (r == kSuccess)
        r = platform::WriteBytes(out, section.data(), paddedSize);
    if (r == kSuccess && oldEnd < imageSize)
        r = platform::WriteBytes(out, image + oldEnd, static_cast<size_t>(imageSize - oldEnd));

    auto patch = [&](uint64_t offset, uint32_t value) {
        if (r != kSuccess)
            return;
        uint8_t bytes[4];
        Store32(bytes, value);
        r = platform::SeekTo(out, offset);
        if (r == kSuccess)
            r = platform::WriteBytes(out, bytes, 4);
    };
    if (paddedSize != layout.sizeOfRawData) {
        if (layout.sectionRva + paddedSize != layout.sizeOfImage)
            patch(layout.optionalHeaderOffset + 56, layout.sectionRva + paddedSize);
        patch(layout.resourceSectionHeader + 16, paddedSize);
    }
    if (newLength != layout.virtualSize)
        patch(layout.resourceSectionHeader + 8, newLength);

    if (r != kSuccess) {
        out = platform::File();
        platform::DeletePath(outputPath);
        return kErrorWriteFault;
    }
    return kSuccess;
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace

Result ReadImageLayout(const uint8_t* image, uint64_t size, ImageLayout& layout) {
    layout = ImageLayout();
    if (size < kMinimumImageSize)
        return kErrorBadFormat;
    if (Load16(image) != 0x5A4D)
        return kErrorBadFormat;
    layout.ntOffset = Load32(image + 60);
    if (!InBounds(size, layout.ntOffset, 24))
        return kErrorBadFormat;
    const uint8_t* nt = image + layout.ntOffset;
    if (Load32(nt) != 0x00004550)
        return kErrorBadFormat;
    layout.numberOfSections = Load16(nt + 6);
    layout.optionalHeaderSize = Load16(nt + 20);
    layout.optionalHeaderOffset = layout.ntOffset + 24;
    layout.sectionTableOffset = layout.optionalHeaderOffset + layout.optionalHeaderSize;
    if (!InBounds(size, layout.optionalHeaderOffset, layout.optionalHeaderSize) ||
        layout.optionalHeaderSize < 60)
        return kErrorBadFormat;
    const uint8_t* optional = image + layout.optionalHeaderOffset;
    layout.magic = Load16(optional);
    uint32_t countOffset;
    if (layout.magic == kMagicPe32)
        countOffset = 92;
    else if (layout.magic == kMagicPe32Plus)
        countOffset = 108;
    else
        return kErrorBadFormat;
    if (!InBounds(size, layout.sectionTableOffset,
                  uint64_t{layout.numberOfSections} * kSectionHeaderSize))
        return kErrorBadFormat;
    layout.sectionAlignment = Load32(optional + 32);
    layout.sizeOfImage = Load32(optional + 56);

    // The resource directory is there only when the header has room for it and counts it.
    uint32_t directory = countOffset + 4 + 8 * kResourceDirectory;
    if (layout.optionalHeaderSize < countOffset + 4 ||
        Load32(optional + countOffset) <= kResourceDirectory ||
        layout.optionalHeaderSize < directory + 8)
        return kErrorResourceDataNotFound;
    layout.resourceRva = Load32(optional + directory);

    uint32_t header = FindDirectorySection(image, size, layout, kResourceDirectory);
    if (header == 0)
        return kErrorResourceDataNotFound;
    layout.resourceSectionHeader = header;
    layout.virtualSize = Load32(image + header + 8);
    layout.sectionRva = Load32(image + header + 12);
    layout.sizeOfRawData = Load32(image + header + 16);
    layout.pointerToRawData = Load32(image + header + 20);
    if (!InBounds(size, layout.pointerToRawData, layout.sizeOfRawData))
        return kErrorBadFormat;
    return kSuccess;
}

uint32_t FindDirectorySection(const uint8_t* image, uint64_t size, const ImageLayout& layout,
                              uint32_t index) {
    (void)size;  // the section table was checked against the file by ReadImageLayout
    uint32_t countOffset = layout.magic == kMagicPe32Plus ? 108 : 92;
    uint32_t directory = countOffset + 4 + 8 * index;
    if (layout.optionalHeaderSize < directory + 8)
        return 0;
    uint32_t rva = Load32(image + layout.optionalHeaderOffset + directory);
    if (rva == 0)
        return 0;
    for (uint32_t i = 0; i < layout.numberOfSections; ++i) {
        uint32_t header = layout.sectionTableOffset + i * kSectionHeaderSize;
        uint32_t start = Load32(image + header + 12);
        uint32_t rawSize = Load32(image + header + 16);
        if (start <= rva && rva - start < rawSize)
            return header;
    }
    return 0;
}

Result ProcessImage(const std::filesystem::path& imagePath,
                    const std::filesystem::path& languagePath,
                    const std::filesystem::path* outputPath) {
    platform::FileView view;
    if (platform::MapWholeFile(imagePath, view) != kSuccess)
        return kErrorFileNotFound;
    const uint8_t* image = view.data;

    ImageLayout layout;
    if (Result r = ReadImageLayout(image, view.size, layout); r != kSuccess)
        return r;
    const bool import = outputPath != nullptr;
    if (import) {
        if (Result r = CheckImportLayout(image, layout); r != kSuccess)
            return r;
    }
    const uint8_t* section = image + layout.pointerToRawData;
    size_t rootOffset = layout.resourceRva - layout.sectionRva;
    if (Result r = CheckResourceTree(section, layout.sizeOfRawData, layout.sectionRva, rootOffset);
        r != kSuccess)
        return r;

    // Writing the language file or the update copy over the image would destroy the bytes
    // being read.
    if (SameFile(imagePath, import ? *outputPath : languagePath))
        return kErrorSharingViolation;

    std::vector<uint8_t> output;
    if (import) {
        try {
            // Room for the usual growth (translations a quarter longer than the texts they
            // replace); the buffer grows if they need more.
            output.reserve(size_t{layout.sizeOfRawData} + layout.sizeOfRawData / 4 + 65536);
        } catch (const std::bad_alloc&) {
            return kErrorOutOfMemory;
        }
    }

    WalkContext ctx;
    size_t length = 0;
    Result walked;
    try {
        walked = WalkResourceTree(ctx, section, layout.sizeOfRawData, layout.sectionRva, rootOffset,
                                  languagePath, import ? &output : nullptr, length);
    } catch (const std::bad_alloc&) {
        walked = kErrorOutOfMemory;
    }
    if (!import) {
        if (walked == kErrorWriteFault)
            platform::DeletePath(languagePath);
        return walked;
    }
    if (walked != kSuccess)
        return walked;

    // The section is padded with 1 to SectionAlignment zero bytes.
    uint64_t padded = length + layout.sectionAlignment - length % layout.sectionAlignment;
    if (uint64_t{layout.sectionRva} + padded > 0xFFFFFFFFu)
        return kErrorBadFormat;
    try {
        if (output.size() < padded)
            output.resize(static_cast<size_t>(padded));
    } catch (const std::bad_alloc&) {
        return kErrorOutOfMemory;
    }
    std::fill(output.begin() + static_cast<std::ptrdiff_t>(length),
              output.begin() + static_cast<std::ptrdiff_t>(padded), uint8_t{0});
    return WriteUpdateCopy(*outputPath, image, view.size, layout, output,
                           static_cast<uint32_t>(length), static_cast<uint32_t>(padded));
}

std::filesystem::path UpdateCopyPath(const std::filesystem::path& imagePath) {
    std::filesystem::path copy = imagePath;
    copy += ".QN";
    return copy;
}

Result ExportSelf(const std::filesystem::path& languagePath) {
    std::filesystem::path own;
    if (Result r = platform::OwnExecutablePath(own); r != kSuccess)
        return r;
    return ProcessImage(own, languagePath, nullptr);
}

Result ImportSelf(const std::filesystem::path& languagePath) {
    std::filesystem::path own;
    if (Result r = platform::OwnExecutablePath(own); r != kSuccess)
        return r;
    // The update copy's path, with its terminating zero, must fit a 260-unit path buffer.
    if (own.u16string().size() + 3 >= kMaxPathUnits)
        return kErrorFilenameExcedRange;
    std::filesystem::path copy = UpdateCopyPath(own);
    return ProcessImage(own, languagePath, &copy);
}

}  // namespace quelvar
