#include "assembly/ReplacingFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
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

// The temporary files in the making, where a signal handler can reach them:
// a handler may not take locks or allocate, so the paths sit in fixed slots
// whose state says when a path is complete. More files at once than slots
// are still written safely; only their clean-up on a signal is lost.
enum SlotState : int { kFree = 0, kFilling = 1, kReady = 2 };
struct PendingFile {
    std::atomic<int> state{kFree};
    char path[PATH_MAX] = {};
};
PendingFile g_pending[8];

int RememberPending(const std::string& path) {
    if (path.size() >= PATH_MAX) {
        return -1;
    }
    for (int i = 0; i < static_cast<int>(std::size(g_pending)); ++i) {
        int expected = kFree;
        if (g_pending[i].state.compare_exchange_strong(expected, kFilling)) {
            std::memcpy(g_pending[i].path, path.c_str(), path.size() + 1);
            g_pending[i].state.store(kReady);
            return i;
        }
    }
    return -1;
}

} // namespace

void RemoveUncommittedFiles() noexcept {
    for (PendingFile& pending : g_pending) {
        if (pending.state.load() == kReady) {
            ::unlink(pending.path);
        }
    }
}

ReplacingFile::ReplacingFile(std::string finalPath) : finalPath_(std::move(finalPath)) {}

ReplacingFile::~ReplacingFile() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        ::unlink(temporaryPath_.c_str());
    }
    Forget();
}

void ReplacingFile::Forget() {
    if (pendingSlot_ >= 0) {
        g_pending[pendingSlot_].state.store(kFree);
        pendingSlot_ = -1;
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
        pendingSlot_ = RememberPending(candidate);
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
        Forget();
        return false;
    }
    const bool renamed = std::rename(temporaryPath_.c_str(), finalPath_.c_str()) == 0;
    if (!renamed) {
        Fail("cannot rename the file");
        ::unlink(temporaryPath_.c_str());
    }
    Forget();
    return renamed;
}

} // namespace quiltara
