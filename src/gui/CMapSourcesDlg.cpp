#include "gui/CMapSourcesDlg.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include "gui/DialogUnits.h"
#include "sources/PublishSettings.h"
#include "sources/SourceCatalogue.h"

namespace quiltara {
namespace {

// One layer's group and the ids of its controls.
struct GroupTemplate {
    MapLayer layer;
    const char* caption;
    int download;
    int useDefault;
    int url;
    int sameFolder;
    int folder;
};

// Top to bottom.
constexpr std::array<GroupTemplate, 4> kGroups = {{
    {MapLayer::Map, "Road Map", 1029, 1033, 1030, 1034, 1019},
    {MapLayer::Satellite, "Satellite", 1031, 1035, 1032, 1036, 1020},
    {MapLayer::Terrain, "Terrain", 1037, 1038, 1039, 1040, 1021},
    {MapLayer::Hybrid, "Hybrid", 1041, 1042, 1043, 1044, 1022},
}};

constexpr int kGroupHeight = 52;
constexpr int kGroupStep = 56;
// Below the four layers: what is made of their images, then OK and Cancel.
constexpr int kImagesTop = 7 + 4 * kGroupStep;
constexpr int kButtonsTop = kImagesTop + 44;

QString Id(int id) {
    return QString::number(id);
}

} // namespace

CMapSourcesDlg::CMapSourcesDlg(SettingsStore& store, QWidget* parent, const TileSource* source)
    : QDialog(parent, kDialogFlags),
      store_(store),
      source_(source),
      values_(InitialMapSourcesValues(store)) {
    setObjectName(QStringLiteral("142"));
    setWindowTitle(QStringLiteral("Select the maps you wish to download"));
    const DialogUnits units(font());
    setFixedSize(units.Size(330, kButtonsTop + 21));

    for (size_t i = 0; i < kGroups.size(); ++i) {
        BuildGroup(i, 7 + static_cast<int>(i) * kGroupStep);
    }
    BuildImagesGroup(kImagesTop);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(Id(1));
    ok->setDefault(true);
    units.Place(ok, 219, kButtonsTop, 50, 14);
    connect(ok, &QPushButton::clicked, this, &CMapSourcesDlg::accept);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(Id(2));
    cancel->setAutoDefault(false);
    units.Place(cancel, 273, kButtonsTop, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &CMapSourcesDlg::reject);

    for (const GroupTemplate& group : kGroups) {
        const OfferedSource offered = source_ != nullptr
                                          ? OfferedSource{DefaultFor(group.layer), true}
                                          : LoadOfferedSource(store_, group.layer);
        LayerControls& c = Controls(group.layer);
        c.url->setText(QString::fromStdString(offered.sourceUrl));
        c.url->setCursorPosition(0); // the host is what tells the templates apart
        c.useDefault->setChecked(offered.usesDefault);
        c.sameFolder->setChecked(true);
        c.download->setChecked(false);
    }
    for (const GroupTemplate& group : kGroups) {
        ApplyDownloadRule(group.layer);
        const SourceLayer* offered = source_ != nullptr ? source_->Layer(group.layer) : nullptr;
        if (source_ != nullptr) {
            // The layer as the source calls it; one it lacks cannot be chosen.
            LayerControls& c = Controls(group.layer);
            c.download->setEnabled(offered != nullptr);
            c.group->setTitle(QStringLiteral("%1: %2").arg(
                QString::fromUtf8(group.caption),
                offered != nullptr ? QString::fromStdString(offered->name)
                                   : QStringLiteral("not offered by %1")
                                         .arg(QString::fromStdString(source_->name))));
        }
    }
    ApplyCompositeRule();
}

void CMapSourcesDlg::BuildImagesGroup(int top) {
    const DialogUnits units(font());
    auto* box = new QGroupBox(QStringLiteral("Images"), this);
    units.Place(box, 7, top, 316, 39);
    stampAttribution_ = new QCheckBox(QStringLiteral("Draw the attribution on the images"), this);
    stampAttribution_->setObjectName(QStringLiteral("stampAttribution"));
    stampAttribution_->setChecked(LoadStampAttribution(store_));
    units.Place(stampAttribution_, 14, top + 11, 300, 10);
    satelliteHybrid_ =
        new QCheckBox(QStringLiteral("Lay the hybrid layer over the satellite image"), this);
    satelliteHybrid_->setObjectName(QStringLiteral("satelliteHybrid"));
    satelliteHybrid_->setToolTip(
        QStringLiteral("An image of its own, made when Satellite and Hybrid are both downloaded"));
    units.Place(satelliteHybrid_, 14, top + 24, 300, 10);
    for (MapLayer layer : {kSatelliteHybrid.base, kSatelliteHybrid.overlay}) {
        connect(Controls(layer).download, &QCheckBox::toggled, this,
                &CMapSourcesDlg::ApplyCompositeRule);
    }
}

MapSourcesValues CMapSourcesDlg::Downloads() const {
    MapSourcesValues chosen;
    for (const GroupTemplate& group : kGroups) {
        chosen[group.layer].download =
            controls_[static_cast<size_t>(group.layer)].download->isChecked();
    }
    return chosen;
}

void CMapSourcesDlg::ApplyCompositeRule() {
    // Kept ticked while unavailable, so that ticking both layers again brings it back.
    satelliteHybrid_->setEnabled(CompositeAvailable(Downloads(), kSatelliteHybrid));
}

std::string CMapSourcesDlg::DefaultFor(MapLayer layer) const {
    if (source_ == nullptr) {
        return DefaultSourceUrl(layer);
    }
    const SourceLayer* offered = source_->Layer(layer);
    return offered != nullptr ? offered->tileTemplate.Text() : std::string();
}

void CMapSourcesDlg::BuildGroup(size_t index, int top) {
    const GroupTemplate& t = kGroups[index];
    const MapLayer layer = t.layer;
    const DialogUnits units(font());
    auto* box = new QGroupBox(QString::fromUtf8(t.caption), this);
    units.Place(box, 7, top, 316, kGroupHeight);

    LayerControls& c = Controls(layer);
    c.group = box;
    const auto check = [&](int id, const char* text, int y) {
        auto* checkBox = new QCheckBox(QString::fromUtf8(text), this);
        checkBox->setObjectName(Id(id));
        units.Place(checkBox, 14, top + y, 92, 10);
        return checkBox;
    };
    c.download = check(t.download, "Will be downloaded", 11);
    c.useDefault = check(t.useDefault, "Default Source URL", 24);
    c.sameFolder = check(t.sameFolder, "Saved to same folder", 37);
    c.url = new QLineEdit(this);
    c.url->setObjectName(Id(t.url));
    units.Place(c.url, 110, top + 23, 206, 12);
    c.folder = new QLineEdit(this);
    c.folder->setObjectName(Id(t.folder));
    units.Place(c.folder, 110, top + 36, 100, 12);

    connect(c.download, &QCheckBox::toggled, this, [this, layer] { ApplyDownloadRule(layer); });
    connect(c.useDefault, &QCheckBox::toggled, this, [this, layer] { ApplyDefaultRule(layer); });
    connect(c.sameFolder, &QCheckBox::toggled, this, [this, layer] { ApplySameFolderRule(layer); });
}

void CMapSourcesDlg::ApplyDownloadRule(MapLayer layer) {
    LayerControls& c = Controls(layer);
    const bool downloaded = c.download->isChecked();
    c.useDefault->setEnabled(downloaded);
    c.sameFolder->setEnabled(downloaded);
    ApplyDefaultRule(layer);
    ApplySameFolderRule(layer);
}

void CMapSourcesDlg::ApplyDefaultRule(MapLayer layer) {
    LayerControls& c = Controls(layer);
    const bool useDefault = c.useDefault->isChecked();
    c.url->setEnabled(!useDefault);
    if (useDefault) {
        c.url->setText(QString::fromStdString(DefaultFor(layer)));
        c.url->setCursorPosition(0);
    }
}

void CMapSourcesDlg::ApplySameFolderRule(MapLayer layer) {
    LayerControls& c = Controls(layer);
    c.folder->setEnabled(!c.sameFolder->isChecked());
}

int CMapSourcesDlg::DoModal() {
    return exec() == QDialog::Accepted ? kIdOk : kIdCancel;
}

void CMapSourcesDlg::accept() {
    for (const GroupTemplate& group : kGroups) {
        LayerControls& c = Controls(group.layer);
        LayerSource& source = values_[group.layer];
        source.download = c.download->isChecked();
        source.sourceUrl = c.url->text().toStdString();
        source.subfolder = c.folder->text().toStdString();
    }
    values_.publish =
        ChosenPublishing(values_, stampAttribution_->isChecked(), satelliteHybrid_->isChecked());
    StoreStampAttribution(store_, stampAttribution_->isChecked());
    if (source_ == nullptr) {
        // A catalogue source's templates belong to its file; an edited one
        // serves this run only.
        StoreSourceUrls(store_, values_);
    }
    QDialog::accept();
}

std::optional<MapSourcesValues> DialogMapSources::AskMapSources() {
    CMapSourcesDlg dialog(store_, parent_, source_);
    if (dialog.DoModal() != CMapSourcesDlg::kIdOk) {
        return std::nullopt;
    }
    return dialog.Values();
}

} // namespace quiltara
