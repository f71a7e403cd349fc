// Test support (POSIX only): runs a shell script in a test's directory, the way a user runs
// quelvar-cli, and keeps what it said.
#pragma once

#include <filesystem>
#include <string>

namespace quelvar::test {

// Where a script's standard output goes.
enum class ShellOutput {
    Kept,        // to the test's own output, unless the script redirects it itself
    Dropped,     // to /dev/null
    WithErrors,  // into `err`, with the standard error
};

struct ShellRun {
    int status = -1;  // the exit status; -1 when the shell did not exit
    std::string err;  // what the script wrote to its standard error (and output, see above)
};

// Runs `script` with /bin/sh in `dir`, with $Q naming quelvar-cli.
ShellRun RunShell(const std::filesystem::path& dir, const std::string& script,
                  ShellOutput output = ShellOutput::Kept);

}  // namespace quelvar::test
