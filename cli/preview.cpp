// quelvar-cli preview: pictures of an image's dialogs, and of their translation beside them.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/number.h"
#include "base/utf16.h"
#include "cli/commands.h"
#include "driver/driver.h"

namespace quelvar::cli {

namespace {

// A name as a file name part: letters, digits, '-' and '_' kept, anything else '_'.
std::string FilePart(std::u16string_view name) {
    std::string out;
    for (char16_t c : name) {
        bool plain = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') ||
                     (c >= u'A' && c <= u'Z') || c == u'-' || c == u'_';
        out += plain ? static_cast<char>(c) : '_';
    }
    return out;
}

// --dialog ID: a number (decimal, or hexadecimal with 0x) or a name, as the template's name.
bool DialogMatches(const LaidOutDialog& d, const std::string& wanted) {
    uint32_t number = 0;
    std::u16string name;
    if (ParseLanguageId(std::string_view(wanted), number)) {
        AppendDecimal(name, number);
        return d.name == name;
    }
    AppendFromUtf8(name, wanted);
    if (name.size() != d.name.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t a = name[i], b = d.name[i];
        if ((a < 0x80 ? a | 0x20 : a) != (b < 0x80 ? b | 0x20 : b))
            return false;
    }
    return true;
}

}  // namespace

bool LayoutSettingsOf(const Invocation& args, LayoutSettings& settings, std::string& problem) {
    if (args.dpi != 0) {
        if (args.dpi != 96 && args.dpi != 120 && args.dpi != 144 && args.dpi != 192) {
            problem = "--dpi is 96, 120, 144 or 192";
            return false;
        }
        settings.dpi = static_cast<int>(args.dpi);
    }
    if (args.fontDir) {
        settings.fontDir = *args.fontDir;
        std::error_code ec;
        if (!std::filesystem::is_directory(settings.fontDir, ec)) {
            problem = "--font-dir takes a folder: " + Utf8(settings.fontDir);
            return false;
        }
    }
    return true;
}

int RunPreview(const Invocation& args, const Reporting& report) {
    const std::vector<std::filesystem::path>& paths = args.paths;
    if (paths.empty() || paths.size() > 2)
        return Usage(args.command, "preview takes IMAGE and an optional TRANSLATION");
    std::filesystem::path outPath = args.output.value_or(std::filesystem::path());
    std::string extension = outPath.extension().string();
    for (char& c : extension)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (!args.output || (extension != ".png" && extension != ".svg"))
        return Usage(args.command, "preview writes -o OUT.png or OUT.svg");
    PictureFormat format = extension == ".svg" ? PictureFormat::Svg : PictureFormat::Png;
    LayoutSettings settings;
    std::string problem;
    if (!LayoutSettingsOf(args, settings, problem))
        return Usage(args.command, problem);
    const std::string& dialog = args.dialog;
    bool quiet = args.quiet;
    uint32_t languageFilter = args.language;
    if (!PicturesAvailable()) {
        std::fprintf(stderr, "quelvar-cli: preview: this build draws no pictures\n");
        return 1;
    }

    Options options;
    options.languageFilter = languageFilter;
    options.notify = report.tell;
    std::filesystem::path image = paths[0], translation;
    if (paths.size() == 2)
        translation = paths[1];
    Outcome<std::vector<LaidOutDialog>> dialogs =
        LayOutDialogs(image, paths.size() == 2 ? &translation : nullptr, options, settings);
    if (!dialogs)
        return report.fail("preview", dialogs.error());
    std::vector<const LaidOutDialog*> chosen;
    for (const LaidOutDialog& d : *dialogs)
        if (dialog.empty() || DialogMatches(d, dialog))
            chosen.push_back(&d);
    if (chosen.empty()) {
        std::fprintf(stderr, "quelvar-cli: preview: %s has no dialog%s%s\n",
                     report.show(image).c_str(), dialog.empty() ? "" : " ", dialog.c_str());
        return 1;
    }
    // One dialog: OUT itself. Several: OUT-<name>-<language>.png (or .svg) each.
    int status = 0;
    size_t written = 0;
    std::vector<uint8_t> bytes;
    for (const LaidOutDialog* d : chosen) {
        std::filesystem::path target = outPath;
        if (chosen.size() > 1) {
            std::filesystem::path name = outPath.stem();
            name += "-" + FilePart(d->name) + "-" + std::to_string(d->language);
            name += outPath.extension();
            target = outPath.parent_path() / name;
        }
        if (!DrawLaidOutDialog(*d, format, settings, bytes, problem)) {
            std::fprintf(stderr, "quelvar-cli: preview: dialog %s: %s\n",
                         ToUtf8(d->resource).c_str(), problem.c_str());
            status = 1;
            continue;
        }
        if (Outcome<> wrote = WriteOutputFile(target, bytes); !wrote) {
            report.fail("preview", wrote.error());
            status = 1;
            continue;
        }
        ++written;
    }
    if (!quiet)
        std::fprintf(stderr, "quelvar-cli: drew %zu of %zu dialogs into %s%s\n", written,
                     chosen.size(), report.show(outPath).c_str(),
                     chosen.size() > 1 ? " (one file a dialog: OUT-<dialog>-<language>)" : "");
    return status;
}

}  // namespace quelvar::cli
