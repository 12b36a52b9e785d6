#pragma once

#include "image/ByteStream.h"

namespace quiltara {

// A byte stream over a growable memory buffer. A buffer handed in by the
// caller is never freed here; once the stream has to grow, it works on a
// buffer of its own (the caller's stays untouched) and frees that one itself.
class MemoryStream final : public ByteStream {
public:
    explicit MemoryStream(std::uint8_t* buffer = nullptr, std::uint32_t size = 0);
    // Copies would free one buffer twice, so ownership only moves.
    MemoryStream(MemoryStream&& other) noexcept;
    MemoryStream& operator=(MemoryStream&& other) noexcept;
    ~MemoryStream() override;

    // Starts an empty stream of its own; false when a buffer is held already.
    bool OpenEmpty();
    bool Close() override;
    // The buffer; with detach the stream gives it up and the caller must free() it.
    std::uint8_t* BufferPointer(bool detach = false);
    // Makes room for n bytes, growing in steps of 64 KiB.
    bool EnsureCapacity(std::uint32_t n);

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

    std::uint32_t Capacity() const { return capacity_; }
    bool OwnsBuffer() const { return freeOnClose_; }

private:
    void Forget();

    std::uint8_t* buffer_ = nullptr;
    std::uint32_t size_ = 0;
    bool freeOnClose_ = true;
    std::int32_t position_ = 0;
    std::uint32_t capacity_ = 0;
};

} // namespace quiltara
