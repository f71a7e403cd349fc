// quelvar-cli check and pseudo.
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/number.h"
#include "base/utf16.h"
#include "cli/commands.h"
#include "driver/driver.h"

namespace quelvar::cli {

namespace {

// A text in quotes on one line: line breaks and tabs as the language file writes them.
std::string Quoted(std::u16string_view text) {
    std::string out(1, '"');
    for (char c : ToUtf8(text))
        out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : std::string(1, c);
    out += '"';
    return out;
}

const char* CheckName(CheckKind kind) {
    switch (kind) {
        case CheckKind::AcceleratorCollision:
        case CheckKind::AcceleratorDropped:
        case CheckKind::AcceleratorAdded:
        case CheckKind::AcceleratorOnBlank:
            return "accelerator";
        case CheckKind::PrintfPlaceholders:
        case CheckKind::FormatMessageInserts:
            return "placeholders";
        case CheckKind::ShortcutTabLost:
        case CheckKind::ShortcutChanged:
            return "shortcut";
        case CheckKind::ControlCharacters:
            return "control-characters";
        case CheckKind::LeadingOrTrailingBlanks:
        case CheckKind::DoubledSpaces:
            return "whitespace";
        case CheckKind::EndPunctuation:
            return "punctuation";
        case CheckKind::TooLong:
        case CheckKind::TooLongToStore:
            return "length";
        case CheckKind::BadFont:
            return "font";
        case CheckKind::UnknownKey:
            return "unknown-key";
        case CheckKind::SourceTextChanged:
            return "source-changed";
        case CheckKind::UnendedLastLine:
            return "line-break";
        case CheckKind::LayoutClipped:
        case CheckKind::LayoutTooManyLines:
        case CheckKind::LayoutOutside:
        case CheckKind::LayoutTextOutside:
        case CheckKind::LayoutCrowded:
        case CheckKind::LayoutNotMeasured:
            return "layout";
        case CheckKind::ShortcutKeyMismatch:
        case CheckKind::ShortcutKeyInSource:
            return "shortcut-key";
    }
    return "check";
}

std::string LayoutMessage(const Finding& f) {
    std::string font = " (" + ToUtf8(f.detail) + ")";
    std::string needed = std::to_string(f.counts[0]), given = std::to_string(f.counts[1]);
    std::string source = f.ofSource ? "in the source already: " : "";
    std::string control = f.other.empty() ? "" : "control " + ToUtf8(f.other) + ": ";
    switch (f.kind) {
        case CheckKind::LayoutClipped:
            return source + "text clipped: needs " + needed + " px, the control gives " + given +
                   " px" + font;
        case CheckKind::LayoutTooManyLines:
            return source + "text needs " + needed + " lines, the control's height holds " + given +
                   font;
        case CheckKind::LayoutOutside:
            return source + control + "the control reaches " + needed +
                   " px, beyond the dialog's edge at " + given + " px" + font;
        case CheckKind::LayoutTextOutside:
            return source + "text runs out of the dialog: it reaches " + needed +
                   " px, the dialog is " + given + " px wide" + font;
        case CheckKind::LayoutCrowded:
            return "text crowded: needs " + needed + " px of the control's " + given + " px" + font;
        default:
            return "dialog not measured: " + ToUtf8(f.detail);
    }
}

std::string Message(const Finding& f) {
    std::string detail = ToUtf8(f.detail), otherText = Quoted(f.otherText);
    auto count = [&](int i) { return std::to_string(f.counts[i]); };
    switch (f.kind) {
        case CheckKind::AcceleratorCollision:
            return "accelerator &" + detail + " is also used by " + ToUtf8(f.other) + " (" +
                   otherText + ")";
        case CheckKind::AcceleratorDropped:
            return "the accelerator &" + detail + " of the source is gone";
        case CheckKind::AcceleratorAdded:
            return "an accelerator &" + detail + " that the source does not have";
        case CheckKind::AcceleratorOnBlank:
            return "an & before a blank, a tab or the end marks no access key";
        case CheckKind::PrintfPlaceholders:
            return "printf placeholders " + Quoted(f.detail) + " became " + otherText +
                   " (they must stay in order)";
        case CheckKind::FormatMessageInserts:
            return "inserts " + Quoted(f.detail) + " became " + otherText;
        case CheckKind::ShortcutTabLost:
            return "the tab before the shortcut " + Quoted(f.detail) + " is gone";
        case CheckKind::ShortcutChanged:
            return "the shortcut " + Quoted(f.detail) + " became " + otherText;
        case CheckKind::ControlCharacters:
            return detail + " appears " + count(0) + " times in the source and " + count(1) +
                   " in the translation";
        case CheckKind::LeadingOrTrailingBlanks:
            return "leading or trailing blanks that the source does not have";
        case CheckKind::DoubledSpaces:
            return "doubled spaces that the source does not have";
        case CheckKind::EndPunctuation:
            return "ends with " + otherText + " where the source ends with " + Quoted(f.detail);
        case CheckKind::TooLong:
            return count(1) + " characters for a source of " + count(0) +
                   " (more than 2.5 times as long)";
        case CheckKind::TooLongToStore:
            return count(0) + " units, more than the " + count(1) +
                   " that a string table entry holds";
        case CheckKind::BadFont:
            return "a font must be \"typeface,size\" with a size from 1 to 72";
        case CheckKind::UnknownKey:
            return "the image has no text with this key";
        case CheckKind::SourceTextChanged:
            return "the source text changed (" + Quoted(f.detail) + " is now " + otherText +
                   "); run msgmerge";
        case CheckKind::UnendedLastLine:
            return "the last line has no line break and is not read; end it with a line break";
        case CheckKind::LayoutClipped:
        case CheckKind::LayoutTooManyLines:
        case CheckKind::LayoutOutside:
        case CheckKind::LayoutTextOutside:
        case CheckKind::LayoutCrowded:
        case CheckKind::LayoutNotMeasured:
            return LayoutMessage(f);
        case CheckKind::ShortcutKeyMismatch:
            return Quoted(f.detail) + " names another key than " + ToUtf8(f.other) + " (" +
                   otherText + ")";
        case CheckKind::ShortcutKeyInSource:
            return "the image's own shortcut " + Quoted(f.detail) + " names another key than " +
                   ToUtf8(f.other) + " (" + otherText + ")";
    }
    return "";
}

std::string Json(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Text for HTML: the characters that mean markup escaped.
std::string Html(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Base64(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = uint32_t{bytes[i]} << 16;
        if (i + 1 < bytes.size())
            n |= uint32_t{bytes[i + 1]} << 8;
        if (i + 2 < bytes.size())
            n |= bytes[i + 2];
        out += kDigits[(n >> 18) & 63];
        out += kDigits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

// The dialog a finding's key belongs to ("5.100.1033" for "5.100.1033.12"), as an index into
// `dialogs`; dialogs.size() for none.
size_t DialogOf(const Finding& f, const std::vector<LaidOutDialog>& dialogs) {
    for (size_t i = 0; i < dialogs.size(); ++i) {
        const std::u16string& r = dialogs[i].resource;
        if (f.key.size() >= r.size() && f.key.compare(0, r.size(), r) == 0 &&
            (f.key.size() == r.size() || f.key[r.size()] == u'.'))
            return i;
    }
    return dialogs.size();
}

// One self-contained page: the findings, each linking to its dialog, then every dialog's
// picture (PNG as a data: URI) and its findings.
std::string HtmlReport(const std::string& image, const std::string& translation,
                       const CheckReport& found, const std::vector<LaidOutDialog>& dialogs,
                       const LayoutSettings& settings) {
    std::vector<std::vector<size_t>> findingsOf(dialogs.size() + 1);
    for (size_t i = 0; i < found.findings.size(); ++i)
        findingsOf[DialogOf(found.findings[i], dialogs)].push_back(i);
    auto item = [&](size_t i, bool link) {
        const Finding& f = found.findings[i];
        bool error = f.severity == Severity::Error;
        size_t d = DialogOf(f, dialogs);
        std::string key = Html(ToUtf8(f.key));
        if (link && d < dialogs.size())
            key = "<a href=\"#dialog-" + std::to_string(d) + "\">" + key + "</a>";
        std::string where =
            found.lines[i] != 0 ? "line " + std::to_string(found.lines[i]) + ": " : "";
        return std::string("<li class=\"") + (error ? "error" : "warning") + "\">" + where +
               (error ? "error" : "warning") + ": " + key + ": " + Html(Message(f)) + "</li>\n";
    };
    std::string page =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>Layout of " +
        Html(translation) +
        "</title>\n<style>body{font-family:sans-serif;margin:1em}li.error{color:#b00}"
        "li.warning{color:#850}img{border:1px solid #ccc;display:block}"
        "section{margin:2em 0}</style>\n</head><body>\n<h1>Layout of " +
        Html(translation) + " for " + Html(image) +
        "</h1>\n<h2>Findings</h2>\n<ul id=\"findings\">\n";
    for (size_t i = 0; i < found.findings.size(); ++i)
        page += item(i, true);
    page += "</ul>\n<p>" + std::to_string(dialogs.size()) +
            " dialogs; the source left, the translation right, controls whose text does not "
            "fit outlined in red.</p>\n";
    std::vector<uint8_t> png;
    std::string problem;
    for (size_t d = 0; d < dialogs.size(); ++d) {
        page += "<section id=\"dialog-" + std::to_string(d) + "\">\n<h2>Dialog " +
                Html(ToUtf8(dialogs[d].resource)) + "</h2>\n";
        if (DrawLaidOutDialog(dialogs[d], PictureFormat::Png, settings, png, problem))
            page += "<img alt=\"" + Html(ToUtf8(dialogs[d].resource)) +
                    "\" src=\"data:image/png;base64," + Base64(png) + "\">\n";
        else
            page += "<p>Not drawn: " + Html(problem) + "</p>\n";
        page += "<ul>\n";
        for (size_t i : findingsOf[d])
            page += item(i, false);
        page += "</ul>\n</section>\n";
    }
    return page + "</body></html>\n";
}

}  // namespace

int RunCheck(const Invocation& args, const Reporting& report) {
    if (args.paths.size() != 2)
        return Usage(args.command, "check takes IMAGE and TRANSLATION");
    if (!args.layout && (args.fontDir || args.dpi != 0 || args.html))
        return Usage(args.command, "--font-dir, --dpi and --html belong to --layout");
    LayoutSettings layout;
    if (std::string problem; !LayoutSettingsOf(args, layout, problem))
        return Usage(args.command, problem);
    bool json = args.format == "json";
    Options options;
    options.languageFilter = args.language;
    if (args.layout)
        options.layout = layout;
    Outcome<CheckReport> checked = CheckImage(args.paths[0], args.paths[1], options);
    if (!checked)
        return report.fail("check", checked.error());
    const CheckReport& found = *checked;
    if (args.html) {
        if (!PicturesAvailable())
            return report.fail("check --html",
                               Failure{kErrorNotSupported, FailureCause::None, *args.html});
        Outcome<std::vector<LaidOutDialog>> dialogs =
            LayOutDialogs(args.paths[0], &args.paths[1], options, layout);
        if (!dialogs)
            return report.fail("check", dialogs.error());
        std::string page =
            HtmlReport(Utf8(args.paths[0]), Utf8(args.paths[1]), found, *dialogs, layout);
        std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(page.data()), page.size());
        if (Outcome<> wrote = WriteOutputFile(*args.html, bytes); !wrote)
            return report.fail("check --html", wrote.error());
    }
    size_t errors = 0, warnings = 0;
    const std::string file = Utf8(args.paths[1]);
    if (json)
        std::printf("{\"file\": %s, \"findings\": [", Json(file).c_str());
    for (size_t i = 0; i < found.findings.size(); ++i) {
        const Finding& f = found.findings[i];
        bool error = f.severity == Severity::Error;
        (error ? errors : warnings) += 1;
        std::string key = ToUtf8(f.key), message = Message(f);
        if (json) {
            std::printf(
                "%s\n  {\"line\": %zu, \"severity\": \"%s\", \"check\": \"%s\", \"key\": %s, "
                "\"message\": %s}",
                i == 0 ? "" : ",", found.lines[i], error ? "error" : "warning", CheckName(f.kind),
                Json(key).c_str(), Json(message).c_str());
        } else {
            std::string where = file;
            if (found.lines[i] != 0)
                where += ':' + std::to_string(found.lines[i]);
            if (!key.empty())
                key += ": ";
            std::printf("%s: %s: %s%s\n", where.c_str(), error ? "error" : "warning", key.c_str(),
                        message.c_str());
        }
    }
    if (json)
        std::printf("\n], \"texts\": %zu, \"errors\": %zu, \"warnings\": %zu}\n", found.texts,
                    errors, warnings);
    else
        std::printf("%s: %zu texts checked: %zu errors, %zu warnings\n", file.c_str(), found.texts,
                    errors, warnings);
    return errors == 0 ? 0 : 1;
}

size_t SayCheckErrors(const std::string& translation, const CheckReport& report, bool strict) {
    size_t errors = 0;
    for (size_t i = 0; i < report.findings.size(); ++i) {
        const Finding& f = report.findings[i];
        // Without --strict, a text too long for its entry is said by the import, which cuts it.
        if (f.severity != Severity::Error || (!strict && f.kind == CheckKind::TooLongToStore))
            continue;
        ++errors;
        std::string where = translation;
        if (report.lines[i] != 0)
            where += ':' + std::to_string(report.lines[i]);
        std::fprintf(stderr, "quelvar-cli: %s: error: %s: %s\n", where.c_str(),
                     ToUtf8(f.key).c_str(), Message(f).c_str());
    }
    return errors;
}

int RunPseudo(const Invocation& args, const Reporting& report) {
    if (args.paths.size() != 2)
        return Usage(args.command, "pseudo takes IMAGE and OUT.lng or OUT.po");
    Options options;
    options.languageFilter = args.language;
    options.pseudoExpand = args.expand;
    if (Outcome<> done = Export(args.paths[0], args.paths[1], options); !done)
        return report.fail("pseudo", done.error());
    if (!args.quiet)
        std::fprintf(stderr, "quelvar-cli: pseudo-translated %s into %s\n",
                     Utf8(args.paths[0]).c_str(), Utf8(args.paths[1]).c_str());
    return 0;
}

}  // namespace quelvar::cli
