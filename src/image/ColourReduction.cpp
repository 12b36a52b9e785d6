#include "image/ColourReduction.h"

#include <utility>

namespace quiltara {

namespace {

bool SameRgb(RgbQuad a, RgbQuad b) {
    return a.blue == b.blue && a.green == b.green && a.red == b.red;
}

std::uint32_t RgbKey(RgbQuad c) {
    return (std::uint32_t{c.red} << 16) | (std::uint32_t{c.green} << 8) | c.blue;
}

} // namespace

int IndexForColour(RasterImage& image, RgbQuad colour, std::int32_t& counter) {
    for (int i = 0; i < 256; ++i) {
        if (SameRgb(image.PaletteEntry(static_cast<std::uint8_t>(i)), colour)) {
            return i;
        }
    }
    if (counter >= 255) {
        return -1;
    }
    ++counter;
    image.SetPaletteEntry(static_cast<std::uint8_t>(counter), colour);
    return counter;
}

PaletteBuilder::PaletteBuilder(RasterImage& output, Warning warning)
    : output_(output), warning_(std::move(warning)) {
    // Entries beyond the palette read as black, like PaletteEntry gives them.
    for (int i = 255; i >= 0; --i) {
        Remember(output_.PaletteEntry(static_cast<std::uint8_t>(i)), static_cast<std::int16_t>(i));
    }
}

// Open addressing over the 24-bit colour; the table is never more than a
// quarter full, so probes stay short.
std::size_t PaletteBuilder::Slot(std::uint32_t key) const {
    std::size_t slot = (key * 2654435761u) >> (32 - kTableBits);
    while (table_[slot].used && table_[slot].key != key) {
        slot = (slot + 1) & (kTableSize - 1);
    }
    return slot;
}

void PaletteBuilder::Remember(RgbQuad colour, std::int16_t index) {
    // Filled from the highest index down, so the lowest index of a repeated
    // colour wins, as in the scan from entry 0.
    Entry& entry = table_[Slot(RgbKey(colour))];
    entry.used = true;
    entry.key = RgbKey(colour);
    entry.index = index;
}

void PaletteBuilder::Relocate(RgbQuad colour) {
    for (int i = 0; i < 256; ++i) {
        if (SameRgb(output_.PaletteEntry(static_cast<std::uint8_t>(i)), colour)) {
            Remember(colour, static_cast<std::int16_t>(i));
            return;
        }
    }
    Remember(colour, -1);
}

int PaletteBuilder::ExactIndex(RgbQuad colour) {
    const Entry& entry = table_[Slot(RgbKey(colour))];
    if (entry.used && entry.index >= 0) {
        return entry.index;
    }
    if (counter_ >= 255) {
        return -1;
    }
    ++counter_;
    const auto index = static_cast<std::uint8_t>(counter_);
    // An entry beyond a small palette is not written, and a later scan would
    // not find the colour there either.
    if (index < output_.ColorCount() && output_.HasPixels()) {
        const RgbQuad previous = output_.PaletteEntry(index);
        output_.SetPaletteEntry(index, colour);
        Remember(colour, index);
        // A colour that stood in the overwritten entry may still occur later
        // in the palette, or not at all.
        const Entry& old = table_[Slot(RgbKey(previous))];
        if (old.used && old.index == index && !SameRgb(previous, colour)) {
            Relocate(previous);
        }
    }
    return counter_;
}

std::uint8_t PaletteBuilder::IndexFor(RgbQuad colour) {
    const int index = ExactIndex(colour);
    if (index >= 0) {
        return static_cast<std::uint8_t>(index);
    }
    if (!warned_) {
        warned_ = true;
        if (warning_) {
            warning_(kTooManyColoursMessage);
        }
    }
    return output_.NearestIndex(colour);
}

void PaletteBuilder::PasteTile(const RasterImage& tile, std::int32_t xOffset,
                               std::int32_t yOffset) {
    if (!tile.HasPixels()) {
        return;
    }
    // Columns outer, rows inner: the order decides which colours win the
    // free palette entries.
    for (std::int32_t x = 0; x < tile.Width(); ++x) {
        for (std::int32_t y = 0; y < tile.Height(); ++y) {
            const RgbQuad colour = tile.PixelColor(x, y, false);
            output_.PutPixelIndex(xOffset + x, yOffset + y, IndexFor(colour));
        }
    }
}

} // namespace quiltara
