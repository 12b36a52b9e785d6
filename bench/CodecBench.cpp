// The PNG codec against bare libpng on the map's two big jobs: reading 4096
// tiles of 256 x 256 and writing one 16384 x 16384 24-bit map. Both sides do
// the same work: the same encoded tiles from memory (or the same files), the
// same pixel block, blue-green-red rows bottom-up, libpng's default filters
// and compression.
//
// By default the tiles are synthetic, made here. With QUILTARA_BENCH_TILES
// naming a folder of the 64 x 64 tiles "x=<col>y=<row>zoom=12.png" (as
// ../shared/bench/make_tiles.py writes them), those tiles are read instead and
// the map is stitched from them.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image/ByteStream.h"
#include "image/MemoryStream.h"
#include "image/RasterImage.h"

namespace {

using quiltara::RasterImage;
using quiltara::RgbQuad;
using Bytes = std::vector<std::uint8_t>;

constexpr int kTile = 256;
constexpr int kDistinctTiles = 64;
constexpr int kTilesPerRun = 4096;
constexpr int kMapSide = 16384;

// ---- synthetic road-map tiles ----

void FillRect(RasterImage& image, int x0, int y0, int x1, int y1, RgbQuad colour) {
    for (int y = std::max(0, y0); y < std::min(image.Height(), y1); ++y) {
        std::uint8_t* row = image.RowPointer(static_cast<std::uint32_t>(y));
        for (int x = std::max(0, x0); x < std::min(image.Width(), x1); ++x) {
            row[3 * x] = colour.blue;
            row[3 * x + 1] = colour.green;
            row[3 * x + 2] = colour.red;
        }
    }
}

// Land use, buildings and roads on a paper background: flat areas with
// sharp edges, like the map service's road tiles.
std::unique_ptr<RasterImage> MakeTile(unsigned seed) {
    std::mt19937 random(seed);
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    auto tile = std::make_unique<RasterImage>(kTile, kTile, 24, 4);
    FillRect(*tile, 0, 0, kTile, kTile, RgbQuad{233, 239, 242, 0});
    const RgbQuad land[] = {{223, 223, 224, 0},
                            {204, 250, 200, 0},
                            {158, 209, 173, 0},
                            {213, 240, 238, 0},
                            {223, 211, 170, 0}};
    for (int i = 0; i < 6; ++i) {
        const int x = pick(-60, kTile), y = pick(-60, kTile);
        FillRect(*tile, x, y, x + pick(30, 160), y + pick(30, 160), land[pick(0, 4)]);
    }
    for (int i = 0; i < 120; ++i) {
        const int x = pick(0, kTile), y = pick(0, kTile);
        FillRect(*tile, x, y, x + pick(4, 14), y + pick(4, 14), RgbQuad{201, 208, 217, 0});
    }
    for (int i = 0; i < 5; ++i) {
        const int width = pick(3, 9);
        const RgbQuad road = i % 2 == 0 ? RgbQuad{255, 255, 255, 0} : RgbQuad{160, 214, 252, 0};
        if (i % 2 == 0) {
            const int y = pick(0, kTile);
            FillRect(*tile, 0, y - 1, kTile, y + width + 1, RgbQuad{171, 182, 196, 0});
            FillRect(*tile, 0, y, kTile, y + width, road);
        } else {
            const int x = pick(0, kTile);
            FillRect(*tile, x - 1, 0, x + width + 1, kTile, RgbQuad{171, 182, 196, 0});
            FillRect(*tile, x, 0, x + width, kTile, road);
        }
    }
    return tile;
}

// ---- bare libpng ----

struct BareReadSource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
};

void BareRead(png_structp png, png_bytep out, std::size_t length) {
    auto* source = static_cast<BareReadSource*>(png_get_io_ptr(png));
    if (source->size - source->position < length) {
        png_error(png, "Read Error");
    }
    std::memcpy(out, source->data + source->position, length);
    source->position += length;
}

// Reads a colour PNG into a bottom-up blue-green-red buffer of padded rows.
bool BareDecodeRows(png_structp png, png_infop info, std::uint8_t* pixels, std::size_t rowBytes) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_read_info(png, info);
    png_set_bgr(png);
    png_read_update_info(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(png, pixels + (height - 1 - y) * rowBytes, nullptr);
    }
    png_read_end(png, nullptr);
    return true;
}

bool BareDecode(png_rw_ptr reader, void* io) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_read_fn(png, io, reader);
    // Same allocation the image container makes for a decoded tile.
    const std::size_t rowBytes = ((kTile * 24 + 31) / 32) * 4;
    auto* pixels = static_cast<std::uint8_t*>(std::calloc(1, 40 + rowBytes * kTile));
    const bool ok = BareDecodeRows(png, info, pixels + 40, rowBytes);
    benchmark::DoNotOptimize(pixels);
    std::free(pixels);
    png_destroy_read_struct(&png, &info, nullptr);
    return ok;
}

void CountBytes(png_structp png, png_bytep, std::size_t length) {
    *static_cast<std::size_t*>(png_get_io_ptr(png)) += length;
}

void NoFlush(png_structp) {}

bool BareEncodeRows(png_structp png, png_infop info, const RasterImage& image) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.Width()),
                 static_cast<png_uint_32>(image.Height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    for (std::uint32_t y = static_cast<std::uint32_t>(image.Height()); y-- > 0;) {
        png_write_row(png, image.RowPointer(y));
    }
    png_write_end(png, info);
    return true;
}

std::size_t BareEncode(const RasterImage& image) {
    std::size_t written = 0;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &written, CountBytes, NoFlush);
    const bool ok = BareEncodeRows(png, info, image);
    png_destroy_write_struct(&png, &info);
    return ok ? written : 0;
}

// A stream that only counts what is written, so neither side pays for
// storing the encoded map.
class CountingStream : public quiltara::ByteStream {
public:
    bool Close() override { return true; }
    std::uint32_t Read(void*, std::size_t, std::size_t) override { return 0; }
    std::uint32_t Write(const void*, std::size_t size, std::size_t count) override {
        written += size * count;
        return static_cast<std::uint32_t>(count);
    }
    bool Seek(std::int32_t, int) override { return false; }
    std::int32_t Tell() override { return 0; }
    std::int32_t Size() override { return -1; }
    bool Flush() override { return true; }
    bool Eof() override { return false; }
    std::int32_t Error() override { return 0; }
    std::int32_t GetC() override { return -1; }
    char* GetS(char*, int) override { return nullptr; }
    std::int32_t Scanf(const char*, void*) override { return -1; }

    std::size_t written = 0;
};

// ---- shared inputs ----

constexpr int kTilesPerSide = kMapSide / kTile;

const char* RealTileFolder() {
    const char* folder = std::getenv("QUILTARA_BENCH_TILES");
    return folder != nullptr && *folder != '\0' ? folder : nullptr;
}

std::string RealTileName(int i) {
    return "x=" + std::to_string(i % kTilesPerSide) + "y=" + std::to_string(i / kTilesPerSide) +
           "zoom=12.png";
}

Bytes ReadFile(const std::string& path) {
    Bytes bytes;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         std::fclose);
    if (file) {
        std::uint8_t buffer[65536];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
    }
    return bytes;
}

const std::vector<Bytes>& EncodedTiles() {
    static const std::vector<Bytes> tiles = [] {
        std::vector<Bytes> encoded;
        if (const char* folder = RealTileFolder()) {
            for (int i = 0; i < kTilesPerRun; ++i) {
                encoded.push_back(ReadFile(std::string(folder) + "/" + RealTileName(i)));
            }
            return encoded;
        }
        for (int i = 0; i < kDistinctTiles; ++i) {
            auto tile = MakeTile(static_cast<unsigned>(i) + 1);
            quiltara::MemoryStream stream;
            stream.OpenEmpty();
            tile->Encode(&stream, quiltara::kFormatPng);
            const std::uint8_t* data = stream.BufferPointer();
            encoded.emplace_back(data, data + stream.Size());
        }
        return encoded;
    }();
    return tiles;
}

const std::filesystem::path& TileFolder() {
    static const std::filesystem::path folder = [] {
        if (const char* real = RealTileFolder()) {
            return std::filesystem::path(real);
        }
        const auto path = std::filesystem::temp_directory_path() / "quiltara-codec-bench-tiles";
        std::filesystem::create_directories(path);
        const auto& tiles = EncodedTiles();
        for (int i = 0; i < kDistinctTiles; ++i) {
            std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
                std::fopen((path / (std::to_string(i) + ".png")).c_str(), "wb"), std::fclose);
            std::fwrite(tiles[static_cast<std::size_t>(i)].data(), 1,
                        tiles[static_cast<std::size_t>(i)].size(), file.get());
        }
        return path;
    }();
    return folder;
}

std::string TilePath(int i) {
    if (const char* folder = RealTileFolder()) {
        return std::string(folder) + "/" + RealTileName(i);
    }
    return (TileFolder() / (std::to_string(i % kDistinctTiles) + ".png")).string();
}

// The map: the distinct tiles repeated over 64 x 64 places.
const RasterImage& Map() {
    static const std::unique_ptr<RasterImage> map = [] {
        auto image = std::make_unique<RasterImage>(kMapSide, kMapSide, 24, 4);
        std::vector<std::unique_ptr<RasterImage>> tiles;
        for (int i = 0; i < kDistinctTiles; ++i) {
            tiles.push_back(MakeTile(static_cast<unsigned>(i) + 1));
        }
        const bool real = RealTileFolder() != nullptr;
        RasterImage loaded;
        for (int ty = 0; ty < kTilesPerSide; ++ty) {
            for (int tx = 0; tx < kTilesPerSide; ++tx) {
                if (real) {
                    // Tile row 0 is the top of the map; stored rows count from the bottom.
                    const int i = (kTilesPerSide - 1 - ty) * kTilesPerSide + tx;
                    if (!loaded.LoadFile(TilePath(i), quiltara::kFormatPng) ||
                        loaded.BitsPerPixel() != 24 || loaded.Width() != kTile ||
                        loaded.Height() != kTile) {
                        std::fprintf(stderr, "cannot use %s\n", TilePath(i).c_str());
                        std::exit(1);
                    }
                }
                const RasterImage& tile =
                    real ? loaded
                         : *tiles[static_cast<std::size_t>((tx * 7 + ty * 3) % kDistinctTiles)];
                for (int y = 0; y < kTile; ++y) {
                    std::memcpy(image->RowPointer(static_cast<std::uint32_t>(ty * kTile + y)) +
                                    std::size_t{3} * kTile * static_cast<std::size_t>(tx),
                                tile.RowPointer(static_cast<std::uint32_t>(y)), 3 * kTile);
                }
            }
        }
        return image;
    }();
    return *map;
}

// ---- benchmarks ----

void BM_DecodeTiles_Quiltara(benchmark::State& state) {
    const auto& tiles = EncodedTiles();
    for (auto _ : state) {
        for (int i = 0; i < kTilesPerRun; ++i) {
            Bytes& data = const_cast<Bytes&>(tiles[static_cast<std::size_t>(i) % tiles.size()]);
            quiltara::MemoryStream stream(data.data(), static_cast<std::uint32_t>(data.size()));
            RasterImage tile;
            if (!tile.Decode(&stream, quiltara::kFormatPng)) {
                state.SkipWithError("decode failed");
            }
            benchmark::DoNotOptimize(tile.PixelBlock());
        }
    }
    state.counters["tiles/s"] =
        benchmark::Counter(double{kTilesPerRun} * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void BM_DecodeTiles_BareLibpng(benchmark::State& state) {
    const auto& tiles = EncodedTiles();
    for (auto _ : state) {
        for (int i = 0; i < kTilesPerRun; ++i) {
            const Bytes& data = tiles[static_cast<std::size_t>(i) % tiles.size()];
            BareReadSource source{data.data(), data.size(), 0};
            if (!BareDecode(BareRead, &source)) {
                state.SkipWithError("decode failed");
            }
        }
    }
    state.counters["tiles/s"] =
        benchmark::Counter(double{kTilesPerRun} * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void BM_LoadTileFiles_Quiltara(benchmark::State& state) {
    TileFolder();
    for (auto _ : state) {
        for (int i = 0; i < kTilesPerRun; ++i) {
            RasterImage tile;
            if (!tile.LoadFile(TilePath(i), quiltara::kFormatPng)) {
                state.SkipWithError("load failed");
            }
            benchmark::DoNotOptimize(tile.PixelBlock());
        }
    }
    state.counters["tiles/s"] =
        benchmark::Counter(double{kTilesPerRun} * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void BareReadFile(png_structp png, png_bytep out, std::size_t length) {
    if (std::fread(out, 1, length, static_cast<std::FILE*>(png_get_io_ptr(png))) != length) {
        png_error(png, "Read Error");
    }
}

void BM_LoadTileFiles_BareLibpng(benchmark::State& state) {
    TileFolder();
    for (auto _ : state) {
        for (int i = 0; i < kTilesPerRun; ++i) {
            std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
                std::fopen(TilePath(i).c_str(), "rb"), std::fclose);
            if (!file || !BareDecode(BareReadFile, file.get())) {
                state.SkipWithError("load failed");
            }
        }
    }
    state.counters["tiles/s"] =
        benchmark::Counter(double{kTilesPerRun} * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void BM_EncodeMap_Quiltara(benchmark::State& state) {
    RasterImage& map = const_cast<RasterImage&>(Map());
    std::size_t written = 0;
    for (auto _ : state) {
        CountingStream sink;
        if (!map.Encode(&sink, quiltara::kFormatPng)) {
            state.SkipWithError("encode failed");
        }
        written = sink.written;
    }
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(map.RowBytes()) * kMapSide *
                                                    static_cast<double>(state.iterations()) / 1e6,
                                                benchmark::Counter::kIsRate);
    state.counters["file MB"] = static_cast<double>(written) / 1e6;
}

void BM_EncodeMap_BareLibpng(benchmark::State& state) {
    const RasterImage& map = Map();
    std::size_t written = 0;
    for (auto _ : state) {
        written = BareEncode(map);
        if (written == 0) {
            state.SkipWithError("encode failed");
        }
    }
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(map.RowBytes()) * kMapSide *
                                                    static_cast<double>(state.iterations()) / 1e6,
                                                benchmark::Counter::kIsRate);
    state.counters["file MB"] = static_cast<double>(written) / 1e6;
}

} // namespace

BENCHMARK(BM_DecodeTiles_Quiltara)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecodeTiles_BareLibpng)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LoadTileFiles_Quiltara)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LoadTileFiles_BareLibpng)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeMap_Quiltara)->Unit(benchmark::kSecond)->Iterations(2);
BENCHMARK(BM_EncodeMap_BareLibpng)->Unit(benchmark::kSecond)->Iterations(2);

BENCHMARK_MAIN();
