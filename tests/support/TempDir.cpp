#include "support/TempDir.h"

#include <cstdlib>
#include <stdexcept>

namespace mobivert::test {

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "mobivert-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string Fixture(const std::string& name) {
    return (std::filesystem::path(MOBIVERT_FIXTURE_DIR) / name).string();
}

} // namespace mobivert::test
