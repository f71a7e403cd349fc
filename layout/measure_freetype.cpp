// Measurement with FreeType (faces, hinted advances at the em size) and HarfBuzz (shaping, so
// that joined Arabic, Devanagari conjuncts and Thai marks measure as they are drawn).
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_ADVANCES_H
#include <hb-ft.h>
#include <hb.h>

#include <cstdlib>
#include <iterator>

#include "layout/measure_freetype.h"

namespace quelvar {

namespace {

// The 52 letters whose extent gives the average character width of dialog base units.
constexpr std::u16string_view kAlphabet = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Characters below this (Latin, Greek, Cyrillic, Armenian) need no shaping: their extent is
// the sum of their advances, as GDI adds them up (without kerning).
constexpr uint32_t kSimpleEnd = 0x0590;

bool IsMark(uint32_t c) {
    return (c >= 0x0300 && c < 0x0370) || (c >= 0x0483 && c < 0x048A) || c == 0x200C || c == 0x200D;
}

// GDI's extents take neither kerning nor optional ligatures; required forms stay.
const hb_feature_t kFeatures[] = {{HB_TAG('k', 'e', 'r', 'n'), 0, 0, ~0u},
                                  {HB_TAG('l', 'i', 'g', 'a'), 0, 0, ~0u}};

struct Face {
    FT_Face face = nullptr;
    hb_font_t* shaper = nullptr;
    FontFile file;
};

// A metric in font units scaled to `pixels` per em, rounded as the rasteriser rounds.
int Scale(long units, int pixels, int unitsPerEm) {
    if (unitsPerEm <= 0)
        return 0;
    return static_cast<int>((units * pixels * 2 + unitsPerEm) / (2L * unitsPerEm));
}

// Advances as the system's text extents add them up: the hinted outline's, in whole pixels. A
// font's embedded bitmaps (Wine's Tahoma has strikes from 8 to 16 px) are passed over: their
// advances differ from the outline's, which the system measures.
FT_Int32 LoadFlags(FT_Face face) {
    return FT_IS_SCALABLE(face) ? FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP : FT_LOAD_DEFAULT;
}

bool SetSize(FT_Face face, int pixels) {
    if (FT_IS_SCALABLE(face))
        return FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)) == 0;
    // A bitmap font (.fon): the strike nearest the size.
    if (face->num_fixed_sizes <= 0)
        return false;
    int best = 0;
    for (int i = 1; i < face->num_fixed_sizes; ++i)
        if (std::abs(face->available_sizes[i].height - pixels) <
            std::abs(face->available_sizes[best].height - pixels))
            best = i;
    return FT_Select_Size(face, best) == 0;
}

}  // namespace

struct OpenedFont {
    FT_Library library = nullptr;
    std::vector<Face> faces;  // the primary first, then the fallbacks opened so far
    // The fallbacks not opened yet, in order: a face is opened when a text first needs it
    // (most dialogs need none, and a CJK collection is large).
    std::vector<FontFile> pending;
    size_t nextPending = 0;
    int pixels = 0;
    hb_buffer_t* buffer = nullptr;
    FontMetrics metrics;
    std::vector<uint32_t> points;  // scratch space of TextWidth
    // The primary face's hinted advances (26.6) of the characters below U+0590 other than
    // combining marks, filled as met: -1 not looked up, -2 not in the face.
    std::vector<int32_t> advances = std::vector<int32_t>(kSimpleEnd, -1);

    ~OpenedFont() {
        if (buffer != nullptr)
            hb_buffer_destroy(buffer);
        for (Face& f : faces) {
            if (f.shaper != nullptr)
                hb_font_destroy(f.shaper);  // releases its reference to the face
            FT_Done_Face(f.face);
        }
        if (library != nullptr)
            FT_Done_FreeType(library);
    }
};

void OpenedFontDeleter::operator()(OpenedFont* font) const {
    delete font;
}

bool MeasurementAvailable() {
    return true;
}

bool MeasuresByName() {
    return false;
}

FontHandle OpenFontByName(const FontRequest&, std::string& problem) {
    problem = "this build opens fonts from their files";
    return nullptr;
}

namespace {

bool OpenFace(OpenedFont& font, const FontFile& file, int pixels, std::string& problem) {
    Face f;
    f.file = file;
    std::string path = file.path.string();
    if (FT_New_Face(font.library, path.c_str(), static_cast<FT_Long>(file.faceIndex), &f.face) !=
        0) {
        problem = "cannot read the font file " + path;
        return false;
    }
    if (!SetSize(f.face, pixels)) {
        FT_Done_Face(f.face);
        problem = "the font file " + path + " has no size " + std::to_string(pixels) + " px";
        return false;
    }
    f.shaper = hb_ft_font_create_referenced(f.face);
    // Hinted advances, whole pixels, as the system's rasteriser gives them.
    hb_ft_font_set_load_flags(f.shaper, LoadFlags(f.face));
    font.faces.push_back(f);
    return true;
}

FontMetrics ComputeMetrics(OpenedFont& font, int pixels) {
    FontMetrics m;
    FT_Face face = font.faces.front().face;
    const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (FT_IS_SCALABLE(face) && os2 != nullptr && os2->usWinAscent + os2->usWinDescent > 0) {
        // The system takes the OS/2 table's Windows ascent and descent.
        m.ascent = Scale(os2->usWinAscent, pixels, face->units_per_EM);
        m.height = m.ascent + Scale(os2->usWinDescent, pixels, face->units_per_EM);
    } else {
        m.ascent = static_cast<int>((face->size->metrics.ascender + 32) >> 6);
        m.height = m.ascent + static_cast<int>((-face->size->metrics.descender + 32) >> 6);
    }
    int cx = TextWidth(font, kAlphabet);
    m.averageWidth = (cx / 26 + 1) / 2;
    return m;
}

// Shapes `font.points` run by run, each run of characters in the first face that has them
// (else the primary): `each(face, buffer)` with the run shaped in the buffer.
template <typename Each>
void ShapeRuns(OpenedFont& font, Each each) {
    const std::vector<uint32_t>& points = font.points;
    auto faceOf = [&](uint32_t c) {
        for (size_t i = 0; i < font.faces.size(); ++i)
            if (FT_Get_Char_Index(font.faces[i].face, c) != 0)
                return i;
        // A fallback that cannot be opened is passed over.
        std::string ignored;
        while (font.nextPending < font.pending.size())
            if (OpenFace(font, font.pending[font.nextPending++], font.pixels, ignored) &&
                FT_Get_Char_Index(font.faces.back().face, c) != 0)
                return font.faces.size() - 1;
        return size_t{0};
    };
    size_t runStart = 0, runFace = 0;
    auto shape = [&](size_t end) {
        if (end == runStart)
            return;
        hb_buffer_clear_contents(font.buffer);
        hb_buffer_add_codepoints(font.buffer, points.data(), static_cast<int>(points.size()),
                                 static_cast<unsigned>(runStart), static_cast<int>(end - runStart));
        hb_buffer_guess_segment_properties(font.buffer);
        hb_shape(font.faces[runFace].shaper, font.buffer, kFeatures, std::size(kFeatures));
        each(runFace, font.buffer);
    };
    for (size_t i = 0; i < points.size(); ++i) {
        uint32_t c = points[i];
        // Combining marks and joiners stay in the run they follow.
        size_t f = IsMark(c) && i > 0 ? runFace : faceOf(c);
        if (i == 0)
            runFace = f;
        if (f != runFace) {
            shape(i);
            runStart = i;
            runFace = f;
        }
    }
    shape(points.size());
}

// The code points of `text` into `font.points`, surrogate pairs joined.
void CodePoints(OpenedFont& font, std::u16string_view text) {
    std::vector<uint32_t>& points = font.points;
    points.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        points.push_back(c);
    }
}

}  // namespace

FontHandle OpenFont(const FontFile& primary, const std::vector<FontFile>& fallbacks, int pixels,
                    std::string& problem) {
    if (pixels <= 0) {
        problem = "a font size of " + std::to_string(pixels) + " px";
        return nullptr;
    }
    FontHandle font(new OpenedFont);
    if (FT_Init_FreeType(&font->library) != 0) {
        problem = "FreeType does not start";
        return nullptr;
    }
    if (!OpenFace(*font, primary, pixels, problem))
        return nullptr;
    font->pending = fallbacks;
    font->pixels = pixels;
    font->buffer = hb_buffer_create();
    font->metrics = ComputeMetrics(*font, pixels);
    return font;
}

FontMetrics MetricsOf(OpenedFont& font) {
    return font.metrics;
}

int TextWidth(OpenedFont& font, std::u16string_view text) {
    CodePoints(font, text);
    const std::vector<uint32_t>& points = font.points;
    // Text of simple characters that the primary face has: the sum of their advances.
    FT_Face primary = font.faces.front().face;
    int64_t simple = 0;
    bool allSimple = true;
    for (uint32_t c : points) {
        if (c >= kSimpleEnd || IsMark(c)) {
            allSimple = false;
            break;
        }
        int32_t& advance = font.advances[c];
        if (advance == -1) {
            FT_UInt glyph = FT_Get_Char_Index(primary, c);
            FT_Fixed value = 0;
            advance = glyph != 0 && FT_Get_Advance(primary, glyph, LoadFlags(primary), &value) == 0
                          ? static_cast<int32_t>((value + 512) >> 10)  // 16.16 to 26.6
                          : -2;
        }
        if (advance < 0) {
            allSimple = false;
            break;
        }
        simple += advance;
    }
    if (allSimple)
        return static_cast<int>((simple + 32) >> 6);
    hb_position_t total = 0;
    ShapeRuns(font, [&](size_t, hb_buffer_t* buffer) {
        unsigned count = 0;
        const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buffer, &count);
        for (unsigned i = 0; i < count; ++i)
            total += pos[i].x_advance;
    });
    return static_cast<int>((total + 32) >> 6);
}

std::vector<ShapedRun> ShapeLine(OpenedFont& font, std::u16string_view text) {
    CodePoints(font, text);
    std::vector<ShapedRun> runs;
    ShapeRuns(font, [&](size_t face, hb_buffer_t* buffer) {
        ShapedRun& run = runs.emplace_back();
        run.face = face;
        unsigned count = 0;
        const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer, &count);
        const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buffer, &count);
        for (unsigned i = 0; i < count; ++i) {
            run.glyphs.push_back(
                {info[i].codepoint, run.advance + pos[i].x_offset, pos[i].y_offset});
            run.advance += pos[i].x_advance;
        }
    });
    return runs;
}

const FontFile& FaceFileOf(const OpenedFont& font, size_t face) {
    return font.faces[face < font.faces.size() ? face : 0].file;
}

}  // namespace quelvar
