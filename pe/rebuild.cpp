#include "pe/rebuild.h"

#include <algorithm>

#include "base/bytes.h"

namespace quelvar::pe {

namespace {

constexpr uint32_t kMaxSectionAlignment = 0x100000;
constexpr uint32_t kPageSize = 0x1000;
constexpr uint32_t kDiscardable = 0x02000000;              // IMAGE_SCN_MEM_DISCARDABLE
constexpr uint32_t kResourceCharacteristics = 0x40000040;  // initialized data, readable
constexpr char kResourceSectionName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};

bool IsPowerOfTwo(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

uint32_t Field32(std::span<const uint8_t> image, uint32_t offset) {
    return Load32(image.data() + offset);
}

// True when every block of the base relocations patches a page outside the sections that
// would move.
bool RelocationsStayOutside(std::span<const uint8_t> image, const ImageHeaders& headers,
                            const std::vector<const SectionHeader*>& moving) {
    uint32_t entry = DirectoryEntryOffset(headers, kRelocationDirectory);
    if (entry == 0 || Field32(image, entry) == 0)
        return true;
    uint32_t length = Field32(image, entry + 4);
    uint32_t at = 0;
    if (!RvaToOffset(headers, image.size(), Field32(image, entry), length, at))
        return false;
    for (uint32_t pos = 0; pos + 8 <= length;) {
        uint32_t page = Field32(image, at + pos);
        uint32_t blockSize = Field32(image, at + pos + 4);
        if (blockSize < 8 || blockSize > length - pos)
            return false;
        for (const SectionHeader* s : moving)
            if (SectionSpansRva(*s, page))
                return false;
        pos += blockSize;
    }
    return true;
}

// The sections after the resource section can move behind the rebuilt one when nothing but
// a data directory addresses them: base relocations, debug data and other discardable
// sections that no code, relocation or other directory points into.
bool CanMoveFollowing(std::span<const uint8_t> image, const ImageHeaders& headers,
                      const SectionHeader& resource,
                      const std::vector<const SectionHeader*>& following) {
    uint32_t fa = headers.fileAlignment;
    if (resource.rawPointer % fa != 0 || resource.rawSize % fa != 0)
        return false;
    uint64_t resourceEnd = uint64_t{resource.rawPointer} + resource.rawSize;
    uint32_t relocations = DirectoryRva(image, headers, kRelocationDirectory);
    for (const SectionHeader* s : following) {
        if (s->rva < VirtualEnd(resource) || s->rva % headers.sectionAlignment != 0)
            return false;
        if (s->rawSize != 0 && (s->rawPointer < resourceEnd || s->rawPointer % fa != 0))
            return false;
        bool relocationSection = relocations != 0 && SectionSpansRva(*s, relocations);
        if (!(s->characteristics & kDiscardable) && !relocationSection)
            return false;
        if (SectionSpansRva(*s, headers.entryPoint))
            return false;
        for (uint32_t d = 0; d < kDirectoryCount; ++d) {
            if (d == kResourceDirectory || d == kCertificateDirectory ||
                d == kRelocationDirectory || d == kDebugDirectory || d == kBoundImportDirectory)
                continue;
            uint32_t rva = DirectoryRva(image, headers, d);
            if (rva != 0 && SectionSpansRva(*s, rva))
                return false;
        }
    }
    return RelocationsStayOutside(image, headers, following);
}

// Room for one more section header: inside SizeOfHeaders, before every section's raw data,
// unused (zero) and clear of the bound import table that linkers put after the headers.
bool HasRoomForSectionHeader(std::span<const uint8_t> image, const ImageHeaders& headers) {
    uint64_t at = uint64_t{headers.sectionTableOffset} +
                  uint64_t{headers.sections.size()} * kSectionHeaderSize;
    uint64_t end = at + kSectionHeaderSize;
    if (end > headers.sizeOfHeaders)
        return false;
    for (const SectionHeader& s : headers.sections)
        if (s.rawSize != 0 && end > s.rawPointer)
            return false;
    for (uint64_t i = at; i < end; ++i)
        if (image[i] != 0)
            return false;
    uint32_t bound = DirectoryEntryOffset(headers, kBoundImportDirectory);
    if (bound != 0 && Field32(image, bound) != 0) {
        uint64_t start = Field32(image, bound);
        if (start < end && at < start + Field32(image, bound + 4))
            return false;
    }
    return headers.sections.size() < 0xFFFF;
}

// The sizes and distances of one rebuild.
struct Shifts {
    uint64_t rawSize = 0;    // the new section's SizeOfRawData
    uint64_t newResume = 0;  // where the bytes from plan.resume on go
    int64_t fileDelta = 0;   // how far they move in the file
    int64_t rvaDelta = 0;    // Move: how far the following sections move in memory
};

// Adds `delta` to a 32-bit field of the new image; false when the result leaves 32 bits.
bool Shift32(std::vector<uint8_t>& out, uint64_t at, int64_t delta) {
    int64_t value = int64_t{Load32(out.data() + at)} + delta;
    if (value < 0 || value > 0xFFFFFFFFll)
        return false;
    Store32(out.data() + at, static_cast<uint32_t>(value));
    return true;
}

uint32_t SizeOfImageField(const ImageHeaders& headers) {
    return headers.optionalHeaderOffset + kSizeOfImageField;
}

void PatchInPlace(const ImageHeaders& headers, const RebuildPlan& plan, uint32_t length,
                  const Shifts& shifts, std::vector<uint8_t>& out) {
    const SectionHeader& resource = *plan.resource;
    uint8_t* o = out.data();
    if (shifts.rawSize != resource.rawSize) {
        if (resource.rva + shifts.rawSize != headers.sizeOfImage)
            Store32(o + SizeOfImageField(headers),
                    static_cast<uint32_t>(resource.rva + shifts.rawSize));
        Store32(o + resource.header + kRawSizeField, static_cast<uint32_t>(shifts.rawSize));
    }
    if (length != resource.virtualSize)
        Store32(o + resource.header + kVirtualSizeField, length);
}

bool PatchMove(const ImageHeaders& headers, const RebuildPlan& plan, uint32_t length,
               const Shifts& shifts, std::vector<uint8_t>& out) {
    const SectionHeader& resource = *plan.resource;
    uint8_t* o = out.data();
    Store32(o + resource.header + kVirtualSizeField, length);
    Store32(o + resource.header + kRawSizeField, static_cast<uint32_t>(shifts.rawSize));
    Store32(o + DirectoryEntryOffset(headers, kResourceDirectory) + 4, length);
    bool ok = true;
    for (const SectionHeader& s : headers.sections) {
        if (&s == &resource || s.rva < plan.followingRva)
            continue;
        ok = ok && Shift32(out, s.header + kVirtualAddressField, shifts.rvaDelta);
        if (s.rawSize != 0)
            ok = ok && Shift32(out, s.header + kRawPointerField, shifts.fileDelta);
    }
    for (uint32_t d = 0; d < kDirectoryCount; ++d) {
        uint32_t entry = DirectoryEntryOffset(headers, d);
        if (entry == 0 || d == kCertificateDirectory || d == kBoundImportDirectory)
            continue;
        if (Load32(o + entry) >= plan.followingRva)
            ok = ok && Shift32(out, entry, shifts.rvaDelta);
    }
    return ok && Shift32(out, SizeOfImageField(headers), shifts.rvaDelta);
}

void PatchAppend(const ImageHeaders& headers, const RebuildPlan& plan, uint32_t length,
                 const Shifts& shifts, std::vector<uint8_t>& out) {
    uint8_t* o = out.data();
    uint32_t header = headers.sectionTableOffset +
                      static_cast<uint32_t>(headers.sections.size()) * kSectionHeaderSize;
    std::copy(kResourceSectionName, kResourceSectionName + 8, o + header);
    Store32(o + header + kVirtualSizeField, length);
    Store32(o + header + kVirtualAddressField, plan.targetRva);
    Store32(o + header + kRawSizeField, static_cast<uint32_t>(shifts.rawSize));
    Store32(o + header + kRawPointerField, plan.sectionPointer);
    Store32(o + header + kCharacteristicsField, kResourceCharacteristics);
    Store16(o + headers.ntOffset + kNumberOfSectionsField,
            static_cast<uint16_t>(headers.sections.size() + 1));
    Store32(o + SizeOfImageField(headers),
            static_cast<uint32_t>(plan.targetRva + AlignUp(length, headers.sectionAlignment)));
    uint32_t entry = DirectoryEntryOffset(headers, kResourceDirectory);
    Store32(o + entry, plan.targetRva);
    Store32(o + entry + 4, length);
}

// Fields that hold file offsets of data after the cut move with that data: the COFF symbol
// table, the certificate table and the raw data of debug entries. Debug entries also follow
// the addresses of moved sections.
bool MoveFileOffsets(std::span<const uint8_t> image, const ImageHeaders& headers,
                     const RebuildPlan& plan, const Shifts& shifts, std::vector<uint8_t>& out) {
    bool ok = true;
    auto moveOffset = [&](uint64_t at) {
        uint32_t value = Load32(out.data() + at);
        if (value != 0 && value >= plan.resume)
            ok = ok && Shift32(out, at, shifts.fileDelta);
    };
    moveOffset(headers.ntOffset + kPointerToSymbolTableField);
    if (uint32_t entry = DirectoryEntryOffset(headers, kCertificateDirectory))
        moveOffset(entry);
    uint32_t entry = DirectoryEntryOffset(headers, kDebugDirectory);
    if (entry == 0 || Field32(image, entry) == 0)
        return ok;
    uint32_t length = Field32(image, entry + 4);
    uint32_t at = 0;
    if (!RvaToOffset(headers, image.size(), Field32(image, entry), length, at) ||
        (at + uint64_t{length} > plan.cut && at < plan.resume))
        return ok;  // debug entries inside the old resource section are not followed
    uint64_t newAt = at >= plan.resume ? at + shifts.fileDelta : at;
    for (uint32_t i = 0; i + kDebugEntrySize <= length; i += kDebugEntrySize) {
        uint64_t debugEntry = newAt + i;
        if (plan.placement == Placement::Move &&
            Load32(out.data() + debugEntry + kDebugAddressField) >= plan.followingRva)
            ok = ok && Shift32(out, debugEntry + kDebugAddressField, shifts.rvaDelta);
        moveOffset(debugEntry + kDebugPointerField);
    }
    return ok;
}

}  // namespace

Result FindResourceSection(std::span<const uint8_t> image, const ImageHeaders& headers,
                           ResourceLocation& location) {
    location = ResourceLocation();
    if (DirectoryEntryOffset(headers, kResourceDirectory) == 0)
        return kErrorResourceDataNotFound;
    location.directoryRva = DirectoryRva(image, headers, kResourceDirectory);
    if (location.directoryRva == 0)
        return kErrorResourceDataNotFound;
    location.section = SectionHoldingRva(headers, location.directoryRva);
    if (location.section == nullptr)
        return kErrorResourceDataNotFound;
    if (!InBounds(image.size(), location.section->rawPointer, location.section->rawSize))
        return kErrorBadFormat;
    return kSuccess;
}

Result PlanRebuild(std::span<const uint8_t> image, const ImageHeaders& headers,
                   const ResourceLocation& resources, RebuildPlan& plan) {
    plan = RebuildPlan();
    const SectionHeader* resource = resources.section;
    plan.resource = resource;
    // The new section is padded to SectionAlignment: an alignment that is no power of two or
    // larger than any loader uses would make a small image write gigabytes.
    if (!IsPowerOfTwo(headers.sectionAlignment) || headers.sectionAlignment > kMaxSectionAlignment)
        return kErrorBadFormat;
    // The headers are copied before the new section and patched there: resource data that
    // starts inside them would be written over them.
    if (resource->rawPointer < uint64_t{headers.sectionTableOffset} +
                                   uint64_t{headers.sections.size()} * kSectionHeaderSize)
        return kErrorBadFormat;
    bool atStart = resources.directoryRva == resource->rva;
    std::vector<const SectionHeader*> following;
    bool crossed = false;  // a section before it in memory lies after it in the file
    for (const SectionHeader& s : headers.sections) {
        if (&s == resource)
            continue;
        bool afterInMemory = s.rva >= resource->rva;
        bool afterInFile =
            s.rawSize != 0 && uint64_t{s.rawPointer} + s.rawSize > resource->rawPointer;
        if (afterInFile && !afterInMemory)
            crossed = true;
        if (afterInMemory || afterInFile)
            following.push_back(&s);
    }
    if (following.empty() && atStart) {
        plan.placement = Placement::InPlace;
        plan.targetRva = resource->rva;
        plan.sectionPointer = plan.cut = resource->rawPointer;
        plan.resume = resource->rawPointer + resource->rawSize;
        return kSuccess;
    }

    // Moving or adding sections keeps the image's alignments; images whose sections are
    // aligned below a page must keep file offsets equal to addresses, which is not attempted.
    if (headers.sectionAlignment < kPageSize || !IsPowerOfTwo(headers.fileAlignment) ||
        headers.sectionAlignment % headers.fileAlignment != 0)
        return kErrorBadFormat;
    if (atStart && !crossed && CanMoveFollowing(image, headers, *resource, following)) {
        plan.placement = Placement::Move;
        plan.targetRva = resource->rva;
        plan.sectionPointer = plan.cut = resource->rawPointer;
        plan.resume = resource->rawPointer + resource->rawSize;
        plan.followingRva = following.front()->rva;
        for (const SectionHeader* s : following)
            plan.followingRva = std::min(plan.followingRva, s->rva);
        return kSuccess;
    }

    if (!HasRoomForSectionHeader(image, headers))
        return kErrorBadFormat;
    uint64_t virtualEnd = headers.sizeOfImage;
    uint64_t rawEnd = headers.sizeOfHeaders;
    for (const SectionHeader& s : headers.sections) {
        virtualEnd = std::max(virtualEnd, VirtualEnd(s));
        if (s.rawSize != 0)
            rawEnd = std::max(rawEnd, uint64_t{s.rawPointer} + s.rawSize);
    }
    uint64_t targetRva = AlignUp(virtualEnd, headers.sectionAlignment);
    uint64_t pointer = AlignUp(rawEnd, headers.fileAlignment);
    if (rawEnd > image.size() || targetRva >= 0x80000000u || pointer >= 0x80000000u)
        return kErrorBadFormat;
    plan.placement = Placement::Append;
    plan.targetRva = static_cast<uint32_t>(targetRva);
    plan.sectionPointer = static_cast<uint32_t>(pointer);
    plan.cut = plan.resume = static_cast<uint32_t>(rawEnd);
    return kSuccess;
}

Result BuildUpdatedImage(std::span<const uint8_t> image, const ImageHeaders& headers,
                         const RebuildPlan& plan, std::span<const uint8_t> section,
                         std::vector<uint8_t>& out) {
    const uint32_t sa = headers.sectionAlignment;
    const uint32_t length = static_cast<uint32_t>(section.size());
    Shifts shifts;
    // Rebuilt in place, the section is padded to the section alignment with 1 to
    // SectionAlignment zero bytes; a moved or added one to the file alignment.
    shifts.rawSize = plan.placement == Placement::InPlace ? uint64_t{length} + sa - length % sa
                                                          : AlignUp(length, headers.fileAlignment);
    shifts.newResume = plan.sectionPointer + shifts.rawSize;
    if (section.size() > 0x7FFFFFFF ||
        uint64_t{plan.targetRva} + AlignUp(shifts.rawSize, sa) > 0xFFFFFFFFu ||
        shifts.newResume > 0xFFFFFFFFu)
        return kErrorBadFormat;
    shifts.fileDelta = static_cast<int64_t>(shifts.newResume) - plan.resume;
    if (plan.placement == Placement::Move)
        shifts.rvaDelta =
            static_cast<int64_t>(plan.targetRva + AlignUp(length, sa)) - plan.followingRva;

    // Only the gaps are zero-filled: everything else is copied once.
    out.clear();
    out.reserve(shifts.newResume + (image.size() - plan.resume));
    out.insert(out.end(), image.begin(), image.begin() + plan.cut);
    out.resize(plan.sectionPointer, 0);
    out.insert(out.end(), section.begin(), section.end());
    out.resize(shifts.newResume, 0);
    out.insert(out.end(), image.begin() + plan.resume, image.end());

    bool ok = true;
    switch (plan.placement) {
        case Placement::InPlace:
            PatchInPlace(headers, plan, length, shifts, out);
            break;
        case Placement::Move:
            ok = PatchMove(headers, plan, length, shifts, out);
            break;
        case Placement::Append:
            PatchAppend(headers, plan, length, shifts, out);
            break;
    }
    ok = MoveFileOffsets(image, headers, plan, shifts, out) && ok;
    if (!ok)
        return kErrorBadFormat;

    // A checksum of 0 means the image carries none; any other is made to match again.
    if (headers.checkSum != 0) {
        uint32_t at = headers.optionalHeaderOffset + kCheckSumField;
        Store32(out.data() + at, ImageChecksum(out, at));
    }
    return kSuccess;
}

}  // namespace quelvar::pe
