// The command line of quelvar-cli, declared with CLI11: one subcommand a command, each with its
// own options. The help of a command, its usage errors and the shell completions all come from
// that one declaration; only the overview that `quelvar-cli --help` prints is written by hand.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "resources/tree.h"

namespace quelvar::cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// A command-line word, UTF-8, as a path, and back.
inline std::filesystem::path ToPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8(const std::filesystem::path& path) {
    std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

// What the command line asks for. An option given twice is refused, whatever the command.
struct Invocation {
    std::string command;  // export, import, convert, check, preview or pseudo
    std::vector<std::filesystem::path> paths;
    uint32_t language = kAllLanguages;      // --language
    uint32_t langId = kNoLanguageOverride;  // --lang-id
    std::string format;                     // --format: po|lng, for check text|json; "" if none
    std::optional<std::filesystem::path> output;      // -o
    std::optional<std::filesystem::path> source;      // export --source
    std::optional<std::filesystem::path> image;       // convert --image
    std::optional<std::filesystem::path> textFolder;  // export --out, import --from
    unsigned threads = 0;                             // -j; 0 when not given
    unsigned expand = 35;                             // pseudo --expand
    bool batch = false;
    bool quiet = false;
    bool fuzzy = false;
    bool addLanguage = false;
    bool rtl = false;
    bool noRtl = false;
    bool strict = false;
    bool unsign = false;
    // check --layout (with --font-dir and --dpi), import --strict --layout
    bool layout = false;
    std::optional<std::filesystem::path> fontDir;
    unsigned dpi = 0;                           // 0 when not given
    std::optional<std::filesystem::path> html;  // check --layout --html
    std::string dialog;                         // preview --dialog; "" for every dialog
};

// Reads the command line (the words after the program's name). Returns the exit status when
// the run ends here: after the help, the version or a completion script on stdout, or a usage
// error on stderr; nothing when `run` is to be carried out.
std::optional<int> ParseCommandLine(const std::vector<std::string>& args, Invocation& run);

// Says wrong usage of `command` (empty for none) in one line, and where its help is; returns
// the exit status.
int Usage(std::string_view command, std::string_view problem);

}  // namespace quelvar::cli
