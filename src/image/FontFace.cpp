#include "image/FontFace.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <functional>

namespace quiltara {
namespace {

struct LibraryDeleter {
    void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
struct FaceDeleter {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};
using LibraryHandle = std::unique_ptr<FT_LibraryRec_, LibraryDeleter>;
using FaceHandle = std::unique_ptr<FT_FaceRec_, FaceDeleter>;

constexpr int kSubpixel = 64; // FreeType's 26.6 fixed point

int Pixels(FT_Pos value) {
    return static_cast<int>((value + kSubpixel - 1) / kSubpixel);
}

} // namespace

// The face is released before the library that made it.
struct FontFace::Handles {
    LibraryHandle library;
    FaceHandle face;

    // Calls glyph for every character of text with the glyph loaded (and
    // rendered, when render) and its pen position in pixels.
    void Walk(std::u32string_view text, bool render,
              const std::function<void(FT_GlyphSlot, int penX)>& glyph) const {
        FT_Pos pen = 0;
        FT_UInt previous = 0;
        for (char32_t c : text) {
            const FT_UInt index = FT_Get_Char_Index(face.get(), c); // 0: the missing-glyph box
            if (previous != 0 && index != 0 && FT_HAS_KERNING(face.get())) {
                FT_Vector kerning{};
                if (FT_Get_Kerning(face.get(), previous, index, FT_KERNING_DEFAULT, &kerning) ==
                    0) {
                    pen += kerning.x;
                }
            }
            if (FT_Load_Glyph(face.get(), index, render ? FT_LOAD_RENDER : FT_LOAD_DEFAULT) != 0) {
                continue; // a glyph the font cannot give is left out
            }
            glyph(face->glyph, static_cast<int>(pen / kSubpixel));
            pen += face->glyph->advance.x;
            previous = index;
        }
    }
};

FontFace::FontFace(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

FontFace::~FontFace() = default;

std::unique_ptr<FontFace> FontFace::Open(const std::string& path, int pixelSize,
                                         std::string& error) {
    auto handles = std::make_unique<Handles>();
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        error = "the font library could not be started";
        return nullptr;
    }
    handles->library.reset(library);
    FT_Face face = nullptr;
    if (FT_New_Face(library, path.c_str(), 0, &face) != 0) {
        error = "the font " + path + " could not be read";
        return nullptr;
    }
    handles->face.reset(face);
    if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixelSize)) != 0) {
        error = "the font " + path + " has no usable size";
        return nullptr;
    }
    return std::unique_ptr<FontFace>(new FontFace(std::move(handles)));
}

int FontFace::LineHeight() const {
    return Pixels(handles_->face->size->metrics.height);
}

bool FontFace::HasGlyphs(std::u32string_view text) const {
    return std::all_of(text.begin(), text.end(), [this](char32_t c) {
        return FT_Get_Char_Index(handles_->face.get(), c) != 0;
    });
}

int FontFace::TextWidth(std::u32string_view text) const {
    int width = 0;
    handles_->Walk(text, false, [&width](FT_GlyphSlot slot, int penX) {
        const int right = penX + Pixels(slot->metrics.horiBearingX + slot->metrics.width);
        width = std::max({width, right, penX + Pixels(slot->advance.x)});
    });
    return width;
}

TextStrip FontFace::DrawStrip(const std::vector<std::u32string>& lines,
                              const StripStyle& style) const {
    int textWidth = 0;
    for (const std::u32string& line : lines) {
        textWidth = std::max(textWidth, TextWidth(line));
    }
    TextStrip strip;
    strip.width = textWidth + 2 * style.paddingX;
    strip.height = LineHeight() * static_cast<int>(lines.size()) + 2 * style.paddingY;
    std::vector<std::uint8_t> coverage(
        static_cast<std::size_t>(strip.width) * static_cast<std::size_t>(strip.height), 0);
    const int ascender = Pixels(handles_->face->size->metrics.ascender);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int baseline = style.paddingY + static_cast<int>(i) * LineHeight() + ascender;
        handles_->Walk(lines[i], true, [&](FT_GlyphSlot slot, int penX) {
            const FT_Bitmap& bitmap = slot->bitmap;
            const bool mono = bitmap.pixel_mode == FT_PIXEL_MODE_MONO;
            if (!mono && bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) {
                return; // colour glyphs are not drawn
            }
            for (unsigned row = 0; row < bitmap.rows; ++row) {
                const int y = baseline - slot->bitmap_top + static_cast<int>(row);
                if (y < 0 || y >= strip.height) {
                    continue;
                }
                const unsigned char* source = bitmap.buffer + static_cast<long>(row) * bitmap.pitch;
                for (unsigned column = 0; column < bitmap.width; ++column) {
                    const int x =
                        style.paddingX + penX + slot->bitmap_left + static_cast<int>(column);
                    if (x < 0 || x >= strip.width) {
                        continue;
                    }
                    const unsigned value =
                        mono ? ((source[column / 8] >> (7 - column % 8)) & 1U) * 255U
                             : source[column];
                    std::uint8_t& cell = coverage[static_cast<std::size_t>(y) *
                                                      static_cast<std::size_t>(strip.width) +
                                                  static_cast<std::size_t>(x)];
                    cell = static_cast<std::uint8_t>(std::max<unsigned>(cell, value));
                }
            }
        });
    }
    // Opaque text over the see-through ground.
    strip.pixels.resize(coverage.size() * 4);
    const double ground = style.groundOpacity / 255.0;
    for (std::size_t i = 0; i < coverage.size(); ++i) {
        const double ink = coverage[i] / 255.0;
        const double opacity = ink + ground * (1.0 - ink);
        auto mix = [&](std::uint8_t text, std::uint8_t under) {
            if (opacity <= 0.0) {
                return under;
            }
            const double value = (text * ink + under * ground * (1.0 - ink)) / opacity;
            return static_cast<std::uint8_t>(std::clamp(value + 0.5, 0.0, 255.0));
        };
        std::uint8_t* out = strip.pixels.data() + i * 4;
        out[0] = mix(style.textBlue, style.groundBlue);
        out[1] = mix(style.textGreen, style.groundGreen);
        out[2] = mix(style.textRed, style.groundRed);
        out[3] = static_cast<std::uint8_t>(opacity * 255.0 + 0.5);
    }
    return strip;
}

} // namespace quiltara
