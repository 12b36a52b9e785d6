#include "TestPaths.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace quiltara::test {

std::filesystem::path SharedDir() {
    return QUILTARA_SHARED_DIR;
}

std::filesystem::path TestDataDir() {
    return QUILTARA_TEST_DATA_DIR;
}

std::filesystem::path BinaryDir() {
    return QUILTARA_BINARY_DIR;
}

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quiltara-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace quiltara::test
