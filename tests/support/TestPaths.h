#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace quiltara::test {

// The folder beside the checkout with third-party test images and benchmark
// generators; may be absent in a bare clone, so tests that need it skip.
std::filesystem::path SharedDir();

// tests/data in the source tree: small files the project made itself.
std::filesystem::path TestDataDir();

// The build's top folder (tools such as demo-map-server are built below it).
std::filesystem::path BinaryDir();

// Every regular file below folder, as paths relative to it.
std::set<std::string> FilesBelow(const std::filesystem::path& folder);

// The whole content of a file as bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// A loopback port that nothing listens on: bound once, then released.
int ClosedLoopbackPort();

// A fresh, empty folder under the system's temporary folder, removed again
// when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

} // namespace quiltara::test
