#include "converter/PassLogFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace mobivert::converter {

TPassLogFolder::~TPassLogFolder() {
    if (path_.empty())
        return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool TPassLogFolder::Create(std::string& error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : "/tmp";
    // The encoders' parameter texts cannot hold ':' or '=' in a file name.
    if (base.find_first_of(":=") != std::string::npos)
        base = "/tmp";
    std::string pattern = base + "/mobivert-passes-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) {
        error = "Could not make a folder for the first pass's statistics in " + base + ": " +
                std::strerror(errno);
        return false;
    }
    path_ = name.data();
    return true;
}

} // namespace mobivert::converter
