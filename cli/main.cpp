// quelvar-cli: export the texts of a Windows program image into a language file, or import
// a translated language file back into the image.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/image.h"
#include "platform/platform.h"

namespace {

using quelvar::Result;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* kUsage =
    "usage: quelvar-cli export IMAGE [LANGFILE] [--language ID]\n"
    "       quelvar-cli import IMAGE LANGFILE [-o OUTPUT] [--language ID]\n"
    "       quelvar-cli -h | --help | --version\n"
    "\n"
    "export  writes every text of the image's string tables, menus and dialogs into a\n"
    "        language file (UTF-16, one key=value line per text). LANGFILE defaults to\n"
    "        the image's path with the extension .lng.\n"
    "import  rebuilds the image's resources with the values of LANGFILE. Without -o the\n"
    "        new image is written to IMAGE.QN, which then takes the place of IMAGE; with\n"
    "        -o it is written to OUTPUT and IMAGE is left as it is.\n"
    "--language ID  export only the texts of resources in language ID (decimal, such as\n"
    "        1033, or hexadecimal with 0x, such as 0x409); import translates only those\n"
    "        resources and copies the other languages unchanged.\n";

const char* ErrorText(Result code) {
    switch (code) {
        case quelvar::kErrorFileNotFound:
            return "the file cannot be found or opened";
        case quelvar::kErrorPathNotFound:
            return "the path cannot be found";
        case quelvar::kErrorAccessDenied:
            return "access is denied";
        case quelvar::kErrorBadFormat:
            return "the image is not a valid program image";
        case quelvar::kErrorInvalidData:
            return "the language file's LANG value is not a language id";
        case quelvar::kErrorOutOfMemory:
            return "not enough memory";
        case quelvar::kErrorWriteFault:
            return "the output file cannot be written";
        case quelvar::kErrorSharingViolation:
            return "the output would overwrite the image being read";
        case quelvar::kErrorOpenFailed:
            return "the language file cannot be opened, is not a UTF-16 language file, or "
                   "cannot be created";
        case quelvar::kErrorDiskFull:
            return "the disk is full";
        case quelvar::kErrorFilenameExcedRange:
            return "the file name is too long";
        case quelvar::kErrorResourceDataNotFound:
            return "the image has no resources";
        default:
            return "the operation failed";
    }
}

int Fail(const char* what, Result code) {
    std::fprintf(stderr, "quelvar-cli: %s failed: %s (error %u)\n", what, ErrorText(code),
                 static_cast<unsigned>(code));
    return kExitFailed;
}

int Usage(const char* problem) {
    if (problem != nullptr)
        std::fprintf(stderr, "quelvar-cli: %s\n", problem);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

// The language file proposed for an image: its file name's extension replaced by ".lng",
// or ".lng" appended when the name has none.
std::filesystem::path ToPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Show(const std::filesystem::path& path) {
    std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

std::filesystem::path DefaultLanguagePath(const std::filesystem::path& image) {
    std::filesystem::path result = image;
    return result.replace_extension(".lng");
}

// A language id: decimal digits, or hexadecimal digits after "0x"; at most 0xFFFF.
bool ParseLanguageId(const std::string& text, uint32_t& id) {
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    std::string_view digits(text);
    if (hex)
        digits.remove_prefix(2);
    if (digits.empty() || digits.size() > 5)
        return false;
    uint32_t value = 0;
    for (char c : digits) {
        uint32_t d;
        if (c >= '0' && c <= '9')
            d = static_cast<uint32_t>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            d = static_cast<uint32_t>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            d = static_cast<uint32_t>(c - 'A' + 10);
        else
            return false;
        value = value * (hex ? 16 : 10) + d;
    }
    if (value > 0xFFFF)
        return false;
    id = value;
    return true;
}

int RunExport(const std::vector<std::filesystem::path>& args, uint32_t languageFilter) {
    if (args.empty() || args.size() > 2)
        return Usage("export takes IMAGE and an optional LANGFILE");
    std::filesystem::path language = args.size() == 2 ? args[1] : DefaultLanguagePath(args[0]);
    Result r = quelvar::ProcessImage(args[0], language, nullptr, languageFilter);
    if (r != quelvar::kSuccess)
        return Fail("export", r);
    std::printf("exported %s to %s\n", Show(args[0]).c_str(), Show(language).c_str());
    return kExitOk;
}

int RunImport(const std::vector<std::filesystem::path>& args, const std::filesystem::path* output,
              uint32_t languageFilter) {
    if (args.size() != 2)
        return Usage("import takes IMAGE and LANGFILE");
    const std::filesystem::path& image = args[0];
    if (output != nullptr) {
        Result r = quelvar::ProcessImage(image, args[1], output, languageFilter);
        if (r != quelvar::kSuccess)
            return Fail("import", r);
        std::printf("imported %s into %s\n", Show(args[1]).c_str(), Show(*output).c_str());
        return kExitOk;
    }
    std::filesystem::path copy = quelvar::UpdateCopyPath(image);
    Result r = quelvar::ProcessImage(image, args[1], &copy, languageFilter);
    if (r != quelvar::kSuccess)
        return Fail("import", r);
    // The update copy takes the image's permissions, then its place.
    std::error_code ec;
    auto perms = std::filesystem::status(image, ec).permissions();
    if (!ec)
        std::filesystem::permissions(copy, perms, ec);
    r = quelvar::platform::ReplacePath(copy, image);
    if (r != quelvar::kSuccess) {
        std::fprintf(stderr, "quelvar-cli: the translated image stays at %s\n", Show(copy).c_str());
        return Fail("replacing the image", r);
    }
    std::printf("imported %s into %s\n", Show(args[1]).c_str(), Show(image).c_str());
    return kExitOk;
}

int Run(const std::vector<std::string>& argv) {
    if (argv.empty())
        return Usage(nullptr);
    const std::string& command = argv[0];
    if (command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (command == "--version") {
        std::printf("quelvar-cli %s\n", QUELVAR_VERSION);
        return kExitOk;
    }
    std::vector<std::filesystem::path> paths;
    std::filesystem::path output;
    bool haveOutput = false;
    uint32_t languageFilter = quelvar::kAllLanguages;
    for (size_t i = 1; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (a == "-o") {
            if (command != "import")
                return Usage("-o belongs to import");
            if (haveOutput || i + 1 >= argv.size())
                return Usage("-o takes one OUTPUT path");
            output = ToPath(argv[++i]);
            haveOutput = true;
        } else if (a == "--language") {
            if (languageFilter != quelvar::kAllLanguages || i + 1 >= argv.size())
                return Usage("--language takes one ID");
            if (!ParseLanguageId(argv[++i], languageFilter))
                return Usage(("not a language id: " + argv[i]).c_str());
        } else if (a == "--") {
            for (++i; i < argv.size(); ++i)
                paths.push_back(ToPath(argv[i]));
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage(("unknown option " + a).c_str());
        } else {
            paths.push_back(ToPath(a));
        }
    }
    if (command == "export")
        return RunExport(paths, languageFilter);
    if (command == "import")
        return RunImport(paths, haveOutput ? &output : nullptr, languageFilter);
    return Usage(("unknown command " + command).c_str());
}

}  // namespace

#ifdef _WIN32
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string s(n > 0 ? n - 1 : 0, '\0');
        if (n > 1)
            WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, s.data(), n, nullptr, nullptr);
        args.push_back(s);
    }
    return Run(args);
}
#else
int main(int argc, char** argv) {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
