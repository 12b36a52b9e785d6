#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "image/FontFace.h"
#include "image/ImageMetadata.h"
#include "image/RasterImage.h"
#include "tiles/TileSources.h"

namespace quiltara {

// The font the attribution is drawn in (Debian's fonts-dejavu-core).
inline constexpr const char* kStampFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
// Pixels per em: small, and still legible at 100 %.
inline constexpr int kStampPixelSize = 12;
// Lines the attribution may take before the rest is cut off.
inline constexpr int kMostStampLines = 3;

// Who the images of a run owe their pixels to, carried from the tile source
// into every image the run writes.
struct ImageCredit {
    std::string attribution;
    std::string source; // the source's name
    std::string terms;  // its terms of use
    std::string fontPath = kStampFontPath;
};

// The credit of a run whose tiles are asked for in style: the map service's
// own for its templates, a catalogue source's from its file.
ImageCredit CreditOf(const TileRequestStyle& style);

// What an image made at `made` carries: the credit, and the program.
ImageMetadata CreditMetadata(const ImageCredit& credit, std::time_t made);

// "Quiltara 0.1.0": the program and its version as the images name it.
std::string QuiltaraSoftware();

// The attribution broken into lines no wider than maxWidth pixels: at spaces,
// kMostStampLines at most, a word or a last line that does not fit ending in
// an ellipsis.
struct StampLines {
    std::vector<std::u32string> lines;
    bool shortened = false;
};
StampLines FitStampText(const FontFace& font, const std::u32string& text, int maxWidth,
                        int maxLines);

// The attribution strip in the bottom right corner of one picture, drawn
// into the picture's bands as they pass (or into the whole image at once).
class CornerStamp {
public:
    CornerStamp(const std::string& attribution, std::int64_t pictureWidth,
                std::int64_t pictureHeight, const std::string& fontPath);

    bool Drawn() const { return strip_.width > 0; }
    // Drawn with all of its text.
    bool Whole() const { return Drawn() && !shortened_ && !boxes_; }
    // The strip's place in the picture, from its top left corner.
    std::int64_t Left() const { return left_; }
    std::int64_t Top() const { return top_; }
    int Width() const { return strip_.width; }
    int Height() const { return strip_.height; }

    // What the user should know about the strip on the image at path: that it
    // was wrapped or shortened, or why it is missing; empty when it is drawn as
    // it came.
    std::string Note(const std::string& path) const;

    // Draws the part of the strip that lies in band, an image (rows from the
    // bottom, 8- or 24-bit, with or without an alpha plane) holding the
    // picture's pixels from (bandLeft, bandTop) on.
    void DrawInto(RasterImage& band, std::int64_t bandLeft, std::int64_t bandTop) const;

private:
    TextStrip strip_;
    std::int64_t left_ = 0;
    std::int64_t top_ = 0;
    std::int64_t pictureWidth_ = 0;
    int lines_ = 0;
    bool shortened_ = false;
    bool noText_ = false;
    bool boxes_ = false; // characters the font lacks, drawn as its empty box
    std::string fontError_;
};

} // namespace quiltara
