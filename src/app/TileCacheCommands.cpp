#include "app/TileCacheCommands.h"

#include <QAction>

#include <cstdlib>
#include <limits>

#include "app/CMainFrame.h"
#include "app/CommandIds.h"
#include "download/TileCache.h"
#include "gui/CNumberInputDlg.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "run/RunEstimate.h"
#include "tiles/TextFormat.h"

namespace quiltara {

std::string ClearTileCacheQuestion(const TileCache& cache) {
    const TileCache::Usage usage = cache.Measure();
    return FormatText("Clear the tile cache?  This deletes %zu stored %s and frees ", usage.entries,
                      usage.entries == 1 ? "tile" : "tiles") +
           ByteSizeText(usage.bytes) + " in " + cache.Folder().string() +
           ".  The next maps download their tiles again.";
}

std::string TileCacheSizePrompt(std::uint64_t limitBytes) {
    return FormatText("Largest size of the tile cache in MB (now %llu):",
                      static_cast<unsigned long long>(limitBytes / kMegabyte));
}

void BindTileCacheCommands(CMainFrame& frame, TileCache& cache, SettingsStore& settings,
                           Prompts& prompts) {
    QObject::connect(
        frame.Command(kIdEditClearTileCache), &QAction::triggered, &frame, [&cache, &prompts] {
            if (prompts.ShowMessage(ClearTileCacheQuestion(cache), MessageButtons::YesNo) ==
                MessageAnswer::Yes) {
                cache.Clear();
            }
        });
    QObject::connect(frame.Command(kIdEditTileCacheSize), &QAction::triggered, &frame,
                     [&frame, &cache, &settings, &prompts] {
                         CNumberInputDlg dialog(TileCacheSizePrompt(cache.LimitBytes()), &frame);
                         if (dialog.DoModal() != CNumberInputDlg::kIdOk) {
                             return;
                         }
                         const long long megabytes = std::atoll(dialog.EnteredText().c_str());
                         if (megabytes < 0 || megabytes > std::numeric_limits<int>::max()) {
                             prompts.ShowMessage("The tile cache size is a number of MB from 0 up.",
                                                 MessageButtons::Ok);
                             return;
                         }
                         settings.SetInt(kTileCacheSizeSetting, static_cast<int>(megabytes));
                         cache.SetLimitBytes(static_cast<std::uint64_t>(megabytes) * kMegabyte);
                     });
}

} // namespace quiltara
