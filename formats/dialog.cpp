// Dialog templates, standard (DLGTEMPLATE with DLGITEMTEMPLATE controls) and extended
// (DLGTEMPLATEEX with DLGITEMTEMPLATEEX controls). Their texts are the caption ("HEAD"), the
// font ("FONT", typeface and point size as "<typeface>,<size>") and every control title given
// as text, keyed by the control id or, for id 0xFFFF, by "S0", "S1", ... in control order.
//
// A template is measured whole before anything is emitted or written: one whose counts,
// terminators or creation data run past its data is no template, is copied unchanged on
// import and yields no lines on export.
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/number.h"
#include "base/utf16.h"
#include "formats/handlers.h"

namespace quelvar {

namespace {

constexpr uint32_t kDsSetFont = 0x40;  // DS_SHELLFONT includes this bit
constexpr uint16_t kOrdinalMark = 0xFFFF;
constexpr uint16_t kNoControlId = 0xFFFF;
// A point size of 0x7FFF asks for the message box font: the system reads no further font
// fields (no weight, italic, charset or typeface) from such a template, and templates built
// for it (Wine's message boxes) have none. GNU windres writes them all the same. Such a
// template is read both ways, and the reading under which the controls end where the data
// ends is taken (see MeasureTemplate).
constexpr uint16_t kMessageBoxFont = 0x7FFF;

// Where the fields of one of the two layouts lie.
struct TemplateShape {
    size_t styleOffset;    // u32 style of the dialog
    size_t exStyleOffset;  // u32 extended style of the dialog
    size_t countOffset;    // u16 number of controls
    size_t menuOffset;     // first variable field, after the fixed header
    size_t fontFixed;      // bytes of the font block before the typeface
    size_t controlFixed;   // fixed part of a control
    size_t controlStyle;   // u32 style of a control
    size_t idOffset;       // control id (only its low 16 bits are used)
    bool countedExtra;     // creation data: 2 + count bytes (else the count includes itself)
};

constexpr TemplateShape kStandard{0, 4, 8, 18, 2, 18, 0, 16, false};
constexpr TemplateShape kExtended{12, 8, 16, 26, 6, 24, 8, 20, true};

constexpr uint32_t kWsExLayoutRtl = 0x00400000;

struct ControlLayout {
    size_t start;       // the fixed part
    size_t titleStart;  // after the class field
    size_t titleEnd;    // after the title: its ordinal or its zero unit
    size_t end;         // after the creation data
    size_t classStart;  // the class field
    uint16_t id;
    bool titleIsText;
};

struct DialogLayout {
    size_t captionStart;
    size_t captionEnd;     // after the caption's zero unit
    bool hasTypeface;      // DS_SETFONT and a point size other than 0x7FFF
    size_t typefaceStart;  // after the fixed font bytes
    size_t headerEnd;
    std::vector<ControlLayout> controls;
};

// Steps over a text and its zero unit. False when the text runs past the data.
bool SkipText(const uint8_t* data, size_t size, size_t& pos) {
    for (;;) {
        if (!InBounds(size, pos, 2))
            return false;
        uint16_t unit = Load16(data + pos);
        pos += 2;
        if (unit == 0)
            return true;
    }
}

// Steps over an ordinal (0xFFFF and a 16-bit number) or a text.
bool SkipOrdinalOrText(const uint8_t* data, size_t size, size_t& pos) {
    if (!InBounds(size, pos, 2))
        return false;
    if (Load16(data + pos) == kOrdinalMark) {
        if (!InBounds(size, pos, 4))
            return false;
        pos += 4;
        return true;
    }
    return SkipText(data, size, pos);
}

// Measures the template; `fontFields` tells whether a point size of 0x7FFF is followed by the
// other font fields (the point size is the whole font block otherwise).
bool MeasureDialog(const ResourceContext& ctx, const uint8_t* data, size_t size,
                   const TemplateShape& shape, bool fontFields, DialogLayout& layout) {
    if (size < shape.menuOffset)
        return false;
    uint32_t style = Load32(data + shape.styleOffset);
    size_t count = Load16(data + shape.countOffset);

    size_t pos = shape.menuOffset;
    if (!SkipOrdinalOrText(data, size, pos) || !SkipOrdinalOrText(data, size, pos))
        return false;
    layout.captionStart = pos;
    if (!SkipText(data, size, pos))
        return false;
    layout.captionEnd = pos;
    layout.hasTypeface = false;
    layout.typefaceStart = pos;
    if (style & kDsSetFont) {
        if (!InBounds(size, pos, 2))
            return false;
        if (Load16(data + pos) == kMessageBoxFont && !fontFields) {
            pos += 2;
        } else {
            if (!InBounds(size, pos, shape.fontFixed))
                return false;
            pos += shape.fontFixed;
            layout.hasTypeface = true;
            layout.typefaceStart = pos;
            if (!SkipText(data, size, pos))
                return false;
        }
    }
    layout.headerEnd = pos;

    layout.controls.clear();
    for (size_t i = 0; i < count; ++i) {
        ControlLayout control{};
        control.start = SourceAlign4(ctx, pos);
        if (!InBounds(size, control.start, shape.controlFixed))
            return false;
        control.id = Load16(data + control.start + shape.idOffset);
        pos = control.start + shape.controlFixed;
        control.classStart = pos;
        if (!SkipOrdinalOrText(data, size, pos))
            return false;
        control.titleStart = pos;
        if (!InBounds(size, pos, 2))
            return false;
        control.titleIsText = Load16(data + pos) != kOrdinalMark;
        if (!SkipOrdinalOrText(data, size, pos))
            return false;
        control.titleEnd = pos;
        if (!InBounds(size, pos, 2))
            return false;
        size_t extra = Load16(data + pos);
        // Standard: the size counts its own word, and 0 (or a size too small to hold the
        // word) means the word alone. Extended: the count of bytes after the word.
        size_t length = shape.countedExtra ? 2 + extra : (extra < 2 ? 2 : extra);
        if (!InBounds(size, pos, length))
            return false;
        pos += length;
        control.end = pos;
        layout.controls.push_back(control);
    }
    return true;
}

size_t UnitsFrom(size_t size, size_t pos) {
    return (size - pos) / 2;
}

std::u16string ReadText(const uint8_t* data, size_t size, size_t pos) {
    std::u16string text;
    for (; InBounds(size, pos, 2) && Load16(data + pos) != 0; pos += 2)
        text.push_back(static_cast<char16_t>(Load16(data + pos)));
    return text;
}

// The font as one text: the typeface, a comma and the point size in decimal.
std::u16string FontValue(const uint8_t* data, size_t size, const DialogLayout& layout) {
    std::u16string value = ReadText(data, size, layout.typefaceStart);
    value.push_back(u',');
    AppendDecimal(value, Load16(data + layout.captionEnd));
    return value;
}

// The item key of a control title given as text: its id, or the next S key for 0xFFFF.
ItemKey ControlKey(const ControlLayout& control, uint32_t& sCounter, std::u16string& sKey) {
    if (control.id != kNoControlId)
        return NumberKey(control.id);
    sKey.clear();
    sKey.push_back(u'S');
    AppendDecimal(sKey, sCounter++);
    return TextKey(sKey);
}

// Export: the class and style of a control, for the checks.
void DescribeControl(ResourceContext& ctx, const uint8_t* data, size_t size,
                     const TemplateShape& shape, const ControlLayout& control,
                     std::u16string& className) {
    ctx.control.style = Load32(data + control.start + shape.controlStyle);
    ctx.control.ordinal = 0;
    ctx.control.name = {};
    if (Load16(data + control.classStart) == kOrdinalMark) {
        ctx.control.ordinal = Load16(data + control.classStart + 2);
    } else {
        className = ReadText(data, size, control.classStart);
        ctx.control.name = className;
    }
}

void ExportDialog(ResourceContext& ctx, const uint8_t* data, size_t size,
                  const TemplateShape& shape, const DialogLayout& layout) {
    // Every text of a dialog is seen together.
    ctx.group = 1;
    std::u16string caption = ReadText(data, size, layout.captionStart);
    ctx.place = u"dialog caption";
    ctx.role = TextRole::Caption;
    ExportText(ctx, TextKey(u"HEAD"), caption);
    if (layout.hasTypeface) {
        ctx.place = u"dialog font: typeface,point size";
        ctx.role = TextRole::Font;
        ExportText(ctx, TextKey(u"FONT"), FontValue(data, size, layout));
    }
    // Controls are placed by the dialog's caption or, without one, its name.
    if (caption.empty())
        ctx.place = u"dialog " + std::u16string(ctx.resource.name);
    else
        ctx.place = u"dialog \"" + caption + u"\"";
    uint32_t sCounter = 0;
    std::u16string sKey, className;
    for (const ControlLayout& control : layout.controls) {
        if (!control.titleIsText)
            continue;
        ItemKey key = ControlKey(control, sCounter, sKey);
        ctx.role = TextRole::Control;
        if (ctx.describe)
            DescribeControl(ctx, data, size, shape, control, className);
        ExportText(ctx, key, data + control.titleStart, UnitsFrom(size, control.titleStart), -1);
    }
}

// Reads a point size as a signed decimal number after optional blanks, up to the first unit
// that is not part of it (no number reads as 0), and keeps its low 16 bits.
uint16_t ParsePointSize(std::u16string_view text) {
    ScannedInteger n = ScanInteger(text, IntegerSyntax{.blanks = true, .sign = true});
    uint64_t value = n.negative ? 0 - n.magnitude : n.magnitude;
    return static_cast<uint16_t>(value);
}

void OutputText(ResourceContext& ctx, std::u16string_view text) {
    AppendUnits(*ctx.writer, text);
    Append16(*ctx.writer, 0);
}

// Writes the font block. Without a "FONT" line, or with the very value that export writes for
// this template, the block stays as it was (so a typeface that itself holds a comma survives).
// Otherwise the value is split at its first comma into the typeface and the point size; a
// value without a comma sets the typeface alone. Weight, italic and charset are kept.
void RebuildFont(ResourceContext& ctx, const uint8_t* data, size_t size, const TemplateShape& shape,
                 const DialogLayout& layout) {
    SectionWriter& out = *ctx.writer;
    std::span<const uint8_t> fixed(data + layout.captionEnd, shape.fontFixed);
    if (!LookUpText(ctx, TextKey(u"FONT"), false) || ctx.text == FontValue(data, size, layout)) {
        Append(out, fixed);
        Append(out, std::span(data + layout.typefaceStart, data + layout.headerEnd));
        return;
    }
    std::u16string_view value = ctx.text;
    size_t comma = value.find(u',');
    if (comma == std::u16string_view::npos) {
        Append(out, fixed);
        OutputText(ctx, value);
        return;
    }
    Append16(out, ParsePointSize(value.substr(comma + 1)));
    Append(out, fixed.subspan(2));
    OutputText(ctx, value.substr(0, comma));
}

// Whether the rebuilt dialog is laid out right to left: always or never as chosen, else when
// it receives a new language id that is written right to left.
bool MirrorDialog(const ResourceContext& ctx) {
    switch (ctx.rightToLeft) {
        case RightToLeft::Always:
            return true;
        case RightToLeft::Never:
            return false;
        default:
            return ctx.targetLanguage != ctx.resource.language &&
                   ctx.targetLanguage != kNamedLanguage &&
                   IsRightToLeftLanguage(ctx.targetLanguage);
    }
}

void RebuildDialog(ResourceContext& ctx, const uint8_t* data, size_t size,
                   const TemplateShape& shape, const DialogLayout& layout) {
    SectionWriter& out = *ctx.writer;
    auto copy = [&](size_t from, size_t to) { Append(out, std::span(data + from, data + to)); };
    size_t start = Position(out);
    copy(0, layout.captionStart);
    if (MirrorDialog(ctx))
        Patch32(out, start + shape.exStyleOffset,
                Load32(data + shape.exStyleOffset) | kWsExLayoutRtl);
    ImportText(ctx, TextKey(u"HEAD"), data + layout.captionStart,
               UnitsFrom(size, layout.captionStart), -1);
    if (layout.hasTypeface)
        RebuildFont(ctx, data, size, shape, layout);
    else
        copy(layout.captionEnd, layout.headerEnd);

    uint32_t sCounter = 0;
    std::u16string sKey;
    for (const ControlLayout& control : layout.controls) {
        // Every control starts on a 4-byte boundary of the new section.
        AlignTo(out, 4);
        copy(control.start, control.titleStart);
        if (control.titleIsText) {
            ItemKey key = ControlKey(control, sCounter, sKey);
            ImportText(ctx, key, data + control.titleStart, UnitsFrom(size, control.titleStart),
                       -1);
        } else {
            copy(control.titleStart, control.titleEnd);
        }
        copy(control.titleEnd, control.end);
    }
}

// The end of the last control (or of the header without controls).
size_t LayoutEnd(const DialogLayout& layout) {
    return layout.controls.empty() ? layout.headerEnd : layout.controls.back().end;
}

// True when a layout accounts for the whole template: after its end come at most the fill
// bytes up to the next 4-byte boundary, all zero.
bool EndsAtSize(const ResourceContext& ctx, const uint8_t* data, size_t size,
                const DialogLayout& layout) {
    size_t end = LayoutEnd(layout);
    if (end > size || SourceAlign4(ctx, end) < size)
        return false;
    for (size_t i = end; i < size; ++i)
        if (data[i] != 0)
            return false;
    return true;
}

// Measures the template. With a point size of 0x7FFF, the reading without font fields is taken
// when the controls end at the data's end under it, else the reading with them when they do
// there; under neither the template is not measured (import copies it, so no byte is lost).
bool MeasureTemplate(const ResourceContext& ctx, const uint8_t* data, size_t size,
                     const TemplateShape& shape, DialogLayout& layout) {
    if (!MeasureDialog(ctx, data, size, shape, false, layout))
        return MeasureDialog(ctx, data, size, shape, true, layout) && layout.hasTypeface &&
               EndsAtSize(ctx, data, size, layout);
    if (layout.hasTypeface || layout.typefaceStart == layout.headerEnd)
        return true;  // no 0x7FFF point size: one reading only
    if (EndsAtSize(ctx, data, size, layout))
        return true;
    return MeasureDialog(ctx, data, size, shape, true, layout) &&
           EndsAtSize(ctx, data, size, layout);
}

void ProcessTemplate(ResourceContext& ctx, const uint8_t* data, size_t size,
                     const TemplateShape& shape) {
    DialogLayout layout;
    if (!MeasureTemplate(ctx, data, size, shape, layout)) {
        CopyUnchanged(ctx, std::span(data, size));
        return;
    }
    if (IsImport(ctx))
        RebuildDialog(ctx, data, size, shape, layout);
    else
        ExportDialog(ctx, data, size, shape, layout);
}

}  // namespace

void ProcessDialogResource(ResourceContext& ctx, std::span<const uint8_t> data) {
    if (data.size() < 4)
        CopyUnchanged(ctx, data);
    else if (Load16(data.data() + 2) == 0xFFFF)
        ProcessTemplate(ctx, data.data(), data.size(), kExtended);
    else
        ProcessTemplate(ctx, data.data(), data.size(), kStandard);
}

}  // namespace quelvar
