// Where a rebuilt resource section goes in the new image, and the new image itself: the
// source bytes around the section, the section, and every header field, file offset and
// address that the new layout moves.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "pe/headers.h"

namespace quelvar::pe {

// The section that holds the resource directory, and the directory's address.
struct ResourceLocation {
    const SectionHeader* section = nullptr;
    uint32_t directoryRva = 0;
    // The root directory's offset inside the section's raw data.
    uint32_t RootOffset() const { return directoryRva - section->rva; }
};

// Returns 0, 1812 when the image has no resource directory in a section's raw data, or 11
// when that section's raw data lies outside the image.
Result FindResourceSection(std::span<const uint8_t> image, const ImageHeaders& headers,
                           ResourceLocation& location);
// The same from the image's first bytes, which hold its headers, and its whole size.
Result FindResourceSection(std::span<const uint8_t> headerBytes, uint64_t imageSize,
                           const ImageHeaders& headers, ResourceLocation& location);

enum class Placement {
    InPlace,  // the resource section is the last one: it is rebuilt where it is
    Move,     // the sections after it are moved behind the rebuilt section
    Append,   // a new last section; the old one stays as it was
};

struct RebuildPlan {
    Placement placement = Placement::InPlace;
    const SectionHeader* resource = nullptr;
    uint32_t targetRva = 0;       // RVA of the new section
    uint32_t sectionPointer = 0;  // its file offset
    // The source bytes before `cut` stay where they are; those from `resume` on follow the
    // new section.
    uint32_t cut = 0;
    uint32_t resume = 0;
    uint32_t followingRva = 0;  // Move: every RVA from here on moves
};

// Decides where the rebuilt resource section goes. A resource section that is the last one
// in the file and in the address space, with the resource directory at its start, is rebuilt
// in place; otherwise the sections after it move if they can, and else the new section is
// appended. Returns 0, or 11 when none of these fits the image.
Result PlanRebuild(std::span<const uint8_t> image, const ImageHeaders& headers,
                   const ResourceLocation& resources, RebuildPlan& plan);

// The new image as pieces in file order, so that it is written without a copy of the whole:
// the source image's bytes, the new section and zeros, and patched copies of the only bytes
// that change around them (the headers, the debug directory's entries).
struct UpdatedImage {
    std::vector<std::span<const uint8_t>> pieces;
    uint64_t size = 0;
    std::vector<uint8_t> headers;  // the new image's bytes from offset 0
    std::vector<uint8_t> debug;    // its bytes from `debugAt`
    uint64_t debugAt = 0;
    std::vector<uint8_t> zeros;
};

// Builds the new image around `section`, the rebuilt resource section; `image` and `section`
// must outlive `out`. With `removeCertificate` the image loses its signature: the certificate
// table's data directory is cleared and the table, when it ends the file, is left out. Returns
// 0, or 11 when a moved field no longer fits its 32 bits.
Result BuildUpdatedImage(std::span<const uint8_t> image, const ImageHeaders& headers,
                         const RebuildPlan& plan, std::span<const uint8_t> section,
                         UpdatedImage& out, bool removeCertificate = false);

}  // namespace quelvar::pe
