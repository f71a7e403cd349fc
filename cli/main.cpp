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
#include "exchange/language_names.h"
#include "exchange/po.h"

namespace {

using quelvar::Result;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* kUsage =
    "usage: quelvar-cli export IMAGE [LANGFILE] [--language ID] [--format po|lng]\n"
    "       quelvar-cli export --source ORIGINAL IMAGE [POFILE] [--language ID]\n"
    "       quelvar-cli import IMAGE LANGFILE [-o OUTPUT] [--language ID] [--format po|lng]\n"
    "                          [--lang-id ID] [--fuzzy]\n"
    "       quelvar-cli convert FROM TO [--image IMAGE] [--fuzzy]\n"
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
    "        resources and copies the other languages unchanged.\n"
    "--format po|lng  the format of LANGFILE; by default a gettext PO file when its name\n"
    "        ends in .po or .pot, else a language file. A PO file holds the texts of one\n"
    "        source language: --language, the image's only one, else English (1033) when\n"
    "        present, else the one of most texts. Import reads the source language from\n"
    "        the PO header and the new language id from its Language field.\n"
    "--lang-id ID  import: the language id the translated resources receive, over LANG=\n"
    "        or the PO Language field.\n"
    "--fuzzy  apply fuzzy PO translations too (they are skipped by default).\n"
    "--source ORIGINAL  export: harvest a translated build IMAGE into a PO file, msgids\n"
    "        from ORIGINAL, msgstrs from IMAGE (POFILE defaults to IMAGE's path with .po).\n"
    "convert  turns a language file into a PO file (the msgids from --image IMAGE) or a\n"
    "        PO file into a language file.\n";

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
            return "the language file's LANG value is not a language id, or the PO file "
                   "cannot be used";
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

const char* PoProblemText(uint64_t problem) {
    switch (static_cast<quelvar::PoProblem>(problem)) {
        case quelvar::PoProblem::UnterminatedString:
            return "the string has no closing quote";
        case quelvar::PoProblem::BadEscape:
            return "a backslash stands before a letter that is no escape";
        case quelvar::PoProblem::BadUtf8:
            return "the entry is not UTF-8";
        case quelvar::PoProblem::MsgstrBeforeMsgid:
            return "msgstr or a string without msgid before it";
        case quelvar::PoProblem::MissingMsgstr:
            return "the entry has no msgstr";
        case quelvar::PoProblem::DuplicateContext:
            return "an earlier entry has this msgctxt";
        case quelvar::PoProblem::Plural:
            return "plural forms cannot be imported into resources";
        default:
            return "the line is no keyword, string or comment";
    }
}

// Says a notice on stderr.
void Tell(const quelvar::Notice& notice) {
    std::string key = quelvar::ToUtf8(notice.key);
    unsigned long long n = notice.counts[0];
    switch (notice.kind) {
        case quelvar::NoticeKind::TextCut:
            std::fprintf(stderr,
                         "quelvar-cli: %s: the translation of %llu units is cut to %llu, the most "
                         "a string table entry holds\n",
                         key.c_str(), static_cast<unsigned long long>(notice.counts[0]),
                         static_cast<unsigned long long>(notice.counts[1]));
            break;
        case quelvar::NoticeKind::SourceLanguageChosen: {
            std::string name(quelvar::LanguageNameOfId(static_cast<uint32_t>(n)));
            std::fprintf(stderr,
                         "quelvar-cli: the image has texts in %llu languages; the PO file holds "
                         "language %llu%s%s%s (--language ID chooses another)\n",
                         static_cast<unsigned long long>(notice.counts[1]), n,
                         name.empty() ? "" : " (", name.c_str(), name.empty() ? "" : ")");
            break;
        }
        case quelvar::NoticeKind::FuzzySkipped:
            std::fprintf(stderr,
                         "quelvar-cli: %llu fuzzy translations were skipped (--fuzzy applies "
                         "them)\n",
                         n);
            break;
        case quelvar::NoticeKind::SourceTextsChanged:
            std::fprintf(stderr,
                         "quelvar-cli: the program's texts changed since this file was made: "
                         "%llu translations are for other source texts; run msgmerge\n",
                         n);
            break;
        case quelvar::NoticeKind::PoSyntax:
            std::fprintf(stderr, "quelvar-cli: %s:%llu: %s\n", key.c_str(), n,
                         PoProblemText(notice.counts[1]));
            break;
        case quelvar::NoticeKind::UnknownLanguage:
            std::fprintf(stderr,
                         "quelvar-cli: unknown language \"%s\": give its language id with "
                         "--lang-id ID\n",
                         key.c_str());
            break;
        case quelvar::NoticeKind::KeyInOneImage:
            std::fprintf(stderr, "quelvar-cli: %s: only in the %s\n", key.c_str(),
                         n == 0 ? "original" : "translated build");
            break;
    }
}

// What the command line chose.
struct Choices {
    uint32_t languageFilter = quelvar::kAllLanguages;
    quelvar::TextFormat format = quelvar::TextFormat::ByExtension;
    uint32_t targetLanguage = quelvar::kNoLanguageOverride;
    bool useFuzzy = false;
    std::filesystem::path source, image;  // --source, --image; empty when not given
};

quelvar::Options MakeOptions(const Choices& c) {
    return quelvar::Options{c.languageFilter, Tell, c.format, c.targetLanguage, c.useFuzzy};
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

int RunExport(const std::vector<std::filesystem::path>& args, const Choices& choices) {
    if (args.empty() || args.size() > 2)
        return Usage("export takes IMAGE and an optional LANGFILE");
    std::filesystem::path language =
        args.size() == 2 ? args[1] : quelvar::DefaultLanguagePath(args[0]);
    if (args.size() == 1 && (choices.format == quelvar::TextFormat::Po || !choices.source.empty()))
        language.replace_extension(".po");
    Result r;
    if (!choices.source.empty()) {
        if (choices.format == quelvar::TextFormat::Lng ||
            quelvar::FormatOfPath(language) != quelvar::TextFormat::Po)
            return Usage("--source writes a PO file");
        r = quelvar::HarvestTranslation(choices.source, args[0], language, MakeOptions(choices));
    } else {
        r = quelvar::ProcessImage(args[0], language, nullptr, MakeOptions(choices));
    }
    if (r != quelvar::kSuccess)
        return Fail("export", r);
    std::printf("exported %s to %s\n", Show(args[0]).c_str(), Show(language).c_str());
    return kExitOk;
}

int RunConvert(const std::vector<std::filesystem::path>& args, const Choices& choices) {
    if (args.size() != 2)
        return Usage("convert takes FROM and TO");
    bool toPo = quelvar::FormatOfPath(args[1]) == quelvar::TextFormat::Po;
    if (quelvar::FormatOfPath(args[0]) == quelvar::FormatOfPath(args[1]))
        return Usage("convert turns a language file into a PO file or back");
    if (toPo && choices.image.empty())
        return Usage("a PO file's msgids come from the image: give --image IMAGE");
    Result r = quelvar::ConvertTranslation(args[0], args[1], toPo ? &choices.image : nullptr,
                                           MakeOptions(choices));
    if (r != quelvar::kSuccess)
        return Fail("convert", r);
    std::printf("converted %s to %s\n", Show(args[0]).c_str(), Show(args[1]).c_str());
    return kExitOk;
}

int RunImport(const std::vector<std::filesystem::path>& args, const std::filesystem::path* output,
              const Choices& choices) {
    if (args.size() != 2)
        return Usage("import takes IMAGE and LANGFILE");
    const std::filesystem::path& image = args[0];
    if (output != nullptr) {
        Result r = quelvar::ProcessImage(image, args[1], output, MakeOptions(choices));
        if (r != quelvar::kSuccess)
            return Fail("import", r);
        std::printf("imported %s into %s\n", Show(args[1]).c_str(), Show(*output).c_str());
        return kExitOk;
    }
    quelvar::InPlaceImport outcome = quelvar::ImportInPlace(image, args[1], MakeOptions(choices));
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
    Choices choices;
    uint32_t& languageFilter = choices.languageFilter;
    bool haveFormat = false;
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
        } else if (a == "--format") {
            if (haveFormat || i + 1 >= argv.size())
                return Usage("--format takes po or lng");
            const std::string& f = argv[++i];
            if (f != "po" && f != "lng")
                return Usage(("unknown format " + f).c_str());
            choices.format = f == "po" ? quelvar::TextFormat::Po : quelvar::TextFormat::Lng;
            haveFormat = true;
        } else if (a == "--lang-id") {
            if (command != "import")
                return Usage("--lang-id belongs to import");
            if (choices.targetLanguage != quelvar::kNoLanguageOverride || i + 1 >= argv.size())
                return Usage("--lang-id takes one ID");
            if (!quelvar::ParseLanguageId(std::string_view(argv[++i]), choices.targetLanguage))
                return Usage(("not a language id: " + argv[i]).c_str());
        } else if (a == "--fuzzy") {
            if (command != "import" && command != "convert")
                return Usage("--fuzzy belongs to import and convert");
            choices.useFuzzy = true;
        } else if (a == "--source" || a == "--image") {
            bool source = a == "--source";
            if (command != (source ? "export" : "convert"))
                return Usage((a + (source ? " belongs to export" : " belongs to convert")).c_str());
            std::filesystem::path& p = source ? choices.source : choices.image;
            if (!p.empty() || i + 1 >= argv.size())
                return Usage((a + " takes one path").c_str());
            p = ToPath(argv[++i]);
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
        return RunExport(paths, choices);
    if (command == "import")
        return RunImport(paths, haveOutput ? &output : nullptr, choices);
    if (command == "convert")
        return RunConvert(paths, choices);
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
