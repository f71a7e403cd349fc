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
#include "cli/command_line.h"
#include "cli/commands.h"
#include "driver/driver.h"
#include "exchange/language_names.h"
#include "exchange/po.h"

namespace {

using quelvar::Result;
using quelvar::cli::kExitFailed;
using quelvar::cli::kExitOk;

using quelvar::cli::Utf8;

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

// What is wrong with a compiled resource file whose records do not read.
const char* ResFileProblemText(uint64_t problem) {
    switch (static_cast<quelvar::ResFileProblem>(problem)) {
        case quelvar::ResFileProblem::NoEmptyResource:
            return "it does not begin with the empty resource of a .res file";
        case quelvar::ResFileProblem::RecordTruncated:
            return "the record is cut short";
        case quelvar::ResFileProblem::HeaderTooSmall:
            return "its HeaderSize is smaller than its fields";
        case quelvar::ResFileProblem::HeaderPastEnd:
            return "its HeaderSize runs past the end of the file";
        case quelvar::ResFileProblem::DataPastEnd:
            return "its DataSize runs past the end of the file";
        case quelvar::ResFileProblem::NameUnterminated:
            return "its type or name has no terminating zero";
        case quelvar::ResFileProblem::TooManyRecords:
            return "more than 65536 records";
    }
    return "the record does not read";
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
        case quelvar::NoticeKind::ResFileUnreadable:
            std::fprintf(stderr, "quelvar-cli: %s: the .res record at offset %llu: %s\n",
                         key.c_str(), static_cast<unsigned long long>(notice.counts[1]),
                         ResFileProblemText(n));
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
    const quelvar::cli::Invocation& args;

    quelvar::Options Options() {
        quelvar::Options options;
        options.languageFilter = args.language;
        options.format = args.format == "po"    ? quelvar::TextFormat::Po
                         : args.format == "lng" ? quelvar::TextFormat::Lng
                                                : quelvar::TextFormat::ByExtension;
        options.targetLanguage = args.langId;
        options.useFuzzy = args.fuzzy;
        options.addLanguage = args.addLanguage;
        options.unsign = args.unsign;
        options.rightToLeft = args.rtl     ? quelvar::RightToLeft::Always
                              : args.noRtl ? quelvar::RightToLeft::Never
                                           : quelvar::RightToLeft::ByLanguage;
        options.notify = Tell;
        return options;
    }
    // The status line of a success, on stderr: stdout may carry the language file.
    void Say(const std::string& line) const {
        if (!args.quiet)
            std::fprintf(stderr, "%s\n", line.c_str());
    }
    int Usage(const std::string& problem) const {
        return quelvar::cli::Usage(args.command, problem);
    }
};

int RunExport(Command& run) {
    const std::vector<std::filesystem::path>& args = run.args.paths;
    if (args.empty() || args.size() > 2)
        return run.Usage("export takes IMAGE and an optional LANGFILE");
    std::filesystem::path language =
        args.size() == 2 ? args[1] : quelvar::DefaultLanguagePath(args[0]);
    const std::optional<std::filesystem::path>& source = run.args.source;
    if (args.size() == 1 && (run.args.format == "po" || source))
        language.replace_extension(".po");
    if (!source && run.args.langId != quelvar::kNoLanguageOverride)
        return run.Usage("--lang-id belongs to import and export --source");
    if (source &&
        (run.args.format == "lng" || quelvar::FormatOfPath(language) != quelvar::TextFormat::Po))
        return run.Usage("--source writes a PO file");
    quelvar::Outcome<> done =
        source ? quelvar::HarvestTranslation(*source, args[0], language, run.Options())
               : quelvar::Export(args[0], language, run.Options());
    if (!done)
        return Fail("export", done.error());
    run.Say("exported " + Show(args[0]) + " to " + Show(language));
    return kExitOk;
}

int RunConvert(Command& run) {
    const std::vector<std::filesystem::path>& args = run.args.paths;
    if (args.size() != 2)
        return run.Usage("convert takes FROM and TO");
    bool toPo = quelvar::FormatOfPath(args[1]) == quelvar::TextFormat::Po;
    if (quelvar::FormatOfPath(args[0]) == quelvar::FormatOfPath(args[1]))
        return run.Usage("convert turns a language file into a PO file or back");
    if (toPo && !run.args.image)
        return run.Usage("a PO file's msgids come from the image: give --image IMAGE");
    quelvar::Outcome<> done = quelvar::ConvertTranslation(
        args[0], args[1], toPo ? &*run.args.image : nullptr, run.Options());
    if (!done)
        return Fail("convert", done.error());
    run.Say("converted " + Show(args[0]) + " to " + Show(args[1]));
    return kExitOk;
}

int RunImport(Command& run) {
    const std::vector<std::filesystem::path>& args = run.args.paths;
    if (args.size() != 2)
        return run.Usage("import takes IMAGE and LANGFILE");
    const std::filesystem::path& image = args[0];
    // The errors check finds are said first, and --strict refuses them. The check shares the
    // import's loading, so a translation from a pipe is read once for both.
    bool refused = false;
    bool strict = run.args.strict;
    quelvar::Options options = run.Options();
    if (run.args.layout)
        options.layout = quelvar::LayoutSettings{};
    options.checkFirst = [&](const quelvar::CheckReport& report) {
        refused = quelvar::cli::SayCheckErrors(Show(args[1]), report, strict) > 0 && strict;
        return !refused;
    };
    auto refusal = [] {
        std::fprintf(stderr,
                     "quelvar-cli: import refused: the translation has errors "
                     "(--strict)\n");
        return kExitFailed;
    };
    if (run.args.output) {
        const std::filesystem::path& output = *run.args.output;
        if (quelvar::Outcome<> done = quelvar::Import(image, args[1], output, options); !done)
            return refused ? refusal() : Fail("import", done.error());
        run.Say("imported " + Show(args[1]) + " into " + Show(output));
        return kExitOk;
    }
    quelvar::InPlaceImport outcome = quelvar::ImportInPlace(image, args[1], options);
    if (refused)
        return refusal();
    if (outcome.copyLeft) {
        std::fprintf(stderr, "quelvar-cli: the translated image stays at %s\n",
                     Show(quelvar::UpdateCopyPath(outcome.failure.path)).c_str());
        outcome.failure.path.clear();  // the line above names both files
        return Fail("replacing the image", outcome.failure);
    }
    if (outcome.failure.code != quelvar::kSuccess)
        return Fail("import", outcome.failure);
    run.Say("imported " + Show(args[1]) + " into " + Show(image));
    return kExitOk;
}

int RunBatch(Command& run, const quelvar::cli::Reporting& reporting) {
    const quelvar::cli::Invocation& args = run.args;
    bool exporting = args.command == "export";
    if (!args.batch)
        return run.Usage("--out, --from and -j belong to --batch");
    if (!args.textFolder)
        return run.Usage(exporting ? "export --batch takes --out DIR"
                                   : "import --batch takes --from DIR");
    if (args.paths.empty())
        return run.Usage("--batch takes images or folders");
    if (args.source || args.strict)
        return run.Usage("--source and --strict work on one image, not with --batch");
    // A folder option that names a file would fail every image, after all their work.
    for (const std::optional<std::filesystem::path>* folder : {&args.textFolder, &args.output}) {
        std::error_code ec;
        if (*folder && std::filesystem::exists(**folder, ec) &&
            !std::filesystem::is_directory(**folder, ec))
            return run.Usage((folder == &args.output ? std::string("-o")
                              : exporting            ? "--out"
                                                     : "--from") +
                             " names a file, not a folder: " + Show(**folder));
    }
    if (exporting && args.langId != quelvar::kNoLanguageOverride)
        return run.Usage("--lang-id belongs to import and export --source");
    quelvar::cli::BatchCommand c;
    c.direction = exporting ? quelvar::BatchDirection::Export : quelvar::BatchDirection::Import;
    c.inputs = args.paths;
    c.textFolder = *args.textFolder;
    if (args.output)
        c.outputFolder = *args.output;
    c.format = args.format == "po" ? quelvar::TextFormat::Po : quelvar::TextFormat::Lng;
    c.options = run.Options();
    c.options.format = c.format;
    c.threads = args.threads;
    c.quiet = args.quiet;
    return quelvar::cli::RunBatchCommand(c, reporting);
}

int Run(const std::vector<std::string>& argv) {
    quelvar::cli::Invocation args;
    if (std::optional<int> done = quelvar::cli::ParseCommandLine(argv, args))
        return *done;
    const quelvar::cli::Reporting reporting{Fail, Tell, Show};
    if (args.command == "check")
        return quelvar::cli::RunCheck(args, reporting);
    if (args.command == "pseudo")
        return quelvar::cli::RunPseudo(args, reporting);
    if (args.command == "preview")
        return quelvar::cli::RunPreview(args, reporting);
    if (args.layout && !args.strict)
        return quelvar::cli::Usage(args.command, "--layout belongs to --strict");
    Command run{args};
    if (args.batch || args.textFolder || args.threads != 0)
        return RunBatch(run, reporting);
    if (args.command == "export")
        return RunExport(run);
    if (args.command == "import")
        return RunImport(run);
    return RunConvert(run);
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
