// libFuzzer target: arbitrary bytes through Decode from a memory stream, with
// content sniffing (id 0) and as PNG (id 4), the way tiles arrive from the
// network, and once more under the tile check's read limits (whole data, at
// most 4096 pixels a side). A decoded image is also read back and written as
// PNG, so odd images a reader can produce reach the writer too.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/MemoryStream.h"
#include "image/RasterImage.h"
#include "image/RgbaReadback.h"

namespace {

// Inputs may claim any size; the fuzzer's memory limit is not what is under
// test here (refusal of oversized blocks has its own unit tests).
constexpr std::uint64_t kPixelBlockLimit = 64ull * 1024 * 1024;
// Reading back and writing a picture costs time in proportion to its pixels,
// which a few bytes of run-length data can make plentiful (a blank bitmap of
// 11 x 4194375 took 13 s here); beyond this many the harness only decodes.
// Writing large pictures has its own unit tests.
constexpr std::uint64_t kLargestRewrittenPicture = std::uint64_t{1} << 24;

void DecodeAs(std::vector<std::uint8_t>& data, std::uint32_t id,
              const quiltara::ReadLimits& limits = {}) {
    quiltara::MemoryStream stream(data.data(), static_cast<std::uint32_t>(data.size()));
    quiltara::RasterImage image;
    image.SetReadLimits(limits);
    if (!image.Decode(&stream, id) || !image.HasPixels()) {
        return;
    }
    if (limits.maxWidth != 0 && (static_cast<std::uint32_t>(image.Width()) > limits.maxWidth ||
                                 static_cast<std::uint32_t>(image.Height()) > limits.maxHeight)) {
        __builtin_trap(); // a picture beyond the caller's limits got through
    }
    if (std::uint64_t{static_cast<std::uint32_t>(image.Width())} *
            static_cast<std::uint32_t>(image.Height()) >
        kLargestRewrittenPicture) {
        return;
    }
    const std::vector<std::uint8_t> rgba = quiltara::RgbaReadback(image);
    if (rgba.size() != static_cast<std::size_t>(image.Width()) * image.Height() * 4) {
        __builtin_trap();
    }
    quiltara::MemoryStream out;
    out.OpenEmpty();
    if (!image.Encode(&out, quiltara::kFormatPng)) {
        __builtin_trap(); // every decoded image must be writable as PNG
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    quiltara::SetPixelBlockLimit(kPixelBlockLimit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 24)) {
        return 0;
    }
    std::vector<std::uint8_t> copy(data, data + size);
    DecodeAs(copy, quiltara::kFormatUnknown);
    DecodeAs(copy, quiltara::kFormatPng);
    DecodeAs(copy, quiltara::kFormatUnknown, quiltara::ReadLimits{4096, 4096, true});
    return 0;
}
