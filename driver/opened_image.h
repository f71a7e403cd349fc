// An image mapped for reading with its headers and resource section found: the first steps of
// every operation on an image.
#pragma once

#include <filesystem>
#include <span>

#include "base/result.h"
#include "pe/headers.h"
#include "pe/rebuild.h"
#include "platform/platform.h"
#include "resources/tree.h"

namespace quelvar {

struct OpenedImage {
    platform::FileView view;
    std::span<const uint8_t> bytes;
    pe::ImageHeaders headers;
    pe::ResourceLocation location;
    ResourceSection section;  // its tree not yet checked
};

// Returns 0, 2 when the file cannot be mapped, or what ReadImageHeaders and
// FindResourceSection refuse it with.
Result OpenImage(const std::filesystem::path& imagePath, OpenedImage& opened);

}  // namespace quelvar
