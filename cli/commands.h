// The commands of quelvar-cli beyond export and import, in files of their own.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "driver/batch.h"
#include "driver/driver.h"

namespace quelvar::cli {

// What every command reports through: a failure of `what` with a code (printed, and the exit
// status returned); a notice; a path as messages show it. Wrong usage is said by Usage.
struct Reporting {
    int (*fail)(const char* what, const Failure& failure);
    void (*tell)(const Notice& notice);
    std::string (*show)(const std::filesystem::path& path);
};

// check IMAGE TRANSLATION [--language ID] [--format text|json]
int RunCheck(const Invocation& args, const Reporting& report);
// pseudo IMAGE OUT.lng [--expand PERCENT] [--language ID] [-q]
int RunPseudo(const Invocation& args, const Reporting& report);
// preview IMAGE [TRANSLATION] [--dialog ID] [--language ID] -o OUT.png|OUT.svg
int RunPreview(const Invocation& args, const Reporting& report);
// --font-dir and --dpi of check --layout and preview; false with `problem` for wrong usage.
bool LayoutSettingsOf(const Invocation& args, LayoutSettings& settings, std::string& problem);

// export --batch and import --batch: the jobs, how they run, and what is said of them.
struct BatchCommand {
    BatchDirection direction = BatchDirection::Export;
    std::vector<std::filesystem::path> inputs;  // images and folders
    std::filesystem::path textFolder;           // --out of export, --from of import
    std::filesystem::path outputFolder;         // import -o; empty translates in place
    TextFormat format = TextFormat::Lng;
    Options options;       // its notify and failure are the batch's own
    unsigned threads = 0;  // -j; 0 for one a processor
    bool quiet = false;
};
int RunBatchCommand(const BatchCommand& command, const Reporting& report);

// Import: says the errors that check finds in the translation on stderr, as check names them,
// and returns how many there are. Without `strict` a text too long for its string table entry
// is left to the import, which says that it cuts it.
size_t SayCheckErrors(const std::string& translation, const CheckReport& report, bool strict);

}  // namespace quelvar::cli
