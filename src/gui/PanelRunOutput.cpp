#include "gui/PanelRunOutput.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>

#include <algorithm>
#include <memory>

#include "gui/CMapSourcesDlg.h"
#include "run/RunEstimate.h"

namespace quiltara {

void ProgressListSink::ClearLines() {
    QListWidget* list = list_;
    calls_.Post([list] { list->clear(); });
}

void ProgressListSink::AddLine(const std::string& line) {
    QListWidget* list = list_;
    calls_.Post([list, text = QString::fromStdString(line)] {
        list->addItem(text);
        list->scrollToBottom();
    });
}

void ProgressListSink::RunEstimated(const RunEstimate& estimate) {
    layers_ = estimate.layers;
    meter_.LimitRate(estimate.MostTilesPerSecond());
    QListWidget* list = list_;
    calls_.Post([list, text = QString::fromStdString(EstimateText(estimate))] {
        list->insertItem(0, text);
    });
}

void ProgressListSink::TileStarted(std::size_t index, std::size_t count) {
    if (index == 0) {
        meter_.Start(count, ProgressMeter::Clock::now());
    }
    meter_.SetDone(index);
    std::string speed = meter_.SpeedText(ProgressMeter::Clock::now());
    if (meter_.FromCache() > 0) {
        speed +=
            (speed.empty() ? "" : ", ") + std::to_string(meter_.FromCache()) + " from the cache";
    }
    Show(static_cast<int>(index), static_cast<int>(count), speed);
}

void ProgressListSink::StitchStarted(MapLayer layer, const std::string& /*outputPath*/) {
    ++stitched_;
    const int total = static_cast<int>(meter_.Total());
    Show(total, total, StitchText(stitched_, std::max(layers_, stitched_), LayerName(layer)));
}

void ProgressListSink::Show(int value, int maximum, const std::string& status) {
    QProgressBar* bar = bar_;
    QLabel* label = status_;
    calls_.Post([bar, label, value, maximum, text = QString::fromStdString(status)] {
        bar->setRange(0, maximum);
        bar->setValue(value);
        label->setText(text);
    });
}

std::optional<MapSourcesValues> GuiThreadMapSources::AskMapSources() {
    auto chosen = std::make_shared<std::optional<MapSourcesValues>>();
    SettingsStore* store = &store_;
    QPointer<QWidget> owner = owner_;
    const TileSource* source = source_;
    if (!calls_.Run([store, owner, chosen, source] {
            *chosen = DialogMapSources(*store, owner.data(), source).AskMapSources();
        })) {
        return std::nullopt;
    }
    return *chosen;
}

} // namespace quiltara
