#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>

namespace quiltara {

// A file that appears under its final name only once it is complete. The
// bytes go to a temporary file in the same folder (so the last step is a
// rename within one file system); Commit() renames it over the final name,
// replacing what was there in one step. Until then the final name keeps its
// earlier content, or stays absent; an interrupted or failed write leaves
// the temporary file at most, and destroying an uncommitted AtomicFile
// removes that too.
class AtomicFile {
public:
    // Whether Close() waits for the bytes to reach the disk. A map image
    // (hours of downloads) is worth the wait; a tile can be fetched again.
    enum class Durability { Flushed, Synced };

    // Creates the temporary file, open for writing. Throws std::system_error
    // when it cannot be created (missing folder, no access, full disk).
    explicit AtomicFile(std::filesystem::path finalPath,
                        Durability durability = Durability::Synced);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    const std::filesystem::path& FinalPath() const { return finalPath_; }
    const std::filesystem::path& TemporaryPath() const { return temporaryPath_; }

    // The temporary file's stream; null once closed.
    std::FILE* Stream() const { return stream_.get(); }

    // Flushes the bytes (to the disk when Synced) and closes the stream, so
    // that a full disk shows up here rather than as a short file later. Throws
    // std::system_error; the temporary file stays until Discard() or the
    // destructor.
    void Close();

    // Closes the stream when still open, then renames the temporary file over
    // the final name. Throws std::system_error when either fails; the
    // temporary file is removed then and the final name is untouched.
    void Commit();

    // Removes the temporary file now; the final name is untouched.
    void Discard() noexcept;

private:
    struct StreamCloser {
        void operator()(std::FILE* stream) const { std::fclose(stream); }
    };

    std::filesystem::path finalPath_;
    std::filesystem::path temporaryPath_;
    std::unique_ptr<std::FILE, StreamCloser> stream_;
    Durability durability_;
    bool settled_ = false; // committed or discarded: nothing left to clean up
    int slot_ = -1;        // where RemoveUnfinishedFiles() finds the temporary file
};

// Removes the temporary file of every AtomicFile of the process that is
// neither committed nor discarded. Only calls unlink(), so a handler of SIGINT
// or SIGTERM may call it before the process ends: an interrupted run then
// leaves no unfinished file behind.
void RemoveUnfinishedFiles() noexcept;

} // namespace quiltara
