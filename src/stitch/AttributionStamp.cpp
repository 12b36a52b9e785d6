#include "stitch/AttributionStamp.h"

#include <algorithm>

#include "tiles/TextFormat.h"

#ifndef QUILTARA_VERSION
#define QUILTARA_VERSION "0"
#endif

namespace quiltara {
namespace {

constexpr char32_t kEllipsis = U'\u2026';

std::vector<std::u32string> Words(const std::u32string& text) {
    std::vector<std::u32string> words;
    std::u32string word;
    for (char32_t c : text) {
        if (c == U' ') {
            if (!word.empty()) {
                words.push_back(word);
            }
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

// text cut short enough that it and an ellipsis fit in maxWidth; empty when
// not even the ellipsis does.
std::u32string Ellipsized(const FontFace& font, std::u32string text, int maxWidth) {
    while (!text.empty() && font.TextWidth(text + kEllipsis) > maxWidth) {
        text.pop_back();
    }
    while (!text.empty() && text.back() == U' ') {
        text.pop_back();
    }
    return font.TextWidth(text + kEllipsis) <= maxWidth ? text + kEllipsis : std::u32string();
}

// One colour channel of source (opacity a) over destination (opacity d).
std::uint8_t Over(std::uint8_t source, unsigned a, std::uint8_t destination, unsigned d,
                  unsigned out) {
    if (out == 0) {
        return destination;
    }
    const unsigned under = destination * d * (255 - a) / 255;
    return static_cast<std::uint8_t>((source * a + under + out / 2) / out);
}

} // namespace

ImageCredit CreditOf(const TileRequestStyle& style) {
    ImageCredit credit;
    credit.attribution = style.attribution;
    credit.terms = style.terms;
    // A source of the user's own templates has no name; the map service's
    // own style has its service's.
    credit.source = !style.sourceName.empty() ? style.sourceName
                    : style.catalogue         ? std::string()
                                              : std::string(kMapServiceName);
    return credit;
}

std::string QuiltaraSoftware() {
    return std::string("Quiltara ") + QUILTARA_VERSION;
}

ImageMetadata CreditMetadata(const ImageCredit& credit, std::time_t made) {
    ImageMetadata metadata;
    metadata.copyright = credit.attribution;
    metadata.source = credit.source;
    metadata.terms = credit.terms;
    metadata.software = QuiltaraSoftware();
    metadata.created = made;
    return metadata;
}

StampLines FitStampText(const FontFace& font, const std::u32string& text, int maxWidth,
                        int maxLines) {
    StampLines fitted;
    std::vector<std::u32string>& lines = fitted.lines;
    std::u32string line;
    for (const std::u32string& word : Words(text)) {
        const std::u32string longer = line.empty() ? word : line + U' ' + word;
        if (font.TextWidth(longer) <= maxWidth) {
            line = longer;
            continue;
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
        line = word;
        if (font.TextWidth(line) > maxWidth) {
            lines.push_back(Ellipsized(font, line, maxWidth));
            fitted.shortened = true;
            line.clear();
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    if (static_cast<int>(lines.size()) > maxLines) {
        std::u32string rest = lines[static_cast<std::size_t>(maxLines) - 1];
        for (std::size_t i = static_cast<std::size_t>(maxLines); i < lines.size(); ++i) {
            rest += U' ' + lines[i];
        }
        lines.resize(static_cast<std::size_t>(maxLines));
        lines.back() = Ellipsized(font, rest, maxWidth);
        fitted.shortened = true;
    }
    std::erase_if(lines, [](const std::u32string& l) { return l.empty(); });
    return fitted;
}

CornerStamp::CornerStamp(const std::string& attribution, std::int64_t pictureWidth,
                         std::int64_t pictureHeight, const std::string& fontPath)
    : pictureWidth_(pictureWidth) {
    const std::u32string text = DecodeUtf8(CleanUtf8Line(attribution));
    if (Words(text).empty()) {
        noText_ = true;
        return;
    }
    std::unique_ptr<FontFace> font = FontFace::Open(fontPath, kStampPixelSize, fontError_);
    if (!font) {
        return;
    }
    boxes_ = !font->HasGlyphs(text);
    const StripStyle style;
    const auto maxWidth =
        static_cast<int>(std::min<std::int64_t>(pictureWidth - 2 * style.paddingX, 1 << 20));
    const auto roomForLines = static_cast<int>(std::min<std::int64_t>(
        (pictureHeight - 2 * style.paddingY) / std::max(1, font->LineHeight()), kMostStampLines));
    StampLines fitted = FitStampText(*font, text, maxWidth, std::max(1, roomForLines));
    shortened_ = fitted.shortened;
    lines_ = static_cast<int>(fitted.lines.size());
    if (fitted.lines.empty()) {
        return; // not even an ellipsis fits
    }
    strip_ = font->DrawStrip(fitted.lines, style);
    left_ = pictureWidth - strip_.width;
    top_ = pictureHeight - strip_.height;
}

std::string CornerStamp::Note(const std::string& path) const {
    if (noText_) {
        return "No attribution is drawn on " + path + ": the tile source names none.";
    }
    if (!fontError_.empty()) {
        return "The attribution could not be drawn on " + path + ": " + fontError_ +
               "; the image is written without it.";
    }
    if (!Drawn()) {
        return "The attribution could not be drawn on " + path + ": the image is too small.";
    }
    const long long width = pictureWidth_;
    if (boxes_) {
        return "The attribution on " + path +
               " holds characters its font (DejaVu Sans) cannot draw: they show as boxes. The "
               "file's text chunks or tags hold the attribution as it is.";
    }
    if (shortened_) {
        return FormatText(
            "The attribution on %s is shortened to fit the image's width of %lld "
            "pixels.",
            path.c_str(), width);
    }
    if (lines_ > 1) {
        return FormatText(
            "The attribution on %s is wrapped onto %d lines to fit the image's "
            "width of %lld pixels.",
            path.c_str(), lines_, width);
    }
    return {};
}

void CornerStamp::DrawInto(RasterImage& band, std::int64_t bandLeft, std::int64_t bandTop) const {
    if (!Drawn() || !band.HasPixels()) {
        return;
    }
    const std::int64_t x0 = std::max(left_, bandLeft);
    const std::int64_t x1 = std::min(left_ + strip_.width, bandLeft + band.Width());
    const std::int64_t y0 = std::max(top_, bandTop);
    const std::int64_t y1 = std::min(top_ + strip_.height, bandTop + band.Height());
    const bool palette = band.BitsPerPixel() <= 8;
    for (std::int64_t y = y0; y < y1; ++y) {
        const auto row = static_cast<std::int32_t>(band.Height() - 1 - (y - bandTop));
        for (std::int64_t x = x0; x < x1; ++x) {
            const std::uint8_t* source =
                strip_.At(static_cast<int>(x - left_), static_cast<int>(y - top_));
            const unsigned a = source[3];
            const auto column = static_cast<std::int32_t>(x - bandLeft);
            if (palette) {
                RgbQuad colour = band.PixelColor(column, row);
                colour.blue = Over(source[0], a, colour.blue, 255, 255);
                colour.green = Over(source[1], a, colour.green, 255, 255);
                colour.red = Over(source[2], a, colour.red, 255, 255);
                band.PutPixelIndex(column, row, band.NearestIndex(colour));
                continue;
            }
            std::uint8_t* pixel = band.RowPointer(static_cast<std::uint32_t>(row)) +
                                  static_cast<std::size_t>(column) * 3;
            unsigned d = 255;
            std::uint8_t* alpha = nullptr;
            if (band.HasAlpha()) {
                alpha = band.AlphaPlane() +
                        static_cast<std::size_t>(row) * static_cast<std::size_t>(band.Width()) +
                        static_cast<std::size_t>(column);
                d = *alpha;
            }
            const unsigned out = a + d * (255 - a) / 255;
            for (int channel = 0; channel < 3; ++channel) {
                pixel[channel] = Over(source[channel], a, pixel[channel], d, out);
            }
            if (alpha != nullptr) {
                *alpha = static_cast<std::uint8_t>(out);
            }
        }
    }
}

} // namespace quiltara
