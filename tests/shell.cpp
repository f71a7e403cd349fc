#include "shell.h"

#include <sys/wait.h>

#include <cstdlib>

#include "pe_builder.h"

namespace quelvar::test {

ShellRun RunShell(const std::filesystem::path& dir, const std::string& script, ShellOutput output) {
    std::string said = (dir / "said.txt").string();
    std::string command =
        "cd '" + dir.string() + "' && Q='" + QUELVAR_CLI + "' && { " + script + "\n}";
    switch (output) {
        case ShellOutput::Kept:
            command += " 2>'" + said + "'";
            break;
        case ShellOutput::Dropped:
            command += " >/dev/null 2>'" + said + "'";
            break;
        case ShellOutput::WithErrors:
            command += " >'" + said + "' 2>&1";
            break;
    }
    int raw = std::system(command.c_str());
    Bytes bytes = ReadFileBytes(said);
    return ShellRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1,
                    std::string(bytes.begin(), bytes.end())};
}

}  // namespace quelvar::test
