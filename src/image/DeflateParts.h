#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace quiltara {

// zlib's own default level, the one the PNG writer leaves in place.
inline constexpr int kDefaultDeflateLevel = -1;

// One part of a zlib stream that is compressed on its own and joined to its
// neighbours afterwards: raw deflate data ending on a byte boundary (a sync
// flush) or, for the stream's last part, with the final block. Parts made on
// different threads concatenate into one valid deflate stream; their Adler-32
// checksums and lengths are combined by ZlibStreamJoiner.
class DeflatePart {
public:
    // level: 0..9 or kDefaultDeflateLevel. filtered: data that went through
    // PNG row filters, which deflate compresses better with its filtered
    // strategy.
    DeflatePart(int level, bool filtered);
    DeflatePart(const DeflatePart&) = delete;
    DeflatePart& operator=(const DeflatePart&) = delete;
    ~DeflatePart();

    // The bytes that precede this part in the stream (up to the last 32 KB are
    // used), so matches can reach back across the join as in one stream.
    bool SetDictionary(std::span<const std::uint8_t> preceding);
    bool Add(std::span<const std::uint8_t> data);
    // Ends the part: the stream's last part gets the final block.
    bool End(bool lastOfStream);

    bool Failed() const { return failed_; }
    const std::vector<std::uint8_t>& Compressed() const { return out_; }
    std::uint32_t Adler() const { return adler_; }
    std::uint64_t Length() const { return length_; }

private:
    bool Run(int flush);

    struct Stream;
    std::unique_ptr<Stream> stream_;
    std::vector<std::uint8_t> out_;
    std::uint32_t adler_ = 1;
    std::uint64_t length_ = 0;
    bool failed_ = false;
};

// The zlib wrapper around parts joined in order: the two header bytes for the
// level, and the Adler-32 of all the data, combined from the parts'.
class ZlibStreamJoiner {
public:
    static std::vector<std::uint8_t> Header(int level);

    void AddPart(std::uint32_t adler, std::uint64_t length);
    std::vector<std::uint8_t> Trailer() const;
    std::uint32_t Adler() const { return adler_; }

private:
    std::uint32_t adler_ = 1;
};

} // namespace quiltara
