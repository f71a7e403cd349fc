// The headers of a Portable Executable image, decoded in one place: the DOS header's pointer
// to the NT headers, the file header, the optional header (PE32 and PE32+), the data
// directory and the section table. Field offsets of the published layouts are named here and
// used nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"

namespace quelvar::pe {

constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;

// Data directory indexes.
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kCertificateDirectory = 4;  // holds a file offset, not an RVA
constexpr uint32_t kRelocationDirectory = 5;
constexpr uint32_t kDebugDirectory = 6;
constexpr uint32_t kBoundImportDirectory = 11;  // holds a file offset into the headers
constexpr uint32_t kDirectoryCount = 16;

// File offsets of header fields, counted from the start of the NT headers ("PE\0\0").
constexpr uint32_t kNumberOfSectionsField = 6;
constexpr uint32_t kPointerToSymbolTableField = 12;
constexpr uint32_t kOptionalHeaderSizeField = 20;
constexpr uint32_t kOptionalHeaderStart = 24;
// Counted from the start of the optional header.
constexpr uint32_t kEntryPointField = 16;
constexpr uint32_t kSectionAlignmentField = 32;
constexpr uint32_t kFileAlignmentField = 36;
constexpr uint32_t kSizeOfImageField = 56;
constexpr uint32_t kSizeOfHeadersField = 60;
constexpr uint32_t kCheckSumField = 64;
// Counted from the start of a section header.
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kVirtualSizeField = 8;
constexpr uint32_t kVirtualAddressField = 12;
constexpr uint32_t kRawSizeField = 16;
constexpr uint32_t kRawPointerField = 20;
constexpr uint32_t kCharacteristicsField = 36;
// A debug directory entry (IMAGE_DEBUG_DIRECTORY).
constexpr uint32_t kDebugEntrySize = 28;
constexpr uint32_t kDebugAddressField = 20;
constexpr uint32_t kDebugPointerField = 24;

struct SectionHeader {
    uint32_t header = 0;  // file offset of the header
    uint32_t virtualSize = 0;
    uint32_t rva = 0;
    uint32_t rawSize = 0;
    uint32_t rawPointer = 0;
    uint32_t characteristics = 0;
};

struct ImageHeaders {
    uint32_t ntOffset = 0;  // e_lfanew: the "PE\0\0" signature
    uint32_t optionalHeaderOffset = 0;
    uint16_t optionalHeaderSize = 0;
    uint16_t magic = 0;  // kMagicPe32 or kMagicPe32Plus
    uint32_t sectionTableOffset = 0;
    uint32_t entryPoint = 0;
    uint32_t sectionAlignment = 0;
    uint32_t sizeOfImage = 0;
    // The fields below are read only when the optional header reaches its data directory.
    uint32_t fileAlignment = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t checkSum = 0;
    uint32_t directoryOffset = 0;  // file offset of the data directory
    uint32_t directoryCount = 0;   // entries that NumberOfRvaAndSizes and the header allow
    std::vector<SectionHeader> sections;
};

// Decodes and checks the headers. Returns 0, 11 for a malformed image, or 1812 when the
// optional header ends before its data directory.
Result ReadImageHeaders(std::span<const uint8_t> image, ImageHeaders& headers);

// File offset of the data directory entry `index` (VirtualAddress, then Size), or 0 when the
// optional header has no such entry.
uint32_t DirectoryEntryOffset(const ImageHeaders& headers, uint32_t index);
// The VirtualAddress of data directory `index`, or 0 when the header has none.
uint32_t DirectoryRva(std::span<const uint8_t> image, const ImageHeaders& headers, uint32_t index);

// The certificate table (the Authenticode signatures) as its data directory gives it: a file
// offset and a size. An image with neither is not signed.
struct CertificateTable {
    uint32_t offset = 0;
    uint32_t size = 0;
};
// False when the image has no certificate table.
bool FindCertificateTable(std::span<const uint8_t> image, const ImageHeaders& headers,
                          CertificateTable& table);

// The addresses a section covers once loaded: its virtual size, or its raw size when that is
// larger (or the virtual size is 0).
uint64_t VirtualEnd(const SectionHeader& section);
// True when a loaded section covers `rva`.
bool SectionSpansRva(const SectionHeader& section, uint32_t rva);
// The section whose raw data holds the byte at `rva`, or null: the one rule by which data
// addressed by an RVA is found in the file.
const SectionHeader* SectionHoldingRva(const ImageHeaders& headers, uint32_t rva);
// The file offset of `length` bytes at `rva`, when one section's raw data holds them all and
// they lie inside the image.
bool RvaToOffset(const ImageHeaders& headers, uint64_t imageSize, uint32_t rva, uint32_t length,
                 uint32_t& offset);

}  // namespace quelvar::pe
