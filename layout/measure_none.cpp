// The Windows builds: no measuring yet (GDI's GetTextExtentPoint32W will answer here).
#include "layout/measure.h"

namespace quelvar {

struct OpenedFont {};

void OpenedFontDeleter::operator()(OpenedFont* font) const {
    delete font;
}

bool MeasurementAvailable() {
    return false;
}

FontHandle OpenFont(const FontFile&, const std::vector<FontFile>&, int, std::string& problem) {
    problem = "this build measures no text";
    return nullptr;
}

FontMetrics MetricsOf(OpenedFont&) {
    return {};
}

int TextWidth(OpenedFont&, std::u16string_view) {
    return 0;
}

}  // namespace quelvar
