#include "TestPaths.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
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

std::set<std::string> FilesBelow(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            names.insert(std::filesystem::relative(entry.path(), folder).string());
        }
    }
    return names;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int ClosedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        throw std::runtime_error("cannot create a socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    if (!bound) {
        throw std::runtime_error("cannot find a free loopback port");
    }
    return ntohs(address.sin_port);
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
