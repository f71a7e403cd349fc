#include "measure_gdi.h"

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
