#include "assembly/ReplacingFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

namespace quiltara {
namespace {

// A hidden name beside the final one, so a listing of the folder does not
// show a half-written file as if it were the map.
std::string TemporaryName(const std::string& finalPath, std::uint32_t salt) {
    const auto slash = finalPath.find_last_of('/');
    const std::string::size_type nameStart = slash == std::string::npos ? 0 : slash + 1;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x.part", salt);
    return finalPath.substr(0, nameStart) + "." + finalPath.substr(nameStart) + suffix;
}

} // namespace

ReplacingFile::ReplacingFile(std::string finalPath) : finalPath_(std::move(finalPath)) {}

ReplacingFile::~ReplacingFile() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        ::unlink(temporaryPath_.c_str());
    }
}

bool ReplacingFile::Fail(const char* what) {
    error_ = std::string(what) + ": " + std::strerror(errno);
    return false;
}

bool ReplacingFile::Open() {
    std::random_device entropy;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string candidate = TemporaryName(finalPath_, entropy());
        // Created afresh (never an existing file or a link planted there),
        // with the permissions a plain new file gets under the user's umask.
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return Fail("cannot create a file in the folder");
        }
        stream_ = ::fdopen(fd, "wb");
        if (stream_ == nullptr) {
            ::close(fd);
            ::unlink(candidate.c_str());
            return Fail("cannot write the file");
        }
        temporaryPath_ = candidate;
        return true;
    }
    errno = EEXIST;
    return Fail("cannot create a file in the folder");
}

bool ReplacingFile::Commit() {
    if (stream_ == nullptr) {
        errno = EBADF;
        return Fail("the file is not open");
    }
    // The data reaches the disk before the rename: after a crash the final
    // name holds either the old file or the whole new one.
    const bool flushed = std::fflush(stream_) == 0 && ::fsync(::fileno(stream_)) == 0;
    const int flushError = errno;
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!flushed || !closed) {
        errno = flushed ? errno : flushError;
        Fail("cannot write the file");
        ::unlink(temporaryPath_.c_str());
        return false;
    }
    if (std::rename(temporaryPath_.c_str(), finalPath_.c_str()) != 0) {
        Fail("cannot rename the file");
        ::unlink(temporaryPath_.c_str());
        return false;
    }
    return true;
}

} // namespace quiltara
