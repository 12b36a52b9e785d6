#pragma once

#include <cstddef>
#include <cstdint>

#include "image/ByteStream.h"

namespace quiltara::test {

// A stream that takes so many bytes and then refuses every write, as a full
// disk does; with flushFails, every flush fails as well. Nothing is kept.
class FillingStream final : public ByteStream {
public:
    explicit FillingStream(std::size_t room, bool flushFails = false)
        : room_(room), flushFails_(flushFails) {}

    std::uint32_t Write(const void* /*buffer*/, std::size_t size, std::size_t count) override {
        if (size * count > room_) {
            room_ = 0;
            return 0;
        }
        room_ -= size * count;
        written_ += size * count;
        return static_cast<std::uint32_t>(count);
    }
    bool Flush() override { return !flushFails_; }
    bool Close() override { return true; }
    std::uint32_t Read(void*, std::size_t, std::size_t) override { return 0; }
    bool Seek(std::int32_t, int) override { return false; }
    std::int32_t Tell() override { return static_cast<std::int32_t>(written_); }
    std::int32_t Size() override { return static_cast<std::int32_t>(written_); }
    bool Eof() override { return true; }
    std::int32_t Error() override { return 0; }
    std::int32_t GetC() override { return -1; }
    char* GetS(char*, int) override { return nullptr; }
    std::int32_t Scanf(const char*, void*) override { return -1; }

private:
    std::size_t room_;
    std::size_t written_ = 0;
    bool flushFails_;
};

} // namespace quiltara::test
