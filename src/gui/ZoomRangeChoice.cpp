#include "gui/ZoomRangeChoice.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>

#include "gui/DialogUnits.h"
#include "platform/SettingsStore.h"
#include "run/CreateMapRun.h"
#include "stitch/StreamingStitcher.h"
#include "tiles/TextFormat.h"

namespace quiltara {

ZoomRangeChoice::ZoomRangeChoice(QComboBox* zoomList, SettingsStore& settings, QWidget* panel,
                                 const DialogUnits& units)
    : QObject(panel),
      zoomList_(zoomList),
      settings_(settings),
      label_(new QLabel(QStringLiteral("from zoom"), panel)),
      combo_(new QComboBox(panel)),
      saveType_(settings.GetInt(kMapFileTypeSetting, 0)) {
    label_->setObjectName(QStringLiteral("fromZoomLabel"));
    combo_->setObjectName(QStringLiteral("fromZoom"));
    combo_->setMaxVisibleItems(10);
    // Beside the zoom list, on its row of the selection details.
    units.Place(label_, 114, 91, 36, 10);
    units.Place(combo_, 152, 89, 40, 12);
    connect(zoomList_, &QComboBox::currentTextChanged, this, &ZoomRangeChoice::FollowDeepest);
    connect(combo_, &QComboBox::activated, this,
            [this] { picked_ = ReadLeadingInt(combo_->currentText().toStdString()); });
    zoomList_->installEventFilter(this);
    FollowDeepest();
    Show();
}

bool ZoomRangeChoice::eventFilter(QObject* watched, QEvent* event) {
    if (watched == zoomList_ && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        Show();
    }
    return QObject::eventFilter(watched, event);
}

bool ZoomRangeChoice::PackageChosen() const {
    return IsPackage(SaveTypeFormat(saveType_));
}

void ZoomRangeChoice::Show() {
    const bool shown = !zoomList_->isHidden() && PackageChosen();
    label_->setVisible(shown);
    combo_->setVisible(shown);
}

void ZoomRangeChoice::TypeChosen(int saveType) {
    if (saveType < 0 || saveType == saveType_) {
        return;
    }
    saveType_ = saveType;
    settings_.SetInt(kMapFileTypeSetting, saveType);
    Show();
}

void ZoomRangeChoice::FillInputs(CreateMapInputs& inputs) const {
    inputs.saveType = saveType_;
    inputs.firstZoom = PackageChosen() && combo_->count() > 0
                           ? ReadLeadingInt(combo_->currentText().toStdString())
                           : -1;
}

void ZoomRangeChoice::FollowDeepest() {
    const int deepest = ReadLeadingInt(zoomList_->currentText().toStdString());
    combo_->clear();
    for (int zoom = 1; zoom <= deepest; ++zoom) {
        combo_->addItem(QString::number(zoom));
    }
    // Until a zoom is picked the package holds the list's zoom alone.
    const int shown = picked_ < 1 || picked_ > deepest ? deepest : picked_;
    combo_->setCurrentIndex(shown - 1);
}

} // namespace quiltara
