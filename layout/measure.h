// Text measurement as Windows measures a control's text: a font opened at a point size and a
// resolution, its metrics (tmHeight, tmAscent) and the extent of a line of text
// (GetTextExtentPoint32W). One set of free functions, chosen at build time: FreeType and
// HarfBuzz on Linux (measure_freetype.cpp) over font files; GDI in the Windows builds
// (measure_gdi.cpp) over the system's fonts, opened by their face's name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar {

// One font file and the face in it (a .ttc holds several).
struct FontFile {
    std::filesystem::path path;
    uint32_t faceIndex = 0;
};

// A font opened for measuring: a primary face and the faces that stand in for the scripts it
// has no glyphs for (as Windows links fonts). Opaque; made by OpenFont.
struct OpenedFont;
struct OpenedFontDeleter {
    void operator()(OpenedFont* font) const;
};
using FontHandle = std::unique_ptr<OpenedFont, OpenedFontDeleter>;

struct FontMetrics {
    int height = 0;        // tmHeight: ascent and descent in pixels
    int ascent = 0;        // tmAscent
    int averageWidth = 0;  // the dialog base unit: (extent of "A-Za-z" / 26 + 1) / 2
};

// Opens `primary` (and `fallbacks`, tried in order for characters it lacks) with an em of
// `pixels` pixels (MulDiv(point size, dpi, 72)). Null with `problem` set when a file cannot be
// read or parsed; a fallback that cannot be opened is left out.
FontHandle OpenFont(const FontFile& primary, const std::vector<FontFile>& fallbacks, int pixels,
                    std::string& problem);

FontMetrics MetricsOf(OpenedFont& font);

// The width in pixels of one line of text, shaped (HarfBuzz) run by run, each run in the
// first face that has its characters: GetTextExtentPoint32W's cx.
int TextWidth(OpenedFont& font, std::u16string_view text);

// True when measuring works in this build.
bool MeasurementAvailable();

// What a dialog's font asks the system for: the face (already mapped), its em in pixels.
struct FontRequest {
    std::u16string face;
    int pixels = 0;
    bool bold = false, italic = false;
};

// True when this build opens fonts by their face's name (GDI: the fonts installed, linked and
// substituted as the system does), false when it needs their files.
bool MeasuresByName();

// Opens the font the system gives `request` (GDI builds); elsewhere null with `problem` set.
FontHandle OpenFontByName(const FontRequest& request, std::string& problem);

}  // namespace quelvar
