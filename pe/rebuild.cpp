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

// The 4 bytes at `at` of the new image, when they lie in one of its patched copies.
uint8_t* Field(UpdatedImage& out, uint64_t at) {
    if (InBounds(out.headers.size(), at, 4))
        return out.headers.data() + at;
    if (at >= out.debugAt && InBounds(out.debug.size(), at - out.debugAt, 4))
        return out.debug.data() + (at - out.debugAt);
    return nullptr;
}

// Adds `delta` to a 32-bit field of the new image; false when the result leaves 32 bits.
bool Shift32(UpdatedImage& out, uint64_t at, int64_t delta) {
    uint8_t* field = Field(out, at);
    if (field == nullptr)
        return false;
    int64_t value = int64_t{Load32(field)} + delta;
    if (value < 0 || value > 0xFFFFFFFFll)
        return false;
    Store32(field, static_cast<uint32_t>(value));
    return true;
}

uint32_t SizeOfImageField(const ImageHeaders& headers) {
    return headers.optionalHeaderOffset + kSizeOfImageField;
}

void PatchInPlace(const ImageHeaders& headers, const RebuildPlan& plan, uint32_t length,
                  const Shifts& shifts, UpdatedImage& out) {
    const SectionHeader& resource = *plan.resource;
    uint8_t* o = out.headers.data();
    if (shifts.rawSize != resource.rawSize) {
        if (resource.rva + shifts.rawSize != headers.sizeOfImage)
            Store32(o + SizeOfImageField(headers),
                    static_cast<uint32_t>(resource.rva + shifts.rawSize));
        Store32(o + resource.header + kRawSizeField, static_cast<uint32_t>(shifts.rawSize));
    }
    if (length != resource.virtualSize)
        Store32(o + resource.header + kVirtualSizeField, length);
    // The data directory's Size describes the resource data as the other placements do: the
    // whole rebuilt section, which starts where the directory does.
    Store32(o + DirectoryEntryOffset(headers, kResourceDirectory) + 4, length);
}

bool PatchMove(const ImageHeaders& headers, const RebuildPlan& plan, uint32_t length,
               const Shifts& shifts, UpdatedImage& out) {
    const SectionHeader& resource = *plan.resource;
    uint8_t* o = out.headers.data();
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
                 const Shifts& shifts, UpdatedImage& out) {
    uint8_t* o = out.headers.data();
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

// Where the debug directory's entries lie in the source image, when they lie outside the old
// resource section (entries inside it are not followed).
bool FindDebugEntries(std::span<const uint8_t> image, const ImageHeaders& headers,
                      const RebuildPlan& plan, uint32_t& at, uint32_t& length) {
    uint32_t entry = DirectoryEntryOffset(headers, kDebugDirectory);
    if (entry == 0 || Field32(image, entry) == 0)
        return false;
    length = Field32(image, entry + 4);
    return RvaToOffset(headers, image.size(), Field32(image, entry), length, at) &&
           (at + uint64_t{length} <= plan.cut || at >= plan.resume);
}

// Fields that hold file offsets of data after the cut move with that data: the COFF symbol
// table, the certificate table and the raw data of debug entries. Debug entries also follow
// the addresses of moved sections.
bool MoveFileOffsets(std::span<const uint8_t> image, const ImageHeaders& headers,
                     const RebuildPlan& plan, const Shifts& shifts, UpdatedImage& out) {
    bool ok = true;
    auto moveOffset = [&](uint64_t at) {
        uint8_t* field = Field(out, at);
        uint32_t value = field != nullptr ? Load32(field) : 0;
        if (value != 0 && value >= plan.resume)
            ok = ok && Shift32(out, at, shifts.fileDelta);
    };
    moveOffset(headers.ntOffset + kPointerToSymbolTableField);
    if (uint32_t entry = DirectoryEntryOffset(headers, kCertificateDirectory))
        moveOffset(entry);
    uint32_t at = 0, length = 0;
    if (!FindDebugEntries(image, headers, plan, at, length))
        return ok;
    uint64_t newAt = at >= plan.resume ? at + shifts.fileDelta : at;
    for (uint32_t i = 0; i + kDebugEntrySize <= length; i += kDebugEntrySize) {
        uint64_t debugEntry = newAt + i;
        const uint8_t* address = Field(out, debugEntry + kDebugAddressField);
        if (plan.placement == Placement::Move && address != nullptr &&
            Load32(address) >= plan.followingRva)
            ok = ok && Shift32(out, debugEntry + kDebugAddressField, shifts.rvaDelta);
        moveOffset(debugEntry + kDebugPointerField);
    }
    return ok;
}

// Adds the source bytes [from, to) to the pieces; the debug entries among them come from
// their patched copy.
void AddSourcePieces(std::span<const uint8_t> image, uint64_t from, uint64_t to,
                     uint64_t debugSource, UpdatedImage& out) {
    uint64_t debugEnd = debugSource + out.debug.size();
    if (!out.debug.empty() && debugSource >= from && debugEnd <= to) {
        out.pieces.push_back(image.subspan(from, debugSource - from));
        out.pieces.push_back(out.debug);
        out.pieces.push_back(image.subspan(debugEnd, to - debugEnd));
    } else {
        out.pieces.push_back(image.subspan(from, to - from));
    }
}

uint64_t FoldTo16(uint64_t sum) {
    while (sum > 0xFFFF)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return sum;
}

// The 16-bit words of `count` 64-bit little-endian words at `bytes`, summed with their carries
// folded back: 64-bit words added with end-around carry keep the sum of their 16-bit words
// modulo 0xFFFF, and zero only when every word is zero. Four at a time, in two sums.
uint64_t WordSum(const uint8_t* bytes, size_t count) {
    uint64_t a = 0, b = 0, carries = 0;
    size_t i = 0;
    auto add = [&carries](uint64_t& sum, uint64_t word) {
        sum += word;
        carries += sum < word;
    };
    for (; i + 4 <= count; i += 4) {
        const uint8_t* p = bytes + 8 * i;
        add(a, Load64(p));
        add(b, Load64(p + 8));
        add(a, Load64(p + 16));
        add(b, Load64(p + 24));
    }
    for (; i < count; ++i)
        add(a, Load64(bytes + 8 * i));
    return FoldTo16(a) + FoldTo16(b) + carries;
}

// The one's complement sum of the new image's 16-bit words (the PE checksum before the length
// is added), over pieces that may start at odd offsets.
uint32_t PiecesChecksum(const UpdatedImage& out) {
    uint64_t sum = 0;
    bool pending = false;  // a low byte waits for its high byte from the next piece
    for (std::span<const uint8_t> piece : out.pieces) {
        size_t i = 0;
        if (pending && !piece.empty()) {
            sum += uint64_t{piece[0]} << 8;
            pending = false;
            i = 1;
        }
        sum += WordSum(piece.data() + i, (piece.size() - i) / 8);
        i += (piece.size() - i) / 8 * 8;
        for (; i + 2 <= piece.size(); i += 2)
            sum += Load16(piece.data() + i);
        if (i < piece.size()) {
            sum += piece[i];
            pending = true;
        }
    }
    return static_cast<uint32_t>(FoldTo16(sum) + out.size);
}

}  // namespace

Result FindResourceSection(std::span<const uint8_t> image, const ImageHeaders& headers,
                           ResourceLocation& location) {
    return FindResourceSection(image, image.size(), headers, location);
}

Result FindResourceSection(std::span<const uint8_t> headerBytes, uint64_t imageSize,
                           const ImageHeaders& headers, ResourceLocation& location) {
    location = ResourceLocation();
    if (DirectoryEntryOffset(headers, kResourceDirectory) == 0)
        return kErrorResourceDataNotFound;
    location.directoryRva = DirectoryRva(headerBytes, headers, kResourceDirectory);
    if (location.directoryRva == 0)
        return kErrorResourceDataNotFound;
    location.section = SectionHoldingRva(headers, location.directoryRva);
    if (location.section == nullptr)
        return kErrorResourceDataNotFound;
    if (!InBounds(imageSize, location.section->rawPointer, location.section->rawSize))
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
                         UpdatedImage& out, bool removeCertificate) {
    out = UpdatedImage();
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

    // The headers, with room for a section header that may be added, and the debug entries are
    // copied to be patched; the rest of the source is written from where it lies.
    uint64_t tableEnd =
        headers.sectionTableOffset + (headers.sections.size() + 1) * uint64_t{kSectionHeaderSize};
    uint64_t headEnd =
        std::min<uint64_t>(plan.cut, std::max<uint64_t>(headers.sizeOfHeaders, tableEnd));
    uint32_t debugSource = 0, debugLength = 0;
    if (FindDebugEntries(image, headers, plan, debugSource, debugLength)) {
        if (debugSource < headEnd)
            headEnd = std::max<uint64_t>(headEnd, debugSource + uint64_t{debugLength});
        else
            out.debug.assign(image.begin() + debugSource,
                             image.begin() + debugSource + debugLength);
    }
    out.headers.assign(image.begin(), image.begin() + static_cast<ptrdiff_t>(headEnd));
    out.debugAt = debugSource >= plan.resume ? debugSource + shifts.fileDelta : debugSource;
    out.zeros.assign(std::max<uint64_t>(plan.sectionPointer - plan.cut,
                                        shifts.newResume - plan.sectionPointer - length),
                     0);
    std::span<const uint8_t> zeros(out.zeros);
    out.pieces.push_back(out.headers);
    AddSourcePieces(image, headEnd, plan.cut, debugSource, out);
    out.pieces.push_back(zeros.first(plan.sectionPointer - plan.cut));
    out.pieces.push_back(section);
    out.pieces.push_back(zeros.first(shifts.newResume - plan.sectionPointer - length));
    // A certificate table that ends the file, as signing tools append it, is cut off with the
    // signature; one that data follows stays in place, unreferenced.
    CertificateTable certificate;
    uint64_t end = image.size();
    if (removeCertificate && FindCertificateTable(image, headers, certificate) &&
        certificate.offset >= plan.resume && uint64_t{certificate.offset} + certificate.size == end)
        end = certificate.offset;
    AddSourcePieces(image, plan.resume, end, debugSource, out);
    out.size = shifts.newResume + (end - plan.resume);

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
    if (uint32_t entry = DirectoryEntryOffset(headers, kCertificateDirectory);
        removeCertificate && entry != 0) {
        Store32(out.headers.data() + entry, 0);
        Store32(out.headers.data() + entry + 4, 0);
    }

    // A checksum of 0 means the image carries none; any other is made to match again. The
    // two words at the even offsets from the field on count as zero.
    if (headers.checkSum != 0) {
        uint32_t at = headers.optionalHeaderOffset + kCheckSumField;
        uint8_t* skipped = out.headers.data() + at + (at & 1);
        uint8_t saved[4];
        std::copy(skipped, skipped + 4, saved);
        std::fill(skipped, skipped + 4, uint8_t{0});
        uint32_t checksum = PiecesChecksum(out);
        std::copy(saved, saved + 4, skipped);
        Store32(out.headers.data() + at, checksum);
    }
    return kSuccess;
}

}  // namespace quelvar::pe
