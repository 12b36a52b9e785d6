#pragma once

#include <cstdio>
#include <string>

namespace quiltara {

// A file written under a temporary name in the folder of its final path and
// renamed over that path only once it is complete. Until Commit() succeeds
// the final path is untouched, so an interrupted or failed write never leaves
// a truncated file there and never replaces a good older one; the temporary
// file is removed when the object goes away uncommitted.
class ReplacingFile {
public:
    explicit ReplacingFile(std::string finalPath);
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;
    ~ReplacingFile();

    // Creates the temporary file; false (with errno's text in Error()) when
    // the folder cannot take it.
    bool Open();
    // The open temporary file; null before Open() and after Commit().
    std::FILE* Stream() const { return stream_; }
    // Flushes the data to the disk and renames the file to the final path.
    bool Commit();

    const std::string& TemporaryPath() const { return temporaryPath_; }
    const std::string& Error() const { return error_; }

private:
    bool Fail(const char* what);
    void Forget();

    std::string finalPath_;
    int pendingSlot_ = -1;
    std::string temporaryPath_;
    std::FILE* stream_ = nullptr;
    std::string error_;
};

// Removes the temporary files of every ReplacingFile not yet committed or
// destroyed. Async-signal-safe: a program interrupted by a signal calls it
// from its handler so that a stopped run leaves no half-written file behind.
void RemoveUncommittedFiles() noexcept;

} // namespace quiltara
