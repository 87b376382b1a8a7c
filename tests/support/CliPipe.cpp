#include "support/CliPipe.h"

#include <cstdio>
#include <sys/wait.h>

namespace mobivert::test {

std::string ShellQuoted(const std::string& text) {
    return "'" + text + "'";
}

int RunCliThroughShell(const std::string& prefix, const std::string& args, bool joinErrors,
                       std::string& output) {
    std::string command = prefix + (prefix.empty() ? "" : " ") + ShellQuoted(MOBIVERT_CLI_PROGRAM) +
                          " " + args + (joinErrors ? " 2>&1" : " 2>/dev/null");
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace mobivert::test
