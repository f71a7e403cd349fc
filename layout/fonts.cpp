#include "layout/fonts.h"

#include <system_error>

#include "base/utf16.h"

namespace quelvar {

namespace {

bool SameFace(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z')
            x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z')
            y = static_cast<char16_t>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

// A face's files in a Windows Fonts folder (regular, bold, italic, bold italic; a missing style
// takes the regular file) and its Debian stand-in's.
struct FaceFiles {
    std::u16string_view face;
    const char* windows[4];
    const char* standIn[4];
};

constexpr const char* kWine = "/usr/share/wine/fonts/";
constexpr const char* kLiberation = "/usr/share/fonts/truetype/liberation/";
constexpr const char* kNoto = "/usr/share/fonts/truetype/noto/";
constexpr const char* kNotoCjk = "/usr/share/fonts/opentype/noto/";

#define LIBERATION(style)                                                          \
    {                                                                              \
        "Liberation" style "-Regular.ttf", "Liberation" style "-Bold.ttf",         \
            "Liberation" style "-Italic.ttf", "Liberation" style "-BoldItalic.ttf" \
    }

const FaceFiles kFaces[] = {
    {u"Tahoma",
     {"tahoma.ttf", "tahomabd.ttf", nullptr, nullptr},
     {"@tahoma.ttf", "@tahomabd.ttf", nullptr, nullptr}},
    {u"Microsoft Sans Serif", {"micross.ttf", nullptr, nullptr, nullptr}, LIBERATION("Sans")},
    {u"Arial", {"arial.ttf", "arialbd.ttf", "ariali.ttf", "arialbi.ttf"}, LIBERATION("Sans")},
    {u"Segoe UI",
     {"segoeui.ttf", "segoeuib.ttf", "segoeuii.ttf", "segoeuiz.ttf"},
     LIBERATION("Sans")},
    {u"Verdana",
     {"verdana.ttf", "verdanab.ttf", "verdanai.ttf", "verdanaz.ttf"},
     LIBERATION("Sans")},
    {u"MS Sans Serif",
     {"sserife.fon", nullptr, nullptr, nullptr},
     {"@ms_sans_serif.ttf", nullptr, nullptr, nullptr}},
    {u"Times New Roman",
     {"times.ttf", "timesbd.ttf", "timesi.ttf", "timesbi.ttf"},
     LIBERATION("Serif")},
    {u"Courier New", {"cour.ttf", "courbd.ttf", "couri.ttf", "courbi.ttf"}, LIBERATION("Mono")},
    {u"Courier",
     {"coure.fon", nullptr, nullptr, nullptr},
     {"@courier.ttf", nullptr, nullptr, nullptr}},
    {u"System",
     {"vgasys.fon", nullptr, nullptr, nullptr},
     {"@system.ttf", nullptr, nullptr, nullptr}},
};

#undef LIBERATION

// A stand-in's path: "@name" in Wine's fonts, else Liberation's folder.
std::filesystem::path StandInPath(const char* name) {
    if (name[0] == '@')
        return std::filesystem::path(kWine) / (name + 1);
    return std::filesystem::path(kLiberation) / name;
}

bool IsFile(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// A file of a Windows Fonts folder, whatever the case of its name there.
bool FindInFolder(const std::filesystem::path& folder, std::string_view name,
                  std::filesystem::path& found) {
    if (IsFile(folder / name)) {
        found = folder / name;
        return true;
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::string file = entry.path().filename().string();
        if (file.size() != name.size())
            continue;
        bool same = true;
        for (size_t i = 0; i < file.size() && same; ++i)
            same = (file[i] | 0x20) == (name[i] | 0x20);
        if (same && entry.is_regular_file(ec)) {
            found = entry.path();
            return true;
        }
    }
    return false;
}

const char* Styled(const char* const files[4], bool bold, bool italic) {
    int style = (bold ? 1 : 0) + (italic ? 2 : 0);
    if (files[style] != nullptr)
        return files[style];
    if (bold && files[1] != nullptr)
        return files[1];
    return files[0];
}

// Faces for the scripts the dialog font lacks: Noto's, bold with a bold dialog font.
std::vector<FontFile> StandInFallbacks(bool bold, uint8_t charset) {
    std::vector<FontFile> out;
    std::string weight = bold ? "-Bold.ttf" : "-Regular.ttf";
    for (const char* script : {"Arabic", "Hebrew", "Devanagari", "Thai"})
        out.push_back({std::filesystem::path(kNoto) / ("NotoSans" + std::string(script) + weight)});
    // Noto Sans CJK's collection holds Japanese, Korean, Simplified, Traditional Chinese.
    uint32_t index = charset == 129 ? 1 : charset == 134 ? 2 : charset == 136 ? 3 : 0;
    out.push_back({std::filesystem::path(kNotoCjk) /
                       (bold ? "NotoSansCJK-Bold.ttc" : "NotoSansCJK-Regular.ttc"),
                   index});
    return out;
}

}  // namespace

std::u16string MapTypeface(std::u16string_view typeface, bool shellFont) {
    if (SameFace(typeface, u"MS Shell Dlg 2") || (shellFont && SameFace(typeface, u"MS Shell Dlg")))
        return u"Tahoma";
    if (SameFace(typeface, u"MS Shell Dlg"))
        return u"Microsoft Sans Serif";
    return std::u16string(typeface);
}

FontChoice ChooseFont(std::u16string_view face, bool bold, bool italic, uint8_t charset,
                      const std::filesystem::path& fontDir) {
    FontChoice choice;
    choice.face = std::u16string(face);
    const FaceFiles* known = nullptr;
    for (const FaceFiles& f : kFaces)
        if (SameFace(f.face, face))
            known = &f;
    if (!fontDir.empty()) {
        // The face's own file; an unknown face by its name in lower case without blanks.
        std::string name;
        if (known != nullptr) {
            name = Styled(known->windows, bold, italic);
        } else {
            for (char16_t c : face)
                if (c != u' ' && c < 0x80)
                    name.push_back(static_cast<char>(c | (c >= u'A' && c <= u'Z' ? 0x20 : 0)));
            name += ".ttf";
        }
        if (FindInFolder(fontDir, name, choice.file.path)) {
            choice.found = true;
            // Windows' own links: the East Asian and Indic faces, when the folder has them.
            for (const char* linked :
                 {"mangal.ttf", "msgothic.ttc", "simsun.ttc", "gulim.ttc", "mingliu.ttc"}) {
                std::filesystem::path p;
                if (FindInFolder(fontDir, linked, p))
                    choice.fallbacks.push_back({p, 0});
            }
            for (FontFile& f : StandInFallbacks(bold, charset))
                choice.fallbacks.push_back(f);
            return choice;
        }
    }
    choice.standIn = true;
    // An unknown face stands in as Liberation Sans, the sans serif most dialogs use.
    const char* file = known != nullptr ? Styled(known->standIn, bold, italic)
                                        : Styled(kFaces[2].standIn, bold, italic);
    choice.file.path = StandInPath(file);
    choice.fallbacks = StandInFallbacks(bold, charset);
    if (!IsFile(choice.file.path)) {
        choice.problem =
            "no font file for " + ToUtf8(face) + " (looked for " + choice.file.path.string() + ")";
        return choice;
    }
    choice.found = true;
    return choice;
}

}  // namespace quelvar
