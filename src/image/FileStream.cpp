#include "image/FileStream.h"

#include <utility>

namespace quiltara {

FileStream::FileStream(std::FILE* stream) : stream_(stream), closeOnRelease_(stream == nullptr) {}

FileStream::FileStream(FileStream&& other) noexcept
    : stream_(std::exchange(other.stream_, nullptr)),
      closeOnRelease_(std::exchange(other.closeOnRelease_, true)) {}

FileStream& FileStream::operator=(FileStream&& other) noexcept {
    if (this != &other) {
        Close();
        stream_ = std::exchange(other.stream_, nullptr);
        closeOnRelease_ = std::exchange(other.closeOnRelease_, true);
    }
    return *this;
}

FileStream::~FileStream() {
    Close();
}

bool FileStream::Open(const char* path, const char* mode) {
    if (stream_ != nullptr) {
        return false;
    }
    stream_ = std::fopen(path, mode);
    if (stream_ == nullptr) {
        return false;
    }
    closeOnRelease_ = true;
    return true;
}

bool FileStream::Close() {
    if (stream_ == nullptr || !closeOnRelease_) {
        return true;
    }
    const int result = std::fclose(stream_);
    stream_ = nullptr;
    return result == 0;
}

std::uint32_t FileStream::Read(void* buffer, std::size_t size, std::size_t count) {
    if (stream_ == nullptr) {
        return 0;
    }
    return static_cast<std::uint32_t>(std::fread(buffer, size, count, stream_));
}

std::uint32_t FileStream::Write(const void* buffer, std::size_t size, std::size_t count) {
    if (stream_ == nullptr) {
        return 0;
    }
    return static_cast<std::uint32_t>(std::fwrite(buffer, size, count, stream_));
}

bool FileStream::Seek(std::int32_t offset, int origin) {
    return stream_ != nullptr && std::fseek(stream_, offset, origin) == 0;
}

std::int32_t FileStream::Tell() {
    if (stream_ == nullptr) {
        return 0;
    }
    return static_cast<std::int32_t>(std::ftell(stream_));
}

std::int32_t FileStream::Size() {
    if (stream_ == nullptr) {
        return -1;
    }
    const long here = std::ftell(stream_);
    std::fseek(stream_, 0, SEEK_END);
    const long end = std::ftell(stream_);
    std::fseek(stream_, here, SEEK_SET);
    return static_cast<std::int32_t>(end);
}

bool FileStream::Flush() {
    return stream_ != nullptr && std::fflush(stream_) == 0;
}

bool FileStream::Eof() {
    return stream_ == nullptr || std::feof(stream_) != 0;
}

std::int32_t FileStream::Error() {
    if (stream_ == nullptr) {
        return -1;
    }
    return std::ferror(stream_);
}

bool FileStream::PutC(std::uint8_t byte) {
    return stream_ != nullptr && std::fputc(byte, stream_) == byte;
}

std::int32_t FileStream::GetC() {
    if (stream_ == nullptr) {
        return -1;
    }
    return std::getc(stream_);
}

char* FileStream::GetS(char* buffer, int n) {
    if (stream_ == nullptr) {
        return nullptr;
    }
    return std::fgets(buffer, n, stream_);
}

std::int32_t FileStream::Scanf(const char* format, void* output) {
    if (stream_ == nullptr) {
        return -1;
    }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    return std::fscanf(stream_, format, output);
#pragma GCC diagnostic pop
}

} // namespace quiltara
