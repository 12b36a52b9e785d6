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

// Whether a nameless file can be linked into a folder by this process: the
// link goes through its /proc/self/fd entry (linking by descriptor alone
// needs a privilege users do not have).
bool CanLinkNamelessFiles() {
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}

// A nameless file in folder, or -1 when none can be made there.
int OpenNameless(const std::filesystem::path& folder) {
#ifdef O_TMPFILE
    // The mode lets the umask decide, as for any other file the user saves.
    return ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#else
    (void)folder;
    return -1;
#endif
}

std::filesystem::path DescriptorPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace

void RemoveUnfinishedFiles() noexcept {
    for (UnfinishedSlot& slot : g_unfinished) {
        if (slot.state.load(std::memory_order_acquire) == kLive) {
            ::unlink(slot.path);
        }
    }
}

AtomicFile::AtomicFile(std::filesystem::path finalPath, Durability durability, Naming naming)
    : finalPath_(std::move(finalPath)), durability_(durability) {
    if (naming == Naming::Hidden && CanLinkNamelessFiles()) {
        const int fd = OpenNameless(finalPath_.parent_path());
        if (fd >= 0) {
            // The stream gets a descriptor of its own, so that closing it
            // (Close()) keeps the file, which lives only as long as fd_.
            const int streamFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
            std::FILE* stream = streamFd < 0 ? nullptr : ::fdopen(streamFd, "wb");
            if (stream == nullptr) {
                const int error = errno;
                if (streamFd >= 0) {
                    ::close(streamFd);
                }
                ::close(fd);
                throw ErrorAbout(error, "cannot open a temporary file for", finalPath_);
            }
            fd_ = fd;
            named_ = false;
            stream_.reset(stream);
            temporaryPath_ = DescriptorPath(fd);
            return;
        }
        // Whatever the reason (a file system without nameless files answers
        // in several ways), a named file is tried next; when the folder is
        // the trouble, that attempt says so with the usual message.
    }
    CreateNamed();
}

void AtomicFile::CreateNamed() {
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
        throw ErrorAbout(error, "cannot write", named_ ? temporaryPath_ : finalPath_);
    }
}

void AtomicFile::LinkHidden() {
    const std::string source = DescriptorPath(fd_).string();
    // Most files are new: linked straight under their name, which only ever
    // shows the complete file.
    if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, finalPath_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return;
    }
    if (errno != EEXIST) {
        throw ErrorAbout(errno, "cannot save the finished file as", finalPath_);
    }
    // The name is taken: link it under a .part name and rename that over the
    // final name, which replaces the earlier file in one step.
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::filesystem::path candidate = CandidateName(finalPath_, NextSalt());
        if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) !=
            0) {
            if (errno == EEXIST) {
                continue;
            }
            throw ErrorAbout(errno, "cannot save the finished file as", finalPath_);
        }
        const int slot = RegisterUnfinished(candidate);
        const int renamed = ::rename(candidate.c_str(), finalPath_.c_str());
        const int error = errno;
        if (renamed != 0) {
            ::unlink(candidate.c_str());
        }
        ReleaseUnfinished(slot);
        if (renamed != 0) {
            throw ErrorAbout(error, "cannot rename the finished file to", finalPath_);
        }
        return;
    }
    throw ErrorAbout(EEXIST, "no free temporary name for", finalPath_);
}

void AtomicFile::Commit() {
    try {
        Close();
        if (!named_) {
            LinkHidden();
        } else if (::rename(temporaryPath_.c_str(), finalPath_.c_str()) != 0) {
            throw ErrorAbout(errno, "cannot rename the finished file to", finalPath_);
        }
    } catch (...) {
        Discard();
        throw;
    }
    settled_ = true;
    CloseNameless();
    ReleaseUnfinished(slot_);
}

void AtomicFile::CloseNameless() noexcept {
    if (fd_ >= 0) {
        ::close(fd_); // a nameless file goes with its last descriptor
        fd_ = -1;
    }
}

void AtomicFile::Discard() noexcept {
    if (settled_) {
        return;
    }
    stream_.reset();
    if (!named_) {
        CloseNameless();
    } else if (!temporaryPath_.empty()) {
        ::unlink(temporaryPath_.c_str());
    }
    settled_ = true;
    ReleaseUnfinished(slot_);
}

} // namespace quiltara
