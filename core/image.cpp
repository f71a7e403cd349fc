#include "core/image.h"

#include <algorithm>
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
constexpr uint32_t kPageSize = 0x1000;
constexpr uint32_t kDiscardable = 0x02000000;              // IMAGE_SCN_MEM_DISCARDABLE
constexpr uint32_t kResourceCharacteristics = 0x40000040;  // initialized data, readable
constexpr uint32_t kDebugEntrySize = 28;                   // IMAGE_DEBUG_DIRECTORY
constexpr uint32_t kDirectoryCount = 16;

// One section header of the source image.
struct Section {
    uint32_t header = 0;  // file offset of the header
    uint32_t virtualSize = 0;
    uint32_t rva = 0;
    uint32_t rawSize = 0;
    uint32_t rawPointer = 0;
    uint32_t characteristics = 0;
};

std::vector<Section> ReadSections(const uint8_t* image, const ImageLayout& layout) {
    std::vector<Section> sections(layout.numberOfSections);
    for (uint32_t i = 0; i < layout.numberOfSections; ++i) {
        Section& s = sections[i];
        s.header = layout.sectionTableOffset + i * kSectionHeaderSize;
        s.virtualSize = Load32(image + s.header + 8);
        s.rva = Load32(image + s.header + 12);
        s.rawSize = Load32(image + s.header + 16);
        s.rawPointer = Load32(image + s.header + 20);
        s.characteristics = Load32(image + s.header + 36);
    }
    return sections;
}

// The addresses a section covers once loaded: its virtual size, or its raw size when that
// is larger (or the virtual size is 0).
uint64_t VirtualEnd(const Section& s) {
    return uint64_t{s.rva} + std::max(s.virtualSize, s.rawSize);
}

bool HoldsRva(const Section& s, uint32_t rva) {
    return rva >= s.rva && rva < VirtualEnd(s);
}

uint64_t AlignUp(uint64_t value, uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

bool IsPowerOfTwo(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// The file offset of `length` bytes at `rva`, when a section's raw data holds them.
bool RvaToOffset(const std::vector<Section>& sections, uint64_t size, uint32_t rva, uint32_t length,
                 uint32_t& offset) {
    for (const Section& s : sections) {
        if (rva < s.rva || uint64_t{rva} - s.rva + length > s.rawSize)
            continue;
        uint64_t at = uint64_t{s.rawPointer} + (rva - s.rva);
        if (!InBounds(size, at, length))
            return false;
        offset = static_cast<uint32_t>(at);
        return true;
    }
    return false;
}

// Where the rebuilt resource section goes in the new image.
enum class Placement {
    InPlace,  // the resource section is the last one: it is rebuilt where it is
    Move,     // the sections after it are moved behind the rebuilt section
    Append,   // a new last section; the old one stays as it was
};

struct ImportPlan {
    Placement placement = Placement::InPlace;
    uint32_t targetRva = 0;       // RVA of the new section
    uint32_t sectionPointer = 0;  // its file offset
    // The source bytes before `cut` stay where they are; those from `resume` on follow the
    // new section.
    uint32_t cut = 0;
    uint32_t resume = 0;
    uint32_t followingRva = 0;  // Move: every RVA from here on moves
};

// The value of data directory `index`, or 0 when the header has none.
uint32_t DirectoryRva(const uint8_t* image, const ImageLayout& layout, uint32_t index) {
    uint32_t entry = DirectoryEntryOffset(layout, index);
    return entry == 0 ? 0 : Load32(image + entry);
}

// True when every block of the base relocations patches a page outside the sections that
// would move.
bool RelocationsStayOutside(const uint8_t* image, uint64_t size, const ImageLayout& layout,
                            const std::vector<Section>& sections,
                            const std::vector<const Section*>& moving) {
    uint32_t entry = DirectoryEntryOffset(layout, kRelocationDirectory);
    if (entry == 0 || Load32(image + entry) == 0)
        return true;
    uint32_t length = Load32(image + entry + 4);
    uint32_t at = 0;
    if (!RvaToOffset(sections, size, Load32(image + entry), length, at))
        return false;
    for (uint32_t pos = 0; pos + 8 <= length;) {
        uint32_t page = Load32(image + at + pos);
        uint32_t blockSize = Load32(image + at + pos + 4);
        if (blockSize < 8 || blockSize > length - pos)
            return false;
        for (const Section* s : moving)
            if (HoldsRva(*s, page))
                return false;
        pos += blockSize;
    }
    return true;
}

// The sections after the resource section can move behind the rebuilt one when nothing but
// a data directory addresses them: base relocations, debug data and other discardable
// sections that no code, relocation or other directory points into.
bool CanMoveFollowing(const uint8_t* image, uint64_t size, const ImageLayout& layout,
                      const std::vector<Section>& sections, const Section& resource,
                      const std::vector<const Section*>& following) {
    uint32_t fa = layout.fileAlignment;
    if (resource.rawPointer % fa != 0 || resource.rawSize % fa != 0)
        return false;
    uint64_t resourceEnd = uint64_t{resource.rawPointer} + resource.rawSize;
    uint32_t relocations = DirectoryRva(image, layout, kRelocationDirectory);
    uint32_t entryPoint = Load32(image + layout.optionalHeaderOffset + 16);
    for (const Section* s : following) {
        if (s->rva < VirtualEnd(resource) || s->rva % layout.sectionAlignment != 0)
            return false;
        if (s->rawSize != 0 && (s->rawPointer < resourceEnd || s->rawPointer % fa != 0))
            return false;
        bool relocationSection = relocations != 0 && HoldsRva(*s, relocations);
        if (!(s->characteristics & kDiscardable) && !relocationSection)
            return false;
        if (HoldsRva(*s, entryPoint))
            return false;
        for (uint32_t d = 0; d < kDirectoryCount; ++d) {
            if (d == kResourceDirectory || d == kCertificateDirectory ||
                d == kRelocationDirectory || d == kDebugDirectory || d == kBoundImportDirectory)
                continue;
            uint32_t rva = DirectoryRva(image, layout, d);
            if (rva != 0 && HoldsRva(*s, rva))
                return false;
        }
    }
    return RelocationsStayOutside(image, size, layout, sections, following);
}

// Room for one more section header: inside SizeOfHeaders, before every section's raw data,
// unused (zero) and clear of the bound import table that linkers put after the headers.
bool HasRoomForSectionHeader(const uint8_t* image, const ImageLayout& layout,
                             const std::vector<Section>& sections) {
    uint64_t at = uint64_t{layout.sectionTableOffset} +
                  uint64_t{layout.numberOfSections} * kSectionHeaderSize;
    uint64_t end = at + kSectionHeaderSize;
    if (end > layout.sizeOfHeaders)
        return false;
    for (const Section& s : sections)
        if (s.rawSize != 0 && end > s.rawPointer)
            return false;
    for (uint64_t i = at; i < end; ++i)
        if (image[i] != 0)
            return false;
    uint32_t bound = DirectoryEntryOffset(layout, kBoundImportDirectory);
    if (bound != 0 && Load32(image + bound) != 0) {
        uint64_t start = Load32(image + bound);
        if (start < end && at < start + Load32(image + bound + 4))
            return false;
    }
    return layout.numberOfSections < 0xFFFF;
}

// Decides where the rebuilt resource section goes. A resource section that is the last one
// in the file and in the address space, with the resource directory at its start, is
// rebuilt in place; otherwise the sections after it move if they can, and else the new
// section is appended. Returns 0, or 11 when none of these fits the image.
Result PlanImport(const uint8_t* image, uint64_t size, const ImageLayout& layout,
                  const std::vector<Section>& sections, ImportPlan& plan) {
    if (layout.sectionAlignment == 0)
        return kErrorBadFormat;
    const Section* resource = nullptr;
    for (const Section& s : sections)
        if (s.header == layout.resourceSectionHeader)
            resource = &s;
    bool atStart = layout.resourceRva == layout.sectionRva;
    std::vector<const Section*> following;
    bool crossed = false;  // a section before it in memory lies after it in the file
    for (const Section& s : sections) {
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
    plan = ImportPlan();
    if (following.empty() && atStart) {
        plan.placement = Placement::InPlace;
        plan.targetRva = resource->rva;
        plan.sectionPointer = plan.cut = resource->rawPointer;
        plan.resume = resource->rawPointer + resource->rawSize;
        return kSuccess;
    }

    // Moving or adding sections keeps the image's alignments; images whose sections are
    // aligned below a page must keep file offsets equal to addresses, which is not attempted.
    if (layout.sectionAlignment < kPageSize || !IsPowerOfTwo(layout.fileAlignment) ||
        layout.sectionAlignment % layout.fileAlignment != 0)
        return kErrorBadFormat;
    if (atStart && !crossed &&
        CanMoveFollowing(image, size, layout, sections, *resource, following)) {
        plan.placement = Placement::Move;
        plan.targetRva = resource->rva;
        plan.sectionPointer = plan.cut = resource->rawPointer;
        plan.resume = resource->rawPointer + resource->rawSize;
        plan.followingRva = following.front()->rva;
        for (const Section* s : following)
            plan.followingRva = std::min(plan.followingRva, s->rva);
        return kSuccess;
    }

    if (!HasRoomForSectionHeader(image, layout, sections))
        return kErrorBadFormat;
    uint64_t virtualEnd = layout.sizeOfImage;
    uint64_t rawEnd = layout.sizeOfHeaders;
    for (const Section& s : sections) {
        virtualEnd = std::max(virtualEnd, VirtualEnd(s));
        if (s.rawSize != 0)
            rawEnd = std::max(rawEnd, uint64_t{s.rawPointer} + s.rawSize);
    }
    uint64_t targetRva = AlignUp(virtualEnd, layout.sectionAlignment);
    uint64_t pointer = AlignUp(rawEnd, layout.fileAlignment);
    if (rawEnd > size || targetRva >= 0x80000000u || pointer >= 0x80000000u)
        return kErrorBadFormat;
    plan.placement = Placement::Append;
    plan.targetRva = static_cast<uint32_t>(targetRva);
    plan.sectionPointer = static_cast<uint32_t>(pointer);
    plan.cut = plan.resume = static_cast<uint32_t>(rawEnd);
    return kSuccess;
}

// Adds `delta` to a 32-bit field of the new image; false when the result leaves 32 bits.
bool Shift32(std::vector<uint8_t>& out, uint64_t at, int64_t delta) {
    int64_t value = int64_t{Load32(out.data() + at)} + delta;
    if (value < 0 || value > 0xFFFFFFFFll)
        return false;
    Store32(out.data() + at, static_cast<uint32_t>(value));
    return true;
}

// Builds the whole new image: the source bytes before the cut, the new section, the source
// bytes from the resume point on, then the headers patched for the new layout.
Result BuildUpdatedImage(const uint8_t* image, uint64_t size, const ImageLayout& layout,
                         const std::vector<Section>& sections, const ImportPlan& plan,
                         const std::vector<uint8_t>& section, uint32_t length,
                         std::vector<uint8_t>& out) {
    const uint32_t sa = layout.sectionAlignment;
    // Rebuilt in place, the section is padded to the section alignment with 1 to
    // SectionAlignment zero bytes; a moved or added one to the file alignment.
    uint64_t rawSize = plan.placement == Placement::InPlace ? uint64_t{length} + sa - length % sa
                                                            : AlignUp(length, layout.fileAlignment);
    uint64_t newResume = plan.sectionPointer + rawSize;
    uint64_t outSize = newResume + (size - plan.resume);
    if (uint64_t{plan.targetRva} + AlignUp(rawSize, sa) > 0xFFFFFFFFu || newResume > 0xFFFFFFFFu)
        return kErrorBadFormat;
    const int64_t fileDelta = static_cast<int64_t>(newResume) - plan.resume;
    int64_t rvaDelta = 0;
    if (plan.placement == Placement::Move)
        rvaDelta = static_cast<int64_t>(plan.targetRva + AlignUp(length, sa)) - plan.followingRva;

    out.assign(outSize, 0);
    std::copy(image, image + plan.cut, out.begin());
    std::copy(section.begin(), section.begin() + length, out.begin() + plan.sectionPointer);
    std::copy(image + plan.resume, image + size, out.begin() + static_cast<ptrdiff_t>(newResume));
    uint8_t* o = out.data();
    const uint32_t sizeOfImageAt = layout.optionalHeaderOffset + 56;
    const uint32_t resourceEntry = DirectoryEntryOffset(layout, kResourceDirectory);
    bool ok = true;

    const Section* resource = nullptr;
    for (const Section& s : sections)
        if (s.header == layout.resourceSectionHeader)
            resource = &s;
    switch (plan.placement) {
        case Placement::InPlace:
            if (rawSize != layout.sizeOfRawData) {
                if (layout.sectionRva + rawSize != layout.sizeOfImage)
                    Store32(o + sizeOfImageAt, static_cast<uint32_t>(layout.sectionRva + rawSize));
                Store32(o + resource->header + 16, static_cast<uint32_t>(rawSize));
            }
            if (length != layout.virtualSize)
                Store32(o + resource->header + 8, length);
            break;
        case Placement::Move:
            Store32(o + resource->header + 8, length);
            Store32(o + resource->header + 16, static_cast<uint32_t>(rawSize));
            Store32(o + resourceEntry + 4, length);
            for (const Section& s : sections) {
                if (&s == resource || s.rva < plan.followingRva)
                    continue;
                ok = ok && Shift32(out, s.header + 12, rvaDelta);
                if (s.rawSize != 0)
                    ok = ok && Shift32(out, s.header + 20, fileDelta);
            }
            for (uint32_t d = 0; d < kDirectoryCount; ++d) {
                uint32_t entry = DirectoryEntryOffset(layout, d);
                if (entry == 0 || d == kCertificateDirectory || d == kBoundImportDirectory)
                    continue;
                if (Load32(o + entry) >= plan.followingRva)
                    ok = ok && Shift32(out, entry, rvaDelta);
            }
            ok = ok && Shift32(out, sizeOfImageAt, rvaDelta);
            break;
        case Placement::Append: {
            uint32_t header =
                layout.sectionTableOffset + uint32_t{layout.numberOfSections} * kSectionHeaderSize;
            static constexpr char kName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
            std::copy(kName, kName + 8, o + header);
            Store32(o + header + 8, length);
            Store32(o + header + 12, plan.targetRva);
            Store32(o + header + 16, static_cast<uint32_t>(rawSize));
            Store32(o + header + 20, plan.sectionPointer);
            Store32(o + header + 36, kResourceCharacteristics);
            Store16(o + layout.ntOffset + 6, static_cast<uint16_t>(layout.numberOfSections + 1));
            Store32(o + sizeOfImageAt, static_cast<uint32_t>(plan.targetRva + AlignUp(length, sa)));
            Store32(o + resourceEntry, plan.targetRva);
            Store32(o + resourceEntry + 4, length);
            break;
        }
    }

    // Fields that hold file offsets of data after the cut move with that data: the COFF
    // symbol table, the certificate table and the raw data of debug entries. Debug entries
    // also follow the addresses of moved sections.
    auto moveOffset = [&](uint64_t at) {
        uint32_t value = Load32(o + at);
        if (value != 0 && value >= plan.resume)
            ok = ok && Shift32(out, at, fileDelta);
    };
    moveOffset(layout.ntOffset + 12);  // PointerToSymbolTable
    if (uint32_t entry = DirectoryEntryOffset(layout, kCertificateDirectory))
        moveOffset(entry);
    if (uint32_t entry = DirectoryEntryOffset(layout, kDebugDirectory)) {
        uint32_t length = Load32(image + entry + 4);
        uint32_t at = 0;
        if (Load32(image + entry) != 0 &&
            RvaToOffset(sections, size, Load32(image + entry), length, at) &&
            (at + uint64_t{length} <= plan.cut || at >= plan.resume)) {
            uint64_t newAt = at >= plan.resume ? at + fileDelta : at;
            for (uint32_t i = 0; i + kDebugEntrySize <= length; i += kDebugEntrySize) {
                uint64_t debugEntry = newAt + i;
                if (plan.placement == Placement::Move &&
                    Load32(o + debugEntry + 20) >= plan.followingRva)
                    ok = ok && Shift32(out, debugEntry + 20, rvaDelta);
                moveOffset(debugEntry + 24);
            }
        }
    }
    if (!ok)
        return kErrorBadFormat;

    // A checksum of 0 means the image carries none; any other is made to match again.
    if (layout.checkSum != 0) {
        uint32_t at = layout.optionalHeaderOffset + 64;
        Store32(o + at, ImageChecksum(o, out.size(), at));
    }
    return kSuccess;
}

Result WriteUpdateCopy(const std::filesystem::path& outputPath, const std::vector<uint8_t>& bytes) {
    platform::File out;
    if (platform::CreateForWriting(outputPath, out) != kSuccess)
        return kErrorWriteFault;
    if (platform::WriteBytes(out, bytes.data(), bytes.size()) != kSuccess) {
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
    // PE32+ widens ImageBase and the four stack and heap sizes: the data directory sits 16
    // bytes further in.
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
    if (layout.optionalHeaderSize < countOffset + 4)
        return kErrorResourceDataNotFound;
    layout.fileAlignment = Load32(optional + 36);
    layout.sizeOfHeaders = Load32(optional + 60);
    layout.checkSum = Load32(optional + 64);
    layout.directoryOffset = layout.optionalHeaderOffset + countOffset + 4;
    layout.directoryCount = std::min(Load32(optional + countOffset),
                                     (layout.optionalHeaderSize - countOffset - 4) / 8u);
    if (DirectoryEntryOffset(layout, kResourceDirectory) == 0)
        return kErrorResourceDataNotFound;
    layout.resourceRva = Load32(image + DirectoryEntryOffset(layout, kResourceDirectory));

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

uint32_t DirectoryEntryOffset(const ImageLayout& layout, uint32_t index) {
    return index < layout.directoryCount ? layout.directoryOffset + 8 * index : 0;
}

uint32_t FindDirectorySection(const uint8_t* image, uint64_t size, const ImageLayout& layout,
                              uint32_t index) {
    (void)size;  // the section table was checked against the file by ReadImageLayout
    uint32_t entry = DirectoryEntryOffset(layout, index);
    if (entry == 0)
        return 0;
    uint32_t rva = Load32(image + entry);
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

uint32_t ImageChecksum(const uint8_t* image, size_t length, size_t checkSumOffset) {
    uint64_t sum = 0;
    for (size_t i = 0; i < length; i += 2) {
        if (i >= checkSumOffset && i < checkSumOffset + 4)
            continue;
        sum += i + 1 < length ? Load16(image + i) : image[i];
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + length);
}

Result ProcessImage(const std::filesystem::path& imagePath,
                    const std::filesystem::path& languagePath,
                    const std::filesystem::path* outputPath, uint32_t languageFilter) {
    platform::FileView view;
    if (platform::MapWholeFile(imagePath, view) != kSuccess)
        return kErrorFileNotFound;
    const uint8_t* image = view.data;

    ImageLayout layout;
    if (Result r = ReadImageLayout(image, view.size, layout); r != kSuccess)
        return r;
    const bool import = outputPath != nullptr;
    std::vector<Section> sections = ReadSections(image, layout);
    ImportPlan plan;
    if (import) {
        if (Result r = PlanImport(image, view.size, layout, sections, plan); r != kSuccess)
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
    if (import)
        ctx.targetRva = plan.targetRva;
    ctx.languageFilter = languageFilter;
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
    if (length > 0x7FFFFFFF)
        return kErrorBadFormat;

    std::vector<uint8_t> updated;
    Result built;
    try {
        built = BuildUpdatedImage(image, view.size, layout, sections, plan, output,
                                  static_cast<uint32_t>(length), updated);
    } catch (const std::bad_alloc&) {
        built = kErrorOutOfMemory;
    }
    if (built != kSuccess)
        return built;
    return WriteUpdateCopy(*outputPath, updated);
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
