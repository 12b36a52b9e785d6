#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace quiltara {

// A file that appears under its final name only once it is complete. The
// bytes go to a temporary file in the same folder (so the last step stays
// within one file system); Commit() puts it under the final name, replacing
// what was there in one step. Until then the final name keeps its earlier
// content, or stays absent.
//
// Where the file system can, the temporary file has no name at all until
// Commit() links it into the folder: a process killed in any way leaves
// nothing behind, and making the file does not hold the folder's lock while
// the file system looks for a free inode (on a busy folder that search is
// the slow part, and with a name it keeps parallel downloads in line).
// Elsewhere it is "NAME.1a2b3c4d.part" next to the final file, removed again
// by the destructor or RemoveUnfinishedFiles() when not committed.
class AtomicFile {
public:
    // Whether Close() waits for the bytes to reach the disk. A map image
    // (hours of downloads) is worth the wait; a tile can be fetched again.
    enum class Durability { Flushed, Synced };

    // Whether the temporary file may be nameless (Hidden: where the file
    // system can) or must have its .part name from the start (Named).
    enum class Naming { Hidden, Named };

    // Creates the temporary file, open for writing. Throws std::system_error
    // when it cannot be created (missing folder, no access, full disk).
    explicit AtomicFile(std::filesystem::path finalPath, Durability durability = Durability::Synced,
                        Naming naming = Naming::Hidden);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;

    // A file with source's content: a second name (a hard link) for source,
    // made under a temporary name next to finalPath, that Commit() moves
    // under the final name. Nothing is written into the shared file. Null,
    // with error set, when no link can be made (source gone, another file
    // system, one that has no links).
    static std::unique_ptr<AtomicFile> LinkTo(const std::filesystem::path& source,
                                              std::filesystem::path finalPath,
                                              std::error_code& error);
    AtomicFile& operator=(const AtomicFile&) = delete;

    const std::filesystem::path& FinalPath() const { return finalPath_; }
    // A path the temporary file's content can be read through until Commit()
    // or Discard(): its .part name, or for a nameless file its entry under
    // /proc/self/fd.
    const std::filesystem::path& TemporaryPath() const { return temporaryPath_; }
    // Whether the temporary file has a name in the folder.
    bool IsNamed() const { return named_; }

    // The temporary file's stream; null once closed.
    std::FILE* Stream() const { return stream_.get(); }

    // Flushes the bytes (to the disk when Synced) and closes the stream, so
    // that a full disk shows up here rather than as a short file later. Throws
    // std::system_error; the temporary file stays until Discard() or the
    // destructor.
    void Close();

    // Closes the stream when still open, then puts the temporary file under
    // the final name. Throws std::system_error when either fails; the
    // temporary file is removed then and the final name is untouched.
    void Commit();

    // Removes the temporary file now; the final name is untouched.
    void Discard() noexcept;

    // For LinkTo() only.
    struct LinkKey {
        explicit LinkKey() = default;
    };
    AtomicFile(LinkKey, std::filesystem::path finalPath);

private:
    struct StreamCloser {
        void operator()(std::FILE* stream) const { std::fclose(stream); }
    };

    std::filesystem::path finalPath_;
    std::filesystem::path temporaryPath_;
    void CreateNamed();
    // Links the nameless file in under the final name, or under a .part name
    // renamed over the final one when that name is taken.
    void LinkHidden();
    void CloseNameless() noexcept;

    std::unique_ptr<std::FILE, StreamCloser> stream_;
    int fd_ = -1; // the nameless file, kept open after Close() until settled
    bool named_ = true;
    Durability durability_;
    bool settled_ = false; // committed or discarded: nothing left to clean up
    int slot_ = -1;        // where RemoveUnfinishedFiles() finds the temporary file
};

// Removes the temporary file of every AtomicFile of the process that is
// neither committed nor discarded. Only calls async-signal-safe functions, so
// a handler of SIGINT or SIGTERM may call it before the process ends: an
// interrupted run then leaves no unfinished file behind. With processEnding,
// no temporary file can be made afterwards (a thread that tries gets a
// std::system_error), so none appears after the handler has looked; a file
// being made on another thread at that moment is waited for.
void RemoveUnfinishedFiles(bool processEnding = false) noexcept;

} // namespace quiltara
