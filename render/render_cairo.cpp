// Dialog pictures drawn with Cairo: each control's text in the lines the layout broke it into,
// each line's glyphs as the layout shaped them when it measured (the same faces, drawn through
// cairo-ft), so that a text stands where the measurement puts it.
#include <cairo-ft.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>

#include "layout/measure_freetype.h"
#include "render/render.h"

namespace quelvar {

namespace {

constexpr uint16_t kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kListBox = 0x83, kScrollBar = 0x84,
                   kComboBox = 0x85;
constexpr uint32_t kWsVisible = 0x10000000, kWsCaption = 0x00C00000, kWsBorder = 0x00800000,
                   kWsThickFrame = 0x00040000, kDsModalFrame = 0x80;

// The frame under Wine: 3 px borders and a 19 px caption bar (at 96 dpi).
constexpr int kBorder = 3, kCaption = 19;
// Around each dialog and between the source and its translation.
constexpr int kMargin = 12;
// A check box's glyph, the gap before its text, a group box caption's indent (as measured).
constexpr int kCheckGlyph = 13, kCheckGap = 3, kGroupIndent = 8;

struct Rgb {
    double r, g, b;
};
constexpr Rgb kFace{0.941, 0.941, 0.941}, kWhite{1, 1, 1}, kShadow{0.627, 0.627, 0.627},
    kDark{0.412, 0.412, 0.412}, kBlack{0, 0, 0}, kCaptionBar{0.0, 0.329, 0.890}, kPage{1, 1, 1},
    kRed{1, 0, 0};

void SetColour(cairo_t* cr, Rgb c) {
    cairo_set_source_rgb(cr, c.r, c.g, c.b);
}

void Fill(cairo_t* cr, double x, double y, double cx, double cy, Rgb c) {
    SetColour(cr, c);
    cairo_rectangle(cr, x, y, cx, cy);
    cairo_fill(cr);
}

// A one-pixel line from (x0, y0) to (x1, y1) on pixel centres.
void Line(cairo_t* cr, double x0, double y0, double x1, double y1, Rgb c) {
    SetColour(cr, c);
    cairo_set_line_width(cr, 1);
    cairo_move_to(cr, x0 + 0.5, y0 + 0.5);
    cairo_line_to(cr, x1 + 0.5, y1 + 0.5);
    cairo_stroke(cr);
}

// A two-pixel 3D edge: raised (light top left) or sunken (dark top left).
void Edge(cairo_t* cr, const PixelRect& r, bool raised) {
    if (r.cx < 2 || r.cy < 2)
        return;
    int x1 = r.x + r.cx - 1, y1 = r.y + r.cy - 1;
    Rgb outerLight = raised ? kWhite : kShadow, outerDark = raised ? kBlack : kWhite;
    Rgb innerLight = raised ? kFace : kDark, innerDark = raised ? kShadow : kFace;
    Line(cr, r.x, r.y, x1, r.y, outerLight);
    Line(cr, r.x, r.y, r.x, y1, outerLight);
    Line(cr, r.x, y1, x1, y1, outerDark);
    Line(cr, x1, r.y, x1, y1, outerDark);
    Line(cr, r.x + 1, r.y + 1, x1 - 1, r.y + 1, innerLight);
    Line(cr, r.x + 1, r.y + 1, r.x + 1, y1 - 1, innerLight);
    Line(cr, r.x + 1, y1 - 1, x1 - 1, y1 - 1, innerDark);
    Line(cr, x1 - 1, r.y + 1, x1 - 1, y1 - 1, innerDark);
}

// One FreeType library for the process: cairo keeps font faces cached past any one picture,
// and a face must not outlive its library. Faces are opened under the lock.
std::mutex gLibraryLock;
FT_Library Library() {
    static FT_Library library = [] {
        FT_Library l = nullptr;
        return FT_Init_FreeType(&l) == 0 ? l : nullptr;
    }();
    return library;
}

const cairo_user_data_key_t kFaceKey{};

void DoneFace(void* face) {
    std::lock_guard<std::mutex> lock(gLibraryLock);
    FT_Done_Face(static_cast<FT_Face>(face));
}

// The faces Cairo draws with, one per face of the layout's measuring font (opened as its runs
// first need them); the measuring font decides the lines, the glyphs and their places.
struct DrawFont {
    std::vector<cairo_font_face_t*> faces;  // null: not opened yet
    int pixels = 0;
    FontHandle measuring;

    DrawFont() = default;
    DrawFont(const DrawFont&) = delete;
    DrawFont& operator=(const DrawFont&) = delete;
    ~DrawFont() {
        for (cairo_font_face_t* f : faces)
            if (f != nullptr)
                cairo_font_face_destroy(f);
    }

    // Cairo's face for the measuring font's face `index`; null when its file does not open.
    cairo_font_face_t* Face(size_t index) {
        if (index >= faces.size())
            faces.resize(index + 1, nullptr);
        if (faces[index] != nullptr)
            return faces[index];
        const FontFile& file = FaceFileOf(*measuring, index);
        std::lock_guard<std::mutex> lock(gLibraryLock);
        FT_Library library = Library();
        FT_Face ft = nullptr;
        std::string path = file.path.string();
        if (library == nullptr ||
            FT_New_Face(library, path.c_str(), static_cast<FT_Long>(file.faceIndex), &ft) != 0)
            return nullptr;
        cairo_font_face_t* face =
            cairo_ft_font_face_create_for_ft_face(ft, FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL);
        if (cairo_font_face_set_user_data(face, &kFaceKey, ft, DoneFace) != CAIRO_STATUS_SUCCESS) {
            cairo_font_face_destroy(face);
            FT_Done_Face(ft);
            return nullptr;
        }
        return faces[index] = face;
    }
};

// Draws a piece of a line without tabs from `x` on the baseline `y`: the glyphs as the layout
// shaped them when it measured the line.
void DrawRuns(cairo_t* cr, DrawFont& font, std::u16string_view text, double x, double y) {
    std::vector<cairo_glyph_t> glyphs;
    for (const ShapedRun& run : ShapeLine(*font.measuring, text)) {
        cairo_font_face_t* face = font.Face(run.face);
        if (face != nullptr) {
            glyphs.clear();
            for (const ShapedGlyph& g : run.glyphs)
                glyphs.push_back({g.glyph, x + g.x / 64.0, y - g.y / 64.0});
            cairo_set_font_face(cr, face);
            cairo_set_font_size(cr, font.pixels);
            cairo_show_glyphs(cr, glyphs.data(), static_cast<int>(glyphs.size()));
        }
        x += (run.advance + 32) / 64;
    }
}

// One line at `x`, tabs moving on to the layout's tab stops.
void DrawLine(cairo_t* cr, DrawFont& font, std::u16string_view line, double x, double y) {
    int advanced = 0;
    int tabWidth = 8 * MetricsOf(*font.measuring).averageWidth;
    for (;;) {
        size_t tab = line.find(u'\t');
        std::u16string_view piece = line.substr(0, tab);
        DrawRuns(cr, font, piece, x + advanced, y);
        advanced += TextWidth(*font.measuring, piece);
        if (tab == std::u16string_view::npos)
            return;
        advanced = tabWidth > 0 ? (advanced / tabWidth + 1) * tabWidth : advanced;
        line.remove_prefix(tab + 1);
    }
}

enum class Align { Left, Centre, Right };

// The lines of `text` in the box `r`, clipped to it as the control clips it: aligned, from
// the top or centred vertically.
void DrawLines(cairo_t* cr, DrawFont& font, const FontMetrics& metrics, std::u16string_view text,
               const std::vector<TextLine>& lines, const PixelRect& r, Align align,
               bool centreVertically, Rgb colour) {
    int height = static_cast<int>(lines.size()) * metrics.height;
    int y = centreVertically ? r.y + (r.cy - height) / 2 : r.y;
    cairo_save(cr);
    cairo_rectangle(cr, r.x, r.y, std::max(r.cx, 0), std::max(r.cy, 0));
    cairo_clip(cr);
    SetColour(cr, colour);
    for (const TextLine& line : lines) {
        int x = align == Align::Left     ? r.x
                : align == Align::Centre ? r.x + (r.cx - line.width) / 2
                                         : r.x + r.cx - line.width;
        DrawLine(cr, font, text.substr(line.start, line.length), x, y + metrics.ascent);
        y += metrics.height;
    }
    cairo_restore(cr);
}

// A control's text in the box `r`, in the lines the layout measured.
void DrawText(cairo_t* cr, DrawFont& font, const FontMetrics& metrics, const ControlMeasure& m,
              const PixelRect& r, Align align, bool centreVertically, Rgb colour) {
    DrawLines(cr, font, metrics, m.shown, m.textLines, r, align, centreVertically, colour);
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
               return (x < 0x80 ? x | 0x20 : x) == (y < 0x80 ? y | 0x20 : y);
           });
}

bool Contains(std::u16string_view name, std::u16string_view part) {
    if (part.size() > name.size())
        return false;
    for (size_t i = 0; i + part.size() <= name.size(); ++i)
        if (SameName(name.substr(i, part.size()), part))
            return true;
    return false;
}

// The outer size of a dialog as drawn: client area, borders and caption bar.
struct Frame {
    int border = 0, caption = 0;
};

Frame FrameOf(const DialogTemplate& t, int dpi) {
    Frame f;
    bool caption = (t.style & kWsCaption) == kWsCaption;
    if (caption || (t.style & (kDsModalFrame | kWsThickFrame)) != 0)
        f.border = MulDiv(kBorder, dpi, 96);
    else if (t.style & kWsBorder)
        f.border = 1;
    if (caption)
        f.caption = MulDiv(kCaption, dpi, 96);
    return f;
}

// The fonts opened so far on this thread, kept for the next dialogs: most dialogs of a program
// share one or two.
DrawFont* FontFor(const FontChoice& choice, int pixels, std::string& problem) {
    if (!choice.found) {
        problem = choice.problem;
        return nullptr;
    }
    thread_local std::map<std::string, std::unique_ptr<DrawFont>> cache;
    std::string key = std::to_string(pixels) + '|' + choice.file.path.string() + ':' +
                      std::to_string(choice.file.faceIndex);
    for (const FontFile& f : choice.fallbacks)
        key += '|' + f.path.string() + ':' + std::to_string(f.faceIndex);
    if (auto it = cache.find(key); it != cache.end())
        return it->second.get();
    auto font = std::make_unique<DrawFont>();
    font->pixels = pixels;
    font->measuring = OpenFont(choice.file, choice.fallbacks, pixels, problem);
    if (!font->measuring || font->Face(0) == nullptr) {
        if (problem.empty())
            problem = "cannot draw with the font file " + choice.file.path.string();
        return nullptr;
    }
    return cache.emplace(key, std::move(font)).first->second.get();
}

struct Drawer {
    cairo_t* cr;
    const LayoutSettings& settings;
    // A dialog laid out right to left (WS_EX_LAYOUTRTL) is mirrored: controls from the right
    // edge of its client area `clientWidth`, glyphs right of their text, texts aligned right.
    bool rtl = false;
    int clientWidth = 0;
    int Scaled(int px) const { return MulDiv(px, settings.dpi, 96); }
    PixelRect MirroredRect(PixelRect r) const {
        if (rtl)
            r.x = clientWidth - r.x - r.cx;
        return r;
    }
    Align Mirrored(Align a) const {
        return !rtl ? a : a == Align::Left ? Align::Right : a == Align::Right ? Align::Left : a;
    }

    void Control(const DialogControl& c, const ControlMeasure& m, DrawFont& font,
                 const FontMetrics& metrics) {
        PixelRect r = MirroredRect(m.rect);
        uint16_t cls = ClassOrdinal(c.windowClass);
        switch (m.kind) {
            case ControlKind::PushButton: {
                Fill(cr, r.x, r.y, r.cx, r.cy, kFace);
                if ((c.style & 0x0F) == 1 && r.cx > 2 && r.cy > 2) {  // BS_DEFPUSHBUTTON
                    SetColour(cr, kBlack);
                    cairo_set_line_width(cr, 1);
                    cairo_rectangle(cr, r.x + 0.5, r.y + 0.5, r.cx - 1, r.cy - 1);
                    cairo_stroke(cr);
                    Edge(cr, {r.x + 1, r.y + 1, r.cx - 2, r.cy - 2}, true);
                } else {
                    Edge(cr, r, true);
                }
                int margin = Scaled(3);
                DrawText(cr, font, metrics, m,
                         {r.x + margin, r.y + margin, r.cx - 2 * margin, r.cy - 2 * margin},
                         Align::Centre, true, kBlack);
                return;
            }
            case ControlKind::CheckBox: {
                int glyph = Scaled(kCheckGlyph);
                int gy = r.y + (r.cy - glyph) / 2;
                int gx = rtl ? r.x + r.cx - glyph : r.x;
                bool radio = (c.style & 0x0F) == 4 || (c.style & 0x0F) == 9;
                if (radio) {
                    SetColour(cr, kWhite);
                    cairo_arc(cr, gx + glyph / 2.0, gy + glyph / 2.0, glyph / 2.0 - 0.5, 0, 6.2832);
                    cairo_fill_preserve(cr);
                    SetColour(cr, kDark);
                    cairo_set_line_width(cr, 1);
                    cairo_stroke(cr);
                } else {
                    Fill(cr, gx, gy, glyph, glyph, kWhite);
                    Edge(cr, {gx, gy, glyph, glyph}, false);
                }
                int start = glyph + Scaled(kCheckGap);
                DrawText(cr, font, metrics, m, {rtl ? r.x : r.x + start, r.y, r.cx - start, r.cy},
                         Mirrored(Align::Left), true, kBlack);
                return;
            }
            case ControlKind::GroupBox: {
                int top = r.y + metrics.height / 2;
                PixelRect frame{r.x, top, r.cx, r.y + r.cy - top};
                if (frame.cx > 2 && frame.cy > 2) {
                    cairo_set_line_width(cr, 1);
                    SetColour(cr, kShadow);
                    cairo_rectangle(cr, frame.x + 0.5, frame.y + 0.5, frame.cx - 2, frame.cy - 2);
                    cairo_stroke(cr);
                    SetColour(cr, kWhite);
                    cairo_rectangle(cr, frame.x + 1.5, frame.y + 1.5, frame.cx - 2, frame.cy - 2);
                    cairo_stroke(cr);
                }
                if (!m.shown.empty()) {
                    int indent = Scaled(kGroupIndent);
                    int width = std::min(m.textWidth, std::max(r.cx - 2 * indent, 0));
                    int x = rtl ? r.x + r.cx - indent - width : r.x + indent;
                    Fill(cr, x - 2, r.y, width + 4, metrics.height, kFace);
                    DrawText(cr, font, metrics, m, {x, r.y, width, metrics.height},
                             Mirrored(Align::Left), false, kBlack);
                }
                return;
            }
            case ControlKind::Static: {
                uint32_t type = c.style & 0x1F;
                Align align = type == 1 ? Align::Centre : type == 2 ? Align::Right : Align::Left;
                bool centre = (c.style & 0x200) != 0;  // SS_CENTERIMAGE centres one line
                DrawText(cr, font, metrics, m, r, Mirrored(align), centre, kBlack);
                return;
            }
            case ControlKind::NoText:
                break;
        }
        if (cls == kEdit || cls == kListBox || Contains(c.windowClass.text, u"listview") ||
            Contains(c.windowClass.text, u"treeview") ||
            Contains(c.windowClass.text, u"richedit")) {
            Fill(cr, r.x, r.y, r.cx, r.cy, kWhite);
            Edge(cr, r, false);
        } else if (cls == kComboBox) {
            // A drop-down combo box closed (its measured rectangle), a simple one with its list.
            const PixelRect& box = r;
            Fill(cr, box.x, box.y, box.cx, box.cy, kWhite);
            Edge(cr, box, false);
            int arrow = std::min(Scaled(17), box.cx - 4);
            if (IsDropDown(c) && arrow > 0 && box.cy > 4) {
                PixelRect button{box.x + box.cx - 2 - arrow, box.y + 2, arrow, box.cy - 4};
                Fill(cr, button.x, button.y, button.cx, button.cy, kFace);
                Edge(cr, button, true);
                SetColour(cr, kBlack);
                double cx = button.x + button.cx / 2.0, cy = button.y + button.cy / 2.0;
                cairo_move_to(cr, cx - 3.5, cy - 1.5);
                cairo_line_to(cr, cx + 3.5, cy - 1.5);
                cairo_line_to(cr, cx, cy + 2);
                cairo_close_path(cr);
                cairo_fill(cr);
            }
        } else if (cls == kScrollBar) {
            Fill(cr, r.x, r.y, r.cx, r.cy, {0.86, 0.86, 0.86});
        } else if (cls == kStatic && ((c.style & 0x1F) >= 0x10 && (c.style & 0x1F) <= 0x12)) {
            // SS_ETCHEDHORZ, SS_ETCHEDVERT, SS_ETCHEDFRAME
            Line(cr, r.x, r.y, r.x + std::max(r.cx - 1, 0), r.y, kShadow);
            Line(cr, r.x, r.y + 1, r.x + std::max(r.cx - 1, 0), r.y + 1, kWhite);
        } else if (cls != kStatic && cls != kButton) {
            // A control of another class: its place, dashed.
            double dash = 2;
            cairo_save(cr);
            cairo_set_dash(cr, &dash, 1, 0);
            cairo_set_line_width(cr, 1);
            SetColour(cr, kShadow);
            cairo_rectangle(cr, r.x + 0.5, r.y + 0.5, std::max(r.cx - 1, 0), std::max(r.cy - 1, 0));
            cairo_stroke(cr);
            cairo_restore(cr);
        }
    }
};

struct Placed {
    const DialogView* view;
    Frame frame;
    int width = 0, height = 0;  // the outer size
};

bool Place(const DialogView& v, const LayoutSettings& settings, Placed& out, std::string& problem) {
    if (v.dialog == nullptr || v.measure == nullptr || !v.measure->ok) {
        problem = v.measure != nullptr && !v.measure->problem.empty()
                      ? v.measure->problem
                      : "the dialog was not measured";
        return false;
    }
    out.view = &v;
    out.frame = FrameOf(*v.dialog, settings.dpi);
    const PixelRect& r = v.measure->rect;
    int64_t w = int64_t{r.cx} + 2 * out.frame.border;
    int64_t h = int64_t{r.cy} + 2 * out.frame.border + out.frame.caption;
    if (r.cx < 0 || r.cy < 0) {
        problem = "a dialog of negative size (" + std::to_string(r.cx) + " x " +
                  std::to_string(r.cy) + " px)";
        return false;
    }
    if (w > kMaxPictureSide || h > kMaxPictureSide) {
        problem = "a dialog of " + std::to_string(r.cx) + " x " + std::to_string(r.cy) +
                  " px is too large to draw";
        return false;
    }
    out.width = static_cast<int>(w);
    out.height = static_cast<int>(h);
    return true;
}

bool DrawDialog(cairo_t* cr, const Placed& p, int ox, int oy, const LayoutSettings& settings,
                std::string& problem) {
    const DialogView& v = *p.view;
    const DialogTemplate& t = *v.dialog;
    const DialogMeasure& m = *v.measure;
    // The font files the layout measured with.
    DrawFont* opened = FontFor(m.font, m.pixels, problem);
    if (opened == nullptr)
        return false;
    DrawFont& font = *opened;
    FontMetrics metrics = MetricsOf(*font.measuring);

    constexpr uint32_t kWsExLayoutRtl = 0x00400000;
    Drawer d{cr, settings, (t.exStyle & kWsExLayoutRtl) != 0, m.rect.cx};
    const Frame& f = p.frame;
    // The frame: raised borders and the caption bar with the caption.
    Fill(cr, ox, oy, p.width, p.height, kFace);
    if (f.border > 0)
        Edge(cr, {ox, oy, p.width, p.height}, true);
    if (f.caption > 0) {
        Fill(cr, ox + f.border, oy + f.border, p.width - 2 * f.border, f.caption - 1, kCaptionBar);
        std::u16string caption = v.caption ? *v.caption : t.caption;
        FontChoice captionChoice = ChooseFont(u"Tahoma", true, false, 0, settings.fontDir);
        std::string ignored;
        DrawFont* captionFont = FontFor(captionChoice, MulDiv(8, settings.dpi, 72), ignored);
        if (captionFont != nullptr) {
            FontMetrics cm = MetricsOf(*captionFont->measuring);
            int pad = d.Scaled(4);
            DrawLines(cr, *captionFont, cm, caption,
                      LayOutText(*captionFont->measuring, caption, false, 0).lines,
                      {ox + f.border + pad, oy + f.border, p.width - 2 * f.border - 2 * pad,
                       f.caption - 1},
                      d.Mirrored(Align::Left), true, kWhite);
        }
    }
    int cx = ox + f.border, cy = oy + f.border + f.caption;
    cairo_save(cr);
    cairo_rectangle(cr, cx, cy, m.rect.cx, m.rect.cy);
    cairo_clip(cr);
    cairo_translate(cr, cx, cy);
    for (size_t i = 0; i < t.controls.size() && i < m.controls.size(); ++i) {
        const DialogControl& c = t.controls[i];
        bool flagged = i < v.flagged.size() && v.flagged[i];
        if ((c.style & kWsVisible) == 0 && !flagged)
            continue;
        d.Control(c, m.controls[i], font, metrics);
    }
    // The outlines last, over every control.
    for (size_t i = 0; i < m.controls.size() && i < v.flagged.size(); ++i) {
        if (!v.flagged[i])
            continue;
        PixelRect r = d.MirroredRect(m.controls[i].rect);
        SetColour(cr, kRed);
        cairo_set_line_width(cr, 2);
        cairo_rectangle(cr, r.x + 1, r.y + 1, std::max(r.cx - 2, 0), std::max(r.cy - 2, 0));
        cairo_stroke(cr);
    }
    cairo_restore(cr);
    return true;
}

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length) {
    auto* bytes = static_cast<std::vector<uint8_t>*>(closure);
    bytes->insert(bytes->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

using SurfacePtr = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using ContextPtr = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

// Reads a PNG back; null when it does not decode.
SurfacePtr ReadPng(std::span<const uint8_t> png) {
    struct Reader {
        std::span<const uint8_t> rest;
    } reader{png};
    auto read = [](void* closure, unsigned char* data, unsigned int length) {
        auto* r = static_cast<Reader*>(closure);
        if (r->rest.size() < length)
            return CAIRO_STATUS_READ_ERROR;
        std::memcpy(data, r->rest.data(), length);
        r->rest = r->rest.subspan(length);
        return CAIRO_STATUS_SUCCESS;
    };
    SurfacePtr s(cairo_image_surface_create_from_png_stream(read, &reader), cairo_surface_destroy);
    if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS)
        return SurfacePtr(nullptr, cairo_surface_destroy);
    return s;
}

}  // namespace

bool DrawDialogPicture(const DialogView& source, const DialogView* translated, PictureFormat format,
                       const LayoutSettings& settings, std::vector<uint8_t>& bytes,
                       std::string& problem) {
    bytes.clear();
    problem.clear();
    Placed left, right;
    if (!Place(source, settings, left, problem) ||
        (translated != nullptr && !Place(*translated, settings, right, problem)))
        return false;
    int width = 2 * kMargin + left.width + (translated ? kMargin + right.width : 0);
    int height = 2 * kMargin + std::max(left.height, translated ? right.height : 0);
    SurfacePtr surface(format == PictureFormat::Png
                           ? cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height)
                           : cairo_svg_surface_create_for_stream(Append, &bytes, width, height),
                       cairo_surface_destroy);
    if (format == PictureFormat::Svg)  // pixels, as the PNG has them (not points)
        cairo_svg_surface_set_document_unit(surface.get(), CAIRO_SVG_UNIT_PX);
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        problem = "cannot make a picture of " + std::to_string(width) + " x " +
                  std::to_string(height) + " px";
        return false;
    }
    {
        ContextPtr cr(cairo_create(surface.get()), cairo_destroy);
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
        cairo_set_font_options(cr.get(), options);
        cairo_font_options_destroy(options);
        Fill(cr.get(), 0, 0, width, height, kPage);
        if (!DrawDialog(cr.get(), left, kMargin, kMargin, settings, problem) ||
            (translated != nullptr &&
             !DrawDialog(cr.get(), right, 2 * kMargin + left.width, kMargin, settings, problem)))
            return false;
    }
    if (format == PictureFormat::Png) {
        cairo_surface_flush(surface.get());
        if (cairo_surface_write_to_png_stream(surface.get(), Append, &bytes) !=
            CAIRO_STATUS_SUCCESS) {
            problem = "cannot write the PNG picture";
            return false;
        }
    } else {
        cairo_surface_finish(surface.get());  // writes the SVG
        if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
            problem = "cannot write the SVG picture";
            return false;
        }
    }
    return true;
}

bool PngSize(std::span<const uint8_t> png, int& width, int& height) {
    SurfacePtr s = ReadPng(png);
    if (!s)
        return false;
    width = cairo_image_surface_get_width(s.get());
    height = cairo_image_surface_get_height(s.get());
    return true;
}

bool PngPixel(std::span<const uint8_t> png, int x, int y, uint32_t& rgb) {
    SurfacePtr s = ReadPng(png);
    if (!s || x < 0 || y < 0 || x >= cairo_image_surface_get_width(s.get()) ||
        y >= cairo_image_surface_get_height(s.get()))
        return false;
    cairo_surface_flush(s.get());
    const unsigned char* row =
        cairo_image_surface_get_data(s.get()) + y * cairo_image_surface_get_stride(s.get());
    uint32_t pixel = 0;
    std::memcpy(&pixel, row + 4 * x, 4);  // native-endian 0xAARRGGBB, as cairo stores it
    rgb = pixel & 0xFFFFFF;
    return true;
}

bool PicturesAvailable() {
    return true;
}

}  // namespace quelvar
