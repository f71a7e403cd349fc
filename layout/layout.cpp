#include "layout/layout.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "base/number.h"
#include "base/utf16.h"

namespace quelvar {

namespace {

constexpr uint16_t kButtonClass = 0x80;
constexpr uint16_t kStaticClass = 0x82;
constexpr uint16_t kComboBoxClass = 0x85;

// Combo box styles (CBS_*): the kind in the low two bits. A simple combo box shows its list
// always; the drop-down kinds show a closed box whose height comes from the font.
constexpr uint32_t kCbsTypeMask = 0x3, kCbsSimple = 0x1;

// Button styles (BS_*): the kind in the low four bits, and the flags that change the drawing.
constexpr uint32_t kBsTypeMask = 0x0F;
constexpr uint32_t kBsIcon = 0x40, kBsBitmap = 0x80, kBsPushLike = 0x1000, kBsMultiline = 0x2000;
// Static styles (SS_*): the kind in the low five bits.
constexpr uint32_t kSsTypeMask = 0x1F;
constexpr uint32_t kSsLeft = 0x0, kSsCenter = 0x1, kSsRight = 0x2, kSsSimple = 0xB,
                   kSsLeftNoWordWrap = 0xC;
constexpr uint32_t kSsNoPrefix = 0x80, kSsEllipsisMask = 0xC000;

// The parts of a control around its text, in pixels at 96 dpi (scaled with the resolution):
// a push button's frame and focus rectangle on each side, a check box's or radio button's
// glyph and the gap before its text, a group box caption's indent on each side.
constexpr int kButtonMargin = 3;
constexpr int kCheckGlyph = 13;
constexpr int kCheckGap = 3;
constexpr int kGroupIndent = 8;

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if ((a[i] < 0x80 ? a[i] | 0x20 : a[i]) != (b[i] < 0x80 ? b[i] | 0x20 : b[i]))
            return false;
    return true;
}

// The lines of a text (at '\n', a '\r' before it dropped), as offsets into it.
template <typename Each>
void Paragraphs(std::u16string_view text, Each each) {
    size_t from = 0;
    for (;;) {
        size_t end = text.find(u'\n', from);
        size_t stop = end == std::u16string_view::npos ? text.size() : end;
        size_t length = stop - from;
        if (length > 0 && text[stop - 1] == u'\r')
            --length;
        each(from, length);
        if (end == std::u16string_view::npos)
            return;
        from = end + 1;
    }
}

// Word-wraps as DrawTextW with DT_WORDBREAK: a line takes words while they fit; a word too
// long for a line of its own is broken after a '-' or '|' (where Unicode's line breaking
// allows a break after), the longest head that fits, else it overhangs the line. A line that
// ends where a space broke it is as wide as its text and that space, as the system gives its
// extent (`widest`; the line's own width leaves the space out).
void Wrap(OpenedFont& font, std::u16string_view text, int width, TextLines& out) {
    int spaceWidth = LineWidth(font, u" ");
    auto endLine = [&](size_t start, size_t length, int extra) {
        int w = LineWidth(font, text.substr(start, length));
        out.lines.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(length), w});
        out.widest = std::max(out.widest, w + extra);
    };
    Paragraphs(text, [&](size_t from, size_t length) {
        std::u16string_view paragraph = text.substr(from, length);
        // The line so far: text[lineStart, lineEnd), `empty` until it takes a word.
        size_t lineStart = from, lineEnd = from, at = from;
        bool empty = true;
        for (;;) {
            size_t space = paragraph.find(u' ');
            std::u16string_view word = paragraph.substr(0, space);
            size_t wordEnd = at + word.size();
            if (LineWidth(font, text.substr(lineStart, wordEnd - lineStart)) <= width) {
                lineEnd = wordEnd;
                empty = false;
            } else {
                if (!empty)
                    endLine(lineStart, lineEnd - lineStart, spaceWidth);
                // The rest's width less each head's: widths add up, and a long word costs
                // one pass.
                size_t wordStart = at;
                for (int rest = LineWidth(font, word); rest > width;) {
                    size_t head = 0;
                    int headWidth = 0;
                    for (size_t i = 0; i + 1 < word.size(); ++i) {
                        if (word[i] != u'-' && word[i] != u'|')
                            continue;
                        int w = LineWidth(font, word.substr(0, i + 1));
                        if (head != 0 && w > width)
                            break;
                        head = i + 1;
                        headWidth = w;
                    }
                    if (head == 0)
                        break;
                    endLine(wordStart, head, 0);
                    word.remove_prefix(head);
                    wordStart += head;
                    rest -= headWidth;
                }
                lineStart = wordStart;
                lineEnd = wordEnd;
                empty = false;
            }
            if (space == std::u16string_view::npos)
                break;
            paragraph.remove_prefix(space + 1);
            at = wordEnd + 1;
        }
        endLine(lineStart, lineEnd - lineStart, 0);
    });
}

// How a control draws its text: its kind, and for buttons and statics whether it wraps,
// whether '&' marks an access key and whether it shortens its text itself.
struct Drawing {
    ControlKind kind = ControlKind::NoText;
    bool wraps = false, noPrefix = false, ellipsis = false;
};

Drawing DrawingOf(const DialogControl& c) {
    Drawing d;
    uint16_t cls = ClassOrdinal(c.windowClass);
    if (cls == kButtonClass) {
        if (c.style & (kBsIcon | kBsBitmap))
            return d;
        switch (c.style & kBsTypeMask) {
            case 0x0:  // BS_PUSHBUTTON
            case 0x1:  // BS_DEFPUSHBUTTON
            case 0xA:  // BS_PUSHBOX
                d.kind = ControlKind::PushButton;
                break;
            case 0x2:  // BS_CHECKBOX, BS_AUTOCHECKBOX, BS_RADIOBUTTON, BS_3STATE, BS_AUTO3STATE
            case 0x3:
            case 0x4:
            case 0x5:
            case 0x6:
            case 0x9:  // BS_AUTORADIOBUTTON
                d.kind = (c.style & kBsPushLike) ? ControlKind::PushButton : ControlKind::CheckBox;
                break;
            case 0x7:  // BS_GROUPBOX
                d.kind = ControlKind::GroupBox;
                break;
            default:  // user, owner-drawn, split buttons and command links
                return d;
        }
        d.wraps = (c.style & kBsMultiline) != 0 && d.kind != ControlKind::GroupBox;
    } else if (cls == kStaticClass) {
        uint32_t type = c.style & kSsTypeMask;
        if (type != kSsLeft && type != kSsCenter && type != kSsRight && type != kSsSimple &&
            type != kSsLeftNoWordWrap)
            return d;  // icons, bitmaps, frames, owner-drawn
        d.kind = ControlKind::Static;
        d.wraps = type == kSsLeft || type == kSsCenter || type == kSsRight;
        d.noPrefix = (c.style & kSsNoPrefix) != 0;
        d.ellipsis = (c.style & kSsEllipsisMask) != 0;
    }
    return d;
}

// The font of a dialog: the translation's "typeface,size", else the template's.
struct DialogFont {
    std::u16string typeface;
    int pointSize = 0;
    int weight = 0;
    bool italic = false;
    uint8_t charset = 0;
};

DialogFont FontOf(const DialogTemplate& t, const DialogTexts& texts) {
    DialogFont f;
    if (!t.hasFont) {
        f.typeface = u"System";  // no DS_SETFONT: the system font
        f.pointSize = 12;
    } else if (t.messageBoxFont) {
        f.typeface = u"Tahoma";  // the message box font of Wine and of Windows XP
        f.pointSize = 8;
    } else {
        f = DialogFont{t.typeface, t.pointSize, t.weight, t.italic, t.charset};
    }
    if (texts.font) {
        std::u16string_view value = *texts.font;
        size_t comma = value.find(u',');
        f.typeface = std::u16string(value.substr(0, comma));
        if (comma != std::u16string_view::npos) {
            ScannedInteger n =
                ScanInteger(value.substr(comma + 1), IntegerSyntax{.blanks = true, .sign = true});
            f.pointSize = n.negative || n.overflow || n.magnitude > 0xFFFF
                              ? 0
                              : static_cast<int>(n.magnitude);
        }
    }
    return f;
}

// The fonts opened on this thread, kept from one check to the next: opening a face and hinting
// its letters is most of the time of a small check. A font is known by its files, its size
// and the primary file's size and time of change (a file replaced is opened again); a few
// dozen are kept, then all are let go.
using OpenedKey = std::tuple<std::string, uint32_t, int>;
constexpr size_t kFontsKept = 32;

OpenedFont* Kept(const OpenedKey& key, const std::function<FontHandle()>& open) {
    thread_local std::map<OpenedKey, FontHandle> kept;
    auto it = kept.find(key);
    if (it != kept.end())
        return it->second.get();
    FontHandle font = open();
    if (!font)
        return nullptr;
    if (kept.size() >= kFontsKept)
        kept.clear();  // no font of an earlier measurement is still in use
    return kept.emplace(key, std::move(font)).first->second.get();
}

OpenedFont* Open(const FontChoice& choice, int pixels, std::string& problem) {
    // The fallbacks differ with the weight and the charset: they are part of the key.
    std::string files = choice.file.path.string();
    std::error_code ec;
    auto size = std::filesystem::file_size(choice.file.path, ec);
    auto changed = std::filesystem::last_write_time(choice.file.path, ec);
    files += '@' + std::to_string(ec ? 0 : size) + ':' +
             std::to_string(ec ? 0 : changed.time_since_epoch().count());
    for (const FontFile& f : choice.fallbacks)
        files += '|' + f.path.string() + ':' + std::to_string(f.faceIndex);
    return Kept({files, choice.file.faceIndex, pixels},
                [&] { return OpenFont(choice.file, choice.fallbacks, pixels, problem); });
}

OpenedFont* OpenByName(const FontRequest& request, std::string& problem) {
    std::string name = "name:" + ToUtf8(request.face) + (request.bold ? ",bold" : "") +
                       (request.italic ? ",italic" : "");
    return Kept({name, uint32_t{0}, request.pixels},
                [&] { return OpenFontByName(request, problem); });
}

// The file of a face as ChooseFont gives it, asked once a check.
const FontChoice& Chosen(FontCache& cache, std::u16string_view face, bool bold, bool italic,
                         uint8_t charset, const std::filesystem::path& fontDir) {
    auto key = std::make_tuple(std::u16string(face), bold, italic, charset, fontDir.string());
    auto it = cache.choices.find(key);
    if (it == cache.choices.end())
        it = cache.choices.emplace(key, ChooseFont(face, bold, italic, charset, fontDir)).first;
    return it->second;
}

}  // namespace

int LineWidth(OpenedFont& font, std::u16string_view line) {
    int tabWidth = 8 * MetricsOf(font).averageWidth;  // DT_EXPANDTABS: eight average characters
    int x = 0;
    for (;;) {
        size_t tab = line.find(u'\t');
        x += TextWidth(font, line.substr(0, tab));
        if (tab == std::u16string_view::npos)
            return x;
        x = tabWidth > 0 ? (x / tabWidth + 1) * tabWidth : x;
        line.remove_prefix(tab + 1);
    }
}

TextLines LayOutText(OpenedFont& font, std::u16string_view text, bool wraps, int width) {
    TextLines out;
    if (wraps) {
        Wrap(font, text, width, out);
        return out;
    }
    Paragraphs(text, [&](size_t from, size_t length) {
        int w = LineWidth(font, text.substr(from, length));
        out.lines.push_back({static_cast<uint32_t>(from), static_cast<uint32_t>(length), w});
        out.widest = std::max(out.widest, w);
    });
    return out;
}

bool IsDropDown(const DialogControl& c) {
    bool combo = ClassOrdinal(c.windowClass) == kComboBoxClass ||
                 (!c.windowClass.isOrdinal && SameName(c.windowClass.text, u"ComboBoxEx32"));
    return combo && (c.style & kCbsTypeMask) != kCbsSimple;
}

int ClosedComboHeight(int fontHeight) {
    return 13 * fontHeight / 8;
}

uint16_t ClassOrdinal(const DialogName& c) {
    if (c.isOrdinal)
        return c.ordinal;
    static constexpr std::u16string_view kNames[] = {u"button",  u"edit",      u"static",
                                                     u"listbox", u"scrollbar", u"combobox"};
    for (size_t i = 0; i < std::size(kNames); ++i)
        if (SameName(c.text, kNames[i]))
            return static_cast<uint16_t>(0x80 + i);
    return 0;
}

int MulDiv(int a, int b, int c) {
    if (c == 0)
        return -1;
    int64_t p = int64_t{a} * b;
    int64_t half = std::llabs(c) / 2;
    int64_t q = ((p < 0) != (c < 0)) ? (p - half) / c : (p + half) / c;
    return static_cast<int>(q);
}

std::u16string ShownText(std::u16string_view text, bool noPrefix) {
    if (noPrefix)
        return std::u16string(text);
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'&')
            out.push_back(text[i]);
        else if (i + 1 < text.size() && text[i + 1] == u'&')
            out.push_back(text[++i]);
    }
    return out;
}

DialogMeasure MeasureDialogLayout(const DialogTemplate& t, const DialogTexts& texts,
                                  FontCache& cache, const LayoutSettings& settings) {
    DialogMeasure d;
    DialogFont f = FontOf(t, texts);
    d.pointSize = f.pointSize;
    if (f.pointSize <= 0 || f.pointSize > kMaxPointSize) {
        d.problem = "a point size of " + std::to_string(f.pointSize);
        return d;
    }
    d.face = MapTypeface(f.typeface, (t.style & kDsShellFont) == kDsShellFont);
    bool bold = f.weight >= 600;
    int pixels = MulDiv(f.pointSize, settings.dpi, 72);
    d.pixels = pixels;
    OpenedFont* font = nullptr;
    if (MeasuresByName() && settings.fontFile.path.empty()) {
        // The system's own font for the face, as the dialog manager gets it.
        d.fontFile = "the system's font";
        font = OpenByName(FontRequest{d.face, pixels, bold, f.italic}, d.problem);
    } else {
        FontChoice choice = Chosen(cache, d.face, bold, f.italic, f.charset, settings.fontDir);
        if (!settings.fontFile.path.empty()) {
            // The given file, with the fallbacks of the face.
            choice.file = settings.fontFile;
            choice.standIn = false;
            std::error_code ec;
            choice.found = std::filesystem::is_regular_file(choice.file.path, ec);
            choice.problem = "no font file " + choice.file.path.string();
        }
        d.fontFile = choice.file.path.string();
        d.standIn = choice.standIn;
        if (!choice.found) {
            d.problem = choice.problem;
            return d;
        }
        font = Open(choice, pixels, d.problem);
        d.font = std::move(choice);
    }
    if (font == nullptr)
        return d;
    FontMetrics metrics = MetricsOf(*font);
    d.baseX = metrics.averageWidth;
    d.baseY = metrics.height;
    d.fontHeight = metrics.height;
    if (d.baseX <= 0 || d.baseY <= 0) {
        d.problem = "the font " + d.fontFile + " has no Latin letters to give base units";
        return d;
    }
    auto toPixels = [&](const DialogRect& r) {
        return PixelRect{MulDiv(r.x, d.baseX, 4), MulDiv(r.y, d.baseY, 8), MulDiv(r.cx, d.baseX, 4),
                         MulDiv(r.cy, d.baseY, 8)};
    };
    auto scaled = [&](int px) { return MulDiv(px, settings.dpi, 96); };
    d.rect = toPixels(t.rect);
    d.controls.reserve(t.controls.size());
    for (size_t i = 0; i < t.controls.size(); ++i) {
        const DialogControl& c = t.controls[i];
        ControlMeasure cm;
        cm.id = c.id;
        cm.rect = toPixels(c.rect);
        if (IsDropDown(c))
            cm.rect.cy = ClosedComboHeight(d.fontHeight);
        Drawing drawing = DrawingOf(c);
        cm.kind = drawing.kind;
        const std::u16string* title = i < texts.titles.size() && texts.titles[i]
                                          ? &*texts.titles[i]
                                          : (c.title.isOrdinal ? nullptr : &c.title.text);
        if (cm.kind != ControlKind::NoText && title != nullptr && !title->empty()) {
            cm.shown = ShownText(*title, drawing.noPrefix);
            int inner = cm.rect.cx, innerHeight = cm.rect.cy;
            switch (cm.kind) {
                case ControlKind::PushButton:
                    inner -= 2 * scaled(kButtonMargin);
                    innerHeight -= 2 * scaled(kButtonMargin);
                    break;
                case ControlKind::CheckBox:
                    inner -= scaled(kCheckGlyph) + scaled(kCheckGap);
                    break;
                case ControlKind::GroupBox:
                    inner -= 2 * scaled(kGroupIndent);
                    break;
                default:
                    break;
            }
            cm.measured = true;
            cm.wraps = drawing.wraps;
            cm.judged = !drawing.ellipsis;
            cm.available = std::max(inner, 0);
            TextLines laid = LayOutText(*font, cm.shown, cm.wraps, cm.available);
            cm.textLines = std::move(laid.lines);
            cm.textWidth = laid.widest;
            cm.lines = static_cast<int>(cm.textLines.size());
            cm.linesHeld =
                cm.wraps ? std::max(1, std::max(innerHeight, 0) / d.fontHeight) : cm.lines;
            cm.textHeight = cm.lines * d.fontHeight;
        }
        d.controls.push_back(cm);
    }
    d.ok = true;
    return d;
}

namespace {

// The problems of one measured control; `dialog` its dialog.
void ProblemsOf(const DialogMeasure& dialog, size_t index, std::vector<LayoutProblem>& out) {
    const ControlMeasure& c = dialog.controls[index];
    const PixelRect& r = c.rect;
    // Beyond the right edge (or left of the left edge) first, then below or above.
    if (r.x < 0 || r.x + r.cx > dialog.rect.cx)
        out.push_back(
            {LayoutIssue::Outside, index, false, r.x < 0 ? r.x : r.x + r.cx, dialog.rect.cx});
    else if (r.y < 0 || r.y + r.cy > dialog.rect.cy)
        out.push_back(
            {LayoutIssue::Outside, index, false, r.y < 0 ? r.y : r.y + r.cy, dialog.rect.cy});
    if (!c.measured || !c.judged)
        return;
    if (c.textWidth > c.available) {
        // Text that starts at the control's left edge (after a glyph) and would run past the
        // dialog's edge even in a wider control.
        int start = r.x + (c.kind == ControlKind::CheckBox ? r.cx - c.available : 0);
        bool leftAligned = c.kind == ControlKind::CheckBox || c.kind == ControlKind::Static;
        if (leftAligned && start + c.textWidth > dialog.rect.cx)
            out.push_back(
                {LayoutIssue::TextOutside, index, false, start + c.textWidth, dialog.rect.cx});
        else
            out.push_back({LayoutIssue::Clipped, index, false, c.textWidth, c.available});
    } else if (c.lines > c.linesHeld) {
        out.push_back({LayoutIssue::TooManyLines, index, false, c.lines, c.linesHeld});
    } else if (c.available > 0 && c.lines <= 1 && (!c.wraps || c.linesHeld == 1) &&
               c.textWidth * 10 > c.available * 9) {
        out.push_back({LayoutIssue::Crowded, index, false, c.textWidth, c.available});
    }
}

}  // namespace

std::vector<LayoutProblem> JudgeLayout(const DialogMeasure& source,
                                       const DialogMeasure& translated) {
    std::vector<LayoutProblem> out;
    if (!translated.ok)
        return out;
    std::vector<LayoutProblem> ofSource, ofTranslation;
    for (size_t i = 0; i < translated.controls.size(); ++i) {
        ofSource.clear();
        ofTranslation.clear();
        if (source.ok && i < source.controls.size())
            ProblemsOf(source, i, ofSource);
        ProblemsOf(translated, i, ofTranslation);
        for (LayoutProblem p : ofTranslation) {
            // The same kind of problem in the source (a clipped text that is clipped, or runs
            // out of the dialog, there too) is the source's.
            auto isError = [](LayoutIssue issue) {
                return issue == LayoutIssue::Clipped || issue == LayoutIssue::TextOutside;
            };
            p.sourceToo =
                std::any_of(ofSource.begin(), ofSource.end(), [&](const LayoutProblem& s) {
                    return s.issue == p.issue || (isError(s.issue) && isError(p.issue));
                });
            // A source crowded already is no news.
            if (p.issue == LayoutIssue::Crowded && p.sourceToo)
                continue;
            out.push_back(p);
        }
    }
    return out;
}

}  // namespace quelvar
