#pragma once

#include <QDialog>

#include <array>

#include "sources/MapSourcesValues.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QWidget;

namespace quiltara {

class SettingsStore;
struct TileSource;

// "Select the maps you wish to download": per map layer whether it is
// downloaded, from which source URL template and into which subfolder. The
// templates come from the settings store and OK stores them back; the
// download choices and subfolders are asked afresh at every opening. Below
// the layers: whether the attribution is drawn on the images (remembered in
// the store) and whether the hybrid layer is laid over the satellite image.
class CMapSourcesDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kIdOk = 1;
    static constexpr int kIdCancel = 2;

    // source: a catalogue source on show, whose layers and templates are
    // offered instead of the map service's (its templates are not stored);
    // a layer it lacks cannot be chosen.
    explicit CMapSourcesDlg(SettingsStore& store, QWidget* parent = nullptr,
                            const TileSource* source = nullptr);

    // Runs the dialog modally; kIdOk or kIdCancel.
    int DoModal();

    // The choice confirmed with OK (every layer off and the offered
    // templates before that).
    const MapSourcesValues& Values() const { return values_; }

    void accept() override;

private:
    // The controls of one layer's group.
    struct LayerControls {
        QGroupBox* group = nullptr;
        QCheckBox* download = nullptr;
        QCheckBox* useDefault = nullptr;
        QCheckBox* sameFolder = nullptr;
        QLineEdit* url = nullptr;
        QLineEdit* folder = nullptr;
    };

    // The group of the index-th layer from the top, its top edge at top dialog units.
    void BuildGroup(size_t index, int top);
    // The choices of what is made of the layers' images, top edge at top.
    void BuildImagesGroup(int top);
    // The download boxes as they stand.
    MapSourcesValues Downloads() const;
    void ApplyCompositeRule();
    void ApplyDownloadRule(MapLayer layer);
    void ApplyDefaultRule(MapLayer layer);
    void ApplySameFolderRule(MapLayer layer);
    std::string DefaultFor(MapLayer layer) const;
    LayerControls& Controls(MapLayer layer) { return controls_[static_cast<size_t>(layer)]; }

    SettingsStore& store_;
    const TileSource* source_;
    std::array<LayerControls, 4> controls_;
    QCheckBox* stampAttribution_ = nullptr;
    QCheckBox* satelliteHybrid_ = nullptr;
    MapSourcesValues values_;
};

// Asks for the map sources with the dialog, made anew for every run.
class DialogMapSources : public MapSourcesProvider {
public:
    DialogMapSources(SettingsStore& store, QWidget* parent = nullptr,
                     const TileSource* source = nullptr)
        : store_(store), parent_(parent), source_(source) {}

    std::optional<MapSourcesValues> AskMapSources() override;

private:
    SettingsStore& store_;
    QWidget* parent_;
    const TileSource* source_;
};

} // namespace quiltara
