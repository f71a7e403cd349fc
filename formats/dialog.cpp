// Dialog templates, standard (DLGTEMPLATE with DLGITEMTEMPLATE controls) and extended
// (DLGTEMPLATEEX with DLGITEMTEMPLATEEX controls). Their texts are the caption ("HEAD"), the
// font ("FONT", typeface and point size as "<typeface>,<size>") and every control title given
// as text, keyed by the control id or, for id 0xFFFF, by "S0", "S1", ... in control order.
//
// A template is read whole (ReadDialogTemplate) before anything is emitted or written: one
// whose counts, terminators or creation data run past its data is no template, is copied
// unchanged on import and yields no lines on export.
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/number.h"
#include "base/utf16.h"
#include "formats/dialog.h"
#include "formats/handlers.h"

namespace quelvar {

namespace {

constexpr uint16_t kNoControlId = 0xFFFF;
// A point size of 0x7FFF asks for the message box font: the system reads no further font
// fields (no weight, italic, charset or typeface) from such a template, and templates built
// for it (Wine's message boxes) have none. GNU windres writes them all the same. Such a
// template is read both ways, and the reading under which the controls end where the data
// ends is taken (see ReadDialogTemplate).

// Where the fields of one of the two layouts lie.
struct TemplateShape {
    size_t styleOffset;     // u32 style of the dialog
    size_t exStyleOffset;   // u32 extended style of the dialog
    size_t countOffset;     // u16 number of controls
    size_t rectOffset;      // four i16: x, y, cx, cy
    size_t menuOffset;      // first variable field, after the fixed header
    size_t fontFixed;       // bytes of the font block before the typeface
    size_t controlFixed;    // fixed part of a control
    size_t controlStyle;    // u32 style of a control
    size_t controlExStyle;  // u32 extended style of a control
    size_t controlRect;     // four i16 of a control
    size_t idOffset;        // control id (only its low 16 bits are used)
    bool countedExtra;      // creation data: 2 + count bytes (else the count includes itself)
};

constexpr TemplateShape kStandard{0, 4, 8, 10, 18, 2, 18, 0, 4, 8, 16, false};
constexpr TemplateShape kExtended{12, 8, 16, 18, 26, 6, 24, 8, 4, 12, 20, true};

constexpr uint32_t kWsExLayoutRtl = 0x00400000;

// The text of a field that the cursor read.
std::u16string TextOf(std::span<const uint8_t> bytes, TextField field) {
    std::u16string text;
    UnitsOf(bytes, field, text);
    return text;
}

DialogName NameOf(std::span<const uint8_t> bytes, const OrdinalOrText& field) {
    DialogName name;
    name.isOrdinal = field.isOrdinal;
    name.ordinal = field.ordinal;
    if (!field.isOrdinal)
        name.text = TextOf(bytes, field.text);
    return name;
}

DialogRect ReadRect(CheckedReader& r, size_t at) {
    auto field = [&](size_t i) { return static_cast<int16_t>(r.U16(at + 2 * i)); };
    return DialogRect{field(0), field(1), field(2), field(3)};
}

// Reads the template; `fontFields` tells whether a point size of 0x7FFF is followed by the
// other font fields (the point size is the whole font block otherwise).
bool ReadShape(uint32_t dataRva, std::span<const uint8_t> bytes, const TemplateShape& shape,
               bool fontFields, DialogTemplate& t) {
    t = DialogTemplate();
    if (bytes.size() < shape.menuOffset)
        return false;
    CheckedReader r{bytes, dataRva};
    t.extended = shape.countedExtra;
    t.style = r.U32(shape.styleOffset);
    t.exStyle = r.U32(shape.exStyleOffset);
    t.rect = ReadRect(r, shape.rectOffset);
    size_t count = r.U16(shape.countOffset);

    r.pos = shape.menuOffset;
    t.menu = NameOf(bytes, r.Field());
    t.windowClass = NameOf(bytes, r.Field());
    t.captionStart = r.pos;
    TextField caption = r.Text();
    if (!r.ok)
        return false;
    t.caption = TextOf(bytes, caption);
    t.captionEnd = r.pos;
    t.typefaceStart = r.pos;
    if (t.style & kDsSetFont) {
        t.hasFont = true;
        t.pointSize = r.U16(r.pos);
        if (t.pointSize == kMessageBoxPointSize && !fontFields) {
            t.messageBoxFont = true;
            r.Skip(2);
        } else {
            size_t fixed = r.pos;
            if (!r.Skip(shape.fontFixed))
                return false;
            if (t.extended) {
                t.weight = r.U16(fixed + 2);
                t.italic = bytes[fixed + 4] != 0;
                t.charset = bytes[fixed + 5];
            }
            t.hasTypeface = true;
            t.typefaceStart = r.pos;
            TextField typeface = r.Text();
            if (r.ok)
                t.typeface = TextOf(bytes, typeface);
        }
    }
    if (!r.ok)
        return false;
    t.headerEnd = r.pos;

    // Each control takes at least its fixed part: a count that the data cannot hold is
    // refused before anything is reserved.
    if (count > bytes.size() / shape.controlFixed)
        return false;
    t.controls.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        DialogControl control;
        r.Align4();
        control.start = r.pos;
        if (!r.Skip(shape.controlFixed))
            return false;
        control.style = r.U32(control.start + shape.controlStyle);
        control.exStyle = r.U32(control.start + shape.controlExStyle);
        control.rect = ReadRect(r, control.start + shape.controlRect);
        control.id = r.U16(control.start + shape.idOffset);
        control.windowClass = NameOf(bytes, r.Field());
        control.titleStart = r.pos;
        OrdinalOrText title = r.Field();
        if (!r.ok)
            return false;
        control.title = NameOf(bytes, title);
        control.titleEnd = r.pos;
        // Standard: the size counts its own word, and 0 (or a size too small to hold the
        // word) means the word alone. Extended: the count of bytes after the word.
        size_t extra = r.Read16();
        r.Skip(shape.countedExtra ? extra : (extra < 2 ? 0 : extra - 2));
        if (!r.ok)
            return false;
        control.end = r.pos;
        t.controls.push_back(std::move(control));
    }
    return true;
}

// The end of the last control (or of the header without controls).
size_t TemplateEnd(const DialogTemplate& t) {
    return t.controls.empty() ? t.headerEnd : t.controls.back().end;
}

// True when a reading accounts for the whole template: after its end come at most the fill
// bytes up to the next 4-byte boundary, all zero.
bool EndsAtSize(uint32_t dataRva, const uint8_t* data, size_t size, const DialogTemplate& t) {
    size_t end = TemplateEnd(t);
    CheckedReader fill{std::span(data, size), dataRva, end};
    if (end > size || (fill.Align4() && fill.pos < size))
        return false;
    for (size_t i = end; i < size; ++i)
        if (data[i] != 0)
            return false;
    return true;
}

size_t UnitsFrom(size_t size, size_t pos) {
    return (size - pos) / 2;
}

// The font as one text: the typeface, a comma and the point size in decimal.
std::u16string FontValue(const DialogTemplate& t) {
    std::u16string value = t.typeface;
    value.push_back(u',');
    AppendDecimal(value, t.pointSize);
    return value;
}

// The item key of a control title given as text: its id, or the next S key for 0xFFFF.
ItemKey ControlKey(const DialogControl& control, uint32_t& sCounter, std::u16string& sKey) {
    if (control.id != kNoControlId)
        return NumberKey(control.id);
    sKey.clear();
    sKey.push_back(u'S');
    AppendDecimal(sKey, sCounter++);
    return TextKey(sKey);
}

void ExportDialog(ResourceContext& ctx, const uint8_t* data, size_t size,
                  const DialogTemplate& layout) {
    // Every text of a dialog is seen together.
    ctx.group = 1;
    const std::u16string& caption = layout.caption;
    ctx.place = u"dialog caption";
    ctx.role = TextRole::Caption;
    ExportText(ctx, TextKey(u"HEAD"), caption);
    if (layout.hasTypeface) {
        ctx.place = u"dialog font: typeface,point size";
        ctx.role = TextRole::Font;
        ExportText(ctx, TextKey(u"FONT"), FontValue(layout));
    }
    // Controls are placed by the dialog's caption or, without one, its name.
    if (caption.empty())
        ctx.place = u"dialog " + std::u16string(ctx.resource.name);
    else
        ctx.place = u"dialog \"" + caption + u"\"";
    uint32_t sCounter = 0;
    std::u16string sKey;
    for (const DialogControl& control : layout.controls) {
        if (control.title.isOrdinal)
            continue;
        ItemKey key = ControlKey(control, sCounter, sKey);
        // The class and style of a control, for the checks.
        ctx.role = TextRole::Control;
        ctx.control.style = control.style;
        ctx.control.ordinal = control.windowClass.isOrdinal ? control.windowClass.ordinal : 0;
        ctx.control.name =
            control.windowClass.isOrdinal ? std::u16string_view() : control.windowClass.text;
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
void RebuildFont(ResourceContext& ctx, const uint8_t* data, const TemplateShape& shape,
                 const DialogTemplate& layout) {
    SectionWriter& out = *ctx.writer;
    std::span<const uint8_t> fixed(data + layout.captionEnd, shape.fontFixed);
    if (!LookUpText(ctx, TextKey(u"FONT"), false) || ctx.text == FontValue(layout)) {
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
                   const TemplateShape& shape, const DialogTemplate& layout) {
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
        RebuildFont(ctx, data, shape, layout);
    else
        copy(layout.captionEnd, layout.headerEnd);

    uint32_t sCounter = 0;
    std::u16string sKey;
    for (const DialogControl& control : layout.controls) {
        // Every control starts on a 4-byte boundary of the new section.
        AlignTo(out, 4);
        copy(control.start, control.titleStart);
        if (!control.title.isOrdinal) {
            ItemKey key = ControlKey(control, sCounter, sKey);
            ImportText(ctx, key, data + control.titleStart, UnitsFrom(size, control.titleStart),
                       -1);
        } else {
            copy(control.titleStart, control.titleEnd);
        }
        copy(control.titleEnd, control.end);
    }
}

void ProcessTemplate(ResourceContext& ctx, std::span<const uint8_t> data,
                     const TemplateShape& shape) {
    DialogTemplate layout;
    if (!ReadDialogTemplate(data, ctx.dataRva, layout)) {
        CopyUnchanged(ctx, data);
        return;
    }
    if (IsImport(ctx))
        RebuildDialog(ctx, data.data(), data.size(), shape, layout);
    else
        ExportDialog(ctx, data.data(), data.size(), layout);
}

}  // namespace

bool ReadDialogTemplate(std::span<const uint8_t> bytes, uint32_t dataRva, DialogTemplate& t) {
    if (bytes.size() < 4)
        return false;
    const uint8_t* data = bytes.data();
    size_t size = bytes.size();
    const TemplateShape& shape = Load16(data + 2) == 0xFFFF ? kExtended : kStandard;
    if (!ReadShape(dataRva, bytes, shape, false, t))
        return ReadShape(dataRva, bytes, shape, true, t) && t.hasTypeface &&
               EndsAtSize(dataRva, data, size, t);
    if (!t.messageBoxFont)
        return true;  // no 0x7FFF point size: one reading only
    if (EndsAtSize(dataRva, data, size, t))
        return true;
    return ReadShape(dataRva, bytes, shape, true, t) && EndsAtSize(dataRva, data, size, t);
}

void ProcessDialogResource(ResourceContext& ctx, std::span<const uint8_t> data) {
    if (data.size() < 4)
        CopyUnchanged(ctx, data);
    else if (Load16(data.data() + 2) == 0xFFFF)
        ProcessTemplate(ctx, data, kExtended);
    else
        ProcessTemplate(ctx, data, kStandard);
}

}  // namespace quelvar
