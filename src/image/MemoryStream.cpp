#include "image/MemoryStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace quiltara {

namespace {

constexpr std::uint64_t kMaxLength = std::numeric_limits<std::uint32_t>::max();

} // namespace

MemoryStream::MemoryStream(std::uint8_t* buffer, std::uint32_t size)
    : buffer_(buffer), size_(size), freeOnClose_(buffer == nullptr), capacity_(size) {}

MemoryStream::MemoryStream(MemoryStream&& other) noexcept
    : buffer_(other.buffer_),
      size_(other.size_),
      freeOnClose_(other.freeOnClose_),
      position_(other.position_),
      capacity_(other.capacity_) {
    other.Forget();
}

MemoryStream& MemoryStream::operator=(MemoryStream&& other) noexcept {
    if (this != &other) {
        Close();
        buffer_ = other.buffer_;
        size_ = other.size_;
        freeOnClose_ = other.freeOnClose_;
        position_ = other.position_;
        capacity_ = other.capacity_;
        other.Forget();
    }
    return *this;
}

MemoryStream::~MemoryStream() {
    Close();
}

void MemoryStream::Forget() {
    buffer_ = nullptr;
    size_ = 0;
    freeOnClose_ = true;
    position_ = 0;
    capacity_ = 0;
}

bool MemoryStream::OpenEmpty() {
    if (buffer_ != nullptr) {
        return false;
    }
    position_ = 0;
    size_ = 0;
    capacity_ = 0;
    buffer_ = static_cast<std::uint8_t*>(std::calloc(1, 1));
    freeOnClose_ = true;
    return buffer_ != nullptr;
}

bool MemoryStream::Close() {
    if (buffer_ != nullptr && freeOnClose_) {
        std::free(buffer_);
        Forget();
    }
    return true;
}

std::uint8_t* MemoryStream::BufferPointer(bool detach) {
    if (detach) {
        freeOnClose_ = false;
    }
    return buffer_;
}

bool MemoryStream::EnsureCapacity(std::uint32_t n) {
    if (n <= capacity_) {
        return buffer_ != nullptr;
    }
    // The next multiple of 64 KiB strictly above n rounded down to one.
    const std::uint64_t grown = (std::uint64_t{n} & ~std::uint64_t{0xFFFF}) + 0x10000;
    if (grown > kMaxLength) {
        return false;
    }
    // A caller's buffer is never reallocated: it may not come from malloc, and
    // the caller still holds its address. The stream takes a copy instead.
    std::uint8_t* bigger = nullptr;
    if (freeOnClose_ || buffer_ == nullptr) {
        bigger = static_cast<std::uint8_t*>(std::realloc(buffer_, grown));
    } else {
        bigger = static_cast<std::uint8_t*>(std::malloc(grown));
        if (bigger != nullptr) {
            std::memcpy(bigger, buffer_, std::min<std::uint64_t>(size_, capacity_));
        }
    }
    if (bigger == nullptr) {
        return false;
    }
    // New room reads as zeros, so bytes skipped by a seek past the end never
    // expose stale memory.
    const std::uint64_t kept = buffer_ != nullptr ? capacity_ : 0;
    std::memset(bigger + kept, 0, grown - kept);
    buffer_ = bigger;
    freeOnClose_ = true;
    capacity_ = static_cast<std::uint32_t>(grown);
    return true;
}

std::uint32_t MemoryStream::Read(void* buffer, std::size_t size, std::size_t count) {
    if (buffer == nullptr || buffer_ == nullptr || position_ < 0 ||
        static_cast<std::uint32_t>(position_) >= size_ || size == 0 || count == 0) {
        return 0;
    }
    const std::size_t left = size_ - static_cast<std::uint32_t>(position_);
    const std::size_t wanted = count > left / size ? left : size * count;
    const std::size_t n = std::min(wanted, left);
    std::memcpy(buffer, buffer_ + position_, n);
    position_ += static_cast<std::int32_t>(n);
    return static_cast<std::uint32_t>(n / size);
}

std::uint32_t MemoryStream::Write(const void* buffer, std::size_t size, std::size_t count) {
    if (buffer_ == nullptr || buffer == nullptr || size == 0 || count == 0 ||
        count > kMaxLength / size) {
        return 0;
    }
    const std::uint64_t bytes = std::uint64_t{size} * count;
    const std::uint64_t end = static_cast<std::uint64_t>(position_) + bytes;
    if (end > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        return 0;
    }
    if (end > capacity_ && !EnsureCapacity(static_cast<std::uint32_t>(end))) {
        return 0;
    }
    std::memcpy(buffer_ + position_, buffer, bytes);
    position_ = static_cast<std::int32_t>(end);
    size_ = std::max(size_, static_cast<std::uint32_t>(end));
    return static_cast<std::uint32_t>(count);
}

bool MemoryStream::Seek(std::int32_t offset, int origin) {
    if (buffer_ == nullptr) {
        return false;
    }
    std::int64_t target = 0;
    switch (origin) {
        case 0:
            target = offset;
            break;
        case 1:
            target = std::int64_t{position_} + offset;
            break;
        case 2:
            target = std::int64_t{size_} + offset;
            break;
        default:
            return false;
    }
    position_ = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(target, 0, std::numeric_limits<std::int32_t>::max()));
    return true;
}

std::int32_t MemoryStream::Tell() {
    return buffer_ == nullptr ? -1 : position_;
}

std::int32_t MemoryStream::Size() {
    return buffer_ == nullptr ? -1 : static_cast<std::int32_t>(size_);
}

bool MemoryStream::Flush() {
    return buffer_ != nullptr;
}

bool MemoryStream::Eof() {
    return buffer_ == nullptr || static_cast<std::uint32_t>(position_) >= size_;
}

std::int32_t MemoryStream::Error() {
    if (buffer_ == nullptr) {
        return -1;
    }
    return static_cast<std::uint32_t>(position_) > size_ ? 1 : 0;
}

bool MemoryStream::PutC(std::uint8_t byte) {
    if (buffer_ == nullptr || position_ == std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    const auto position = static_cast<std::uint32_t>(position_);
    if (position >= capacity_ && !EnsureCapacity(position + 1)) {
        return false;
    }
    buffer_[position] = byte;
    ++position_;
    size_ = std::max(size_, position + 1);
    return true;
}

std::int32_t MemoryStream::GetC() {
    if (Eof()) {
        return -1;
    }
    return buffer_[position_++];
}

char* MemoryStream::GetS(char* buffer, int n) {
    if (buffer == nullptr || n < 1) {
        return nullptr;
    }
    int stored = 0;
    while (stored < n - 1) {
        const std::int32_t c = GetC();
        if (c < 0) {
            return nullptr;
        }
        buffer[stored++] = static_cast<char>(c);
        if (c == '\n') {
            break;
        }
    }
    buffer[stored] = '\0';
    return buffer;
}

std::int32_t MemoryStream::Scanf(const char* /*format*/, void* /*output*/) {
    return 0;
}

} // namespace quiltara
