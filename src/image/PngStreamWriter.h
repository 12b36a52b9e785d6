#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "image/ByteStream.h"
#include "image/ImageMetadata.h"

namespace quiltara {

// Writes an 8-bit RGB PNG whose compressed image data arrives in pieces, so a
// picture far larger than memory can be written as it is made. The chunks
// around the data are those the PNG codec writes for a 24-bit image: the
// header, a white background and the physical size, then the data, then the
// end. The caller supplies the zlib stream (filtered rows, deflated); this
// class only frames it. Text chunks go before the data, where a reader that
// stops at the first data chunk still finds them.
class PngStreamWriter {
public:
    explicit PngStreamWriter(ByteStream& out) : out_(out) {}

    // alpha: the rows are red, green, blue and alpha (not premultiplied).
    bool WriteHeader(std::uint32_t width, std::uint32_t height, std::uint32_t pixelsPerMetre,
                     bool alpha = false, const std::vector<PngTextEntry>& text = {});
    // Part of the zlib stream; gathered into image data chunks.
    bool AddImageData(std::span<const std::uint8_t> data);
    // The last data chunk, the end chunk, and a flush of the stream.
    bool Finish();

    bool Failed() const { return failed_; }

private:
    bool WriteChunk(const char type[4], std::span<const std::uint8_t> data);
    bool FlushImageData();

    ByteStream& out_;
    std::vector<std::uint8_t> pending_;
    bool failed_ = false;
};

// PNG row filtering of 3-byte pixels (4 with alpha): the filter deflate does best with,
// chosen per row by the smallest sum of the filtered bytes taken as signed
// values. prior is the row above in the same byte order (zeros above the
// first row of the picture). out receives the filter type byte and the row.
void FilterRgbRow(const std::uint8_t* prior, const std::uint8_t* row, std::size_t length,
                  std::uint8_t* out, std::size_t pixelBytes = 3);

} // namespace quiltara
