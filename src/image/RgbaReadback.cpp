#include "image/RgbaReadback.h"

namespace quiltara {

std::vector<std::uint8_t> RgbaReadback(const RasterImage& image) {
    std::vector<std::uint8_t> rgba;
    if (!image.HasPixels()) {
        return rgba;
    }
    const std::int32_t width = image.Width();
    const std::int32_t height = image.Height();
    const bool palette = image.ColorCount() > 0;
    rgba.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    for (std::int32_t y = height - 1; y >= 0; --y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const RgbQuad colour = image.PixelColorUnchecked(x, y, false);
            std::uint8_t alpha = 255;
            if (image.HasAlpha()) {
                alpha = image.AlphaAt(x, y);
            } else if (palette && image.PaletteHasAlpha()) {
                alpha = colour.reserved;
            } else if (image.IsTransparentAt(x, y)) {
                alpha = 0;
            }
            rgba.push_back(colour.red);
            rgba.push_back(colour.green);
            rgba.push_back(colour.blue);
            rgba.push_back(alpha);
        }
    }
    return rgba;
}

} // namespace quiltara
