#include "TileArt.h"

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>

namespace demomap {
namespace {

struct Glyph {
    char ch;
    std::array<const char*, 7> rows;
};

// Every glyph differs from its mirror image, so a flipped tile cannot pass unnoticed.
constexpr Glyph kGlyphs[] = {
    {'0', {" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "}},
    {'1', {"  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'2', {" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"}},
    {'3', {"#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "}},
    {'4', {"   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "}},
    {'5', {"#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "}},
    {'6', {"  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "}},
    {'7', {"#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "}},
    {'8', {" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "}},
    {'9', {" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "}},
    {'x', {"     ", "     ", "#   #", " # # ", "  #  ", " # # ", "#   #"}},
    {'y', {"     ", "     ", "#   #", "#   #", " ####", "    #", " ### "}},
    {'z', {"     ", "     ", "#####", "   # ", "  #  ", " #   ", "#####"}},
    {'=', {"     ", "     ", "#####", "     ", "#####", "     ", "     "}},
    {'-', {"     ", "     ", "     ", "#####", "     ", "     ", "     "}},
    {'/', {"    #", "    #", "   # ", "  #  ", " #   ", "#    ", "#    "}},
    {'M', {"#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #"}},
    {'a', {"     ", "     ", " ### ", "    #", " ####", "#   #", " ####"}},
    {'p', {"     ", "     ", "#### ", "#   #", "#### ", "#    ", "#    "}},
    {'S', {" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "}},
    {'t', {"  #  ", "  #  ", "#####", "  #  ", "  #  ", "  #  ", "   ##"}},
    {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'e', {"     ", "     ", " ### ", "#   #", "#####", "#    ", " ### "}},
    {'r', {"     ", "     ", "# ## ", "##  #", "#    ", "#    ", "#    "}},
    {'H', {"#   #", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'b', {"#    ", "#    ", "#### ", "#   #", "#   #", "#   #", "#### "}},
};

const Glyph* FindGlyph(char ch) {
    for (const Glyph& glyph : kGlyphs) {
        if (glyph.ch == ch) {
            return &glyph;
        }
    }
    return nullptr;
}

void Plot(TileCanvas& canvas, int px, int py, Rgba colour) {
    if (px >= 0 && py >= 0 && px < canvas.width && py < canvas.height) {
        canvas.At(px, py) = colour;
    }
}

// Where a tile's pixels lie in the world at its zoom.
struct World {
    double size;    // world width and height in pixels
    long long left; // world x of the tile's first column
    long long top;  // world y of the tile's first row
    double stepDeg; // graticule spacing: four lines across a tile's width

    explicit World(const TileRequest& tile)
        : size(std::ldexp(kTileSize, tile.zoom)),
          left(static_cast<long long>(tile.x) * kTileSize),
          top(static_cast<long long>(tile.y) * kTileSize),
          stepDeg(std::ldexp(90.0, -tile.zoom)) {}

    double Longitude(double gx) const { return gx / size * 360.0 - 180.0; }
    double Latitude(double gy) const {
        return std::atan(std::sinh(std::numbers::pi * (1.0 - 2.0 * gy / size))) * 180.0 /
               std::numbers::pi;
    }
    // A graticule line crosses the pixel between world positions a and a + 1.
    bool LongitudeLine(int px) const {
        const double a = static_cast<double>(left + px);
        return std::floor(Longitude(a) / stepDeg) != std::floor(Longitude(a + 1) / stepDeg);
    }
    bool LatitudeLine(int py) const {
        const double a = static_cast<double>(top + py);
        return std::floor(Latitude(a) / stepDeg) != std::floor(Latitude(a + 1) / stepDeg);
    }
    // Two families of diagonal lines in world pixels, standing in for roads.
    bool Road(int px, int py) const {
        const long long gx = left + px;
        const long long gy = top + py;
        const long long a = (gx + gy) % 97;
        const long long b = ((gx - gy) % 131 + 131) % 131;
        return a < 2 || b < 2;
    }
    double U(int px) const { return static_cast<double>(left + px) / size; }
    double V(int py) const { return static_cast<double>(top + py) / size; }
};

std::uint8_t Clamp(double v) {
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// A small deterministic hash for the satellite texture.
std::uint32_t Hash(long long a, long long b, int c) {
    std::uint64_t h = static_cast<std::uint64_t>(a) * 0x9E3779B97F4A7C15ULL;
    h ^= static_cast<std::uint64_t>(b) * 0xC2B2AE3D27D4EB4FULL + static_cast<std::uint64_t>(c);
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 32;
    return static_cast<std::uint32_t>(h);
}

int TerrainBand(const World& world, int px, int py) {
    const double u = world.U(px);
    const double v = world.V(py);
    const double tau = 2.0 * std::numbers::pi;
    const double height = 0.5 + 0.22 * std::sin(tau * 3.0 * u) * std::cos(tau * 2.0 * v) +
                          0.18 * std::sin(tau * 7.0 * (u + v)) +
                          0.08 * std::cos(tau * 13.0 * (u - 2.0 * v));
    const int band = static_cast<int>(std::floor(height * 8.0));
    return band < 0 ? 0 : (band > 7 ? 7 : band);
}

void DrawMapBody(TileCanvas& canvas, const World& world, bool transparent) {
    for (int py = 0; py < canvas.height; ++py) {
        const bool latLine = world.LatitudeLine(py);
        for (int px = 0; px < canvas.width; ++px) {
            Rgba colour;
            if (transparent) {
                colour = {0, 0, 0, 0};
            } else {
                colour = {Clamp(240 - 40 * world.U(px)), Clamp(236 - 30 * world.V(py)), 214, 255};
            }
            if (latLine || world.LongitudeLine(px)) {
                colour = transparent ? Rgba{255, 255, 255, 170} : Rgba{90, 120, 200, 255};
            }
            if (world.Road(px, py)) {
                colour = {255, 160, 40, 255};
            }
            if (!transparent && (px == 0 || py == 0)) {
                colour = {170, 170, 170, 255};
            }
            canvas.At(px, py) = colour;
        }
    }
}

void DrawSatelliteBody(TileCanvas& canvas, const World& world, int zoom) {
    for (int py = 0; py < canvas.height; ++py) {
        const bool latLine = world.LatitudeLine(py);
        for (int px = 0; px < canvas.width; ++px) {
            const std::uint32_t h = Hash((world.left + px) / 8, (world.top + py) / 8, zoom);
            const double shade = static_cast<double>(h % 1000) / 1000.0;
            Rgba colour{Clamp(40 + 70 * shade), Clamp(70 + 60 * shade + 30 * world.V(py)),
                        Clamp(30 + 40 * shade), 255};
            if (latLine || world.LongitudeLine(px)) {
                colour = {230, 220, 80, 255};
            }
            canvas.At(px, py) = colour;
        }
    }
}

// Palette slots of the terrain layer.
constexpr int kContour = 8;
constexpr int kGraticule = 9;
constexpr int kInk = 10;
constexpr int kHalo = 11;

void DrawTerrainBody(TileCanvas& canvas, const World& world) {
    const std::vector<Rgba>& palette = TerrainPalette();
    for (int py = 0; py < canvas.height; ++py) {
        const bool latLine = world.LatitudeLine(py);
        for (int px = 0; px < canvas.width; ++px) {
            const int band = TerrainBand(world, px, py);
            int slot = band;
            if (band != TerrainBand(world, px + 1, py) || band != TerrainBand(world, px, py + 1)) {
                slot = kContour;
            }
            if (latLine || world.LongitudeLine(px)) {
                slot = kGraticule;
            }
            if (px == 0 || py == 0) {
                slot = kGraticule;
            }
            canvas.At(px, py) = palette[slot];
        }
    }
}

} // namespace

const std::vector<Rgba>& TerrainPalette() {
    static const std::vector<Rgba> palette = {
        {168, 208, 150, 255}, {188, 218, 156, 255}, {210, 226, 166, 255}, {226, 220, 160, 255},
        {220, 198, 142, 255}, {204, 174, 128, 255}, {186, 156, 122, 255}, {240, 240, 236, 255},
        {130, 100, 70, 255},  {80, 110, 170, 255},  {20, 20, 20, 255},    {255, 255, 255, 255},
    };
    return palette;
}

void DrawLabel(TileCanvas& canvas, int left, int top, const char* text, int scale, Rgba ink,
               Rgba halo) {
    const int advance = 6 * scale;
    // Halo first, then ink, so neighbouring glyphs' halos never cover ink.
    for (int pass = 0; pass < 2; ++pass) {
        int x0 = left;
        for (const char* c = text; *c != '\0'; ++c, x0 += advance) {
            const Glyph* glyph = FindGlyph(*c);
            if (glyph == nullptr) {
                continue;
            }
            for (int row = 0; row < 7; ++row) {
                for (int col = 0; col < 5; ++col) {
                    if (glyph->rows[row][col] != '#') {
                        continue;
                    }
                    for (int sy = 0; sy < scale; ++sy) {
                        for (int sx = 0; sx < scale; ++sx) {
                            const int px = x0 + col * scale + sx;
                            const int py = top + row * scale + sy;
                            if (pass == 0) {
                                for (int dy = -1; dy <= 1; ++dy) {
                                    for (int dx = -1; dx <= 1; ++dx) {
                                        Plot(canvas, px + dx, py + dy, halo);
                                    }
                                }
                            } else {
                                Plot(canvas, px, py, ink);
                            }
                        }
                    }
                }
            }
        }
    }
}

void HideColours(TileCanvas& canvas) {
    for (int py = 0; py < canvas.height; ++py) {
        for (int px = 0; px < canvas.width; ++px) {
            Rgba& pixel = canvas.At(px, py);
            if (pixel.a == 0) {
                pixel = (px + py) / 8 % 2 == 0 ? Rgba{255, 0, 255, 0} : Rgba{0, 255, 60, 0};
            }
        }
    }
}

TileCanvas DrawTile(const TileRequest& tile) {
    TileCanvas canvas;
    const World world(tile);
    Rgba ink{20, 20, 20, 255};
    Rgba halo{255, 255, 255, 255};
    switch (tile.layer) {
        case TileLayer::Map:
            DrawMapBody(canvas, world, false);
            break;
        case TileLayer::Hybrid:
            DrawMapBody(canvas, world, true);
            ink = {255, 255, 255, 255};
            halo = {0, 0, 0, 255};
            break;
        case TileLayer::Satellite:
            DrawSatelliteBody(canvas, world, tile.zoom);
            ink = {255, 255, 255, 255};
            halo = {0, 0, 0, 255};
            break;
        case TileLayer::Terrain:
            DrawTerrainBody(canvas, world);
            ink = TerrainPalette()[kInk];
            halo = TerrainPalette()[kHalo];
            break;
    }
    const std::string lines[] = {"z=" + std::to_string(tile.zoom), "x=" + std::to_string(tile.x),
                                 "y=" + std::to_string(tile.y), LayerLabel(tile.layer)};
    int top = 10;
    for (const std::string& line : lines) {
        DrawLabel(canvas, 10, top, line.c_str(), 3, ink, halo);
        top += 27;
    }
    return canvas;
}

} // namespace demomap
