#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "image/RasterImage.h"

namespace quiltara {

inline constexpr const char* kTooManyColoursMessage =
    "Too many colours in final output image, there may be some image quality loss";

// The palette index of colour in image's palette: the first entry with the
// same red, green and blue. A new colour takes the next free entry after
// counter (entry 0 stays black); -1 when the palette is full.
int IndexForColour(RasterImage& image, RgbQuad colour, std::int32_t& counter);

// Builds the palette of one 8-bit output image while tiles are pasted into it.
// The first 255 distinct non-black colours are kept exactly; later ones go to
// their nearest entry, and the first time that happens the warning callback
// is told once. The builder must be the only writer of the output's palette
// while it lives.
class PaletteBuilder {
public:
    using Warning = std::function<void(const std::string& message)>;

    PaletteBuilder(RasterImage& output, Warning warning);

    // Writes every pixel of tile (transparency ignored) with its bottom-left
    // corner at (xOffset, yOffset) of the output.
    void PasteTile(const RasterImage& tile, std::int32_t xOffset, std::int32_t yOffset);
    // The palette index for one colour, assigning or approximating as needed.
    std::uint8_t IndexFor(RgbQuad colour);

    std::int32_t Counter() const { return counter_; }
    bool Warned() const { return warned_; }

private:
    struct Entry {
        std::uint32_t key = 0;
        std::int16_t index = -1; // -1: the colour is no longer in the palette
        bool used = false;
    };
    static constexpr int kTableBits = 10;
    static constexpr std::size_t kTableSize = std::size_t{1} << kTableBits;

    std::size_t Slot(std::uint32_t key) const;
    void Remember(RgbQuad colour, std::int16_t index);
    // Where colour now first occurs after its entry was overwritten.
    void Relocate(RgbQuad colour);
    // IndexForColour's answer, with the palette scan replaced by a table
    // lookup that gives the same first match.
    int ExactIndex(RgbQuad colour);

    RasterImage& output_;
    Warning warning_;
    std::int32_t counter_ = 0;
    bool warned_ = false;
    std::array<Entry, kTableSize> table_{};
};

} // namespace quiltara
