// Pictures of an arbitrary dialog template: any bytes that read are measured, with the Debian
// stand-in fonts, as the source and under a translated font and titles taken from the input,
// and drawn to PNG (every control outlined) or refused with a problem, without a crash; a
// picture drawn reads back.
#include <cstdlib>

#include "formats/dialog.h"
#include "render/render.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quelvar;
    if (size < 1)
        return 0;
    // The first byte: the resolution, and whether the translation changes the font.
    static constexpr int kDpis[] = {96, 120, 144, 192};
    LayoutSettings settings;
    settings.dpi = kDpis[data[0] & 3];
    DialogTemplate t;
    if (!ReadDialogTemplate(std::span<const uint8_t>(data + 1, size - 1), data[0] >> 4, t))
        return 0;
    static FontCache fonts;
    if (fonts.choices.size() > 64)
        fonts.choices.clear();
    DialogMeasure source = MeasureDialogLayout(t, DialogTexts{}, fonts, settings);
    DialogTexts texts;
    if (data[0] & 4)
        texts.font = t.caption;
    for (const DialogControl& c : t.controls)
        texts.titles.push_back(t.caption + c.title.text);
    DialogMeasure translated = MeasureDialogLayout(t, texts, fonts, settings);
    // Large pictures are slow to fill: those up to the limit are left to the tests, those
    // beyond it are refused before any is made.
    for (const DialogMeasure* m : {&source, &translated})
        if (m->ok && (m->rect.cx > 1024 || m->rect.cy > 1024) && m->rect.cx <= kMaxPictureSide &&
            m->rect.cy <= kMaxPictureSide)
            return 0;
    DialogView left{&t, &source, nullptr, std::nullopt, std::vector<bool>(t.controls.size(), true)};
    DialogView right{&t, &translated, &texts, t.caption, {}};
    std::vector<uint8_t> png;
    std::string problem;
    if (DrawDialogPicture(left, &right, PictureFormat::Png, settings, png, problem)) {
        int width = 0, height = 0;
        if (!PngSize(png, width, height) || width <= 0 || height <= 0)
            std::abort();
    } else if (problem.empty()) {
        std::abort();
    }
    return 0;
}
