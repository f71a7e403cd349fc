#include "pe/headers.h"

#include <algorithm>

#include "base/bytes.h"

namespace quelvar::pe {

namespace {

constexpr uint64_t kMinimumImageSize = 512;
constexpr uint32_t kDosSignature = 0x5A4D;  // "MZ"
constexpr uint32_t kNtPointerField = 60;    // e_lfanew
constexpr uint32_t kNtSignature = 0x4550;   // "PE\0\0"
constexpr uint32_t kFileHeaderEnd = 24;     // signature and file header
constexpr uint32_t kMinimumOptionalSize = 60;
// NumberOfRvaAndSizes; PE32+ widens ImageBase and the four stack and heap sizes, so the data
// directory sits 16 bytes further in.
constexpr uint32_t kDirectoryCountField32 = 92;
constexpr uint32_t kDirectoryCountField64 = 108;

}  // namespace

Result ReadImageHeaders(std::span<const uint8_t> image, ImageHeaders& headers) {
    headers = ImageHeaders();
    if (image.size() < kMinimumImageSize)
        return kErrorBadFormat;
    CheckedReader in{image};
    if (in.U16(0) != kDosSignature)
        return kErrorBadFormat;
    headers.ntOffset = in.U32(kNtPointerField);
    if (!in.Has(headers.ntOffset, kFileHeaderEnd) || in.U32(headers.ntOffset) != kNtSignature)
        return kErrorBadFormat;
    uint16_t sectionCount = in.U16(headers.ntOffset + kNumberOfSectionsField);
    headers.optionalHeaderSize = in.U16(headers.ntOffset + kOptionalHeaderSizeField);
    headers.optionalHeaderOffset = headers.ntOffset + kOptionalHeaderStart;
    headers.sectionTableOffset = headers.optionalHeaderOffset + headers.optionalHeaderSize;
    if (!in.Has(headers.optionalHeaderOffset, headers.optionalHeaderSize) ||
        headers.optionalHeaderSize < kMinimumOptionalSize)
        return kErrorBadFormat;
    const uint32_t optional = headers.optionalHeaderOffset;
    headers.magic = in.U16(optional);
    uint32_t countField;
    if (headers.magic == kMagicPe32)
        countField = kDirectoryCountField32;
    else if (headers.magic == kMagicPe32Plus)
        countField = kDirectoryCountField64;
    else
        return kErrorBadFormat;
    if (!in.Has(headers.sectionTableOffset, uint64_t{sectionCount} * kSectionHeaderSize))
        return kErrorBadFormat;
    headers.entryPoint = in.U32(optional + kEntryPointField);
    headers.sectionAlignment = in.U32(optional + kSectionAlignmentField);
    headers.sizeOfImage = in.U32(optional + kSizeOfImageField);
    headers.sections.resize(sectionCount);
    for (uint32_t i = 0; i < sectionCount; ++i) {
        SectionHeader& s = headers.sections[i];
        s.header = headers.sectionTableOffset + i * kSectionHeaderSize;
        s.virtualSize = in.U32(s.header + kVirtualSizeField);
        s.rva = in.U32(s.header + kVirtualAddressField);
        s.rawSize = in.U32(s.header + kRawSizeField);
        s.rawPointer = in.U32(s.header + kRawPointerField);
        s.characteristics = in.U32(s.header + kCharacteristicsField);
    }

    // The data directory is there only when the header has room for it and counts it.
    if (headers.optionalHeaderSize < countField + 4)
        return kErrorResourceDataNotFound;
    headers.fileAlignment = in.U32(optional + kFileAlignmentField);
    headers.sizeOfHeaders = in.U32(optional + kSizeOfHeadersField);
    headers.checkSum = in.U32(optional + kCheckSumField);
    headers.directoryOffset = optional + countField + 4;
    headers.directoryCount =
        std::min(in.U32(optional + countField), (headers.optionalHeaderSize - countField - 4) / 8u);
    return in.ok ? kSuccess : kErrorBadFormat;
}

uint32_t DirectoryEntryOffset(const ImageHeaders& headers, uint32_t index) {
    return index < headers.directoryCount ? headers.directoryOffset + 8 * index : 0;
}

uint32_t DirectoryRva(std::span<const uint8_t> image, const ImageHeaders& headers, uint32_t index) {
    uint32_t entry = DirectoryEntryOffset(headers, index);
    return entry == 0 ? 0 : Load32(image.data() + entry);
}

bool FindCertificateTable(std::span<const uint8_t> image, const ImageHeaders& headers,
                          CertificateTable& table) {
    table = CertificateTable();
    if (uint32_t entry = DirectoryEntryOffset(headers, kCertificateDirectory)) {
        table.offset = Load32(image.data() + entry);
        table.size = Load32(image.data() + entry + 4);
    }
    return table.offset != 0 && table.size != 0;
}

uint64_t VirtualEnd(const SectionHeader& section) {
    return uint64_t{section.rva} + std::max(section.virtualSize, section.rawSize);
}

bool SectionSpansRva(const SectionHeader& section, uint32_t rva) {
    return rva >= section.rva && rva < VirtualEnd(section);
}

const SectionHeader* SectionHoldingRva(const ImageHeaders& headers, uint32_t rva) {
    for (const SectionHeader& s : headers.sections)
        if (s.rva <= rva && rva - s.rva < s.rawSize)
            return &s;
    return nullptr;
}

bool RvaToOffset(const ImageHeaders& headers, uint64_t imageSize, uint32_t rva, uint32_t length,
                 uint32_t& offset) {
    const SectionHeader* s = SectionHoldingRva(headers, rva);
    if (s == nullptr || uint64_t{rva} - s->rva + length > s->rawSize)
        return false;
    uint64_t at = uint64_t{s->rawPointer} + (rva - s->rva);
    if (!InBounds(imageSize, at, length))
        return false;
    offset = static_cast<uint32_t>(at);
    return true;
}

}  // namespace quelvar::pe
