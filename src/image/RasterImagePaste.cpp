#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "image/RasterImage.h"

namespace quiltara {

namespace {

// The source columns (or rows) [first, last) that land inside the target.
struct Span {
    std::int32_t first = 0;
    std::int32_t last = 0;

    bool Empty() const { return first >= last; }
};

Span Clip(std::int64_t sourceSize, std::int64_t targetSize, std::int64_t offset) {
    const std::int64_t first = std::clamp<std::int64_t>(-offset, 0, sourceSize);
    const std::int64_t last = std::clamp<std::int64_t>(targetSize - offset, first, sourceSize);
    return Span{static_cast<std::int32_t>(first), static_cast<std::int32_t>(last)};
}

std::uint8_t IndexInRow(const std::uint8_t* row, std::int32_t x, std::uint16_t depth) {
    switch (depth) {
        case 8:
            return row[x];
        case 4:
            return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
        default:
            return (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
}

} // namespace

void RasterImage::PasteOver(const RasterImage& source, std::int32_t xOffset, std::int32_t yOffset) {
    if (block_ == nullptr || source.block_ == nullptr) {
        return;
    }
    if (&source == this || header_.bitCount != 24) {
        // Pasting an image into itself reads pixels it has already written, and
        // a palette target maps every pixel through NearestIndex: both keep the
        // pixel-by-pixel walk.
        PastePixels(source, xOffset, yOffset);
        return;
    }
    PasteRows(source, xOffset, yOffset);
}

// Pixel by pixel, columns outer and rows inner. Only pixels that land inside
// this image are visited: the others would be dropped by PutPixelColor, and
// reading the source has no side effects.
void RasterImage::PastePixels(const RasterImage& source, std::int32_t xOffset,
                              std::int32_t yOffset) {
    const Span cols = Clip(source.Width(), Width(), xOffset);
    const Span rows = Clip(source.Height(), Height(), yOffset);
    const bool checkTransparency = source.HasTransparentColor();
    for (std::int32_t x = cols.first; x < cols.last; ++x) {
        for (std::int32_t y = rows.first; y < rows.last; ++y) {
            if (checkTransparency && source.IsTransparentAt(x, y)) {
                continue;
            }
            PutPixelColor(xOffset + x, yOffset + y, source.PixelColorUnchecked(x, y, true), false);
        }
    }
}

// A 24-bit target from a different image: every target pixel is written at
// most once, so the walk can go row by row and copy whole runs. The pixels
// are the same as those of the pixel-by-pixel walk: a skipped pixel is one
// IsTransparentAt() reports, every other one gets the source's blue, green
// and red, and alpha is never carried over.
void RasterImage::PasteRows(const RasterImage& source, std::int32_t xOffset, std::int32_t yOffset) {
    const Span cols = Clip(source.Width(), Width(), xOffset);
    const Span rows = Clip(source.Height(), Height(), yOffset);
    if (cols.Empty() || rows.Empty()) {
        return;
    }
    const std::size_t run = static_cast<std::size_t>(cols.last - cols.first);
    const bool transparency = source.HasTransparentColor();
    const std::int32_t transparentIndex = source.settings_.transparentIndex;
    const RgbQuad key = source.settings_.transparentColor;
    const std::uint8_t* sourceAlpha = transparency ? source.alpha_ : nullptr;
    const std::size_t sourceWidth = static_cast<std::size_t>(source.Width());

    const bool palette = source.ColorCount() != 0;
    if (!palette && !transparency) {
        // The common case of an opaque true-colour tile: one copy per row.
        const std::uint8_t* from = source.RowPointer(static_cast<std::uint32_t>(rows.first)) +
                                   static_cast<std::size_t>(cols.first) * 3;
        std::uint8_t* to = RowPointer(static_cast<std::uint32_t>(yOffset + rows.first)) +
                           static_cast<std::size_t>(xOffset + cols.first) * 3;
        for (std::int32_t y = rows.first; y < rows.last; ++y) {
            std::memcpy(to, from, run * 3);
            from += source.RowBytes();
            to += RowBytes();
        }
        return;
    }
    std::array<RgbQuad, 256> lut{};
    if (palette) {
        for (std::uint32_t i = 0; i < 256; ++i) {
            lut[i] = source.PaletteEntry(static_cast<std::uint8_t>(i));
        }
    }

    for (std::int32_t y = rows.first; y < rows.last; ++y) {
        const std::uint8_t* in = source.RowPointer(static_cast<std::uint32_t>(y));
        std::uint8_t* out = RowPointer(static_cast<std::uint32_t>(yOffset + y)) +
                            static_cast<std::size_t>(xOffset + cols.first) * 3;
        const std::uint8_t* alphaRow = sourceAlpha != nullptr
                                           ? sourceAlpha + static_cast<std::size_t>(y) * sourceWidth
                                           : nullptr;
        if (!palette) {
            const std::uint8_t* from = in + static_cast<std::size_t>(cols.first) * 3;
            for (std::int32_t x = cols.first; x < cols.last; ++x, from += 3, out += 3) {
                const bool keyed =
                    from[0] == key.blue && from[1] == key.green && from[2] == key.red;
                if (keyed || (alphaRow != nullptr && alphaRow[x] == 0)) {
                    continue;
                }
                out[0] = from[0];
                out[1] = from[1];
                out[2] = from[2];
            }
            continue;
        }
        const std::uint16_t depth = source.BitsPerPixel();
        for (std::int32_t x = cols.first; x < cols.last; ++x, out += 3) {
            const std::uint8_t index = IndexInRow(in, x, depth);
            if (transparency &&
                (index == transparentIndex || (alphaRow != nullptr && alphaRow[x] == 0))) {
                continue;
            }
            const RgbQuad c = lut[index];
            out[0] = c.blue;
            out[1] = c.green;
            out[2] = c.red;
        }
    }
}

} // namespace quiltara

namespace quiltara {

namespace {

// (value + 127) / 255 without the division: exact for every product of two bytes.
inline std::uint32_t DivideBy255(std::uint32_t value) {
    value += 128;
    return (value + (value >> 8)) >> 8;
}

// Colour c of opacity a over an opaque colour d.
inline std::uint8_t Mix(std::uint32_t c, std::uint32_t d, std::uint32_t a) {
    return static_cast<std::uint8_t>(DivideBy255(c * a + d * (255 - a)));
}

} // namespace

void RasterImage::OpacityRow(std::int32_t y, std::int32_t first, std::int32_t last,
                             const std::array<RgbQuad, 256>& lut, RgbQuad* out) const {
    const std::uint8_t* in = RowPointer(static_cast<std::uint32_t>(y));
    const std::uint8_t* alphaRow =
        alpha_ != nullptr ? alpha_ + static_cast<std::size_t>(y) * static_cast<std::size_t>(Width())
                          : nullptr;
    const bool keyed = HasTransparentColor();
    const RgbQuad key = settings_.transparentColor;
    const bool palette = ColorCount() != 0;
    const std::uint16_t depth = BitsPerPixel();
    for (std::int32_t x = first; x < last; ++x, ++out) {
        RgbQuad c;
        bool transparent = false;
        if (palette) {
            const std::uint8_t index = IndexInRow(in, x, depth);
            c = lut[index];
            transparent = keyed && index == settings_.transparentIndex;
        } else {
            const std::uint8_t* p = in + static_cast<std::size_t>(x) * 3;
            c = RgbQuad{p[0], p[1], p[2], 255};
            transparent = keyed && p[0] == key.blue && p[1] == key.green && p[2] == key.red;
        }
        if (alphaRow != nullptr) {
            c.reserved =
                static_cast<std::uint8_t>(DivideBy255(std::uint32_t{c.reserved} * alphaRow[x]));
        }
        if (transparent) {
            c.reserved = 0;
        }
        *out = c;
    }
}

void RasterImage::BlendOver(const RasterImage& source, std::int32_t xOffset, std::int32_t yOffset) {
    if (block_ == nullptr || source.block_ == nullptr) {
        return;
    }
    const bool paletteAlpha = source.ColorCount() != 0 && source.PaletteHasAlpha();
    const bool opaque = !source.HasAlpha() && !source.HasTransparentColor() && !paletteAlpha;
    if (header_.bitCount != 24 || &source == this || (opaque && alpha_ == nullptr)) {
        PasteOver(source, xOffset, yOffset);
        return;
    }
    const Span cols = Clip(source.Width(), Width(), xOffset);
    const Span rows = Clip(source.Height(), Height(), yOffset);
    if (cols.Empty() || rows.Empty()) {
        return;
    }
    std::array<RgbQuad, 256> lut{};
    if (source.ColorCount() != 0) {
        for (std::uint32_t i = 0; i < 256; ++i) {
            lut[i] = source.PaletteEntry(static_cast<std::uint8_t>(i));
            if (!paletteAlpha) {
                lut[i].reserved = 255;
            }
        }
    }
    const std::size_t width = static_cast<std::size_t>(Width());
    std::vector<RgbQuad> row(static_cast<std::size_t>(cols.last - cols.first));
    for (std::int32_t y = rows.first; y < rows.last; ++y) {
        source.OpacityRow(y, cols.first, cols.last, lut, row.data());
        const auto targetRow = static_cast<std::uint32_t>(yOffset + y);
        std::uint8_t* out =
            RowPointer(targetRow) + static_cast<std::size_t>(xOffset + cols.first) * 3;
        std::uint8_t* outAlpha =
            alpha_ != nullptr
                ? alpha_ + targetRow * width + static_cast<std::size_t>(xOffset + cols.first)
                : nullptr;
        for (std::size_t i = 0; i < row.size(); ++i, out += 3) {
            const RgbQuad c = row[i];
            const std::uint32_t a = c.reserved;
            if (a == 0) {
                continue;
            }
            if (outAlpha == nullptr) {
                out[0] = Mix(c.blue, out[0], a);
                out[1] = Mix(c.green, out[1], a);
                out[2] = Mix(c.red, out[2], a);
                continue;
            }
            // Porter and Duff's "over" with colours that are not premultiplied:
            // weights in 255ths of 255ths.
            const std::uint32_t below = outAlpha[i];
            const std::uint32_t top = a * 255;
            const std::uint32_t under = below * (255 - a);
            const std::uint32_t total = top + under;
            auto over = [&](std::uint32_t s, std::uint32_t d) {
                return static_cast<std::uint8_t>((s * top + d * under + total / 2) / total);
            };
            out[0] = over(c.blue, out[0]);
            out[1] = over(c.green, out[1]);
            out[2] = over(c.red, out[2]);
            outAlpha[i] = static_cast<std::uint8_t>((total + 127) / 255);
        }
    }
}

} // namespace quiltara
