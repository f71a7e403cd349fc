// quelvar-cli: export the texts of a Windows program image into a language file, or import
// a translated language file back into the image.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/number.h"
#include "base/utf16.h"
#include "cli/commands.h"
#include "driver/driver.h"
#include "exchange/language_names.h"
#include "exchange/po.h"

namespace {

using quelvar::Result;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* kUsage =
    "usage: quelvar-cli export IMAGE [LANGFILE] [--language ID] [--format po|lng] [-q]\n"
    "       quelvar-cli export --source ORIGINAL IMAGE [POFILE] [--language ID]\n"
    "                          [--lang-id ID] [-q]\n"
    "       quelvar-cli export --batch --out DIR IMAGE|FOLDER... [--format po|lng] [-j N]\n"
    "                          [--language ID] [-q]\n"
    "       quelvar-cli import IMAGE LANGFILE [-o OUTPUT] [--language ID] [--format po|lng]\n"
    "                          [--lang-id ID] [--add-language] [--rtl | --no-rtl]\n"
    "                          [--fuzzy] [--strict [--layout]] [--unsign] [-q]\n"
    "       quelvar-cli import --batch --from DIR IMAGE|FOLDER... [-o OUTDIR] [-j N]\n"
    "                          [--format po|lng] [--language ID] [--lang-id ID]\n"
    "                          [--add-language] [--rtl | --no-rtl] [--fuzzy] [--unsign]\n"
    "                          [-q]\n"
    "       quelvar-cli convert FROM TO [--image IMAGE] [--fuzzy] [-q]\n"
    "       quelvar-cli check IMAGE TRANSLATION [--language ID] [--format text|json]\n"
    "                         [--layout [--font-dir DIR] [--dpi 96|120|144|192]\n"
    "                         [--html REPORT.html]]\n"
    "       quelvar-cli preview IMAGE [TRANSLATION] -o OUT.png|OUT.svg [--dialog ID]\n"
    "                         [--language ID] [--font-dir DIR] [--dpi 96|120|144|192]\n"
    "       quelvar-cli pseudo IMAGE OUT.lng|OUT.po [--expand PERCENT] [--language ID] [-q]\n"
    "       quelvar-cli -h | --help | --version\n"
    "\n"
    "export  writes every text of the image's string tables, menus and dialogs into a\n"
    "        language file (UTF-16, one key=value line per text). LANGFILE defaults to\n"
    "        the image's path with the extension .lng.\n"
    "import  rebuilds the image's resources with the values of LANGFILE. Without -o the\n"
    "        new image is written to IMAGE.QN, which then takes the place of IMAGE; with\n"
    "        -o it is written to OUTPUT and IMAGE is left as it is.\n"
    "check   compares a translation with the image's texts: accelerator letters used\n"
    "        twice in one menu level or dialog, placeholders lost or reordered, shortcut\n"
    "        tabs, line breaks, blanks, punctuation, lengths, fonts, unknown keys. One\n"
    "        finding a line (file:line: error|warning: key: message), then a summary;\n"
    "        exit status 1 when any is an error. --format json for tools.\n"
    "        --layout also measures every dialog as Windows lays it out and judges the\n"
    "        translation against the source: text clipped in its control, a wrapped\n"
    "        text with more lines than its height holds, a control or text beyond the\n"
    "        dialog, text crowded within 10 % of its width (a warning). What the source\n"
    "        has already is said once, as the source's (a warning). --font-dir DIR: a\n"
    "        copy of a Windows Fonts folder; without it, stand-ins (Wine's Tahoma,\n"
    "        Liberation Sans, Noto). --dpi: the screen resolution, 96 by default.\n"
    "        --html REPORT.html also writes one page with every dialog's picture (the\n"
    "        source left, the translation right, failing controls outlined in red)\n"
    "        and its findings, the list of findings linking to the dialogs.\n"
    "preview draws each dialog (or --dialog ID) as Windows lays it out, the\n"
    "        translation beside the source, controls whose text does not fit outlined\n"
    "        in red, into a PNG or SVG picture. Several dialogs go one a file, named\n"
    "        OUT-<dialog>-<language>.png (or .svg).\n"
    "pseudo  writes a pseudo-translation of every text (accented look-alikes in brackets,\n"
    "        padded by --expand percent, 35 by default) for the pseudo-locale 0x0501\n"
    "        (qps-ploc): a language file, or a PO file whose msgstrs they are.\n"
    "--language ID  export only the texts of resources in language ID (decimal, such as\n"
    "        1033, or hexadecimal with 0x, such as 0x409); import translates only those\n"
    "        resources and copies the other languages unchanged. An import translates\n"
    "        one source language: --language, the PO header's, else the image's only\n"
    "        one (language-neutral resources go with it); several are refused.\n"
    "--format po|lng  the format of LANGFILE; by default a gettext PO file when its name\n"
    "        ends in .po or .pot, else a language file. A PO file holds the texts of one\n"
    "        source language: --language, the image's only one, else English (1033) when\n"
    "        present, else the one of most texts. Import reads the source language from\n"
    "        the PO header and the new language id from its Language field.\n"
    "--lang-id ID  import: the language id the translated resources receive, over LANG=\n"
    "        or the PO Language field. export --source: the translated build's language.\n"
    "--add-language  import: keep every resource as it is and add the translation\n"
    "        beside it under the target language id (LANG=, the PO Language field or\n"
    "        --lang-id), so that Windows shows each user their language. The copies are\n"
    "        made from --language ID, else the PO source language, else the image's\n"
    "        only language; an existing resource of the target language is replaced.\n"
    "--rtl, --no-rtl  import: give every translated dialog the right-to-left layout\n"
    "        (WS_EX_LAYOUTRTL), or leave the dialogs' extended styles as they are. By\n"
    "        default a dialog receives it with a new language id written right to left\n"
    "        (Arabic, Hebrew, Persian, Urdu, ...).\n"
    "--fuzzy  apply fuzzy PO translations too (they are skipped by default).\n"
    "--source ORIGINAL  export: harvest a translated build IMAGE into a PO file, msgids\n"
    "        from ORIGINAL, msgstrs from IMAGE (POFILE defaults to IMAGE's path with .po).\n"
    "--batch  export or import many images: each IMAGE, and every file below each FOLDER\n"
    "        that begins with \"MZ\" (links are not followed). Export writes one file an\n"
    "        image into --out DIR, named by the image's path below its FOLDER (an IMAGE's\n"
    "        file name) with .lng or .po (--format) appended: sub/app.exe gives\n"
    "        DIR/sub/app.exe.lng. Import reads the file of that name from --from DIR and\n"
    "        translates the image in place, or writes it to OUTDIR under its path (-o).\n"
    "        Images without resources, and on import without a file, are skipped. A\n"
    "        progress line on a terminal, one line an image otherwise, then a summary and\n"
    "        every failure; exit status 1 when any image failed.\n"
    "-j N    --batch: work on N images at once (default: one a processor).\n"
    "convert  turns a language file into a PO file (the msgids from --image IMAGE) or a\n"
    "        PO file into a language file.\n"
    "--strict  import: refuse a translation in which check finds errors, a text too\n"
    "        long for its string table entry among them (they are said as errors, and\n"
    "        without --strict the import goes on). With --layout, the dialogs' layout\n"
    "        is checked too (as check --layout) and its errors refuse the import.\n"
    "--unsign  import: remove the signature (the certificate table) of a signed image,\n"
    "        which no longer matches once translated; sign the new image again with\n"
    "        osslsigncode sign (or signtool sign) instead to keep it signed.\n"
    "-q      says nothing on success (the status line goes to standard error).\n"
    "LANGFILE - is standard output for export and standard input for import.\n";

std::string Utf8(const std::filesystem::path& path) {
    std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

// A path as messages show it: a name with a control character (a line break) in double
// quotes, that character escaped as in C, so that every message stays one line.
std::string Show(const std::filesystem::path& path) {
    if (path == quelvar::kStandardStream)
        return "standard input/output";
    std::string name = Utf8(path);
    auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
    if (std::none_of(name.begin(), name.end(), control))
        return name;
    std::string quoted = "\"";
    for (char c : name) {
        if (c == '\n' || c == '\t' || c == '\r') {
            quoted += c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\r";
        } else if (control(c)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
            quoted += escape;
        } else {
            quoted += c == '"' || c == '\\' ? std::string(1, '\\') + c : std::string(1, c);
        }
    }
    return quoted + "\"";
}

// A path as a POSIX shell reads it back.
std::string ShellWord(const std::filesystem::path& path) {
    std::string word = path == quelvar::kStandardStream ? Show(path) : Utf8(path);
    if (word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                               "_./+,:@%-") == std::string::npos)
        return word;
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// How to turn a language file in another encoding into one Quelvar reads.
// `to` is UTF-16 (with a mark, little-endian here) unless the file brings a mark of its own.
std::string Conversion(const char* found, const char* from, const char* to,
                       const std::filesystem::path& path) {
    std::string text = "the language file is ";
    text += found;
    text += "; it must be UTF-16LE with the byte-order mark FF FE; convert it with: iconv -f ";
    text += from;
    text += " -t ";
    text += to;
    std::filesystem::path converted = "converted.lng";
    if (path != quelvar::kStandardStream) {
        text += ' ';
        text += ShellWord(path);
        converted = path;
        converted.replace_filename(path.stem().u8string() + u8".utf16" +
                                   path.extension().u8string());
    }
    text += " > ";
    text += ShellWord(converted);
    return text;
}

// The name of a file beside `path`, the extension replaced by `extension`.
std::filesystem::path Beside(const std::filesystem::path& path, const char8_t* extension) {
    std::filesystem::path other = path;
    other.replace_filename(path.stem().u8string() + extension);
    return other;
}

// What is wrong with a PO file, and how to mend it where a tool does.
std::string PoProblemText(const quelvar::Failure& failure) {
    using quelvar::PoProblem;
    switch (failure.poProblem) {
        case PoProblem::UnterminatedString:
            return "the string has no closing quote";
        case PoProblem::BadEscape:
            return "a backslash stands before a letter that is no escape";
        case PoProblem::BadUtf8:
            return "the entry is not UTF-8 text";
        case PoProblem::MsgstrBeforeMsgid:
            return "msgstr or a string without msgid before it";
        case PoProblem::MissingMsgstr:
            return "the entry has no msgstr";
        case PoProblem::DuplicateContext:
            return "an earlier entry has this msgctxt";
        case PoProblem::Plural:
            return "a plural entry (msgid_plural, msgstr[n]); a program's resources have no plural "
                   "forms";
        case PoProblem::Compiled:
            return "a compiled catalog (.mo), not a PO file; give the PO file it was made from, "
                   "or turn it back into one with: msgunfmt " +
                   ShellWord(failure.path) + " -o " +
                   ShellWord(Beside(failure.path, u8".recovered.po"));
        case PoProblem::Empty:
            return "the PO file is empty: it lacks even the header entry (msgid \"\") that "
                   "msgfmt requires";
        case PoProblem::NoHeader:
            return "the PO file has no header entry, or an empty one (msgid \"\" with fields "
                   "such as Content-Type and Language), which msgfmt requires";
        case PoProblem::Charset:
            return "the PO file is " + failure.detail +
                   " text; Quelvar reads UTF-8: convert it with: msgconv -t UTF-8 " +
                   ShellWord(failure.path) + " -o " + ShellWord(Beside(failure.path, u8".utf8.po"));
        case PoProblem::UnknownLanguage:
            return "unknown language \"" + failure.detail +
                   "\" in the Language field: give its language id with --lang-id ID";
        case PoProblem::UnexpectedLine:
        case PoProblem::None:
            break;
    }
    return "the line is no keyword, string or comment";
}

// `what` failed: the operation, which some causes name their remedy by.
std::string CauseText(const quelvar::Failure& failure, std::string_view what) {
    using quelvar::FailureText;
    switch (quelvar::TextOfFailure(failure)) {
        case FailureText::NoSuchFile:
            return "no such file";
        case FailureText::NoSuchFolder:
            return "no such folder";
        case FailureText::AccessDenied:
            return "access is denied";
        case FailureText::Empty:
            return "the file is empty";
        case FailureText::ReadOnly:
            // Only import has -o.
            return what.starts_with("import") ? "the file is read-only; -o names another output"
                                              : "the file is read-only";
        case FailureText::OverwritesImage:
            return "the output would overwrite the image being read";
        case FailureText::OverwritesLanguageFile:
            return "the output would overwrite the language file being read";
        case FailureText::Utf8:
            return Conversion("UTF-8 text", "UTF-8", "UTF-16", failure.path);
        case FailureText::Utf8WithMark:
            return Conversion("UTF-8 text with a byte-order mark", "UTF-8", "UTF-16LE",
                              failure.path);
        case FailureText::Utf16BigEndian:
            return Conversion("UTF-16 big-endian", "UTF-16BE", "UTF-16LE", failure.path);
        case FailureText::NotUtf16:
            return "not a UTF-16 language file (it does not begin with the byte-order mark FF FE)";
        case FailureText::NameTaken:
            return "a link, folder or device has this name; remove it";
        case FailureText::NoTargetLanguage:
            return "--add-language needs the language to add: LANG= in the language file, the "
                   "PO Language field or --lang-id ID";
        case FailureText::TargetIsSource:
            return "--add-language: the language to add is the source language itself";
        case FailureText::SeveralLanguages:
            return "the image has several languages; choose the one to translate from with "
                   "--language ID";
        case FailureText::NoTextApplies:
            return "no text of the translation is in the image";
        case FailureText::Folder:
            return "a folder, not a file";
        case FailureText::NotAnImage:
            return "not a valid program image";
        case FailureText::UnusableLanguage:
            return "the LANG value is not a language id, or the PO file cannot be used";
        case FailureText::OutOfMemory:
            return "not enough memory";
        case FailureText::CannotWrite:
            return "cannot be written";
        case FailureText::OverwritesInput:
            return "the output would overwrite the file being read";
        case FailureText::LanguageFileUnusable:
            return "the language file cannot be opened or created";
        case FailureText::DiskFull:
            return "the disk is full";
        case FailureText::NameTooLong:
            return "the file name is too long";
        case FailureText::NoResources:
            return "the image has no resources";
        case FailureText::NotAFile:
            return "a device, pipe or socket, not a file";
        case FailureText::CrLineEnds:
            return "the language file's lines end in CR alone (old Mac OS line ends), so none "
                   "would be read; save it with Windows (CR LF) line ends";
        case FailureText::PoFile:
            return PoProblemText(failure);
        case FailureText::Busy:
            return "another run is importing into this image; run again once it has finished";
        case FailureText::Changed:
            return "another program cut the file short or replaced it meanwhile; nothing was "
                   "written";
        case FailureText::Other:
            break;
    }
    return "the operation failed";
}

int Fail(const char* what, const quelvar::Failure& failure) {
    std::string file = failure.path.empty() ? ""
                       : failure.line == 0
                           ? Show(failure.path) + ": "
                           : Show(failure.path) + ":" + std::to_string(failure.line) + ": ";
    std::fprintf(stderr, "quelvar-cli: %s failed: %s%s (error %u)\n", what, file.c_str(),
                 CauseText(failure, what).c_str(), static_cast<unsigned>(failure.code));
    return kExitFailed;
}

// "1033 (en_US)": a language id and its name, when it has one.
std::string LanguageText(uint32_t id) {
    std::string name(id == 0 ? "neutral" : quelvar::LanguageNameOfId(id));
    return std::to_string(id) + (name.empty() ? "" : " (" + name + ")");
}

// The languages of a notice's list ("1033:12 1036:3") as the user reads them:
// "1033 (en_US): 12 texts, 1036 (fr_FR): 3 texts".
std::string LanguageList(const std::string& list) {
    std::string text;
    for (size_t at = 0; at < list.size();) {
        size_t end = std::min(list.find(' ', at), list.size());
        std::string item = list.substr(at, end - at);
        size_t colon = item.find(':');
        std::string texts = colon == std::string::npos ? "" : item.substr(colon + 1);
        text += (text.empty() ? "" : ", ") +
                LanguageText(static_cast<uint32_t>(std::stoul(item.substr(0, colon))));
        if (!texts.empty())
            text += ": " + texts + (texts == "1" ? " text" : " texts");
        at = end + 1;
    }
    return text;
}

// A number with its thousands separated by commas: 1,055.
std::string Thousands(unsigned long long n) {
    std::string digits = std::to_string(n), text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += ',';
        text += digits[i];
    }
    return text;
}

std::string BaseName(const std::string& path) {
    if (path == quelvar::kStandardStream)
        return "standard input";
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What is wrong with a resource that does not read as its type.
std::string ResourceProblemText(uint64_t problem, uint64_t where) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08llX", static_cast<unsigned long long>(where));
    switch (static_cast<quelvar::ResourceProblem>(problem)) {
        case quelvar::ResourceProblem::BlocksPastEnd:
            return "the message table's blocks run past its end";
        case quelvar::ResourceProblem::EntryPastEnd:
            return std::string("message ") + hex + " runs past the table's end";
        case quelvar::ResourceProblem::BlocksOverlap:
            return "the message table's blocks overlap at offset " + std::to_string(where);
        case quelvar::ResourceProblem::BadEntryLength:
            return std::string("message ") + hex + " has a length of 0 or not a multiple of 4";
        case quelvar::ResourceProblem::IdsOutOfOrder:
            return std::string("the message table's ids are out of order at ") + hex;
        case quelvar::ResourceProblem::UnknownEncoding:
            return std::string("message ") + hex + " is neither ANSI, UTF-16 nor UTF-8";
        case quelvar::ResourceProblem::NoLastEntry:
            return "the accelerator table has no entry flagged as its last";
    }
    return "the resource does not read as its type";
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
        case quelvar::NoticeKind::ResourceTooLong:
            std::fprintf(stderr,
                         "quelvar-cli: %s: translated, a block would take %llu bytes, more than "
                         "the %llu its length holds; the resource is kept as it was\n",
                         key.c_str(), n, static_cast<unsigned long long>(notice.counts[1]));
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
        case quelvar::NoticeKind::SourceLanguageChosen: {
            std::string name(quelvar::LanguageNameOfId(static_cast<uint32_t>(n)));
            std::fprintf(stderr,
                         "quelvar-cli: the image has texts in %llu languages; the file holds "
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
        case quelvar::NoticeKind::LastLineUnended:
            std::fprintf(stderr,
                         "quelvar-cli: warning: %s:%llu: the last line has no line break and is "
                         "not read; end it with a line break\n",
                         key == "-" ? "standard input" : key.c_str(), n);
            break;
        case quelvar::NoticeKind::KeyInOneImage:
            std::fprintf(stderr, "quelvar-cli: %s: only in the %s\n", key.c_str(),
                         n == 0 ? "original" : "translated build");
            break;
        case quelvar::NoticeKind::SeveralSourceLanguages:
            std::fprintf(stderr,
                         "quelvar-cli: the image has texts in %llu languages: %s; a translation "
                         "translates one (--language ID)\n",
                         n, LanguageList(key).c_str());
            break;
        case quelvar::NoticeKind::SignedImage:
            std::fputs(
                n == 0 ? "quelvar-cli: warning: the image is signed and its signature no longer "
                         "matches the translated image: sign it again (osslsigncode sign) "
                         "or remove the signature with --unsign\n"
                       : "quelvar-cli: the image's signature was removed (--unsign); sign "
                         "the translated image to give it one again (osslsigncode sign)\n",
                stderr);
            break;
        case quelvar::NoticeKind::ResourceUnreadable:
            std::fprintf(stderr, "quelvar-cli: warning: %s: %s; the resource is kept as it is\n",
                         key.c_str(),
                         ResourceProblemText(notice.counts[0], notice.counts[1]).c_str());
            break;
        case quelvar::NoticeKind::AcceleratorRefused:
            std::fprintf(stderr,
                         "quelvar-cli: %s%s%s\"%s\" names no key (modifiers Ctrl, Shift, Alt and a "
                         "key: Ctrl+O, Alt+Enter, Ctrl+Shift+F5, Ctrl+'B'); the entry keeps its "
                         "key\n",
                         n == 0 ? "" : "line ", n == 0 ? "" : std::to_string(n).c_str(),
                         n == 0 ? "" : ": ", key.c_str());
            break;
        case quelvar::NoticeKind::LanguageKeysCollide:
            std::fprintf(stderr,
                         "quelvar-cli: warning: the image's %llu languages share their keys: %s; "
                         "an import translates one language (export one with --language ID)\n",
                         n, LanguageList(key).c_str());
            break;
        case quelvar::NoticeKind::NoTextApplies: {
            size_t zero = key.find('\0');
            std::string translation = key.substr(0, zero);
            std::string image = zero == std::string::npos ? "" : key.substr(zero + 1);
            std::fprintf(stderr,
                         "quelvar-cli: none of the %s texts of %s is in %s: is it the "
                         "translation of another program?\n",
                         Thousands(n).c_str(), BaseName(translation).c_str(),
                         BaseName(image).c_str());
            break;
        }
        case quelvar::NoticeKind::TranslatedLanguageUnclear:
            std::fprintf(stderr,
                         "quelvar-cli: the translated build has texts in %llu languages that "
                         "could be the translation's: %s; name it with --lang-id ID\n",
                         n, LanguageList(key).c_str());
            break;
        case quelvar::NoticeKind::LanguageKept:
            std::fprintf(stderr,
                         "quelvar-cli: the PO file names no Language: the resources keep their "
                         "language (--lang-id ID gives them one)\n");
            break;
        case quelvar::NoticeKind::Imported:
            break;  // the status line says it
        case quelvar::NoticeKind::ImageCutShort:
            std::fprintf(stderr,
                         "quelvar-cli: warning: the image is cut short: its file has %llu bytes, "
                         "its sections need %llu (an update copy that was never finished?)\n",
                         n, static_cast<unsigned long long>(notice.counts[1]));
            break;
    }
}

// How a command runs: its options and where its failure is said.
struct Command {
    uint32_t languageFilter = quelvar::kAllLanguages;
    quelvar::TextFormat format = quelvar::TextFormat::ByExtension;
    uint32_t targetLanguage = quelvar::kNoLanguageOverride;
    bool useFuzzy = false;
    bool addLanguage = false;
    bool unsign = false;
    quelvar::RightToLeft rightToLeft = quelvar::RightToLeft::ByLanguage;
    std::filesystem::path source, image;  // --source, --image; empty when not given
    bool quiet = false;
    bool strict = false;  // import: refuse a translation in which check finds errors
    bool layout = false;  // import --strict: check the dialogs' layout as well
    quelvar::Failure failure;

    quelvar::Options Options() {
        quelvar::Options options;
        options.languageFilter = languageFilter;
        options.format = format;
        options.targetLanguage = targetLanguage;
        options.useFuzzy = useFuzzy;
        options.addLanguage = addLanguage;
        options.unsign = unsign;
        options.rightToLeft = rightToLeft;
        options.notify = Tell;
        options.failure = &failure;
        return options;
    }
    // The status line of a success, on stderr: stdout may carry the language file.
    void Say(const std::string& line) const {
        if (!quiet)
            std::fprintf(stderr, "%s\n", line.c_str());
    }
};

int Usage(const char* problem) {
    if (problem != nullptr)
        std::fprintf(stderr, "quelvar-cli: %s\n", problem);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

std::filesystem::path ToPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

int RunExport(const std::vector<std::filesystem::path>& args, Command& run) {
    if (args.empty() || args.size() > 2)
        return Usage("export takes IMAGE and an optional LANGFILE");
    std::filesystem::path language =
        args.size() == 2 ? args[1] : quelvar::DefaultLanguagePath(args[0]);
    if (args.size() == 1 && (run.format == quelvar::TextFormat::Po || !run.source.empty()))
        language.replace_extension(".po");
    Result r;
    if (run.source.empty() && run.targetLanguage != quelvar::kNoLanguageOverride)
        return Usage("--lang-id belongs to import and export --source");
    if (!run.source.empty()) {
        if (run.format == quelvar::TextFormat::Lng ||
            quelvar::FormatOfPath(language) != quelvar::TextFormat::Po)
            return Usage("--source writes a PO file");
        r = quelvar::HarvestTranslation(run.source, args[0], language, run.Options());
    } else {
        r = quelvar::ProcessImage(args[0], language, nullptr, run.Options());
    }
    if (r != quelvar::kSuccess)
        return Fail("export", run.failure.code != quelvar::kSuccess
                                  ? run.failure
                                  : quelvar::Failure{r, quelvar::FailureCause::None, {}});
    run.Say("exported " + Show(args[0]) + " to " + Show(language));
    return kExitOk;
}

int RunConvert(const std::vector<std::filesystem::path>& args, Command& run) {
    if (args.size() != 2)
        return Usage("convert takes FROM and TO");
    bool toPo = quelvar::FormatOfPath(args[1]) == quelvar::TextFormat::Po;
    if (quelvar::FormatOfPath(args[0]) == quelvar::FormatOfPath(args[1]))
        return Usage("convert turns a language file into a PO file or back");
    if (toPo && run.image.empty())
        return Usage("a PO file's msgids come from the image: give --image IMAGE");
    Result r =
        quelvar::ConvertTranslation(args[0], args[1], toPo ? &run.image : nullptr, run.Options());
    if (r != quelvar::kSuccess)
        return Fail("convert", run.failure.code != quelvar::kSuccess
                                   ? run.failure
                                   : quelvar::Failure{r, quelvar::FailureCause::None, {}});
    run.Say("converted " + Show(args[0]) + " to " + Show(args[1]));
    return kExitOk;
}

int RunImport(const std::vector<std::filesystem::path>& args, const std::filesystem::path* output,
              Command& run) {
    if (args.size() != 2)
        return Usage("import takes IMAGE and LANGFILE");
    const std::filesystem::path& image = args[0];
    // The errors check finds are said first, and --strict refuses them. The check shares the
    // import's loading, so a translation from a pipe is read once for both.
    bool refused = false;
    quelvar::Options options = run.Options();
    if (run.layout)
        options.layout = quelvar::LayoutSettings{};
    options.checkFirst = [&](const quelvar::CheckReport& report) {
        refused = quelvar::cli::SayCheckErrors(Show(args[1]), report, run.strict) > 0 && run.strict;
        return !refused;
    };
    auto refusal = [] {
        std::fprintf(stderr,
                     "quelvar-cli: import refused: the translation has errors "
                     "(--strict)\n");
        return kExitFailed;
    };
    if (output != nullptr) {
        if (quelvar::ProcessImage(image, args[1], output, options) != quelvar::kSuccess)
            return refused ? refusal() : Fail("import", run.failure);
        run.Say("imported " + Show(args[1]) + " into " + Show(*output));
        return kExitOk;
    }
    quelvar::InPlaceImport outcome = quelvar::ImportInPlace(image, args[1], options);
    if (refused)
        return refusal();
    if (outcome.copyLeft) {
        std::fprintf(stderr, "quelvar-cli: the translated image stays at %s\n",
                     Show(quelvar::UpdateCopyPath(run.failure.path)).c_str());
        run.failure.path.clear();  // the line above names both files
        return Fail("replacing the image", run.failure);
    }
    if (outcome.result != quelvar::kSuccess)
        return Fail("import", run.failure);
    run.Say("imported " + Show(args[1]) + " into " + Show(image));
    return kExitOk;
}

// The options only --batch takes.
struct Batch {
    bool on = false;
    std::filesystem::path textFolder;  // --out or --from
    unsigned threads = 0;              // -j; 0 when not given
};

constexpr uint64_t kMaxThreads = 256;

int RunBatch(const std::string& command, const std::vector<std::filesystem::path>& paths,
             const std::filesystem::path* output, const Batch& batch, Command& run,
             const quelvar::cli::Reporting& reporting) {
    bool exporting = command == "export";
    if (!batch.on)
        return Usage("--out, --from and -j belong to --batch");
    if (batch.textFolder.empty())
        return Usage(exporting ? "export --batch takes --out DIR"
                               : "import --batch takes --from DIR");
    if (paths.empty())
        return Usage("--batch takes images or folders");
    if (!run.source.empty() || run.strict)
        return Usage("--source and --strict work on one image, not with --batch");
    // A folder option that names a file would fail every image, after all their work.
    for (const std::filesystem::path* folder : {&batch.textFolder, output}) {
        std::error_code ec;
        if (folder != nullptr && std::filesystem::exists(*folder, ec) &&
            !std::filesystem::is_directory(*folder, ec))
            return Usage(((folder == output ? std::string("-o")
                           : exporting      ? "--out"
                                            : "--from") +
                          " names a file, not a folder: " + Show(*folder))
                             .c_str());
    }
    if (exporting && run.targetLanguage != quelvar::kNoLanguageOverride)
        return Usage("--lang-id belongs to import and export --source");
    quelvar::cli::BatchCommand c;
    c.direction = exporting ? quelvar::BatchDirection::Export : quelvar::BatchDirection::Import;
    c.inputs = paths;
    c.textFolder = batch.textFolder;
    if (output != nullptr)
        c.outputFolder = *output;
    c.format =
        run.format == quelvar::TextFormat::Po ? quelvar::TextFormat::Po : quelvar::TextFormat::Lng;
    c.options = run.Options();
    c.options.format = c.format;
    c.threads = batch.threads;
    c.quiet = run.quiet;
    return quelvar::cli::RunBatchCommand(c, reporting);
}

int Run(const std::vector<std::string>& argv) {
    if (argv.empty())
        return Usage(nullptr);
    const std::string& command = argv[0];
    if (command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    const quelvar::cli::Reporting reporting{Fail, Usage, Tell, Show};
    if (command == "check")
        return quelvar::cli::RunCheck(argv, reporting);
    if (command == "pseudo")
        return quelvar::cli::RunPseudo(argv, reporting);
    if (command == "preview")
        return quelvar::cli::RunPreview(argv, reporting);
    if (command == "--version") {
        std::printf("quelvar-cli %s\n", QUELVAR_VERSION);
        return kExitOk;
    }
    std::vector<std::filesystem::path> paths;
    std::filesystem::path output;
    bool haveOutput = false;
    Command run;
    Batch batch;
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
            if (run.languageFilter != quelvar::kAllLanguages || i + 1 >= argv.size())
                return Usage("--language takes one ID");
            if (!quelvar::ParseLanguageId(std::string_view(argv[++i]), run.languageFilter))
                return Usage(("not a language id: " + argv[i]).c_str());
        } else if (a == "--format") {
            if (run.format != quelvar::TextFormat::ByExtension || i + 1 >= argv.size())
                return Usage("--format takes po or lng");
            const std::string& f = argv[++i];
            if (f != "po" && f != "lng")
                return Usage(("unknown format " + f).c_str());
            run.format = f == "po" ? quelvar::TextFormat::Po : quelvar::TextFormat::Lng;
        } else if (a == "--lang-id") {
            if (command != "import" && command != "export")
                return Usage("--lang-id belongs to import and export --source");
            if (run.targetLanguage != quelvar::kNoLanguageOverride || i + 1 >= argv.size())
                return Usage("--lang-id takes one ID");
            if (!quelvar::ParseLanguageId(std::string_view(argv[++i]), run.targetLanguage))
                return Usage(("not a language id: " + argv[i]).c_str());
        } else if (a == "--fuzzy") {
            if (command != "import" && command != "convert")
                return Usage("--fuzzy belongs to import and convert");
            run.useFuzzy = true;
        } else if (a == "--source" || a == "--image") {
            bool source = a == "--source";
            if (command != (source ? "export" : "convert"))
                return Usage((a + (source ? " belongs to export" : " belongs to convert")).c_str());
            std::filesystem::path& p = source ? run.source : run.image;
            if (!p.empty() || i + 1 >= argv.size())
                return Usage((a + " takes one path").c_str());
            p = ToPath(argv[++i]);
        } else if (a == "--add-language" || a == "--rtl" || a == "--no-rtl" || a == "--unsign") {
            if (command != "import")
                return Usage((a + " belongs to import").c_str());
            if (a == "--add-language") {
                run.addLanguage = true;
            } else if (a == "--unsign") {
                run.unsign = true;
            } else {
                if (run.rightToLeft != quelvar::RightToLeft::ByLanguage)
                    return Usage("--rtl and --no-rtl exclude each other");
                run.rightToLeft =
                    a == "--rtl" ? quelvar::RightToLeft::Always : quelvar::RightToLeft::Never;
            }
        } else if (a == "--strict") {
            if (command != "import")
                return Usage("--strict belongs to import");
            run.strict = true;
        } else if (a == "--layout" && command == "import") {
            run.layout = true;
        } else if (a == "--batch") {
            if (command != "export" && command != "import")
                return Usage("--batch belongs to export and import");
            batch.on = true;
        } else if (a == "--out" || a == "--from") {
            if (command != (a == "--out" ? "export" : "import"))
                return Usage(
                    (a + (a == "--out" ? " belongs to export" : " belongs to import")).c_str());
            if (!batch.textFolder.empty() || i + 1 >= argv.size())
                return Usage((a + " takes one DIR").c_str());
            batch.textFolder = ToPath(argv[++i]);
        } else if (a == "-j") {
            if (batch.threads != 0 || i + 1 >= argv.size())
                return Usage("-j takes one number");
            std::string_view n(argv[++i]);
            quelvar::ScannedInteger threads = quelvar::ScanInteger(n, quelvar::IntegerSyntax{});
            if (!threads.digits || threads.end != n.size() || threads.magnitude < 1 ||
                threads.magnitude > kMaxThreads)
                return Usage("-j takes a number from 1 to 256");
            batch.threads = static_cast<unsigned>(threads.magnitude);
        } else if (a == "-q") {
            run.quiet = true;
        } else if (a == "--") {
            for (++i; i < argv.size(); ++i)
                paths.push_back(ToPath(argv[i]));
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage(("unknown option " + a).c_str());
        } else {
            paths.push_back(ToPath(a));
        }
    }
    if (run.layout && !run.strict)
        return Usage("import --layout belongs to --strict");
    if (batch.on || !batch.textFolder.empty() || batch.threads != 0)
        return RunBatch(command, paths, haveOutput ? &output : nullptr, batch, run, reporting);
    if (command == "export")
        return RunExport(paths, run);
    if (command == "import")
        return RunImport(paths, haveOutput ? &output : nullptr, run);
    if (command == "convert")
        return RunConvert(paths, run);
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
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

int main(int argc, char** argv) {
    // A descriptor from 0 to 2 that the caller closed would be the next file opened: warnings
    // would go into a language file, or the image be read as standard input. /dev/null takes
    // its place (open gives the lowest free number).
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF &&
            open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
            return kExitFailed;
    return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
