#include "image/PreviewPixels.h"

#include <algorithm>

namespace quiltara {

void PreviewSize(std::uint32_t width, std::uint32_t height, std::uint32_t maxSide,
                 std::uint32_t& previewWidth, std::uint32_t& previewHeight) {
    maxSide = std::max<std::uint32_t>(maxSide, 1);
    const auto scaled = [](std::uint32_t side, std::uint32_t longSide, std::uint32_t target) {
        // side * target / longSide, rounded, and never below one pixel.
        const std::uint64_t value =
            (std::uint64_t{side} * target + longSide / 2) / std::max<std::uint32_t>(longSide, 1);
        return static_cast<std::uint32_t>(std::max<std::uint64_t>(value, 1));
    };
    if (width >= height) {
        previewWidth = std::max<std::uint32_t>(std::min(width, maxSide), 1);
        previewHeight = scaled(height, width, previewWidth);
    } else {
        previewHeight = std::max<std::uint32_t>(std::min(height, maxSide), 1);
        previewWidth = scaled(width, height, previewHeight);
    }
}

PreviewAccumulator::PreviewAccumulator(std::uint32_t sourceWidth, std::uint32_t sourceHeight,
                                       std::uint32_t previewWidth, std::uint32_t previewHeight)
    : sourceWidth_(std::max<std::uint32_t>(sourceWidth, 1)),
      sourceHeight_(std::max<std::uint32_t>(sourceHeight, 1)),
      previewWidth_(std::clamp<std::uint32_t>(previewWidth, 1, sourceWidth_)),
      previewHeight_(std::clamp<std::uint32_t>(previewHeight, 1, sourceHeight_)),
      sums_(std::size_t{previewWidth_} * previewHeight_ * 4, 0),
      counts_(std::size_t{previewWidth_} * previewHeight_, 0) {}

void PreviewAccumulator::AddRow(std::uint32_t y, const std::uint8_t* rgba, bool premultiplied) {
    if (y >= sourceHeight_) {
        return;
    }
    const auto previewRow =
        static_cast<std::size_t>(std::uint64_t{y} * previewHeight_ / sourceHeight_);
    std::uint64_t* sums = sums_.data() + previewRow * previewWidth_ * 4;
    std::uint64_t* counts = counts_.data() + previewRow * previewWidth_;
    // The preview column steps on where x * previewWidth reaches the next
    // multiple of sourceWidth: no division per pixel.
    std::size_t column = 0;
    std::uint64_t reached = 0;
    std::uint64_t nextEdge = sourceWidth_;
    for (std::uint32_t x = 0; x < sourceWidth_; ++x, reached += previewWidth_, rgba += 4) {
        if (reached >= nextEdge) {
            ++column;
            nextEdge += sourceWidth_;
        }
        const std::uint64_t alpha = rgba[3];
        // Colour times alpha on the 0..255 x 0..255 scale either way.
        const std::uint64_t weight = premultiplied ? 255 : alpha;
        std::uint64_t* sum = sums + column * 4;
        sum[0] += rgba[0] * weight;
        sum[1] += rgba[1] * weight;
        sum[2] += rgba[2] * weight;
        sum[3] += alpha;
        ++counts[column];
    }
}

ImagePreview PreviewAccumulator::Finish(std::uint32_t imageWidth, std::uint32_t imageHeight) const {
    ImagePreview preview;
    preview.width = imageWidth;
    preview.height = imageHeight;
    preview.previewWidth = previewWidth_;
    preview.previewHeight = previewHeight_;
    preview.rgba.resize(sums_.size());
    for (std::size_t i = 0; i < counts_.size(); ++i) {
        const std::uint64_t* sum = sums_.data() + i * 4;
        std::uint8_t* out = preview.rgba.data() + i * 4;
        const std::uint64_t alpha = sum[3];
        if (counts_[i] == 0 || alpha == 0) {
            std::fill(out, out + 4, std::uint8_t{0});
            continue;
        }
        for (int c = 0; c < 3; ++c) {
            out[c] = static_cast<std::uint8_t>(
                std::min<std::uint64_t>((sum[c] + alpha / 2) / alpha, 255));
        }
        out[3] = static_cast<std::uint8_t>((alpha + counts_[i] / 2) / counts_[i]);
    }
    return preview;
}

} // namespace quiltara
