#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace quiltara {

// Whether a long read should stop (a run cancelled, the program closing).
using StopRequested = std::function<bool()>;

// A small picture of an image file, and the file's own size in pixels.
struct ImagePreview {
    std::uint32_t width = 0; // the image as the file holds it
    std::uint32_t height = 0;
    std::uint32_t previewWidth = 0;
    std::uint32_t previewHeight = 0;
    // previewWidth x previewHeight pixels, red, green, blue, alpha (not
    // premultiplied), rows from the top of the picture down.
    std::vector<std::uint8_t> rgba;
};

// The size of the preview of a width x height image: scaled to fit a square
// of maxSide, keeping the proportions, never enlarged, at least one pixel.
void PreviewSize(std::uint32_t width, std::uint32_t height, std::uint32_t maxSide,
                 std::uint32_t& previewWidth, std::uint32_t& previewHeight);

// Averages the rows of an image, as they come from the top down, into a
// preview: each preview pixel the mean of the source pixels that fall into
// it, weighted by their opacity so transparent pixels lend it no colour.
// Holds the preview's sums only, never the image.
class PreviewAccumulator {
public:
    // source: the size of the pixels fed in (a reduced level of the image,
    // or all of it); preview: the size wanted, at most source's.
    PreviewAccumulator(std::uint32_t sourceWidth, std::uint32_t sourceHeight,
                       std::uint32_t previewWidth, std::uint32_t previewHeight);

    // Source row y (rows counted from the top), sourceWidth pixels of red,
    // green, blue, alpha; premultiplied: the colours are already multiplied
    // by their alpha (as libtiff delivers them).
    void AddRow(std::uint32_t y, const std::uint8_t* rgba, bool premultiplied);

    // The preview of an image of the given size.
    ImagePreview Finish(std::uint32_t imageWidth, std::uint32_t imageHeight) const;

private:
    std::uint32_t sourceWidth_;
    std::uint32_t sourceHeight_;
    std::uint32_t previewWidth_;
    std::uint32_t previewHeight_;
    // Per preview pixel: colour times alpha for each colour, then alpha.
    std::vector<std::uint64_t> sums_;
    std::vector<std::uint64_t> counts_;
};

} // namespace quiltara
