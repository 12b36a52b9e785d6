#include "assembly/MapStitcher.h"

#include <cstdint>
#include <limits>
#include <optional>

#include "assembly/TileImageCheck.h"
#include "image/ColourReduction.h"
#include "image/RasterImage.h"
#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

constexpr std::int64_t kTileSize = 256;
constexpr const char* kCannotAllocate = "RasterImage::Create can't allocate memory";

bool FitsInt(std::int64_t value) {
    return value >= std::numeric_limits<std::int32_t>::min() &&
           value <= std::numeric_limits<std::int32_t>::max();
}

// Makes the layer's output image; width and height beyond the image's own
// 32-bit fields cannot be made at any depth.
bool CreateOutput(RasterImage& output, std::int64_t width, std::int64_t height,
                  std::uint32_t bitsPerPixel) {
    if (width <= 0 || height <= 0 || !FitsInt(width) || !FitsInt(height)) {
        output.SetErrorText(kCannotAllocate);
        return false;
    }
    output.Create(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                  bitsPerPixel, kFormatPng);
    return output.HasPixels();
}

// Pastes every tile of the range, column by column, in its place: tile
// (xFirst, yFirst) at the top left. Rows count from the bottom of the image.
void PasteTiles(RasterImage& output, const std::string& folder, MapLayer layer,
                const TileRange& range, int zoom, PaletteBuilder* palette) {
    const std::int64_t outputHeight = output.Height();
    for (int x = range.xFirst; x <= range.xLast; ++x) {
        for (int y = range.yFirst; y <= range.yLast; ++y) {
            const std::string path = folder + LayerPrefix(layer) + TileFileName(x, y, zoom);
            RasterImage tile(kFormatPng);
            LoadTile(tile, path);
            if (!tile.HasPixels()) {
                continue; // failed downloads were reported already
            }
            const std::int64_t xOffset = std::int64_t{x - range.xFirst} * tile.Width();
            const std::int64_t yOffset =
                outputHeight - std::int64_t{tile.Height()} * (std::int64_t{y - range.yFirst} + 1);
            if (!FitsInt(xOffset) || !FitsInt(yOffset)) {
                continue; // lies wholly outside the image
            }
            if (palette != nullptr) {
                palette->PasteTile(tile, static_cast<std::int32_t>(xOffset),
                                   static_cast<std::int32_t>(yOffset));
            } else {
                output.PasteOver(tile, static_cast<std::int32_t>(xOffset),
                                 static_cast<std::int32_t>(yOffset));
            }
        }
    }
}

} // namespace

std::string LayerFolder(const std::string& outputFolder, const std::string& subfolder) {
    std::string folder = outputFolder;
    if (!subfolder.empty()) {
        folder += subfolder;
        folder += '/';
    }
    return folder;
}

std::string LayerImagePath(const std::string& outputFolder, const std::string& fileName,
                           MapLayer layer, const std::string& subfolder) {
    return LayerFolder(outputFolder, subfolder) + LayerPrefix(layer) + fileName;
}

std::string PaletteModeFailedText(long long width, long long height, const std::string& error) {
    // The figure is the size of the 8-bit image in mebibytes; computed wide,
    // since W x H of a large range does not fit in 32 bits.
    const long long megabytes = (width * height / 1024) / 1024;
    return std::string(kPaletteModeFailedMessage) +
           FormatText(" %lld x %lld pixels in size, and would require %lld MB to create", width,
                      height, megabytes) +
           ": " + error;
}

std::vector<StitchedLayer> Stitch(const std::string& outputFolder, const std::string& fileName,
                                  const MapSourcesValues& sources, const TileRange& range, int zoom,
                                  Prompts& prompts, ProgressSink& progress) {
    std::vector<StitchedLayer> result;
    const std::int64_t width = std::int64_t{range.xLast} - range.xFirst + 1;
    const std::int64_t height = std::int64_t{range.yLast} - range.yFirst + 1;
    const std::int64_t pixelWidth = width * kTileSize;
    const std::int64_t pixelHeight = height * kTileSize;
    bool outOfMemory = false;

    for (MapLayer layer : kAllLayers) {
        const LayerSource& source = sources[layer];
        if (!source.download) {
            continue;
        }
        StitchedLayer stitched;
        stitched.layer = layer;
        stitched.path = LayerImagePath(outputFolder, fileName, layer, source.subfolder);
        if (outOfMemory) {
            result.push_back(stitched);
            continue;
        }
        progress.StitchStarted(layer, stitched.path);

        // One output image per layer, released before the next one is made.
        RasterImage output(kFormatPng);
        if (!CreateOutput(output, pixelWidth, pixelHeight, 24)) {
            prompts.ShowMessage(kRgbModeFailedMessage, MessageButtons::Ok);
            stitched.paletteMode = true;
            // Made in place rather than as a blank copied over: a copy would
            // need the 8-bit image twice over at the moment memory is short.
            if (!CreateOutput(output, pixelWidth, pixelHeight, 8)) {
                prompts.ShowMessage(
                    PaletteModeFailedText(pixelWidth, pixelHeight, output.ErrorText()),
                    MessageButtons::Ok);
                outOfMemory = true;
                result.push_back(stitched);
                progress.StitchFinished(layer, stitched.path, false);
                continue;
            }
        }
        stitched.created = true;

        const std::string folder = LayerFolder(outputFolder, source.subfolder);
        if (stitched.paletteMode) {
            PaletteBuilder palette(output, [&prompts](const std::string& message) {
                prompts.ShowMessage(message, MessageButtons::Ok);
            });
            PasteTiles(output, folder, layer, range, zoom, &palette);
        } else {
            PasteTiles(output, folder, layer, range, zoom, nullptr);
        }
        stitched.saved = output.SaveFile(stitched.path, kFormatPng);
        result.push_back(stitched);
        progress.StitchFinished(layer, stitched.path, stitched.saved);
    }
    return result;
}

} // namespace quiltara
