#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quiltara {

// A small picture laid over an image: blue, green, red and opacity per pixel
// (colour not premultiplied), rows from the top.
struct TextStrip {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    const std::uint8_t* At(int x, int y) const {
        return pixels.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                static_cast<std::size_t>(x)) *
                                   4;
    }
};

// How a strip of text looks: dark text on a light, partly see-through
// ground, so it reads over any map.
struct StripStyle {
    int paddingX = 5;
    int paddingY = 2;
    std::uint8_t groundBlue = 255, groundGreen = 255, groundRed = 255;
    std::uint8_t groundOpacity = 200;
    std::uint8_t textBlue = 0x20, textGreen = 0x20, textRed = 0x20;
};

// One font file at one pixel size, through FreeType. A character the font
// lacks is drawn as the font's own missing-glyph box.
class FontFace {
public:
    // Nothing, and why in error, when the file cannot be read as a font.
    static std::unique_ptr<FontFace> Open(const std::string& path, int pixelSize,
                                          std::string& error);
    ~FontFace();
    FontFace(const FontFace&) = delete;
    FontFace& operator=(const FontFace&) = delete;

    // Pixels from one line's baseline to the next.
    int LineHeight() const;
    // Whether the font has a glyph for every character of text.
    bool HasGlyphs(std::u32string_view text) const;
    // The width of text drawn on one line, in pixels.
    int TextWidth(std::u32string_view text) const;
    // The lines, each on its own line, in a strip just large enough for the
    // widest with the style's padding around them.
    TextStrip DrawStrip(const std::vector<std::u32string>& lines, const StripStyle& style) const;

    struct Handles;

private:
    explicit FontFace(std::unique_ptr<Handles> handles);
    std::unique_ptr<Handles> handles_;
};

} // namespace quiltara
