// The image update driver: checks and maps a Portable Executable image, finds its resource
// section, runs one walk over the resource tree and, on import, writes the update copy with
// the rebuilt resource section and patched sizes. The source image is never written.
#pragma once

#include <cstdint>
#include <filesystem>

#include "core/result.h"
#include "core/walk.h"

namespace quelvar {

// What the driver learns of an image's headers.
struct ImageLayout {
    uint32_t ntOffset = 0;  // e_lfanew: the "PE\0\0" signature
    uint32_t optionalHeaderOffset = 0;
    uint16_t optionalHeaderSize = 0;
    uint16_t magic = 0;  // 0x10B for PE32, 0x20B for PE32+
    uint16_t numberOfSections = 0;
    uint32_t sectionTableOffset = 0;
    uint32_t sectionAlignment = 0;
    uint32_t fileAlignment = 0;
    uint32_t sizeOfImage = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t checkSum = 0;
    uint32_t directoryOffset = 0;        // file offset of the data directory
    uint32_t directoryCount = 0;         // entries that NumberOfRvaAndSizes and the header allow
    uint32_t resourceRva = 0;            // the resource data directory's VirtualAddress
    uint32_t resourceSectionHeader = 0;  // file offset of the resource section's header
    uint32_t sectionRva = 0;
    uint32_t virtualSize = 0;
    uint32_t sizeOfRawData = 0;
    uint32_t pointerToRawData = 0;
};

constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kCertificateDirectory = 4;  // holds a file offset, not an RVA
constexpr uint32_t kRelocationDirectory = 5;
constexpr uint32_t kDebugDirectory = 6;
constexpr uint32_t kBoundImportDirectory = 11;  // holds a file offset into the headers

// Reads and checks the headers of an image held in memory and finds its resource section.
// Returns 0, 11 for a malformed image or 1812 when it has no resource section.
Result ReadImageLayout(const uint8_t* image, uint64_t size, ImageLayout& layout);

// File offset of the header of the section that holds the data directory `index`, or 0 when
// the directory is empty or lies in no section's raw extent.
uint32_t FindDirectorySection(const uint8_t* image, uint64_t size, const ImageLayout& layout,
                              uint32_t index);

// File offset of the data directory entry `index` (VirtualAddress, then Size), or 0 when the
// optional header has no such entry.
uint32_t DirectoryEntryOffset(const ImageLayout& layout, uint32_t index);

// The PE image checksum of `length` bytes: the 16-bit one's complement sum of the image, the
// 4-byte CheckSum field at `checkSumOffset` counted as zero, plus the image's length.
uint32_t ImageChecksum(const uint8_t* image, size_t length, size_t checkSumOffset);

// Export when `outputPath` is null: writes the language file. Import otherwise: reads the
// language file and writes the new image to `outputPath`. `languageFilter` limits export to
// the resources of one language and import to translating them, every other resource being
// copied unchanged; kAllLanguages handles every resource.
Result ProcessImage(const std::filesystem::path& imagePath,
                    const std::filesystem::path& languagePath,
                    const std::filesystem::path* outputPath,
                    uint32_t languageFilter = kAllLanguages);

// The same on the running program's own executable; import writes "<own path>.QN".
Result ExportSelf(const std::filesystem::path& languagePath);
Result ImportSelf(const std::filesystem::path& languagePath);

// The update copy's path: the image path with ".QN" appended.
std::filesystem::path UpdateCopyPath(const std::filesystem::path& imagePath);

}  // namespace quelvar
