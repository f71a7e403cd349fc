// Version information (resource type 16, VS_VERSIONINFO): the strings of its StringFileInfo.
// Every block is {wLength, wValueLength, wType, szKey (zero-terminated UTF-16), padding to 4,
// value, padding to 4, children}; VS_VERSIONINFO's value is the VS_FIXEDFILEINFO, its children
// StringFileInfo and VarFileInfo; StringFileInfo holds one StringTable a language ("040904b0"),
// each holding String blocks whose value is a zero-terminated text.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "resources/handler.h"

namespace quelvar {

constexpr uint32_t kVersionType = 16;

// Calls `visit` with the key and value of every String of every StringTable, in their order.
// `dataRva` is the data's address in its image: blocks start on 4-byte boundaries of it.
// Blocks that do not fit their parent end the reading of that parent.
void ReadVersionStrings(
    std::span<const uint8_t> data, uint32_t dataRva,
    const std::function<void(std::u16string_view key, std::u16string_view value)>& visit);

// A handler that exports the version strings under their keys ("16.1.ProductName") and keeps
// the resource as it is on import.
void ProcessVersionStrings(ResourceContext& ctx, std::span<const uint8_t> data);

}  // namespace quelvar
