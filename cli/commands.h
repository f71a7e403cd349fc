// The commands of quelvar-cli beyond export and import, in files of their own.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "driver/batch.h"
#include "driver/driver.h"

namespace quelvar::cli {

// What every command reports through: a failure of `what` with a code, and wrong usage (both
// print and return the exit status); a notice; a path as messages show it.
struct Reporting {
    int (*fail)(const char* what, const Failure& failure);
    int (*usage)(const char* problem);
    void (*tell)(const Notice& notice);
    std::string (*show)(const std::filesystem::path& path);
};

// check IMAGE TRANSLATION [--language ID] [--format text|json]
int RunCheck(const std::vector<std::string>& args, const Reporting& report);
// preview IMAGE [TRANSLATION] [--dialog ID] [--language ID] -o OUT.png|OUT.svg
int RunPreview(const std::vector<std::string>& args, const Reporting& report);
// --font-dir and --dpi of check --layout and preview; false with `problem` for wrong usage.
bool ParseLayoutSettings(const std::string& fontDir, const std::string& dpi,
                         LayoutSettings& settings, std::string& problem);
// pseudo IMAGE OUT.lng [--expand PERCENT] [--language ID]
int RunPseudo(const std::vector<std::string>& args, const Reporting& report);

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
