// quelvar-cli: export the texts of a Windows program image into a language file, or import
// a translated language file back into the image.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/number.h"
#include "base/utf16.h"
#include "driver/driver.h"

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

// Says a notice on stderr.
void Tell(const quelvar::Notice& notice) {
    std::string key = quelvar::ToUtf8(notice.key);
    switch (notice.kind) {
        case quelvar::NoticeKind::TextCut:
            std::fprintf(stderr,
                         "quelvar-cli: %s: the translation of %llu units is cut to %llu, the most "
                         "a string table entry holds\n",
                         key.c_str(), static_cast<unsigned long long>(notice.counts[0]),
                         static_cast<unsigned long long>(notice.counts[1]));
            break;
        case quelvar::NoticeKind::LanguageValueRefused:
            std::fprintf(
                stderr,
                "quelvar-cli: the language file's LANG value \"%s\" is no language id (decimal, "
                "hexadecimal with 0x, or -1 to keep the languages)\n",
                key.c_str());
            break;
        case quelvar::NoticeKind::EntryReplaced:
            std::fprintf(stderr,
                         "quelvar-cli: %s: the translation of language %llu replaces the "
                         "resource of language %llu\n",
                         key.c_str(), static_cast<unsigned long long>(notice.counts[1]),
                         static_cast<unsigned long long>(notice.counts[0]));
            break;
        case quelvar::NoticeKind::LanguageKeysCollide:
            std::fprintf(stderr,
                         "quelvar-cli: warning: the image's languages share their keys; language "
                         "%llu has %llu text(s) (export it alone with --language %llu)\n",
                         static_cast<unsigned long long>(notice.counts[0]),
                         static_cast<unsigned long long>(notice.counts[1]),
                         static_cast<unsigned long long>(notice.counts[0]));
            break;
    }
}

quelvar::Options MakeOptions(uint32_t languageFilter) {
    return quelvar::Options{languageFilter, Tell};
}

int Usage(const char* problem) {
    if (problem != nullptr)
        std::fprintf(stderr, "quelvar-cli: %s\n", problem);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

std::filesystem::path ToPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Show(const std::filesystem::path& path) {
    std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

int RunExport(const std::vector<std::filesystem::path>& args, uint32_t languageFilter) {
    if (args.empty() || args.size() > 2)
        return Usage("export takes IMAGE and an optional LANGFILE");
    std::filesystem::path language =
        args.size() == 2 ? args[1] : quelvar::DefaultLanguagePath(args[0]);
    Result r = quelvar::ProcessImage(args[0], language, nullptr, MakeOptions(languageFilter));
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
        Result r = quelvar::ProcessImage(image, args[1], output, MakeOptions(languageFilter));
        if (r != quelvar::kSuccess)
            return Fail("import", r);
        std::printf("imported %s into %s\n", Show(args[1]).c_str(), Show(*output).c_str());
        return kExitOk;
    }
    quelvar::InPlaceImport outcome =
        quelvar::ImportInPlace(image, args[1], MakeOptions(languageFilter));
    if (outcome.copyLeft) {
        std::fprintf(stderr, "quelvar-cli: the translated image stays at %s\n",
                     Show(quelvar::UpdateCopyPath(image)).c_str());
        return Fail("replacing the image", outcome.result);
    }
    if (outcome.result != quelvar::kSuccess)
        return Fail("import", outcome.result);
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
            if (!quelvar::ParseLanguageId(std::string_view(argv[++i]), languageFilter))
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
