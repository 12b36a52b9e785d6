#pragma once

#include <cstdint>
#include <string>

class QWidget;

namespace quiltara {

class CMainFrame;
class Prompts;
class SettingsStore;
class TileCache;

// The question of Edit > "Clear Tile Cache", saying what clearing frees.
std::string ClearTileCacheQuestion(const TileCache& cache);

// The prompt of Edit > "Tile Cache Size...", with the cap now in force.
std::string TileCacheSizePrompt(std::uint64_t limitBytes);

// Binds the frame's two tile cache commands: "Clear Tile Cache" asks first
// and then empties the cache; "Tile Cache Size..." asks for the cap in
// megabytes (the number input dialog) and keeps it in the settings store,
// for the end of every run from then on. The cache, the settings and the
// prompts outlive the frame.
void BindTileCacheCommands(CMainFrame& frame, TileCache& cache, SettingsStore& settings,
                           Prompts& prompts);

} // namespace quiltara
