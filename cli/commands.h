// The commands of quelvar-cli beyond export and import, in files of their own.
#pragma once

#include <string>
#include <vector>

#include "driver/driver.h"

namespace quelvar::cli {

// What every command reports through: a failure of `what` with a code, and wrong usage.
// Both print and return the exit status.
struct Reporting {
    int (*fail)(const char* what, const Failure& failure);
    int (*usage)(const char* problem);
};

// check IMAGE TRANSLATION [--language ID] [--format text|json]
int RunCheck(const std::vector<std::string>& args, const Reporting& report);
// pseudo IMAGE OUT.lng [--expand PERCENT] [--language ID]
int RunPseudo(const std::vector<std::string>& args, const Reporting& report);

// Import: says the errors that check finds in the translation, as warnings on stderr, and
// returns how many there are.
size_t WarnOfCheckErrors(const std::string& translation, const CheckReport& report);

}  // namespace quelvar::cli
