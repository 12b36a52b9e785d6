#include "image/PngStreamWriter.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace quiltara {
namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Image data chunks of this size keep the file's framing small while the
// buffer stays a fraction of the data in flight.
constexpr std::size_t kDataChunkBytes = 1 << 20;

void PutBigEndian(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

// A filtered byte's distance from zero, the byte taken as signed.
inline std::uint32_t Magnitude(std::uint8_t filtered) {
    return filtered < 128 ? filtered : 256u - filtered;
}

// The Paeth predictor in the form with no early exits: pa, pb and pc are
// |p - a|, |p - b| and |p - c| for p = a + b - c.
inline std::uint8_t Paeth(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    const std::int16_t pa = static_cast<std::int16_t>(std::abs(int{b} - int{c}));
    const std::int16_t pb = static_cast<std::int16_t>(std::abs(int{a} - int{c}));
    const std::int16_t pc = static_cast<std::int16_t>(std::abs(int{a} + int{b} - 2 * int{c}));
    const std::uint8_t bOrC = pb <= pc ? b : c;
    return pa <= pb && pa <= pc ? a : bOrC;
}

enum Filter : std::uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

// The byte of filter `type` at position i; left, up and upLeft are the
// neighbours the PNG filters predict from (0 outside the picture).
inline std::uint8_t Filtered(Filter type, std::uint8_t value, std::uint8_t left, std::uint8_t up,
                             std::uint8_t upLeft) {
    switch (type) {
        case kSub:
            return static_cast<std::uint8_t>(value - left);
        case kUp:
            return static_cast<std::uint8_t>(value - up);
        case kAverage:
            return static_cast<std::uint8_t>(value - ((int{left} + int{up}) >> 1));
        case kPaeth:
            return static_cast<std::uint8_t>(value - Paeth(left, up, upLeft));
        case kNone:
            break;
    }
    return value;
}

} // namespace

bool PngStreamWriter::WriteChunk(const char type[4], std::span<const std::uint8_t> data) {
    if (failed_) {
        return false;
    }
    std::uint8_t head[8];
    PutBigEndian(head, static_cast<std::uint32_t>(data.size()));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0, head + 4, 4);
    if (!data.empty()) {
        // zlib answers a null buffer with the initial value, not the sum.
        crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    }
    std::uint8_t tail[4];
    PutBigEndian(tail, static_cast<std::uint32_t>(crc));
    failed_ = out_.Write(head, 1, sizeof head) != sizeof head ||
              (!data.empty() && out_.Write(data.data(), 1, data.size()) != data.size()) ||
              out_.Write(tail, 1, sizeof tail) != sizeof tail;
    return !failed_;
}

bool PngStreamWriter::WriteHeader(std::uint32_t width, std::uint32_t height,
                                  std::uint32_t pixelsPerMetre, bool alpha,
                                  const std::vector<PngTextEntry>& text) {
    if (out_.Write(kSignature.data(), 1, kSignature.size()) != kSignature.size()) {
        failed_ = true;
        return false;
    }
    std::array<std::uint8_t, 13> header{};
    PutBigEndian(header.data(), width);
    PutBigEndian(header.data() + 4, height);
    header[8] = 8;             // bits per sample
    header[9] = alpha ? 6 : 2; // RGB(A); compression, filter and interlace methods stay 0
    // White, as the codec writes for an image without a transparent colour.
    const std::array<std::uint8_t, 6> background = {0, 255, 0, 255, 0, 255};
    std::array<std::uint8_t, 9> physical{};
    PutBigEndian(physical.data(), pixelsPerMetre);
    PutBigEndian(physical.data() + 4, pixelsPerMetre);
    physical[8] = 1; // the metre
    if (!(WriteChunk("IHDR", header) && WriteChunk("bKGD", background) &&
          WriteChunk("pHYs", physical))) {
        return false;
    }
    for (const PngTextEntry& entry : text) {
        // keyword, NUL, then for iTXt: not compressed, no language, no
        // translated keyword; then the text itself.
        std::vector<std::uint8_t> data(entry.keyword.begin(), entry.keyword.end());
        data.push_back(0);
        if (entry.international) {
            data.insert(data.end(), {0, 0, 0, 0});
        }
        data.insert(data.end(), entry.text.begin(), entry.text.end());
        if (!WriteChunk(entry.international ? "iTXt" : "tEXt", data)) {
            return false;
        }
    }
    return true;
}

bool PngStreamWriter::AddImageData(std::span<const std::uint8_t> data) {
    while (!failed_ && !data.empty()) {
        const std::size_t take = std::min(data.size(), kDataChunkBytes - pending_.size());
        pending_.insert(pending_.end(), data.begin(), data.begin() + static_cast<long>(take));
        data = data.subspan(take);
        if (pending_.size() == kDataChunkBytes) {
            FlushImageData();
        }
    }
    return !failed_;
}

bool PngStreamWriter::FlushImageData() {
    if (!pending_.empty()) {
        WriteChunk("IDAT", pending_);
        pending_.clear();
    }
    return !failed_;
}

bool PngStreamWriter::Finish() {
    if (FlushImageData() && WriteChunk("IEND", {})) {
        failed_ = !out_.Flush();
    }
    return !failed_;
}

void FilterRgbRow(const std::uint8_t* prior, const std::uint8_t* row, std::size_t length,
                  std::uint8_t* out, std::size_t pixelBytes) {
    // One plain loop per candidate, free of branches and of dependencies
    // between bytes, so the compiler turns each into vector code: filtering
    // would otherwise cost as much as deflate itself.
    const std::size_t n = length;
    const std::size_t bpp = std::min<std::size_t>(pixelBytes, n);
    std::array<std::uint64_t, 5> sums{};
    for (std::size_t i = 0; i < bpp; ++i) {
        sums[kNone] += Magnitude(row[i]);
        sums[kSub] += Magnitude(row[i]);
        sums[kUp] += Magnitude(static_cast<std::uint8_t>(row[i] - prior[i]));
        sums[kAverage] += Magnitude(static_cast<std::uint8_t>(row[i] - (prior[i] >> 1)));
        sums[kPaeth] += Magnitude(static_cast<std::uint8_t>(row[i] - prior[i]));
    }
    const std::uint8_t* const left = row;
    const std::uint8_t* const upLeft = prior;
    // The sums of a row past 2^32 / 128 bytes (a map some 44,000 tiles wide)
    // do not fit in 32 bits, and a wrapped sum would pick a worse filter. The
    // loops still add 32-bit sums, which keeps them vector code, over blocks
    // short enough never to wrap, and each block's sums go into 64 bits.
    constexpr std::size_t kBlock = std::size_t{1} << 22; // 2^22 x 128 < 2^32
    std::array<std::uint64_t, 5> wide{};
    for (std::size_t start = bpp; start < n; start += kBlock) {
        const std::size_t end = std::min(n, start + kBlock);
        std::uint32_t none = 0;
        std::uint32_t sub = 0;
        std::uint32_t up = 0;
        std::uint32_t average = 0;
        std::uint32_t paeth = 0;
        for (std::size_t i = start; i < end; ++i) {
            none += Magnitude(row[i]);
        }
        for (std::size_t i = start; i < end; ++i) {
            sub += Magnitude(static_cast<std::uint8_t>(row[i] - left[i - bpp]));
        }
        for (std::size_t i = start; i < end; ++i) {
            up += Magnitude(static_cast<std::uint8_t>(row[i] - prior[i]));
        }
        for (std::size_t i = start; i < end; ++i) {
            average +=
                Magnitude(static_cast<std::uint8_t>(row[i] - ((left[i - bpp] + prior[i]) >> 1)));
        }
        for (std::size_t i = start; i < end; ++i) {
            paeth += Magnitude(static_cast<std::uint8_t>(
                row[i] - Paeth(left[i - bpp], prior[i], upLeft[i - bpp])));
        }
        wide[kNone] += none;
        wide[kSub] += sub;
        wide[kUp] += up;
        wide[kAverage] += average;
        wide[kPaeth] += paeth;
    }
    for (std::size_t f = 0; f < sums.size(); ++f) {
        sums[f] += wide[f];
    }

    const auto best =
        static_cast<Filter>(std::min_element(sums.begin(), sums.end()) - sums.begin());
    out[0] = best;
    std::uint8_t* const to = out + 1;
    for (std::size_t i = 0; i < bpp; ++i) {
        to[i] = Filtered(best, row[i], 0, prior[i], 0);
    }
    switch (best) {
        case kNone:
            std::memcpy(to + bpp, row + bpp, n - bpp);
            break;
        case kSub:
            for (std::size_t i = bpp; i < n; ++i) {
                to[i] = static_cast<std::uint8_t>(row[i] - left[i - bpp]);
            }
            break;
        case kUp:
            for (std::size_t i = bpp; i < n; ++i) {
                to[i] = static_cast<std::uint8_t>(row[i] - prior[i]);
            }
            break;
        case kAverage:
            for (std::size_t i = bpp; i < n; ++i) {
                to[i] = static_cast<std::uint8_t>(row[i] - ((left[i - bpp] + prior[i]) >> 1));
            }
            break;
        case kPaeth:
            for (std::size_t i = bpp; i < n; ++i) {
                to[i] = static_cast<std::uint8_t>(row[i] -
                                                  Paeth(left[i - bpp], prior[i], upLeft[i - bpp]));
            }
            break;
    }
}

} // namespace quiltara
