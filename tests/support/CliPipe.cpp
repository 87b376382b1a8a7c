#include "support/CliPipe.h"

#include <sys/wait.h>

namespace mobivert::test {

int RunCliThroughShell(const std::string& prefix, const std::string& args, bool joinErrors,
                       std::string& output) {
    std::string command = prefix + (prefix.empty() ? "" : " ") + ShellQuoted(MOBIVERT_CLI_PROGRAM) +
                          " " + args + (joinErrors ? " 2>&1" : " 2>/dev/null");
    int status = -1;
    output += RunCommand(command, &status);
    if (status == -1)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace mobivert::test
