#include "support/HookFiles.h"

#include <fstream>
#include <sstream>

namespace mobivert::test {

std::string TestHook(const std::string& name) {
    if (name == "DependentHook")
        return std::string(MOBIVERT_TEST_HOOK_DIR) + "/dependent/lib" + name + ".so";
    return std::string(MOBIVERT_TEST_HOOK_DIR) + "/lib" + name + ".so";
}

std::string ExampleHook() {
    return MOBIVERT_EXAMPLE_HOOK;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<int64_t> RecordedTimes(const std::string& path) {
    std::vector<int64_t> times;
    for (const std::string& line : ReadLines(path)) {
        if (line.rfind("process ", 0) != 0)
            continue;
        std::istringstream fields(line.substr(8));
        long long pts = 0;
        fields >> pts;
        times.push_back(pts);
    }
    return times;
}

} // namespace mobivert::test
