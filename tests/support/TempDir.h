#pragma once
// A fresh directory under the system's temporary folder, removed with everything in it.

#include <filesystem>
#include <string>

namespace mobivert::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Path of a generated test media file.
std::string Fixture(const std::string& name);

} // namespace mobivert::test
