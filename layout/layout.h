// The layout of a dialog as the system makes it: the dialog's font, its base units, every
// control's rectangle in pixels and the extent of its text as the control draws it, and the
// findings of a translated dialog judged against its source measured the same way.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "formats/dialog.h"
#include "layout/fonts.h"
#include "layout/measure.h"

namespace quelvar {

struct LayoutSettings {
    std::filesystem::path fontDir;  // a copy of a Windows Fonts folder; empty: stand-ins
    int dpi = 96;                   // 96, 120, 144 or 192
    // When its path is set: the file every dialog is measured with, whatever its typeface
    // (the file a reference measurement reports the system took the dialog's font from).
    FontFile fontFile;
};

// The font files chosen so far for a dialog's face, kept for the next dialogs of one check.
// (The fonts opened are kept on their thread for the next checks as well.)
struct FontCache {
    std::map<std::tuple<std::u16string, bool, bool, uint8_t, std::string>, FontChoice> choices;
};

// How a control draws its text.
enum class ControlKind {
    PushButton,
    CheckBox,  // check boxes and radio buttons: a glyph, a gap, the text
    GroupBox,
    Static,  // a static text; wraps unless single-line
    NoText,  // an edit, list, combo box, scroll bar, picture, owner-drawn or unknown control
};

struct PixelRect {
    int x = 0, y = 0, cx = 0, cy = 0;
};

// One line of a text as the control draws it: its place in the shown text, its width.
struct TextLine {
    uint32_t start = 0, length = 0;
    int width = 0;  // tabs expanded
};

struct TextLines {
    std::vector<TextLine> lines;
    int widest = 0;  // the widest line, with the space a wrapped line broke at
};

struct ControlMeasure {
    uint16_t id = 0;
    ControlKind kind = ControlKind::NoText;
    PixelRect rect;         // as the control's window is placed: a drop-down combo box closed
    bool measured = false;  // it has a text that was measured
    bool wraps = false;     // word-wrapped to its width (DT_WORDBREAK)
    bool judged = false;    // measured and not shortened by the control itself (an ellipsis)
    int textWidth = 0;      // the widest line (one line: the whole text), with its offsets
    int textHeight = 0;     // lines times the font's height
    int available = 0;      // the width the control gives its text
    int lines = 0, linesHeld = 0;     // wrapping controls
    std::u16string shown;             // the text as shown ('&' marks taken out)
    std::vector<TextLine> textLines;  // `shown` broken into the lines it is drawn in
};

struct DialogMeasure {
    bool ok = false;
    std::string problem;  // why it was not measured
    std::u16string face;  // the face measured with
    std::string fontFile;
    FontChoice font;  // the files measured with (none in builds that open fonts by name)
    int pixels = 0;   // the font's em
    bool standIn = false;
    int pointSize = 0;
    int baseX = 0, baseY = 0;
    int fontHeight = 0;
    PixelRect rect;                        // the client area
    std::vector<ControlMeasure> controls;  // one per control of the template
};

// What a translation changes of a dialog: its "typeface,size" and its controls' titles (one
// per control; empty optionals keep the template's).
struct DialogTexts {
    std::optional<std::u16string> font;
    std::vector<std::optional<std::u16string>> titles;
};

// The largest point size measured; larger (and 0) is a problem of the template.
constexpr int kMaxPointSize = 200;

DialogMeasure MeasureDialogLayout(const DialogTemplate& dialog, const DialogTexts& texts,
                                  FontCache& fonts, const LayoutSettings& settings);

// The width of one line of text with its tabs expanded to the next stop of eight average
// characters (DT_EXPANDTABS).
int LineWidth(OpenedFont& font, std::u16string_view line);

// A text laid out as a control draws it: its lines (at '\n'), each word-wrapped to `width`
// when `wraps` (DT_WORDBREAK). The layout check and the pictures both take their lines here.
TextLines LayOutText(OpenedFont& font, std::u16string_view text, bool wraps, int width);

// Windows' MulDiv: a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c);

// The predefined class of a control (0x80 Button … 0x85 ComboBox) by its ordinal or by its
// name in any letter case; 0 for another class.
uint16_t ClassOrdinal(const DialogName& windowClass);

// A combo box whose list drops down (CBS_DROPDOWN, CBS_DROPDOWNLIST; ComboBoxEx32 too): its
// template's height includes the list, its window has the closed height.
bool IsDropDown(const DialogControl& control);

// The height of a closed drop-down combo box for a font of `fontHeight` (tmHeight) pixels: the
// selection field and its edges, 13/8 of the font's height as the combo box sizes itself.
int ClosedComboHeight(int fontHeight);

// The text a control shows: '&' marks removed ("&&" is one '&') unless `noPrefix`.
std::u16string ShownText(std::u16string_view text, bool noPrefix);

enum class LayoutIssue {
    Clipped,       // needs `needed` px, the control gives `given`
    TooManyLines,  // needs `needed` lines, its height holds `given`
    Outside,       // the control reaches beyond the dialog's client area
    TextOutside,   // its text, from where it starts, reaches beyond the dialog
    Crowded,       // within 10 % of the width (a warning)
};

struct LayoutProblem {
    LayoutIssue issue;
    size_t control;  // index in the template
    bool sourceToo;  // the source has it too: the source's, not the translator's
    int needed = 0, given = 0;
};

// The layout problems of a dialog: `source` measured from the template, `translated` with the
// translation's texts. A problem the source has as well is given once, as the source's.
std::vector<LayoutProblem> JudgeLayout(const DialogMeasure& source,
                                       const DialogMeasure& translated);

}  // namespace quelvar
