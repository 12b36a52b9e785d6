// The stitcher's inner work: 4096 tiles of 256 x 256 pasted into one
// 16384 x 16384 24-bit map, beside a plain memcpy of the same rows.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include "image/RasterImage.h"

namespace {

using quiltara::RasterImage;
using quiltara::RgbQuad;

constexpr int kTile = 256;
constexpr int kTilesPerSide = 64;
constexpr int kMapSide = kTile * kTilesPerSide;
constexpr double kPixelsPerRun = double{kMapSide} * kMapSide;

// One map shared by all runs, its pages touched once so that no run pays for
// first-touch page faults.
RasterImage& Map() {
    static const std::unique_ptr<RasterImage> map = [] {
        auto image = std::make_unique<RasterImage>(kMapSide, kMapSide, 24, 4);
        if (image->HasPixels()) {
            std::memset(image->RowPointer(0), 0x11, std::size_t{image->RowBytes()} * kMapSide);
        }
        return image;
    }();
    return *map;
}

std::unique_ptr<RasterImage> MakeTile(std::uint32_t depth) {
    auto tile = std::make_unique<RasterImage>(kTile, kTile, depth, 4);
    for (int y = 0; y < kTile; ++y) {
        for (int x = 0; x < kTile; ++x) {
            tile->PutPixelIndex(x, y, static_cast<std::uint8_t>(x ^ y));
            if (depth == 24) {
                tile->PutPixelColor(
                    x, y,
                    RgbQuad{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                            static_cast<std::uint8_t>(x + y), 0});
            }
        }
    }
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        tile->SetPaletteEntry(v, RgbQuad{v, static_cast<std::uint8_t>(255 - v), v, 0});
    }
    return tile;
}

void Report(benchmark::State& state) {
    state.counters["MPix/s"] =
        benchmark::Counter(kPixelsPerRun / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void PasteAllTiles(benchmark::State& state, const RasterImage& tile) {
    RasterImage& map = Map();
    if (!map.HasPixels()) {
        state.SkipWithError("no memory for the 16384 x 16384 map");
        return;
    }
    for (auto _ : state) {
        for (int ty = 0; ty < kTilesPerSide; ++ty) {
            for (int tx = 0; tx < kTilesPerSide; ++tx) {
                map.PasteOver(tile, tx * kTile, kMapSide - kTile * (ty + 1));
            }
        }
        benchmark::ClobberMemory();
    }
    Report(state);
}

void BM_PasteOverOpaque24(benchmark::State& state) {
    PasteAllTiles(state, *MakeTile(24));
}

void BM_PasteOverKeyed8(benchmark::State& state) {
    auto tile = MakeTile(8);
    tile->SetTransparentIndex(0);
    PasteAllTiles(state, *tile);
}

void BM_MemcpyRows(benchmark::State& state) {
    RasterImage& map = Map();
    const auto tile = MakeTile(24);
    if (!map.HasPixels()) {
        state.SkipWithError("no memory for the 16384 x 16384 map");
        return;
    }
    constexpr std::size_t kRowBytes = kTile * 3;
    for (auto _ : state) {
        for (int ty = 0; ty < kTilesPerSide; ++ty) {
            for (int tx = 0; tx < kTilesPerSide; ++tx) {
                const int y0 = kMapSide - kTile * (ty + 1);
                for (int y = 0; y < kTile; ++y) {
                    std::memcpy(map.RowPointer(static_cast<std::uint32_t>(y0 + y)) +
                                    std::size_t{kRowBytes} * tx,
                                tile->RowPointer(static_cast<std::uint32_t>(y)), kRowBytes);
                }
            }
        }
        benchmark::ClobberMemory();
    }
    Report(state);
}

BENCHMARK(BM_MemcpyRows)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PasteOverOpaque24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PasteOverKeyed8)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
