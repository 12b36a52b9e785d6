#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <system_error>

namespace quiltara {
namespace {

// Leaves room for the suffix below within the usual 255-byte name limit.
constexpr std::size_t kLongestBase = 200;
constexpr int kNameAttempts = 100;

std::system_error ErrorAbout(int error, const std::string& what,
                             const std::filesystem::path& path) {
    return std::system_error(error, std::generic_category(), what + " '" + path.string() + "'");
}

// "NAME.1a2b3c4d.part" next to the final file: visibly unfinished, and never
// matching the name of a tile or an image of a run.
std::filesystem::path CandidateName(const std::filesystem::path& finalPath, std::uint64_t salt) {
    std::string base = finalPath.filename().string();
    if (base.size() > kLongestBase) {
        base.resize(kLongestBase);
    }
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08llx.part",
                  static_cast<unsigned long long>(salt & 0xffffffffULL));
    return finalPath.parent_path() / (base + suffix);
}

std::uint64_t NextSalt() {
    // Unique among the threads of this process and, through the random seed
    // and the clock, among processes writing into the same folder.
    static std::atomic<std::uint64_t> counter{std::random_device{}()};
    const auto now =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return (counter.fetch_add(0x9e3779b97f4a7c15ULL) ^ now) * 0xbf58476d1ce4e5b9ULL >> 16;
}

// The temporary files being written, where a signal handler can read them:
// fixed storage and lock-free flags, no allocation.
constexpr int kSlotCount = 64;
constexpr std::size_t kSlotPathBytes = 4096;

enum SlotState : int { kFree, kFilling, kLive };

struct UnfinishedSlot {
    std::atomic<int> state{kFree};
    char path[kSlotPathBytes];
};

UnfinishedSlot g_unfinished[kSlotCount];

// A slot for path, or -1 when all are taken (the file is then only cleaned
// up by its owner).
int RegisterUnfinished(const std::filesystem::path& path) {
    const std::string& text = path.native();
    if (text.size() >= kSlotPathBytes) {
        return -1;
    }
    for (int i = 0; i < kSlotCount; ++i) {
        int expected = kFree;
        if (g_unfinished[i].state.compare_exchange_strong(expected, kFilling)) {
            std::memcpy(g_unfinished[i].path, text.c_str(), text.size() + 1);
            g_unfinished[i].state.store(kLive, std::memory_order_release);
            return i;
        }
    }
    return -1;
}

void ReleaseUnfinished(int slot) {
    if (slot >= 0) {
        g_unfinished[slot].state.store(kFree, std::memory_order_release);
    }
}

} // namespace

void RemoveUnfinishedFiles() noexcept {
    for (UnfinishedSlot& slot : g_unfinished) {
        if (slot.state.load(std::memory_order_acquire) == kLive) {
            ::unlink(slot.path);
        }
    }
}

AtomicFile::AtomicFile(std::filesystem::path finalPath, Durability durability)
    : finalPath_(std::move(finalPath)), durability_(durability) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::filesystem::path candidate = CandidateName(finalPath_, NextSalt());
        // O_EXCL: never write into a file that someone else made; the mode
        // lets the umask decide, as for any other file the user saves.
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            throw ErrorAbout(errno, "cannot create", candidate);
        }
        std::FILE* stream = ::fdopen(fd, "wb");
        if (stream == nullptr) {
            const int error = errno;
            ::close(fd);
            ::unlink(candidate.c_str());
            throw ErrorAbout(error, "cannot open", candidate);
        }
        temporaryPath_ = candidate;
        stream_.reset(stream);
        slot_ = RegisterUnfinished(temporaryPath_);
        return;
    }
    throw ErrorAbout(EEXIST, "no free temporary name for", finalPath_);
}

AtomicFile::~AtomicFile() {
    Discard();
}

void AtomicFile::Close() {
    if (!stream_) {
        return;
    }
    std::FILE* stream = stream_.release();
    int error = 0;
    if (std::fflush(stream) != 0 ||
        (durability_ == Durability::Synced && ::fsync(::fileno(stream)) != 0)) {
        error = errno;
    }
    if (std::fclose(stream) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        throw ErrorAbout(error, "cannot write", temporaryPath_);
    }
}

void AtomicFile::Commit() {
    try {
        Close();
        if (::rename(temporaryPath_.c_str(), finalPath_.c_str()) != 0) {
            throw ErrorAbout(errno, "cannot rename the finished file to", finalPath_);
        }
    } catch (...) {
        Discard();
        throw;
    }
    settled_ = true;
    ReleaseUnfinished(slot_);
}

void AtomicFile::Discard() noexcept {
    if (settled_) {
        return;
    }
    stream_.reset();
    if (!temporaryPath_.empty()) {
        ::unlink(temporaryPath_.c_str());
    }
    settled_ = true;
    ReleaseUnfinished(slot_);
}

} // namespace quiltara
