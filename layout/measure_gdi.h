// Text measurement of dialogs through GDI: the fonts a dialog's template asks for, dialog base
// units and the extents of control texts, computed the way the dialog manager and the
// standard controls compute them. Plain functions over a device context; Windows builds only.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace quelvar::gdi {

// What a dialog template's font asks for. A point size of 0x7FFF stands for the message box
// font (DS_SETFONT's special form); weight 0 is FW_DONTCARE.
struct FontRequest {
    std::wstring face;
    int pointSize = 8;
    int weight = FW_NORMAL;
    bool italic = false;
    int charset = DEFAULT_CHARSET;  // what the dialog manager asks for, whatever the template says
    int dpi = 96;
};

// Owns one GDI font; null when the font could not be created.
struct Font {
    HFONT handle = nullptr;

    Font() = default;
    explicit Font(HFONT h) : handle(h) {}
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    Font(Font&& other) noexcept : handle(other.handle) { other.handle = nullptr; }
    Font& operator=(Font&& other) noexcept;
    ~Font();
};

// A font as the dialog manager creates it for a template: height -MulDiv(points, dpi, 72).
Font OpenFont(const FontRequest& request);

struct BaseUnits {
    int x = 0;  // average character width: (extent of A-Z a-z / 26 + 1) / 2
    int y = 0;  // the font's tmHeight
};

// The dialog base units of `font` (the system font when null), as MapDialogRect uses them.
BaseUnits DialogBaseUnits(HDC dc, HFONT font);

// How a control shows an '&': as the underline of the next letter, or as itself.
enum class Prefix { Hidden, Shown };

// `text` as shown without its prefix marks: "&&" is one '&', a single '&' disappears unless
// it is the last character.
std::wstring WithoutPrefixes(std::wstring_view text);

// The extent of `text` as one line in `font` (GetTextExtentPoint32W).
SIZE LineExtent(HDC dc, HFONT font, std::wstring_view text, Prefix prefix);

// The extent DrawTextW gives `text` as one line with tabs expanded (DT_CALCRECT).
SIZE DrawnLineExtent(HDC dc, HFONT font, std::wstring_view text, Prefix prefix);

// The extent of `text` word-wrapped at `width` pixels as a static control wraps it
// (DT_WORDBREAK | DT_EXPANDTABS): cy is the height the wrapped lines need.
SIZE WrappedExtent(HDC dc, HFONT font, std::wstring_view text, int width, Prefix prefix);

}  // namespace quelvar::gdi
