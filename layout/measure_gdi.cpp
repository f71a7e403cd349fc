// GDI measurement: the helpers of measure_gdi.h and, over them, the layout layer's measurement
// (measure.h) in the Windows builds.
#include "measure_gdi.h"

#include "measure.h"

namespace quelvar::gdi {
namespace {

// Selects a font into a device context for the lifetime of the object.
struct Selected {
    HDC dc;
    HGDIOBJ previous;
    Selected(HDC d, HFONT font)
        : dc(d), previous(SelectObject(d, font ? font : GetStockObject(SYSTEM_FONT))) {}
    ~Selected() { SelectObject(dc, previous); }
};

UINT PrefixFlag(Prefix prefix) {
    return prefix == Prefix::Shown ? DT_NOPREFIX : 0;
}

SIZE Drawn(HDC dc, HFONT font, std::wstring_view text, int width, UINT flags) {
    Selected selected(dc, font);
    RECT r{0, 0, width, 0};
    DrawTextW(dc, text.data(), static_cast<int>(text.size()), &r, flags | DT_CALCRECT);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

}  // namespace

Font& Font::operator=(Font&& other) noexcept {
    if (this != &other) {
        if (handle != nullptr)
            DeleteObject(handle);
        handle = other.handle;
        other.handle = nullptr;
    }
    return *this;
}

Font::~Font() {
    if (handle != nullptr)
        DeleteObject(handle);
}

Font OpenFont(const FontRequest& request) {
    if (request.pointSize == 0x7FFF) {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof(metrics);
        if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
            return Font();
        return Font(CreateFontIndirectW(&metrics.lfMessageFont));
    }
    LOGFONTW font{};
    font.lfHeight = -MulDiv(request.pointSize, request.dpi, 72);
    font.lfWeight = request.weight;
    font.lfItalic = request.italic ? TRUE : FALSE;
    font.lfCharSet = static_cast<BYTE>(request.charset);
    font.lfQuality = PROOF_QUALITY;
    font.lfPitchAndFamily = FF_DONTCARE;
    size_t n = request.face.size() < LF_FACESIZE - 1 ? request.face.size() : LF_FACESIZE - 1;
    request.face.copy(font.lfFaceName, n);
    return Font(CreateFontIndirectW(&font));
}

BaseUnits DialogBaseUnits(HDC dc, HFONT font) {
    static constexpr wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    Selected selected(dc, font);
    TEXTMETRICW metrics{};
    SIZE extent{};
    if (!GetTextMetricsW(dc, &metrics) || !GetTextExtentPoint32W(dc, kLetters, 52, &extent))
        return BaseUnits{};
    return BaseUnits{(extent.cx / 26 + 1) / 2, static_cast<int>(metrics.tmHeight)};
}

std::wstring WithoutPrefixes(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        // A '&' at the end has no letter to mark and shows as itself.
        if (text[i] == L'&' && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}

SIZE LineExtent(HDC dc, HFONT font, std::wstring_view text, Prefix prefix) {
    std::wstring shown = prefix == Prefix::Hidden ? WithoutPrefixes(text) : std::wstring(text);
    Selected selected(dc, font);
    SIZE extent{};
    GetTextExtentPoint32W(dc, shown.data(), static_cast<int>(shown.size()), &extent);
    return extent;
}

SIZE DrawnLineExtent(HDC dc, HFONT font, std::wstring_view text, Prefix prefix) {
    return Drawn(dc, font, text, 0, DT_SINGLELINE | DT_EXPANDTABS | PrefixFlag(prefix));
}

SIZE WrappedExtent(HDC dc, HFONT font, std::wstring_view text, int width, Prefix prefix) {
    return Drawn(dc, font, text, width, DT_WORDBREAK | DT_EXPANDTABS | PrefixFlag(prefix));
}

}  // namespace quelvar::gdi

// The layout layer's measurement: a font opened by its face's name as the dialog manager opens
// it, measured on a memory device context.
namespace quelvar {

struct OpenedFont {
    HDC dc = nullptr;
    gdi::Font font;
    FontMetrics metrics;

    ~OpenedFont() {
        if (dc != nullptr)
            DeleteDC(dc);
    }
};

void OpenedFontDeleter::operator()(OpenedFont* font) const {
    delete font;
}

bool MeasurementAvailable() {
    return true;
}

bool MeasuresByName() {
    return true;
}

FontHandle OpenFont(const FontFile& primary, const std::vector<FontFile>&, int,
                    std::string& problem) {
    problem = "this build measures with the system's fonts, not " + primary.path.string();
    return nullptr;
}

FontHandle OpenFontByName(const FontRequest& request, std::string& problem) {
    if (request.pixels <= 0) {
        problem = "a font size of " + std::to_string(request.pixels) + " px";
        return nullptr;
    }
    FontHandle opened(new OpenedFont);
    opened->dc = CreateCompatibleDC(nullptr);
    // A point size at 72 dpi is the em in pixels: -MulDiv(points, 72, 72).
    gdi::FontRequest r;
    r.face.assign(request.face.begin(), request.face.end());
    r.pointSize = request.pixels;
    r.dpi = 72;
    r.weight = request.bold ? FW_BOLD : FW_NORMAL;
    r.italic = request.italic;
    opened->font = gdi::OpenFont(r);
    if (opened->dc == nullptr || opened->font.handle == nullptr) {
        problem = "the system has no font for this face";
        return nullptr;
    }
    gdi::BaseUnits base = gdi::DialogBaseUnits(opened->dc, opened->font.handle);
    TEXTMETRICW tm{};
    SelectObject(opened->dc, opened->font.handle);
    GetTextMetricsW(opened->dc, &tm);
    opened->metrics = FontMetrics{base.y, static_cast<int>(tm.tmAscent), base.x};
    return opened;
}

FontMetrics MetricsOf(OpenedFont& font) {
    return font.metrics;
}

int TextWidth(OpenedFont& font, std::u16string_view text) {
    std::wstring line(text.begin(), text.end());
    return gdi::LineExtent(font.dc, font.font.handle, line, gdi::Prefix::Shown).cx;
}

}  // namespace quelvar
