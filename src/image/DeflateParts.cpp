#include "image/DeflateParts.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

namespace quiltara {
namespace {

constexpr std::size_t kWindowBytes = 32768;
// Raw deflate (no zlib wrapper of its own), the full 32 KB window.
constexpr int kRawWindowBits = -15;
constexpr int kMemoryLevel = 8;

int CompressionLevelCode(int level) {
    // FLEVEL of the zlib header: 0 fastest, 1 fast, 2 default, 3 best.
    if (level < 0 || level == 6) {
        return 2;
    }
    if (level <= 1) {
        return 0;
    }
    return level <= 5 ? 1 : 3;
}

} // namespace

// Owns zlib's compressor state.
struct DeflatePart::Stream {
    Stream(int level, int strategy) {
        ready = deflateInit2(&z, level, Z_DEFLATED, kRawWindowBits, kMemoryLevel, strategy) == Z_OK;
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream() {
        if (ready) {
            deflateEnd(&z);
        }
    }

    z_stream z{};
    bool ready = false;
};

DeflatePart::DeflatePart(int level, bool filtered)
    : stream_(std::make_unique<Stream>(std::clamp(level, -1, 9),
                                       filtered ? Z_FILTERED : Z_DEFAULT_STRATEGY)) {
    failed_ = !stream_->ready;
}

DeflatePart::~DeflatePart() = default;

bool DeflatePart::SetDictionary(std::span<const std::uint8_t> preceding) {
    if (failed_) {
        return false;
    }
    const std::size_t used = std::min(preceding.size(), kWindowBytes);
    const std::uint8_t* start = preceding.data() + (preceding.size() - used);
    if (used != 0 && deflateSetDictionary(&stream_->z, start, static_cast<uInt>(used)) != Z_OK) {
        failed_ = true;
    }
    return !failed_;
}

bool DeflatePart::Add(std::span<const std::uint8_t> data) {
    // zlib counts in 32-bit units: a larger block goes in pieces.
    constexpr std::size_t kMaxPiece = std::numeric_limits<uInt>::max() / 2;
    while (!failed_ && !data.empty()) {
        const std::size_t piece = std::min(data.size(), kMaxPiece);
        adler_ = static_cast<std::uint32_t>(adler32(adler_, data.data(), static_cast<uInt>(piece)));
        length_ += piece;
        stream_->z.next_in = const_cast<Bytef*>(data.data());
        stream_->z.avail_in = static_cast<uInt>(piece);
        Run(Z_NO_FLUSH);
        data = data.subspan(piece);
    }
    return !failed_;
}

bool DeflatePart::End(bool lastOfStream) {
    if (!failed_) {
        stream_->z.next_in = nullptr;
        stream_->z.avail_in = 0;
        Run(lastOfStream ? Z_FINISH : Z_SYNC_FLUSH);
    }
    return !failed_;
}

bool DeflatePart::Run(int flush) {
    z_stream& z = stream_->z;
    try {
        for (;;) {
            const std::size_t used = out_.size();
            const std::size_t room = std::max<std::size_t>(
                deflateBound(&z, static_cast<uLong>(z.avail_in)) / 2 + 64, 16384);
            out_.resize(used + room);
            z.next_out = out_.data() + used;
            z.avail_out = static_cast<uInt>(room);
            const int status = deflate(&z, flush);
            out_.resize(used + (room - z.avail_out));
            if (status == Z_STREAM_END) {
                return true;
            }
            if (status != Z_OK && status != Z_BUF_ERROR) {
                failed_ = true;
                return false;
            }
            // Done when all input is taken and zlib had room to spare: with
            // a full output buffer it may still hold flushed bytes back.
            if (z.avail_in == 0 && z.avail_out != 0 && flush != Z_FINISH) {
                return true;
            }
        }
    } catch (const std::bad_alloc&) {
        failed_ = true;
        return false;
    }
}

std::vector<std::uint8_t> ZlibStreamJoiner::Header(int level) {
    const unsigned cmf = 0x78; // deflate with a 32 KB window
    unsigned flg = static_cast<unsigned>(CompressionLevelCode(level)) << 6;
    flg += 31 - (cmf * 256 + flg) % 31;
    return {static_cast<std::uint8_t>(cmf), static_cast<std::uint8_t>(flg)};
}

void ZlibStreamJoiner::AddPart(std::uint32_t adler, std::uint64_t length) {
    adler_ =
        static_cast<std::uint32_t>(adler32_combine(adler_, adler, static_cast<z_off_t>(length)));
}

std::vector<std::uint8_t> ZlibStreamJoiner::Trailer() const {
    return {static_cast<std::uint8_t>(adler_ >> 24), static_cast<std::uint8_t>(adler_ >> 16),
            static_cast<std::uint8_t>(adler_ >> 8), static_cast<std::uint8_t>(adler_)};
}

} // namespace quiltara
