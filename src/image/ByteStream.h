#pragma once

#include <cstddef>
#include <cstdint>

namespace quiltara {

// The one interface every codec reads and writes through, so the same codec
// works on a file or on memory. Failures are reported only by return values:
// 0, false, -1 or null, never by exceptions.
class ByteStream {
public:
    ByteStream() = default;
    ByteStream(const ByteStream&) = delete;
    ByteStream& operator=(const ByteStream&) = delete;
    virtual ~ByteStream() = default;

    virtual bool Close() = 0;
    // Number of whole items of `size` bytes read or written.
    virtual std::uint32_t Read(void* buffer, std::size_t size, std::size_t count) = 0;
    virtual std::uint32_t Write(const void* buffer, std::size_t size, std::size_t count) = 0;
    // origin: 0 from the start, 1 from the current position, 2 from the end.
    virtual bool Seek(std::int32_t offset, int origin) = 0;
    virtual std::int32_t Tell() = 0;
    // Length of the data, -1 when unknown.
    virtual std::int32_t Size() = 0;
    virtual bool Flush() = 0;
    virtual bool Eof() = 0;
    // 0 when no error is pending.
    virtual std::int32_t Error() = 0;
    virtual bool PutC(std::uint8_t byte) { return Write(&byte, 1, 1) == 1; }
    // The next byte as 0..255, or -1 at the end.
    virtual std::int32_t GetC() = 0;
    virtual char* GetS(char* buffer, int n) = 0;
    // Number of fields converted into `output`, or -1.
    virtual std::int32_t Scanf(const char* format, void* output) = 0;

protected:
    ByteStream(ByteStream&&) = default;
    ByteStream& operator=(ByteStream&&) = default;
};

} // namespace quiltara
