#pragma once

#include <cstdio>

#include "image/ByteStream.h"

namespace quiltara {

// A byte stream over a standard I/O FILE. A stream handed in by the caller
// stays the caller's: it is never closed here. A stream opened with Open()
// belongs to this object and is closed by Close() or the destructor.
class FileStream final : public ByteStream {
public:
    explicit FileStream(std::FILE* stream = nullptr);
    // Copies would close one FILE twice, so ownership only moves.
    FileStream(FileStream&& other) noexcept;
    FileStream& operator=(FileStream&& other) noexcept;
    ~FileStream() override;

    bool Open(const char* path, const char* mode);
    bool Close() override;
    std::uint32_t Read(void* buffer, std::size_t size, std::size_t count) override;
    std::uint32_t Write(const void* buffer, std::size_t size, std::size_t count) override;
    bool Seek(std::int32_t offset, int origin) override;
    std::int32_t Tell() override;
    std::int32_t Size() override;
    bool Flush() override;
    bool Eof() override;
    std::int32_t Error() override;
    bool PutC(std::uint8_t byte) override;
    std::int32_t GetC() override;
    char* GetS(char* buffer, int n) override;
    std::int32_t Scanf(const char* format, void* output) override;

    std::FILE* Handle() const { return stream_; }
    bool ClosesOnRelease() const { return closeOnRelease_; }

private:
    std::FILE* stream_ = nullptr;
    bool closeOnRelease_ = true;
};

} // namespace quiltara
