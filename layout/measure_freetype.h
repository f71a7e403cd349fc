// What the FreeType measurement shows of its work, for drawing exactly what it measured: the
// faces of an opened font (the primary, then the fallbacks opened as texts needed them) and a
// line shaped into runs of glyphs, each run in the face that has its characters.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "layout/measure.h"

namespace quelvar {

struct ShapedGlyph {
    uint32_t glyph = 0;    // the glyph's index in its face
    int32_t x = 0, y = 0;  // its origin from the run's start, 26.6 pixels (y up)
};

struct ShapedRun {
    size_t face = 0;  // index into the font's faces (FaceFileOf)
    std::vector<ShapedGlyph> glyphs;
    int32_t advance = 0;  // the run's width, 26.6 pixels
};

// A line without tabs shaped as TextWidth measures it (HarfBuzz, kerning and optional
// ligatures off, hinted advances), run by run.
std::vector<ShapedRun> ShapeLine(OpenedFont& font, std::u16string_view text);

// The file of one of the font's faces.
const FontFile& FaceFileOf(const OpenedFont& font, size_t face);

}  // namespace quelvar
