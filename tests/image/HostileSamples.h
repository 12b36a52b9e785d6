#pragma once

#include <string>
#include <vector>

#include "CodecSamples.h"

// Small files that claim huge pictures, one or more of every format the
// readers take: what a hostile server could send as a tile. Each is well
// under 100 KB.
namespace quiltara::test {

struct HostileSample {
    std::string name; // a file name with the format's extension
    Bytes bytes;
};

std::vector<HostileSample> HostileSamples();

// A JPEG whose frame header claims width x height, cut `keep` bytes after the
// start of its first scan (0: whole, its data then ends with an honest
// end-of-image marker long before the claimed last row).
Bytes JpegClaiming(std::uint32_t width, std::uint32_t height, bool progressive, std::size_t keep);

// A JPEG's frame header rewritten to claim width x height (up to 65535 each).
Bytes JpegWithClaimedSize(Bytes jpeg, std::uint32_t width, std::uint32_t height);

// A PNG's header rewritten to claim width x height (the checksum follows).
Bytes PngClaiming(Bytes png, std::uint32_t width, std::uint32_t height);

} // namespace quiltara::test
