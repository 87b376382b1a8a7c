#include "support/ShellCommand.h"

#include <array>
#include <cstdio>

namespace mobivert::test {

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string RunCommand(const std::string& command, int* status) {
    if (status)
        *status = -1;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return "";
    std::string output;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), n);
    const int result = pclose(pipe);
    if (status)
        *status = result;
    return output;
}

std::string WithoutTrailingLineEnds(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace mobivert::test
