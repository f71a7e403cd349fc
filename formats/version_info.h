// Version information (resource type 16, VS_VERSIONINFO): the strings of its StringFileInfo.
// Every block is {wLength, wValueLength, wType, szKey (zero-terminated UTF-16), padding to 4,
// value, padding to 4, children}; VS_VERSIONINFO's value is the VS_FIXEDFILEINFO, its children
// StringFileInfo and VarFileInfo; StringFileInfo holds one StringTable a language ("040904b0":
// language and code page in hexadecimal), each holding String blocks whose value is a
// zero-terminated text; VarFileInfo holds the Var "Translation", pairs of 16-bit language and
// code page. wValueLength counts units for a text value (wType 1), bytes for a binary one.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "resources/handler.h"

namespace quelvar {

constexpr uint32_t kVersionType = 16;

// Type 16. Export: every non-empty String of every StringTable under its name
// ("16.1.FileDescription"); a name that an earlier String of the resource already had (the same
// text in a second table) as "<name>#<n>" for its n-th time. Import rebuilds the block with the
// translated Strings and every wLength recomputed; blocks it does not translate are copied byte
// for byte. When the resource is stored under another language, the StringTable of its language
// (or the only one) takes the new language in its name, keeping the code page, and replaces a
// table that already had that name; VarFileInfo's Translation follows. Data that does not read
// as a whole VS_VERSIONINFO (children that do not fill their parent) is copied unchanged and
// exports nothing.
void ProcessVersionStrings(ResourceContext& ctx, std::span<const uint8_t> data);

}  // namespace quelvar
