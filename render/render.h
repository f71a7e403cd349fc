// Pictures of dialogs as the system lays them out: the frame and caption bar, every control
// drawn as its class draws itself (push buttons raised with centred text, check boxes and
// radio buttons with their glyph, sunken edits and lists, etched group boxes, statics aligned
// and word-wrapped as measured) at the rectangles and text positions the layout measured,
// drawn with Cairo into PNG or SVG. A translated dialog is drawn beside its source, and the
// controls whose text does not fit are outlined in red.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/dialog.h"
#include "layout/layout.h"

namespace quelvar {

// One dialog as drawn: its template, the texts it shows (the translation's; empty optionals
// keep the template's), its measured layout (made with these texts) and the controls to
// outline (one flag per control of the template).
struct DialogView {
    const DialogTemplate* dialog = nullptr;
    const DialogMeasure* measure = nullptr;
    const DialogTexts* texts = nullptr;  // null: the template's own (the measure has them laid out)
    std::optional<std::u16string> caption;
    std::vector<bool> flagged;
};

enum class PictureFormat { Png, Svg };

// The largest picture drawn, in pixels each way; a larger dialog is refused with a problem.
constexpr int kMaxPictureSide = 8192;

// Draws `source` and, when set, `translated` beside it (left and right) into one picture.
// False with `problem` set when a dialog was not measured, a font does not open, the picture
// would be too large or the build draws nothing.
bool DrawDialogPicture(const DialogView& source, const DialogView* translated, PictureFormat format,
                       const LayoutSettings& settings, std::vector<uint8_t>& bytes,
                       std::string& problem);

// The size of a PNG picture, read back by the same library: false when it does not decode.
bool PngSize(std::span<const uint8_t> png, int& width, int& height);

// The colour of one pixel of a PNG picture as 0xRRGGBB; false outside it or undecodable.
bool PngPixel(std::span<const uint8_t> png, int x, int y, uint32_t& rgb);

// True when this build draws pictures.
bool PicturesAvailable();

}  // namespace quelvar
