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

constexpr uint16_t kOrdinalMark = 0xFFFF;
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

size_t Align4(uint32_t dataRva, size_t offset) {
    uint64_t at = uint64_t{dataRva} + offset;
    return offset + static_cast<size_t>((4 - at % 4) % 4);
}

// Reads a text and its zero unit. False when the text runs past the data.
bool ReadText(const uint8_t* data, size_t size, size_t& pos, std::u16string* text) {
    for (;;) {
        if (!InBounds(size, pos, 2))
            return false;
        uint16_t unit = Load16(data + pos);
        pos += 2;
        if (unit == 0)
            return true;
        if (text != nullptr)
            text->push_back(static_cast<char16_t>(unit));
    }
}

// Reads an ordinal (0xFFFF and a 16-bit number) or a text.
bool ReadOrdinalOrText(const uint8_t* data, size_t size, size_t& pos, OrdinalOrText& out) {
    if (!InBounds(size, pos, 2))
        return false;
    if (Load16(data + pos) == kOrdinalMark) {
        if (!InBounds(size, pos, 4))
            return false;
        out.isOrdinal = true;
        out.ordinal = Load16(data + pos + 2);
        pos += 4;
        return true;
    }
    out.isOrdinal = false;
    return ReadText(data, size, pos, &out.text);
}

DialogRect ReadRect(const uint8_t* p) {
    auto at = [&](int i) { return static_cast<int16_t>(Load16(p + 2 * i)); };
    return DialogRect{at(0), at(1), at(2), at(3)};
}

// Reads the template; `fontFields` tells whether a point size of 0x7FFF is followed by the
// other font fields (the point size is the whole font block otherwise).
bool ReadShape(uint32_t dataRva, const uint8_t* data, size_t size, const TemplateShape& shape,
               bool fontFields, DialogTemplate& t) {
    t = DialogTemplate();
    if (size < shape.menuOffset)
        return false;
    t.extended = shape.countedExtra;
    t.style = Load32(data + shape.styleOffset);
    t.exStyle = Load32(data + shape.exStyleOffset);
    t.rect = ReadRect(data + shape.rectOffset);
    size_t count = Load16(data + shape.countOffset);

    size_t pos = shape.menuOffset;
    if (!ReadOrdinalOrText(data, size, pos, t.menu) ||
        !ReadOrdinalOrText(data, size, pos, t.windowClass))
        return false;
    t.captionStart = pos;
    if (!ReadText(data, size, pos, &t.caption))
        return false;
    t.captionEnd = pos;
    t.typefaceStart = pos;
    if (t.style & kDsSetFont) {
        if (!InBounds(size, pos, 2))
            return false;
        t.hasFont = true;
        t.pointSize = Load16(data + pos);
        if (t.pointSize == kMessageBoxPointSize && !fontFields) {
            t.messageBoxFont = true;
            pos += 2;
        } else {
            if (!InBounds(size, pos, shape.fontFixed))
                return false;
            if (t.extended) {
                t.weight = Load16(data + pos + 2);
                t.italic = data[pos + 4] != 0;
                t.charset = data[pos + 5];
            }
            pos += shape.fontFixed;
            t.hasTypeface = true;
            t.typefaceStart = pos;
            if (!ReadText(data, size, pos, &t.typeface))
                return false;
        }
    }
    t.headerEnd = pos;

    // Each control takes at least its fixed part: a count that the data cannot hold is
    // refused before anything is reserved.
    if (count > size / shape.controlFixed)
        return false;
    t.controls.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        DialogControl control;
        control.start = Align4(dataRva, pos);
        if (!InBounds(size, control.start, shape.controlFixed))
            return false;
        const uint8_t* fixed = data + control.start;
        control.style = Load32(fixed + shape.controlStyle);
        control.exStyle = Load32(fixed + shape.controlExStyle);
        control.rect = ReadRect(fixed + shape.controlRect);
        control.id = Load16(fixed + shape.idOffset);
        pos = control.start + shape.controlFixed;
        if (!ReadOrdinalOrText(data, size, pos, control.windowClass))
            return false;
        control.titleStart = pos;
        if (!ReadOrdinalOrText(data, size, pos, control.title))
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
    if (end > size || Align4(dataRva, end) < size)
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
    ExportText(ctx, TextKey(u"HEAD"), caption);
    if (layout.hasTypeface) {
        ctx.place = u"dialog font: typeface,point size";
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
    if (!ReadShape(dataRva, data, size, shape, false, t))
        return ReadShape(dataRva, data, size, shape, true, t) && t.hasTypeface &&
               EndsAtSize(dataRva, data, size, t);
    if (!t.messageBoxFont)
        return true;  // no 0x7FFF point size: one reading only
    if (EndsAtSize(dataRva, data, size, t))
        return true;
    return ReadShape(dataRva, data, size, shape, true, t) && EndsAtSize(dataRva, data, size, t);
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
