// dialog_metrics: creates every dialog of an image, hidden, the way a program of it would and
// reports how Windows lays it out and measures its texts.
//
//   dialog_metrics IMAGE [LANGID]
//   dialog_metrics --fonts FACE...
//
// The image is loaded with LoadLibraryExW as a data file and image resource. For each dialog
// template (of every language, or of LANGID only) found with FindResourceExW, a copy without
// WS_VISIBLE is created with CreateDialogIndirectParamW, owned by a hidden window (the parent
// of templates with WS_CHILD), with a dialog procedure that handles nothing. The common
// controls and the rich edit classes are registered first. Exit code 0 when the image was
// read (a dialog that cannot be created is reported, not a failure), 1 when it cannot be
// loaded, 2 for bad arguments.
//
// Output on standard output, UTF-8, one flat JSON object per line. Numbers are decimal
// integers; texts are JSON strings; "[l,t,r,b]" is a rectangle in pixels, "[x,y,cx,cy]" one in
// dialog units as the template gives it, "[cx,cy]" an extent. Every line has "kind", "dialog"
// (the resource's id in decimal or its name) and "language" (the resource's language id).
//
// kind "dialog", one per template:
//   extended 0|1, style, exstyle, du [x,y,cx,cy], items (controls in the template),
//   template_face, template_points, template_weight, template_italic, template_charset
//   (empty face and all 0 without DS_SETFONT), created 0|1, and
//   when not created: error (GetLastError; 0 for a template that does not read), missing (the
//   template's control or dialog classes that no window class answers, comma-separated);
//   when created: dpi; font_face, font_height, font_weight, font_italic, font_charset (the
//   LOGFONT of the font the dialog uses, WM_GETFONT, the system font without one); real_face
//   (GetTextFaceW); font_file (the file GDI took the glyphs from, where GDI says it, as an NT
//   path) and font_index (the face's index in a collection such as a .ttc);
//   tm_height, tm_ascent, tm_descent, tm_internal, tm_external, tm_ave (GetTextMetricsW);
//   base [x,y] (MapDialogRect of 0,0,4,8); base_gdi [x,y] (the base units measured from the
//   font: (extent of A-Z a-z / 26 + 1) / 2 and tmHeight); base_opened [x,y] (with DS_SETFONT:
//   the same of the font measure_gdi opens for the template's face, points, weight and
//   italic, with DEFAULT_CHARSET as the dialog manager asks); client [cx,cy] (GetClientRect);
//   client_du [cx,cy] (MapDialogRect of the template's cx, cy); frame [l,t,r,b] (the whole
//   window, caption and borders, in client coordinates); windows (child windows).
// kind "control", one per template item, after its dialog's line, for created dialogs only:
//   index (in the template), id (as the template stores it, unsigned), template_class
//   ("#128" for an ordinal, else the name), style, exstyle (the template's), created 0|1
//   (0: DS_NOFAILCREATE let the dialog stand without it), du [x,y,cx,cy], px [l,t,r,b]
//   (MapDialogRect of du), and when created: class (GetClassNameW), window [l,t,r,b]
//   (GetWindowRect in the dialog's client coordinates), inner [cx,cy] (GetClientRect), text
//   (GetWindowTextW), font_face, font_height (the control's WM_GETFONT; the system font when
//   it has none), font_file, font_index; and for a text that is not empty, of a control that
//   shows text (not the image, frame and owner-drawn kinds of Static): missing_glyphs (the
//   characters the font itself has no glyph for: GDI took them from a linked or fallback
//   font), prefix 1|0 (whether '&' marks a shortcut: not for SS_NOPREFIX statics), extent
//   [cx,cy] (GetTextExtentPoint32W of the
//   text without its prefix marks), line [cx,cy] (DrawTextW, DT_CALCRECT | DT_SINGLELINE |
//   DT_EXPANDTABS), and for statics that wrap (SS_LEFT, SS_CENTER, SS_RIGHT) and buttons with
//   BS_MULTILINE: wrapped [cx,cy] (DrawTextW, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS at
//   the width of inner).
// kind "summary", last: dialogs, created, uncreatable, controls (of created dialogs).
//
// With --fonts, each FACE is opened at 8 points as a dialog template would ask for it and
// reported as one line of kind "font" (dialog "" and language 0): face, real_face, font_file,
// font_index, tm_height, base_gdi [x,y].
//
// Which font a template's face ends as depends on the prefix's font substitutes and the code
// page of the locale Wine runs in; font_file names the file that answered.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "measure_gdi.h"

namespace {

using quelvar::gdi::Prefix;

// A bounds-checked reader over a dialog template.
struct Reader {
    const BYTE* data;
    size_t size;
    size_t at = 0;
    bool ok = true;

    WORD Word() {
        if (at + 2 > size) {
            ok = false;
            return 0;
        }
        WORD v = static_cast<WORD>(data[at] | data[at + 1] << 8);
        at += 2;
        return v;
    }
    DWORD Dword() {
        DWORD low = Word();
        return low | static_cast<DWORD>(Word()) << 16;
    }
    BYTE Byte() {
        if (at + 1 > size) {
            ok = false;
            return 0;
        }
        return data[at++];
    }
    // A name or ordinal: "" for none, "#n" for an ordinal, else the text.
    std::wstring NameOrOrdinal() {
        WORD first = Word();
        if (first == 0)
            return L"";
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(Word());
        std::wstring text(1, static_cast<wchar_t>(first));
        for (WORD c = Word(); ok && c != 0; c = Word())
            text += static_cast<wchar_t>(c);
        return text;
    }
    void AlignDword() { at = (at + 3) & ~size_t{3}; }
};

struct Item {
    DWORD style = 0, exstyle = 0, id = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring className;
};

struct Template {
    bool extended = false;
    size_t styleOffset = 0;
    DWORD style = 0, exstyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring className;
    bool hasFont = false;
    int points = 0, weight = 0, italic = 0, charset = 0;
    std::wstring face;
    std::vector<Item> items;
};

bool ReadTemplate(const BYTE* data, size_t size, Template* t) {
    Reader r{data, size};
    t->extended = size >= 4 && r.Word() == 1 && r.Word() == 0xFFFF;
    WORD count = 0;
    if (t->extended) {
        r.Dword();  // help id
        t->exstyle = r.Dword();
        t->styleOffset = r.at;
        t->style = r.Dword();
    } else {
        r.at = 0;
        t->styleOffset = 0;
        t->style = r.Dword();
        t->exstyle = r.Dword();
    }
    count = r.Word();
    t->x = static_cast<short>(r.Word());
    t->y = static_cast<short>(r.Word());
    t->cx = static_cast<short>(r.Word());
    t->cy = static_cast<short>(r.Word());
    r.NameOrOrdinal();  // menu
    t->className = r.NameOrOrdinal();
    r.NameOrOrdinal();  // caption
    if (t->style & DS_SETFONT) {
        t->hasFont = true;
        t->points = r.Word();
        if (t->extended) {
            t->weight = r.Word();
            t->italic = r.Byte();
            t->charset = r.Byte();
        }
        t->face = r.NameOrOrdinal();
    }
    for (WORD i = 0; i < count && r.ok; ++i) {
        r.AlignDword();
        Item item;
        if (t->extended) {
            r.Dword();  // help id
            item.exstyle = r.Dword();
            item.style = r.Dword();
        } else {
            item.style = r.Dword();
            item.exstyle = r.Dword();
        }
        item.x = static_cast<short>(r.Word());
        item.y = static_cast<short>(r.Word());
        item.cx = static_cast<short>(r.Word());
        item.cy = static_cast<short>(r.Word());
        item.id = t->extended ? r.Dword() : r.Word();
        item.className = r.NameOrOrdinal();
        r.NameOrOrdinal();  // title
        WORD extra = r.Word();
        r.at += extra;
        t->items.push_back(item);
    }
    return r.ok && r.at <= size;
}

// One JSON object written field by field.
struct Line {
    std::string text = "{";

    void Key(const char* key) {
        if (text.size() > 1)
            text += ',';
        text += '"';
        text += key;
        text += "\":";
    }
    void Number(const char* key, long long value) {
        Key(key);
        text += std::to_string(value);
    }
    void Numbers(const char* key, std::initializer_list<long long> values) {
        Key(key);
        text += '[';
        bool first = true;
        for (long long v : values) {
            if (!first)
                text += ',';
            first = false;
            text += std::to_string(v);
        }
        text += ']';
    }
    void String(const char* key, const std::wstring& value) {
        Key(key);
        text += '"';
        std::string utf8;
        if (!value.empty()) {
            int n = WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(value.size()),
                                        nullptr, 0, nullptr, nullptr);
            utf8.resize(static_cast<size_t>(n));
            WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(value.size()),
                                utf8.data(), n, nullptr, nullptr);
        }
        for (char c : utf8) {
            if (c == '"' || c == '\\') {
                text += '\\';
                text += c;
            } else if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                text += escaped;
            } else {
                text += c;
            }
        }
        text += '"';
    }
    void Write() {
        text += "}\n";
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
};

std::wstring NameText(LPCWSTR name) {
    if (IS_INTRESOURCE(name))
        return std::to_wstring(reinterpret_cast<ULONG_PTR>(name));
    return name;
}

struct Resource {
    std::wstring name;
    bool numbered;
    WORD language;

    LPCWSTR Id() const {
        return numbered ? MAKEINTRESOURCEW(std::wcstoul(name.c_str(), nullptr, 10)) : name.c_str();
    }
};

struct Collected {
    std::vector<std::pair<std::wstring, bool>> names;
    std::vector<Resource> resources;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR name, WORD language, LONG_PTR param) {
    reinterpret_cast<Collected*>(param)->resources.push_back(
        {NameText(name), IS_INTRESOURCE(name), language});
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
    reinterpret_cast<Collected*>(param)->names.emplace_back(NameText(name), IS_INTRESOURCE(name));
    return TRUE;
}

INT_PTR CALLBACK HandleNothing(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// The font file GDI realised for the font selected into `dc` and the face's index in it
// (undocumented gdi32 exports that Windows 10 and Wine have; "" and 0 where they are missing).
struct FontSource {
    std::wstring path;
    int index = 0;
};

FontSource FontFile(HDC dc) {
    struct RealizationInfo {
        DWORD size, flags, cacheNum, instanceId, fileCount;
        WORD faceIndex, simulations;
    };
    using GetInfo = BOOL(WINAPI*)(HDC, RealizationInfo*);
    using GetFile = BOOL(WINAPI*)(DWORD, DWORD, void*, SIZE_T, SIZE_T*);
    HMODULE gdi = GetModuleHandleW(L"gdi32.dll");
    auto getInfo = reinterpret_cast<GetInfo>(
        reinterpret_cast<void*>(GetProcAddress(gdi, "GetFontRealizationInfo")));
    auto getFile =
        reinterpret_cast<GetFile>(reinterpret_cast<void*>(GetProcAddress(gdi, "GetFontFileInfo")));
    RealizationInfo info{};
    info.size = sizeof(info);
    if (getInfo == nullptr || getFile == nullptr || !getInfo(dc, &info))
        return {};
    // FILETIME, LARGE_INTEGER, then the path.
    std::vector<BYTE> buffer(16 + 2 * 4096);
    SIZE_T needed = 0;
    if (!getFile(info.instanceId, 0, buffer.data(), buffer.size(), &needed))
        return {};
    FontSource source;
    source.index = info.faceIndex;
    for (size_t i = 16; i + 1 < buffer.size() && i + 1 < needed; i += 2) {
        wchar_t c = static_cast<wchar_t>(buffer[i] | buffer[i + 1] << 8);
        if (c == 0)
            break;
        source.path += c;
    }
    return source;
}

void FontSourceFields(Line* line, HDC dc) {
    FontSource source = FontFile(dc);
    line->String("font_file", source.path);
    line->Number("font_index", source.index);
}

HFONT WindowFont(HWND window) {
    return reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
}

// The font's LOGFONT face and height, and its file, into `line` with `prefix` before them.
void FontFields(Line* line, HDC dc, HFONT font) {
    HFONT shown = font ? font : static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
    LOGFONTW logical{};
    GetObjectW(shown, sizeof(logical), &logical);
    line->String("font_face", logical.lfFaceName);
    line->Number("font_height", logical.lfHeight);
    HGDIOBJ previous = SelectObject(dc, shown);
    FontSourceFields(line, dc);
    SelectObject(dc, previous);
}

std::wstring MissingClasses(const Template& t) {
    std::wstring missing;
    auto check = [&](const std::wstring& name) {
        if (name.empty() || name[0] == L'#')
            return;
        WNDCLASSEXW info{};
        info.cbSize = sizeof(info);
        if (GetClassInfoExW(GetModuleHandleW(nullptr), name.c_str(), &info))
            return;
        if (!missing.empty())
            missing += L',';
        missing += name;
    };
    check(t.className);
    for (const Item& item : t.items)
        check(item.className);
    return missing;
}

// Whether the control draws its window text: statics of the image, frame, rectangle and
// owner-drawn kinds do not.
bool ShowsText(const wchar_t* className, DWORD style) {
    if (_wcsicmp(className, L"Static") != 0)
        return true;
    DWORD kind = style & SS_TYPEMASK;
    return kind <= SS_SIMPLE || kind == SS_LEFTNOWORDWRAP;
}

// The characters of `text` that the font selected into `dc` has no glyph for.
int MissingGlyphs(HDC dc, HFONT font, const std::wstring& text) {
    HGDIOBJ previous = SelectObject(dc, font ? font : GetStockObject(SYSTEM_FONT));
    std::vector<WORD> glyphs(text.size());
    int missing = 0;
    if (GetGlyphIndicesW(dc, text.data(), static_cast<int>(text.size()), glyphs.data(),
                         GGI_MARK_NONEXISTING_GLYPHS) != GDI_ERROR) {
        for (size_t i = 0; i < text.size(); ++i)
            missing += glyphs[i] == 0xFFFF && text[i] != L'&' && text[i] >= L' ';
    }
    SelectObject(dc, previous);
    return missing;
}

bool Wraps(const std::wstring& className, DWORD style) {
    if (_wcsicmp(className.c_str(), L"Static") == 0) {
        DWORD kind = style & SS_TYPEMASK;
        return kind == SS_LEFT || kind == SS_CENTER || kind == SS_RIGHT;
    }
    return _wcsicmp(className.c_str(), L"Button") == 0 && (style & BS_MULTILINE) != 0;
}

void ReportControl(HWND dialog, HDC dc, const Item& item, size_t index, HWND window,
                   const Resource& resource) {
    Line line;
    line.String("kind", L"control");
    line.String("dialog", resource.name);
    line.Number("language", resource.language);
    line.Number("index", static_cast<long long>(index));
    line.Number("id", item.id);
    line.String("template_class", item.className);
    line.Number("style", item.style);
    line.Number("exstyle", item.exstyle);
    line.Number("created", window != nullptr);
    line.Numbers("du", {item.x, item.y, item.cx, item.cy});
    RECT px{item.x, item.y, item.x + item.cx, item.y + item.cy};
    MapDialogRect(dialog, &px);
    line.Numbers("px", {px.left, px.top, px.right, px.bottom});
    if (window != nullptr) {
        wchar_t className[256] = {};
        GetClassNameW(window, className, 256);
        line.String("class", className);
        RECT placed{};
        GetWindowRect(window, &placed);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&placed), 2);
        line.Numbers("window", {placed.left, placed.top, placed.right, placed.bottom});
        RECT inner{};
        GetClientRect(window, &inner);
        line.Numbers("inner", {inner.right, inner.bottom});
        int length = GetWindowTextLengthW(window);
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
        line.String("text", text);
        HFONT font = WindowFont(window);
        FontFields(&line, dc, font);
        DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
        if (!text.empty() && ShowsText(className, style)) {
            bool isStatic = _wcsicmp(className, L"Static") == 0;
            line.Number("missing_glyphs", MissingGlyphs(dc, font, text));
            Prefix prefix = isStatic && (style & SS_NOPREFIX) ? Prefix::Shown : Prefix::Hidden;
            line.Number("prefix", prefix == Prefix::Hidden);
            SIZE extent = quelvar::gdi::LineExtent(dc, font, text, prefix);
            line.Numbers("extent", {extent.cx, extent.cy});
            SIZE drawn = quelvar::gdi::DrawnLineExtent(dc, font, text, prefix);
            line.Numbers("line", {drawn.cx, drawn.cy});
            if (Wraps(className, style)) {
                SIZE wrapped = quelvar::gdi::WrappedExtent(dc, font, text, inner.right, prefix);
                line.Numbers("wrapped", {wrapped.cx, wrapped.cy});
            }
        }
    }
    line.Write();
}

struct Totals {
    long long dialogs = 0, created = 0, uncreatable = 0, controls = 0;
};

void ReportDialog(HMODULE module, HWND owner, const Resource& resource, Totals* totals) {
    ++totals->dialogs;
    Line line;
    line.String("kind", L"dialog");
    line.String("dialog", resource.name);
    line.Number("language", resource.language);
    HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(5), resource.Id(), resource.language);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    DWORD size = found ? SizeofResource(module, found) : 0;
    Template t;
    if (data == nullptr || !ReadTemplate(data, size, &t)) {
        ++totals->uncreatable;
        line.Number("created", 0);
        line.Number("error", 0);
        line.String("missing", L"");
        line.Write();
        return;
    }
    line.Number("extended", t.extended);
    line.Number("style", t.style);
    line.Number("exstyle", t.exstyle);
    line.Numbers("du", {t.x, t.y, t.cx, t.cy});
    line.Number("items", static_cast<long long>(t.items.size()));
    line.String("template_face", t.face);
    line.Number("template_points", t.points);
    line.Number("template_weight", t.weight);
    line.Number("template_italic", t.italic);
    line.Number("template_charset", t.charset);

    // A DWORD-aligned copy that is not shown.
    std::vector<DWORD> copy((size + 3) / 4);
    std::memcpy(copy.data(), data, size);
    DWORD style = t.style & ~static_cast<DWORD>(WS_VISIBLE);
    std::memcpy(reinterpret_cast<BYTE*>(copy.data()) + t.styleOffset, &style, 4);
    SetLastError(0);
    HWND dialog = CreateDialogIndirectParamW(reinterpret_cast<HINSTANCE>(module),
                                             reinterpret_cast<LPCDLGTEMPLATEW>(copy.data()), owner,
                                             HandleNothing, 0);
    if (dialog == nullptr) {
        ++totals->uncreatable;
        line.Number("created", 0);
        line.Number("error", GetLastError());
        line.String("missing", MissingClasses(t));
        line.Write();
        return;
    }
    ++totals->created;
    line.Number("created", 1);
    HDC dc = GetDC(dialog);
    line.Number("dpi", GetDeviceCaps(dc, LOGPIXELSY));
    HFONT font = WindowFont(dialog);
    HFONT shown = font ? font : static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
    LOGFONTW logical{};
    GetObjectW(shown, sizeof(logical), &logical);
    line.String("font_face", logical.lfFaceName);
    line.Number("font_height", logical.lfHeight);
    line.Number("font_weight", logical.lfWeight);
    line.Number("font_italic", logical.lfItalic);
    line.Number("font_charset", logical.lfCharSet);
    HGDIOBJ previous = SelectObject(dc, shown);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    line.String("real_face", face);
    FontSourceFields(&line, dc);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    line.Number("tm_height", metrics.tmHeight);
    line.Number("tm_ascent", metrics.tmAscent);
    line.Number("tm_descent", metrics.tmDescent);
    line.Number("tm_internal", metrics.tmInternalLeading);
    line.Number("tm_external", metrics.tmExternalLeading);
    line.Number("tm_ave", metrics.tmAveCharWidth);
    RECT base{0, 0, 4, 8};
    MapDialogRect(dialog, &base);
    line.Numbers("base", {base.right, base.bottom});
    quelvar::gdi::BaseUnits measured = quelvar::gdi::DialogBaseUnits(dc, font);
    line.Numbers("base_gdi", {measured.x, measured.y});
    if (t.hasFont) {
        quelvar::gdi::FontRequest request{t.face,          t.points,
                                          t.weight,        t.italic != 0,
                                          DEFAULT_CHARSET, GetDeviceCaps(dc, LOGPIXELSY)};
        quelvar::gdi::Font opened = quelvar::gdi::OpenFont(request);
        quelvar::gdi::BaseUnits own = quelvar::gdi::DialogBaseUnits(dc, opened.handle);
        line.Numbers("base_opened", {own.x, own.y});
    }
    RECT client{};
    GetClientRect(dialog, &client);
    line.Numbers("client", {client.right, client.bottom});
    RECT mapped{0, 0, t.cx, t.cy};
    MapDialogRect(dialog, &mapped);
    line.Numbers("client_du", {mapped.right, mapped.bottom});
    RECT frame{};
    GetWindowRect(dialog, &frame);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&frame), 2);
    line.Numbers("frame", {frame.left, frame.top, frame.right, frame.bottom});

    // The dialog manager creates the controls in template order, each below the ones before
    // it; controls it dropped (DS_NOFAILCREATE) leave their place empty, found by id.
    std::vector<HWND> windows;
    for (HWND w = GetWindow(dialog, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT))
        windows.push_back(w);
    line.Number("windows", static_cast<long long>(windows.size()));
    line.Write();
    size_t next = 0;
    for (size_t i = 0; i < t.items.size(); ++i) {
        const Item& item = t.items[i];
        HWND window = nullptr;
        WORD wanted = static_cast<WORD>(item.id);
        if (next < windows.size() && (windows.size() == t.items.size() ||
                                      static_cast<WORD>(GetDlgCtrlID(windows[next])) == wanted))
            window = windows[next++];
        ReportControl(dialog, dc, item, i, window, resource);
        ++totals->controls;
    }
    ReleaseDC(dialog, dc);
    DestroyWindow(dialog);
}

// Where each face ends when a template asks for it at 8 points.
int ReportFonts(int count, wchar_t** faces) {
    HDC dc = GetDC(nullptr);
    for (int i = 0; i < count; ++i) {
        quelvar::gdi::Font font = quelvar::gdi::OpenFont({faces[i], 8});
        Line line;
        line.String("kind", L"font");
        line.String("dialog", L"");
        line.Number("language", 0);
        line.String("face", faces[i]);
        HGDIOBJ previous = SelectObject(dc, font.handle);
        wchar_t face[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, face);
        line.String("real_face", face);
        FontSourceFields(&line, dc);
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        SelectObject(dc, previous);
        line.Number("tm_height", metrics.tmHeight);
        quelvar::gdi::BaseUnits base = quelvar::gdi::DialogBaseUnits(dc, font.handle);
        line.Numbers("base_gdi", {base.x, base.y});
        line.Write();
    }
    ReleaseDC(nullptr, dc);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // lines end in \n alone
    if (argc >= 2 && std::wcscmp(argv[1], L"--fonts") == 0)
        return ReportFonts(argc - 2, argv + 2);
    if (argc != 2 && argc != 3) {
        std::fwprintf(stderr, L"usage: dialog_metrics IMAGE [LANGID]\n");
        return 2;
    }
    long language = -1;
    if (argc == 3) {
        wchar_t* end = nullptr;
        language = std::wcstol(argv[2], &end, 0);
        if (*end != L'\0' || language < 0 || language > 0xFFFF) {
            std::fwprintf(stderr, L"bad language id: %ls\n", argv[2]);
            return 2;
        }
    }
    INITCOMMONCONTROLSEX controls{
        sizeof(controls), ICC_WIN95_CLASSES | ICC_DATE_CLASSES | ICC_USEREX_CLASSES |
                              ICC_COOL_CLASSES | ICC_INTERNET_CLASSES | ICC_PAGESCROLLER_CLASS |
                              ICC_NATIVEFNTCTL_CLASS | ICC_LINK_CLASS};
    InitCommonControlsEx(&controls);
    LoadLibraryW(L"riched20.dll");
    LoadLibraryW(L"msftedit.dll");

    HMODULE module =
        LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        std::fwprintf(stderr, L"cannot load %ls: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    HWND owner = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 640, 480, nullptr, nullptr,
                                 nullptr, nullptr);

    Collected collected;
    EnumResourceNamesW(module, MAKEINTRESOURCEW(5), CollectName,
                       reinterpret_cast<LONG_PTR>(&collected));
    for (const auto& [name, numbered] : collected.names)
        EnumResourceLanguagesW(module, MAKEINTRESOURCEW(5), Resource{name, numbered, 0}.Id(),
                               CollectLanguage, reinterpret_cast<LONG_PTR>(&collected));
    Totals totals;
    for (const Resource& resource : collected.resources)
        if (language < 0 || resource.language == language)
            ReportDialog(module, owner, resource, &totals);

    Line summary;
    summary.String("kind", L"summary");
    summary.String("dialog", L"");
    summary.Number("language", language < 0 ? 0 : language);
    summary.Number("dialogs", totals.dialogs);
    summary.Number("created", totals.created);
    summary.Number("uncreatable", totals.uncreatable);
    summary.Number("controls", totals.controls);
    summary.Write();
    std::fflush(stdout);
    DestroyWindow(owner);
    FreeLibrary(module);
    return 0;
}
