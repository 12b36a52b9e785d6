#pragma once

#include <QPointer>
#include <QWidget>

#include <optional>
#include <string>

#include "gui/GuiThreadCalls.h"
#include "run/ProgressMeter.h"
#include "sources/MapSourcesValues.h"
#include "tiles/ProgressSink.h"

class QLabel;
class QListWidget;
class QProgressBar;

namespace quiltara {

class SettingsStore;
struct TileSource;

// The progress list of a run, fed from the worker: every line is queued for
// the GUI thread in the order the run adds it.
class ProgressListSink : public ProgressSink {
public:
    ProgressListSink(QListWidget* list, GuiThreadCalls& calls) : list_(list), calls_(calls) {}

    void ClearLines() override;
    void AddLine(const std::string& line) override;
    // The estimate heads the list; the bar and the status line below it
    // follow the tiles and then the layers.
    void RunEstimated(const RunEstimate& estimate) override;
    void TileStarted(std::size_t index, std::size_t count) override;
    void TilesFromCache(std::size_t fromCache) override { meter_.SetFromCache(fromCache); }
    void StitchStarted(MapLayer layer, const std::string& outputPath) override;

    // The panel's bar and status line; they outlive the run, whose worker
    // the panel joins before it goes.
    void SetRunControls(QProgressBar* bar, QLabel* status) {
        bar_ = bar;
        status_ = status;
    }

private:
    void Show(int value, int maximum, const std::string& status);

    QListWidget* list_;
    GuiThreadCalls& calls_;
    QProgressBar* bar_ = nullptr;
    QLabel* status_ = nullptr;
    ProgressMeter meter_;
    int layers_ = 0;
    int stitched_ = 0;
};

// The map sources dialog, shown on the GUI thread while the worker waits.
class GuiThreadMapSources : public MapSourcesProvider {
public:
    // owner: the window the dialog belongs to (read on the GUI thread only).
    // source: the catalogue source of the run, whose layers are offered.
    GuiThreadMapSources(SettingsStore& store, QPointer<QWidget> owner, GuiThreadCalls& calls,
                        const TileSource* source = nullptr)
        : store_(store), owner_(std::move(owner)), calls_(calls), source_(source) {}

    std::optional<MapSourcesValues> AskMapSources() override;

private:
    SettingsStore& store_;
    QPointer<QWidget> owner_;
    GuiThreadCalls& calls_;
    const TileSource* source_;
};

} // namespace quiltara
