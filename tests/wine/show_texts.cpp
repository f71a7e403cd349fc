// A console program around a sample resource script: prints, as UTF-8 lines, its string 1 as
// LoadStringW finds it and the caption of its dialog 100, so that a test can see that a
// translated copy still starts, runs and finds its own resources.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void PrintLine(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string utf8(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), n,
                            nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fputc('\n', stdout);
}

// The caption of a standard dialog template: after the 18 fixed bytes, the menu and class
// fields (0, 0xFFFF and an ordinal, or a text) come before it.
std::wstring Caption(const BYTE* data, DWORD size) {
    DWORD at = 18;
    auto word = [&](DWORD i) { return i + 2 <= size ? WORD(data[i] | (data[i + 1] << 8)) : 0; };
    for (int field = 0; field < 2; ++field) {
        if (word(at) == 0xFFFF) {
            at += 4;
        } else {
            while (at + 2 <= size && word(at) != 0)
                at += 2;
            at += 2;
        }
    }
    std::wstring caption;
    for (; at + 2 <= size && word(at) != 0; at += 2)
        caption += static_cast<wchar_t>(word(at));
    return caption;
}

}  // namespace

int main() {
    _setmode(_fileno(stdout), _O_BINARY);
    HMODULE self = GetModuleHandleW(nullptr);
    const wchar_t* text = nullptr;
    int n = LoadStringW(self, 1, reinterpret_cast<LPWSTR>(&text), 0);
    if (n <= 0)
        return 1;
    std::wstring string(text, static_cast<size_t>(n));
    if (!string.empty() && string.back() == L'\0')
        string.pop_back();
    PrintLine(string);

    HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(100), MAKEINTRESOURCEW(5));
    HGLOBAL loaded = found != nullptr ? LoadResource(self, found) : nullptr;
    if (loaded == nullptr)
        return 2;
    PrintLine(Caption(static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(self, found)));
    return 0;
}
