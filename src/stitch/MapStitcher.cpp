#include "stitch/MapStitcher.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <optional>
#include <system_error>

#include "image/ColourReduction.h"
#include "image/FileStream.h"
#include "image/PngCodec.h"
#include "image/RasterImage.h"
#include "image/TileFile.h"
#include "platform/AtomicFile.h"
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

// Pastes one tile into its square: (column, rowFromTop) squares of 256
// pixels from the image's top left, the tile's top left corner at the
// square's. Rows of the image count from the bottom. The 256-colour image
// takes tiles as the palette builder pastes them; the true-colour one lays
// them over what is there as their opacity says.
void PasteIntoCell(RasterImage& output, const RasterImage& tile, std::int64_t column,
                   std::int64_t rowFromTop, PaletteBuilder* palette) {
    const std::int64_t xOffset = column * kTileSize;
    const std::int64_t yOffset =
        std::int64_t{output.Height()} - rowFromTop * kTileSize - tile.Height();
    if (!FitsInt(xOffset) || !FitsInt(yOffset)) {
        return; // lies wholly outside the image
    }
    if (palette != nullptr) {
        palette->PasteTile(tile, static_cast<std::int32_t>(xOffset),
                           static_cast<std::int32_t>(yOffset));
    } else {
        output.BlendOver(tile, static_cast<std::int32_t>(xOffset),
                         static_cast<std::int32_t>(yOffset));
    }
}

// Reads the tile at path, cut to its square when it is larger. Tiles that
// are missing, unreadable or not 256 x 256 are listed in problems; false
// when there is nothing to place.
bool ReadSquare(const std::string& path, RasterImage& tile, std::vector<TileProblem>& problems) {
    LoadTile(tile, path);
    if (!tile.HasPixels() || tile.Width() <= 0 || tile.Height() <= 0) {
        problems.push_back(TileProblem{
            path, AnythingAt(path) ? TileProblem::Kind::Unreadable : TileProblem::Kind::Missing, 0,
            0});
        return false;
    }
    if (tile.Width() == kTileSize && tile.Height() == kTileSize) {
        return true;
    }
    problems.push_back(TileProblem{path, TileProblem::Kind::OffSize, tile.Width(), tile.Height()});
    if (tile.Width() <= kTileSize && tile.Height() <= kTileSize) {
        return true;
    }
    RasterImage cell(kFormatPng);
    return CropTile(tile, cell) && tile.AdoptFrom(cell, true);
}

// Pastes every tile of the range, column by column, into its square: tile
// (xFirst, yFirst) at the top left; a composite's overlay tile over its base
// tile. False when a stop came first.
bool PasteTiles(RasterImage& output, const LayerTiles& tiles, PaletteBuilder* palette,
                std::vector<TileProblem>& problems, const CancelFlag* cancel) {
    const TileRange& range = tiles.range;
    for (int x = range.xFirst; x <= range.xLast; ++x) {
        for (int y = range.yFirst; y <= range.yLast; ++y) {
            if (cancel != nullptr && cancel->Requested()) {
                return false;
            }
            const std::int64_t column = std::int64_t{x} - range.xFirst;
            const std::int64_t rowFromTop = std::int64_t{y} - range.yFirst;
            const std::vector<std::string> paths = tiles.PathsAt(x, y);
            // The palette builder pastes without mixing: a composite's tiles
            // are laid over each other in a true-colour square of their own.
            std::optional<RasterImage> square;
            if (palette != nullptr && paths.size() > 1) {
                square.emplace(kTileSize, kTileSize, 24, kFormatPng);
                if (!square->HasPixels()) {
                    throw std::bad_alloc();
                }
                std::memset(square->RowPointer(0), 0, std::size_t{square->RowBytes()} * kTileSize);
            }
            for (const std::string& path : paths) {
                RasterImage tile(kFormatPng);
                if (!ReadSquare(path, tile, problems)) {
                    continue;
                }
                if (square) {
                    square->BlendOver(tile, 0,
                                      static_cast<std::int32_t>(kTileSize - tile.Height()));
                } else {
                    PasteIntoCell(output, tile, column, rowFromTop, palette);
                }
            }
            if (square) {
                PasteIntoCell(output, *square, column, rowFromTop, palette);
            }
        }
    }
    return true;
}

// Encodes the image as PNG, with the credit's text chunks, under a
// temporary name and renames it over path.
bool SaveImage(const RasterImage& output, const std::string& path, const ImageMetadata& metadata,
               std::string& error) {
    try {
        AtomicFile file(path);
        FileStream stream(file.Stream());
        PngCodec codec;
        codec.BorrowFrom(output);
        codec.SetText(PngTextEntries(metadata));
        if (!codec.Encode(&stream)) {
            error = codec.ErrorText();
            return false; // the temporary file goes with `file`
        }
        file.Commit();
        return true;
    } catch (const std::system_error& failure) {
        error = failure.what();
        return false;
    }
}

const char* ProblemText(const TileProblem& problem) {
    switch (problem.kind) {
        case TileProblem::Kind::Missing:
            return "missing";
        case TileProblem::Kind::Unreadable:
            return "not a readable image";
        case TileProblem::Kind::OffSize:
            return "";
    }
    return "";
}

} // namespace

std::string TileProblemsText(const std::vector<TileProblem>& problems) {
    if (problems.empty()) {
        return {};
    }
    constexpr std::size_t kNamed = 20;
    std::string text =
        problems.size() == 1
            ? std::string("1 tile file could not be placed as it is in the map images")
            : FormatText("%zu tile files could not be placed as they are in the map images",
                         problems.size());
    text +=
        ": missing or unreadable tiles leave their squares black, tiles not 256 x 256 "
        "pixels are clipped to their squares.";
    for (std::size_t i = 0; i < problems.size() && i < kNamed; ++i) {
        const TileProblem& problem = problems[i];
        text += "\n" + problem.path + ": ";
        text += problem.kind == TileProblem::Kind::OffSize
                    ? FormatText("%i x %i pixels", problem.width, problem.height)
                    : std::string(ProblemText(problem));
    }
    if (problems.size() > kNamed) {
        text += FormatText("\n... and %zu more", problems.size() - kNamed);
    }
    return text;
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

bool InMemoryStitcher::StitchLayer(const LayerTiles& tiles, StitchedLayer& stitched,
                                   Prompts& prompts, const CancelFlag* cancel) {
    const TileRange& range = tiles.range;
    const std::int64_t pixelWidth = (std::int64_t{range.xLast} - range.xFirst + 1) * kTileSize;
    const std::int64_t pixelHeight = (std::int64_t{range.yLast} - range.yFirst + 1) * kTileSize;

    // One output image per layer, released before the next one is made.
    RasterImage output(kFormatPng);
    if (!CreateOutput(output, pixelWidth, pixelHeight, 24)) {
        prompts.ShowMessage(kRgbModeFailedMessage, MessageButtons::Ok);
        stitched.paletteMode = true;
        // Made in place rather than as a blank copied over: a copy would
        // need the 8-bit image twice over at the moment memory is short.
        if (!CreateOutput(output, pixelWidth, pixelHeight, 8)) {
            prompts.ShowMessage(PaletteModeFailedText(pixelWidth, pixelHeight, output.ErrorText()),
                                MessageButtons::Ok);
            return false; // the layers after this one would not fit either
        }
    }
    stitched.created = true;

    try {
        if (!stitched.paletteMode && overlay_ == OverlayOutput::Alpha &&
            LayerCarriesTransparency(tiles)) {
            // Transparent until a tile lands.
            if (!output.CreateAlpha()) {
                throw std::bad_alloc();
            }
            std::memset(output.AlphaPlane(), 0,
                        static_cast<std::size_t>(output.Width()) *
                            static_cast<std::size_t>(output.Height()));
        }
        bool pasted = false;
        if (stitched.paletteMode) {
            PaletteBuilder palette(output, [&prompts](const std::string& message) {
                prompts.ShowMessage(message, MessageButtons::Ok);
            });
            pasted = PasteTiles(output, tiles, &palette, stitched.tileProblems, cancel);
        } else {
            pasted = PasteTiles(output, tiles, nullptr, stitched.tileProblems, cancel);
        }
        if (!pasted) {
            stitched.stopped = true;
        } else if (AnyTilePlaced(stitched.tileProblems, range, tiles.LayerCount())) {
            const LayerCredit credit = CreditFor(tiles, stitched);
            if (credit.stamp) {
                credit.stamp->DrawInto(output, 0, 0);
            }
            stitched.saved = SaveImage(output, stitched.path, credit.metadata, stitched.saveError);
        } else {
            stitched.noTilePlaced = true;
        }
    } catch (const std::bad_alloc&) {
        // This layer ends here; the next one starts again with its own image.
        stitched.saved = false;
        stitched.saveError = "not enough memory to make the image";
    }
    return true;
}

std::vector<StitchedLayer> Stitch(const std::string& outputFolder, const std::string& fileName,
                                  const MapSourcesValues& sources, const TileRange& range, int zoom,
                                  Prompts& prompts, ProgressSink& progress,
                                  const CancelFlag* cancel) {
    InMemoryStitcher stitcher;
    return stitcher.StitchLayers(outputFolder, fileName, sources, range, zoom, prompts, progress,
                                 cancel);
}

} // namespace quiltara
