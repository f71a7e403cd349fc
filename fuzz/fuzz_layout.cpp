// The layout model on an arbitrary dialog template: any bytes either do not read or are
// measured, with the Debian stand-in fonts, under a translated font and titles taken from the
// input, and judged, without a crash; a measured dialog has one measure per control, and
// each text's lines lie in order within it.
#include <cstdlib>

#include "formats/dialog.h"
#include "layout/layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quelvar;
    if (size < 1)
        return 0;
    // The first byte: the resolution, and whether the translation changes the font.
    static constexpr int kDpis[] = {96, 120, 144, 192};
    LayoutSettings settings;
    settings.dpi = kDpis[data[0] & 3];
    std::span<const uint8_t> bytes(data + 1, size - 1);
    DialogTemplate t;
    if (!ReadDialogTemplate(bytes, data[0] >> 4, t))
        return 0;
    static FontCache fonts;
    if (fonts.choices.size() > 64)
        fonts.choices.clear();
    DialogMeasure source = MeasureDialogLayout(t, DialogTexts{}, fonts, settings);
    DialogTexts texts;
    if (data[0] & 4)
        texts.font = t.caption;  // "typeface,size" or any text at all
    for (const DialogControl& c : t.controls)
        texts.titles.push_back(t.caption + c.title.text);
    DialogMeasure translated = MeasureDialogLayout(t, texts, fonts, settings);
    if ((source.ok && source.controls.size() != t.controls.size()) ||
        (translated.ok && translated.controls.size() != t.controls.size()))
        std::abort();
    // Each measured text's lines lie in its shown text, in order, as many as it counts.
    for (const DialogMeasure* m : {&source, &translated})
        for (const ControlMeasure& c : m->controls) {
            size_t end = 0;
            for (const TextLine& line : c.textLines) {
                if (line.start < end || line.start + size_t{line.length} > c.shown.size())
                    std::abort();
                end = line.start + size_t{line.length};
            }
            if (c.measured && c.textLines.size() != static_cast<size_t>(c.lines))
                std::abort();
        }
    JudgeLayout(source, translated);
    return 0;
}
