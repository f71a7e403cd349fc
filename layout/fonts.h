// Which font file a dialog's typeface is measured with. Templates name logical faces that the
// system maps (HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\FontSubstitutes, and the
// rule of Microsoft's "Using MS Shell Dlg and MS Shell Dlg 2"): "MS Shell Dlg" is Microsoft Sans
// Serif, "MS Shell Dlg 2" is Tahoma, and so is "MS Shell Dlg" in a DS_SHELLFONT dialog. With a
// copy of a Windows Fonts folder the faces' own files are used; without one, metric-compatible
// stand-ins from Debian's packages: Wine's Tahoma (fonts-wine), Liberation Sans for Arial and
// Microsoft Sans Serif (fonts-liberation). Scripts a face lacks are measured with Noto
// (fonts-noto-core, fonts-noto-cjk), as Windows links fonts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "layout/measure.h"

namespace quelvar {

// The face the system gives a template's typeface (`shellFont`: a DS_SHELLFONT dialog).
std::u16string MapTypeface(std::u16string_view typeface, bool shellFont);

struct FontChoice {
    std::u16string face;  // the face measured for ("Tahoma")
    FontFile file;
    std::vector<FontFile> fallbacks;
    bool standIn = false;  // a stand-in file rather than the face's own
    bool found = false;
    std::string problem;  // when not found
};

// The file of `face` (already mapped) in `fontDir` (a Windows Fonts folder) or, with an empty
// `fontDir`, its stand-in. `charset` chooses the CJK fallback face (128 Japanese, 129 Korean,
// 134 Simplified and 136 Traditional Chinese).
FontChoice ChooseFont(std::u16string_view face, bool bold, bool italic, uint8_t charset,
                      const std::filesystem::path& fontDir);

}  // namespace quelvar
