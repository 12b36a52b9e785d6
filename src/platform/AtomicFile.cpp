#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <system_error>
#include <utility>

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
// fixed storage and lock-free atomics, no allocation. A name is put in its
// slot before the file is made under it, so a handler that runs at any
// moment finds every named file there is. Each slot's word holds its state
// and a generation that changes whenever the slot is taken or let go: the
// handler copies the name, then reads the word again, and uses the copy
// only when nothing changed in between (the name may have been rewritten
// by another thread meanwhile).
constexpr int kSlotCount = 64;
constexpr std::size_t kSlotPathBytes = 4096;

enum SlotState : std::uint64_t {
    kFree = 0,
    kFilling = 1, // the name is being written
    kMaking = 2,  // the name is whole; the file is being made under it
    kLive = 3,    // the file may be there
};
constexpr std::uint64_t kStateMask = 3;
constexpr std::uint64_t kGenerationStep = 4;

struct UnfinishedSlot {
    std::atomic<std::uint64_t> word{kFree};
    std::atomic<char> path[kSlotPathBytes];
};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
static_assert(std::atomic<char>::is_always_lock_free);

UnfinishedSlot g_unfinished[kSlotCount];
// Set by RemoveUnfinishedFiles(): the process is ending, and no new named
// file may appear after the handler has looked.
std::atomic<bool> g_ending{false};

SlotState StateOf(std::uint64_t word) {
    return static_cast<SlotState>(word & kStateMask);
}

std::uint64_t Next(std::uint64_t word, SlotState state) {
    return ((word & ~kStateMask) + kGenerationStep) | state;
}

// The signals that end a run while it writes files. They are held back
// while a thread is between taking a slot and making its file, so that no
// handler runs on that thread in the middle (it would wait for itself);
// another thread's handler waits for the file to be made.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t ending;
        sigemptyset(&ending);
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
            sigaddset(&ending, signal);
        }
        pthread_sigmask(SIG_BLOCK, &ending, &previous_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

// Takes a slot for path before a file is made under it; the slot says
// kMaking until Made() or Release(). -1 when the name is too long or all
// slots are taken (the file is then only cleaned up by its owner). Throws
// when the process is ending: no file may be made any more.
int ReserveUnfinished(const std::filesystem::path& path) {
    const std::string& text = path.native();
    if (text.size() >= kSlotPathBytes) {
        return -1;
    }
    for (int i = 0; i < kSlotCount; ++i) {
        UnfinishedSlot& slot = g_unfinished[i];
        std::uint64_t word = slot.word.load();
        if (StateOf(word) != kFree ||
            !slot.word.compare_exchange_strong(word, Next(word, kFilling))) {
            continue;
        }
        for (std::size_t c = 0; c <= text.size(); ++c) {
            slot.path[c].store(text.c_str()[c], std::memory_order_relaxed);
        }
        slot.word.store(Next(slot.word.load(), kMaking));
        if (g_ending.load()) {
            slot.word.store(Next(slot.word.load(), kFree));
            throw std::system_error(EINTR, std::generic_category(), "the program is ending");
        }
        return i;
    }
    return -1;
}

// The file under the slot's name exists now (or its making failed, when the
// caller lets the slot go next).
void MadeUnfinished(int slot) {
    if (slot >= 0) {
        UnfinishedSlot& s = g_unfinished[slot];
        s.word.store(Next(s.word.load(), kLive));
    }
}

void ReleaseUnfinished(int slot) {
    if (slot >= 0) {
        UnfinishedSlot& s = g_unfinished[slot];
        s.word.store(Next(s.word.load(), kFree));
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

// The new name is an entry of the folder: until the folder itself reaches
// the disk, a power cut can lose the name although the file's bytes were
// synced. A folder that cannot be synced (some file systems refuse) leaves
// the name as safe as that file system makes it.
void SyncFolderOf(const std::filesystem::path& file) {
    const std::filesystem::path folder = file.parent_path();
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::filesystem::path DescriptorPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace

void RemoveUnfinishedFiles(bool processEnding) noexcept {
    if (processEnding) {
        g_ending.store(true);
    }
    for (UnfinishedSlot& slot : g_unfinished) {
        // A file being made on another thread (signals are held back on the
        // thread making it) is waited for: an open() takes microseconds, and
        // the wait is bounded should that thread be stopped.
        std::uint64_t word = slot.word.load();
        for (int wait = 0; wait < 2000 && (StateOf(word) == kMaking || StateOf(word) == kFilling);
             ++wait) {
            const timespec pause{0, 100000};
            nanosleep(&pause, nullptr);
            word = slot.word.load();
        }
        if (StateOf(word) != kLive && StateOf(word) != kMaking) {
            continue;
        }
        char path[kSlotPathBytes];
        std::size_t c = 0;
        for (; c + 1 < kSlotPathBytes; ++c) {
            path[c] = slot.path[c].load(std::memory_order_relaxed);
            if (path[c] == '\0') {
                break;
            }
        }
        path[c] = '\0';
        if (slot.word.load() == word) {
            ::unlink(path);
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

AtomicFile::AtomicFile(LinkKey, std::filesystem::path finalPath)
    : finalPath_(std::move(finalPath)), durability_(Durability::Flushed) {}

std::unique_ptr<AtomicFile> AtomicFile::LinkTo(const std::filesystem::path& source,
                                               std::filesystem::path finalPath,
                                               std::error_code& error) {
    auto file = std::make_unique<AtomicFile>(LinkKey{}, std::move(finalPath));
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::filesystem::path candidate = CandidateName(file->finalPath_, NextSalt());
        int linked = -1;
        int failure = 0;
        {
            const SignalsHeld held;
            file->slot_ = ReserveUnfinished(candidate);
            linked = ::link(source.c_str(), candidate.c_str());
            failure = errno;
            if (linked == 0) {
                MadeUnfinished(file->slot_);
            } else {
                ReleaseUnfinished(std::exchange(file->slot_, -1));
            }
        }
        if (linked == 0) {
            file->temporaryPath_ = candidate;
            error.clear();
            return file;
        }
        if (failure != EEXIST) {
            error = std::error_code(failure, std::generic_category());
            file->settled_ = true;
            return nullptr;
        }
    }
    error = std::make_error_code(std::errc::file_exists);
    file->settled_ = true;
    return nullptr;
}

void AtomicFile::CreateNamed() {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::filesystem::path candidate = CandidateName(finalPath_, NextSalt());
        int fd = -1;
        int error = 0;
        {
            const SignalsHeld held;
            slot_ = ReserveUnfinished(candidate);
            // O_EXCL: never write into a file that someone else made; the mode
            // lets the umask decide, as for any other file the user saves.
            fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            error = errno;
            if (fd >= 0) {
                MadeUnfinished(slot_);
            } else {
                ReleaseUnfinished(std::exchange(slot_, -1));
            }
        }
        if (fd < 0) {
            if (error == EEXIST) {
                continue;
            }
            throw ErrorAbout(error, "cannot create", candidate);
        }
        temporaryPath_ = candidate;
        std::FILE* stream = ::fdopen(fd, "wb");
        if (stream == nullptr) {
            error = errno;
            ::close(fd);
            ::unlink(candidate.c_str());
            ReleaseUnfinished(std::exchange(slot_, -1));
            throw ErrorAbout(error, "cannot open", candidate);
        }
        stream_.reset(stream);
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
        int slot = -1;
        int linked = -1;
        int error = 0;
        {
            const SignalsHeld held;
            slot = ReserveUnfinished(candidate);
            linked =
                ::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW);
            error = errno;
            MadeUnfinished(slot);
        }
        if (linked != 0) {
            ReleaseUnfinished(slot);
            if (error == EEXIST) {
                continue;
            }
            throw ErrorAbout(error, "cannot save the finished file as", finalPath_);
        }
        const int renamed = ::rename(candidate.c_str(), finalPath_.c_str());
        error = errno;
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
    if (durability_ == Durability::Synced) {
        SyncFolderOf(finalPath_);
    }
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
