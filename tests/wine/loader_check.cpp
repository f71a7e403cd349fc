// loader_check: reads the texts of an image's string tables, menus and dialogs of one
// language through the Windows resource loader and writes them as a language file, one
// "key=value" line per non-empty text, keyed the way quelvar-cli exports them.
//
//   loader_check IMAGE LANGID OUTPUT
//   loader_check --bytes IMAGE LANGID OUTPUT
//   loader_check --lengths IMAGE LANGID OUTPUT
//   loader_check --version IMAGE OUTPUT QUERY...
//
// The image is loaded with LoadLibraryExW as a data file and image resource; strings are read
// with LoadStringW (with the thread's UI language set to LANGID), menus are built with
// LoadMenuIndirectW and read back item by item, and dialog templates are found with
// FindResourceExW and read field by field. Exit code 0 on success, 1 when the image cannot be
// loaded, 2 for bad arguments, 3 when the output cannot be written, 4 when LoadStringW
// returned a string of another language.
//
// With --bytes, each string table, menu and dialog of the language that FindResourceExW finds
// is written as "<type>.<name>=<size>:<FNV-1a hash of its bytes>", and each dialog laid out
// right to left (WS_EX_LAYOUTRTL in its extended style) adds "5.<name>.LAYOUTRTL=1".
// With --lengths, each string of the language's string tables is written as
// "6.<block>.<id>=<n>", n the length LoadStringW returns for it (which counts a zero that the
// entry stores), for every string whose length is not 0.
// With --version the image's version information is read with GetFileVersionInfoW and each
// QUERY (such as \StringFileInfo\040704B0\FileDescription) looked up with VerQueryValueW:
// one "QUERY=value" line for each that is found, a text as it is, \VarFileInfo\Translation as
// its pairs in hexadecimal ("040704B0 040904B0"). Exit code 1 when the image has none.
// With --messages, each message of table 1 in LANGID (the one FormatMessageW reads) is read
// with FormatMessageW (FORMAT_MESSAGE_FROM_HMODULE, the language given, inserts ignored) as
// "11.1.0x<id>=<text>", and each accelerator table of the language is loaded with
// LoadAcceleratorsW (thread UI language LANGID) and read with CopyAcceleratorTableW as
// "9.<name>.<command>[#n]=<fVirt without its last-entry flag>:<key>", both numbers decimal.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Output {
    std::wstring text;

    void Line(const std::wstring& key, const std::wstring& value) {
        if (value.empty())
            return;
        text += key;
        text += L'=';
        for (wchar_t c : value) {
            if (c == L'\\')
                text += L"\\\\";
            else if (c == L'\r')
                text += L"\\r";
            else if (c == L'\n')
                text += L"\\n";
            else
                text += c;
        }
        text += L"\r\n";
    }
};

std::wstring NameText(LPCWSTR name) {
    if (IS_INTRESOURCE(name))
        return std::to_wstring(reinterpret_cast<ULONG_PTR>(name));
    return name;
}

// The names of one resource type that exist in the language.
struct NameList {
    WORD language;
    std::vector<std::wstring> names;  // decimal ids or name texts
    std::vector<LPCWSTR> ids;         // as the loader takes them (texts kept alive above)
};

BOOL CALLBACK CollectName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
    auto* list = reinterpret_cast<NameList*>(param);
    HRSRC found = FindResourceExW(module, type, name, list->language);
    if (found != nullptr)
        list->names.push_back(NameText(name));
    return TRUE;
}

NameList Names(HMODULE module, LPCWSTR type, WORD language) {
    NameList list{language, {}, {}};
    EnumResourceNamesW(module, type, CollectName, reinterpret_cast<LONG_PTR>(&list));
    for (const std::wstring& n : list.names) {
        wchar_t* end = nullptr;
        unsigned long v = std::wcstoul(n.c_str(), &end, 10);
        bool numeric = !n.empty() && *end == 0 && v < 0x10000;
        list.ids.push_back(numeric ? MAKEINTRESOURCEW(v) : n.c_str());
    }
    return list;
}

const BYTE* Template(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, DWORD& size) {
    HRSRC found = FindResourceExW(module, type, name, language);
    if (found == nullptr)
        return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    size = SizeofResource(module, found);
    return loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
}

// The string at `index` of a block as stored, up to its first zero unit.
std::wstring BlockString(const BYTE* block, DWORD size, UINT index) {
    DWORD at = 0;
    for (UINT k = 0; k <= index; ++k) {
        if (at + 2 > size)
            return L"";
        WORD n = static_cast<WORD>(block[at] | (block[at + 1] << 8));
        if (k == index) {
            std::wstring s;
            for (WORD i = 0; i < n && at + 4 + 2 * i <= size; ++i) {
                wchar_t c =
                    static_cast<wchar_t>(block[at + 2 + 2 * i] | (block[at + 3 + 2 * i] << 8));
                if (c == 0)
                    break;
                s += c;
            }
            return s;
        }
        at += 2 + 2 * DWORD{n};
    }
    return L"";
}

// Strings come through LoadStringW, which chooses the block's language itself; each is checked
// against the block of the requested language, so that a wrong choice cannot pass unnoticed.
bool ReadStrings(HMODULE module, WORD language, Output& out) {
    bool ok = true;
    NameList blocks = Names(module, MAKEINTRESOURCEW(6), language);
    for (size_t b = 0; b < blocks.names.size(); ++b) {
        if (!IS_INTRESOURCE(blocks.ids[b]))
            continue;
        DWORD size = 0;
        const BYTE* data = Template(module, MAKEINTRESOURCEW(6), blocks.ids[b], language, size);
        UINT block = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(blocks.ids[b]));
        for (UINT id = (block - 1) * 16; id < block * 16; ++id) {
            const wchar_t* text = nullptr;
            int n = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
            std::wstring value;
            for (int i = 0; text != nullptr && i < n && text[i] != 0; ++i)
                value += text[i];
            if (data == nullptr || value != BlockString(data, size, id % 16)) {
                std::fwprintf(stderr, L"LoadStringW(%u) gave another language's string\n", id);
                ok = false;
            }
            out.Line(L"6." + blocks.names[b] + L"." + std::to_wstring(id), value);
        }
    }
    return ok;
}

void ReadLengths(HMODULE module, WORD language, Output& out) {
    NameList blocks = Names(module, MAKEINTRESOURCEW(6), language);
    for (size_t b = 0; b < blocks.names.size(); ++b) {
        if (!IS_INTRESOURCE(blocks.ids[b]))
            continue;
        UINT block = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(blocks.ids[b]));
        for (UINT id = (block - 1) * 16; id < block * 16; ++id) {
            const wchar_t* text = nullptr;
            int n = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
            if (n != 0)
                out.Line(L"6." + blocks.names[b] + L"." + std::to_wstring(id), std::to_wstring(n));
        }
    }
}

void ReadMenu(HMENU menu, bool extended, const std::wstring& path, int& counter, Output& out) {
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        GetMenuItemInfoW(menu, i, TRUE, &info);
        std::wstring text;
        if (!(info.fType & MFT_SEPARATOR) && info.cch != 0) {
            std::vector<wchar_t> buffer(info.cch + 1);
            info.dwTypeData = buffer.data();
            info.cch += 1;
            GetMenuItemInfoW(menu, i, TRUE, &info);
            text.assign(buffer.data());
        }
        std::wstring key;
        bool pKey = extended ? (info.wID == 0 || info.wID == 0xFFFF)
                             : (info.hSubMenu != nullptr || (info.wID & 0xFFFF) == 0 ||
                                (info.wID & 0xFFFF) == 0xFFFF);
        if (pKey)
            key = L"P" + std::to_wstring(counter++);
        else
            key = std::to_wstring(info.wID & 0xFFFF);
        out.Line(path + key, text);
        if (info.hSubMenu != nullptr)
            ReadMenu(info.hSubMenu, extended, path, counter, out);
    }
}

void ReadMenus(HMODULE module, WORD language, Output& out) {
    NameList menus = Names(module, MAKEINTRESOURCEW(4), language);
    for (size_t m = 0; m < menus.names.size(); ++m) {
        DWORD size = 0;
        const BYTE* data = Template(module, MAKEINTRESOURCEW(4), menus.ids[m], language, size);
        if (data == nullptr || size < 4)
            continue;
        HMENU menu = LoadMenuIndirectW(data);
        if (menu == nullptr) {
            std::fwprintf(stderr, L"LoadMenuIndirectW failed for menu %ls\n",
                          menus.names[m].c_str());
            continue;
        }
        int counter = 0;
        bool extended = *reinterpret_cast<const WORD*>(data) != 0;
        ReadMenu(menu, extended, L"4." + menus.names[m] + L".", counter, out);
        DestroyMenu(menu);
    }
}

// Reads a dialog template field by field, within its size.
struct Reader {
    const BYTE* start;
    DWORD size;
    DWORD at = 0;
    bool ok = true;

    WORD Word() {
        if (at + 2 > size) {
            ok = false;
            return 0;
        }
        WORD w = static_cast<WORD>(start[at] | (start[at + 1] << 8));
        at += 2;
        return w;
    }
    DWORD Dword() {
        DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    std::wstring Text() {
        std::wstring s;
        for (WORD w = Word(); ok && w != 0; w = Word())
            s += static_cast<wchar_t>(w);
        return s;
    }
    // An ordinal (0xFFFF and a number) or a text; true for a text.
    bool OrdinalOrText(std::wstring& text) {
        WORD first = Word();
        if (first == 0xFFFF) {
            Word();
            return false;
        }
        if (first == 0)
            return true;
        at -= 2;
        text = Text();
        return true;
    }
    void Align4() { at = (at + 3) & ~DWORD{3}; }
};

void ReadDialog(const BYTE* data, DWORD size, const std::wstring& path, Output& out) {
    Reader r{data, size};
    bool extended = size >= 4 && r.Word() == 1 && r.Word() == 0xFFFF;
    r.at = 0;
    DWORD style;
    WORD count;
    if (extended) {
        r.at = 12;
        style = r.Dword();
        count = r.Word();
        r.at += 8;
    } else {
        style = r.Dword();
        r.Dword();
        count = r.Word();
        r.at += 8;
    }
    std::wstring ignored;
    r.OrdinalOrText(ignored);  // menu
    r.OrdinalOrText(ignored);  // class
    out.Line(path + L"HEAD", r.Text());
    if (style & DS_SETFONT) {
        WORD points = r.Word();
        if (extended)
            r.at += 4;
        std::wstring face = r.Text();
        out.Line(path + L"FONT", face + L"," + std::to_wstring(points));
    }
    int sCounter = 0;
    for (WORD i = 0; i < count && r.ok; ++i) {
        r.Align4();
        WORD id;
        if (extended) {
            r.at += 20;
            id = static_cast<WORD>(r.Dword());
        } else {
            r.at += 16;
            id = r.Word();
        }
        std::wstring cls, title;
        r.OrdinalOrText(cls);
        if (r.OrdinalOrText(title)) {
            std::wstring key =
                id == 0xFFFF ? L"S" + std::to_wstring(sCounter++) : std::to_wstring(id);
            out.Line(path + key, title);
        }
        WORD extra = r.Word();
        if (extended)
            r.at += extra;
        else if (extra != 0)
            r.at += extra - 2;
    }
    if (!r.ok)
        std::fwprintf(stderr, L"dialog %ls runs past its size\n", path.c_str());
}

void ReadDialogs(HMODULE module, WORD language, Output& out) {
    NameList dialogs = Names(module, MAKEINTRESOURCEW(5), language);
    for (size_t d = 0; d < dialogs.names.size(); ++d) {
        DWORD size = 0;
        const BYTE* data = Template(module, MAKEINTRESOURCEW(5), dialogs.ids[d], language, size);
        if (data != nullptr)
            ReadDialog(data, size, L"5." + dialogs.names[d] + L".", out);
    }
}

std::wstring Fingerprint(const BYTE* data, DWORD size) {
    unsigned long long hash = 14695981039346656037ull;
    for (DWORD i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 1099511628211ull;
    wchar_t text[40];
    std::swprintf(text, 40, L"%lu:%016llx", static_cast<unsigned long>(size), hash);
    return text;
}

void ReadBytes(HMODULE module, WORD language, Output& out) {
    for (WORD type : {4, 5, 6}) {
        NameList list = Names(module, MAKEINTRESOURCEW(type), language);
        for (size_t i = 0; i < list.names.size(); ++i) {
            DWORD size = 0;
            const BYTE* data =
                Template(module, MAKEINTRESOURCEW(type), list.ids[i], language, size);
            if (data == nullptr)
                continue;
            std::wstring key = std::to_wstring(type) + L"." + list.names[i];
            out.Line(key, Fingerprint(data, size));
            if (type != 5 || size < 12)
                continue;
            bool extended = data[2] == 0xFF && data[3] == 0xFF;
            const BYTE* ex = data + (extended ? 8 : 4);
            DWORD exStyle =
                ex[0] | (ex[1] << 8) | (ex[2] << 16) | (static_cast<DWORD>(ex[3]) << 24);
            if (exStyle & WS_EX_LAYOUTRTL)
                out.Line(key + L".LAYOUTRTL", L"1");
        }
    }
}

bool WriteOutput(const wchar_t* path, const std::wstring& text) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    BOOL ok = WriteFile(file, text.data(), bytes, &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes;
}

int VersionMain(int argc, wchar_t** argv) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(argv[2], &handle);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoW(argv[2], 0, size, block.data())) {
        std::fwprintf(stderr, L"GetFileVersionInfoW failed: %lu\n", GetLastError());
        return 1;
    }
    Output out;
    out.text = L"\xFEFF";
    for (int i = 4; i < argc; ++i) {
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(block.data(), argv[i], &value, &length))
            continue;
        std::wstring query = argv[i];
        if (query.find(L"\\VarFileInfo\\") == 0) {
            std::wstring pairs;
            const WORD* words = static_cast<const WORD*>(value);
            for (UINT k = 0; k + 1 < length / 2; k += 2) {
                wchar_t pair[16];
                std::swprintf(pair, 16, L"%04X%04X", words[k], words[k + 1]);
                pairs += (pairs.empty() ? L"" : L" ") + std::wstring(pair);
            }
            out.Line(query, pairs);
        } else {
            out.Line(query, static_cast<const wchar_t*>(value));
        }
    }
    return WriteOutput(argv[3], out.text) ? 0 : 3;
}

void ReadMessages(HMODULE module, WORD language, Output& out) {
    DWORD size = 0;
    const BYTE* data = Template(module, MAKEINTRESOURCEW(11), MAKEINTRESOURCEW(1), language, size);
    auto u32 = [&](DWORD at) {
        return at + 4 <= size ? data[at] | (data[at + 1] << 8) | (data[at + 2] << 16) |
                                    (static_cast<DWORD>(data[at + 3]) << 24)
                              : 0;
    };
    for (DWORD b = 0, blocks = data != nullptr ? u32(0) : 0; b < blocks; ++b) {
        for (DWORD id = u32(4 + 12 * b), high = u32(8 + 12 * b); id <= high; ++id) {
            wchar_t* text = nullptr;
            DWORD n =
                FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS |
                                   FORMAT_MESSAGE_ALLOCATE_BUFFER,
                               module, id, language, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
            wchar_t key[32];
            std::swprintf(key, 32, L"11.1.0x%08X", static_cast<unsigned>(id));
            if (n > 0)
                out.Line(key, std::wstring(text, n));
            LocalFree(text);
            if (id == 0xFFFFFFFF)
                break;
        }
    }
    NameList tables = Names(module, MAKEINTRESOURCEW(9), language);
    for (size_t t = 0; t < tables.names.size(); ++t) {
        HACCEL accel = LoadAcceleratorsW(module, tables.ids[t]);
        if (accel == nullptr)
            continue;
        std::vector<ACCEL> entries(CopyAcceleratorTableW(accel, nullptr, 0));
        CopyAcceleratorTableW(accel, entries.data(), static_cast<int>(entries.size()));
        std::vector<WORD> seen;
        for (const ACCEL& a : entries) {
            int count = 1;
            for (WORD id : seen)
                count += id == a.cmd;
            seen.push_back(a.cmd);
            std::wstring key = L"9." + tables.names[t] + L"." + std::to_wstring(a.cmd);
            if (count > 1)
                key += L"#" + std::to_wstring(count);
            out.Line(key, std::to_wstring(a.fVirt & 0x7F) + L":" + std::to_wstring(a.key));
        }
        DestroyAcceleratorTable(accel);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 4 && std::wcscmp(argv[1], L"--version") == 0)
        return VersionMain(argc, argv);
    bool fingerprints = argc == 5 && std::wstring(argv[1]) == L"--bytes";
    bool lengths = argc == 5 && std::wstring(argv[1]) == L"--lengths";
    bool messages = argc == 5 && std::wstring(argv[1]) == L"--messages";
    if (fingerprints || lengths || messages) {
        --argc;
        ++argv;
    }
    if (argc != 4)
        return 2;
    WORD language = static_cast<WORD>(std::wcstoul(argv[2], nullptr, 10));
    HMODULE module =
        LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        std::fwprintf(stderr, L"LoadLibraryExW failed: %lu\n", GetLastError());
        return 1;
    }
    // LoadStringW looks its block up in the thread's UI language first.
    SetThreadUILanguage(language);
    SetThreadLocale(MAKELCID(language, SORT_DEFAULT));

    Output out;
    out.text = L"\xFEFF";
    bool stringsOk = true;
    if (fingerprints) {
        ReadBytes(module, language, out);
    } else if (lengths) {
        ReadLengths(module, language, out);
    } else if (messages) {
        ReadMessages(module, language, out);
    } else {
        stringsOk = ReadStrings(module, language, out);
        ReadMenus(module, language, out);
        ReadDialogs(module, language, out);
    }
    FreeLibrary(module);

    HANDLE file = CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    DWORD written = 0;
    DWORD bytes = static_cast<DWORD>(out.text.size() * sizeof(wchar_t));
    BOOL ok = WriteFile(file, out.text.data(), bytes, &written, nullptr);
    CloseHandle(file);
    if (!ok || written != bytes)
        return 3;
    return stringsOk ? 0 : 4;
}
