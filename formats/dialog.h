// A dialog template as one record: the standard layout (DLGTEMPLATE with DLGITEMTEMPLATE
// controls) and the extended one (DLGTEMPLATEEX with DLGITEMTEMPLATEEX controls) read by one
// function. The dialog handler exports and rebuilds through it; the layout check measures it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quelvar {

constexpr uint32_t kDsSetFont = 0x40;
constexpr uint32_t kDsFixedSys = 0x08;
constexpr uint32_t kDsShellFont = kDsSetFont | kDsFixedSys;
// A point size of 0x7FFF asks for the message box font.
constexpr uint16_t kMessageBoxPointSize = 0x7FFF;

// A field that is either a 16-bit ordinal (0xFFFF and a number) or a text, with its text.
struct DialogName {
    bool isOrdinal = false;
    uint16_t ordinal = 0;
    std::u16string text;
};

// A rectangle in dialog units.
struct DialogRect {
    int16_t x = 0, y = 0, cx = 0, cy = 0;
};

struct DialogControl {
    uint32_t style = 0, exStyle = 0;
    DialogRect rect;
    uint16_t id = 0;         // only the low 16 bits of an extended control's id are used
    DialogName windowClass;  // 0x80 Button, 0x81 Edit, 0x82 Static, 0x83 ListBox,
                             // 0x84 ScrollBar, 0x85 ComboBox, or a class name
    DialogName title;
    // Where its parts lie in the data: the fixed part, the title, the end of the title (after
    // its ordinal or zero unit) and the end of the creation data, which is skipped.
    size_t start = 0, titleStart = 0, titleEnd = 0, end = 0;
};

struct DialogTemplate {
    bool extended = false;
    uint32_t style = 0, exStyle = 0;
    DialogRect rect;
    DialogName menu, windowClass;
    std::u16string caption;
    // The font block (DS_SETFONT). `messageBoxFont` for a point size of 0x7FFF read without
    // further fields; weight, italic and charset only in an extended template.
    bool hasFont = false;
    bool messageBoxFont = false;
    uint16_t pointSize = 0;
    uint16_t weight = 0;
    bool italic = false;
    uint8_t charset = 0;
    std::u16string typeface;
    bool hasTypeface = false;  // a typeface field is present
    // Where the header's parts lie: the caption, the end of its zero unit, the typeface (after
    // the fixed font bytes) and the end of the header.
    size_t captionStart = 0, captionEnd = 0, typefaceStart = 0, headerEnd = 0;
    std::vector<DialogControl> controls;
};

// Reads a template whole: false when its counts, terminators or creation data run past the
// data. `dataRva` is the data's address in the image: controls start on 4-byte boundaries of
// the image's addresses. A point size of 0x7FFF is read both with and without the further
// font fields; the reading under which the controls end where the data ends is taken.
bool ReadDialogTemplate(std::span<const uint8_t> data, uint32_t dataRva, DialogTemplate& out);

}  // namespace quelvar
