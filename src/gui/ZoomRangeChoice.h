#pragma once

#include <QObject>

class QComboBox;
class QLabel;
class QWidget;

namespace quiltara {

class DialogUnits;
class SettingsStore;
struct CreateMapInputs;

// The settings value holding the file type last picked in the save dialog.
inline constexpr const char* kMapFileTypeSetting = "MapFileType";

// The "from zoom" choice beside the control panel's zoom list: a package
// holds every zoom from this one down to the zoom list's choice, its deepest.
// It is shown, with the selection details, while the file type last picked
// in the save dialog is a package type, and the next save dialog opens on
// that type, so a package made once is made again the same way.
class ZoomRangeChoice : public QObject {
    Q_OBJECT

public:
    ZoomRangeChoice(QComboBox* zoomList, SettingsStore& settings, QWidget* panel,
                    const DialogUnits& units);

    // The type picked in a run's save dialog (-1: the run asked for none).
    void TypeChosen(int saveType);
    // The run's first zoom (-1 unless shown: the zoom list's zoom alone) and
    // the type its save dialog shows first.
    void FillInputs(CreateMapInputs& inputs) const;

    bool PackageChosen() const;
    QComboBox* Combo() const { return combo_; }

protected:
    // Follows the zoom list: shown with it while the last type is a package.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Show();
    // Entries "1" to the zoom list's zoom; the zoom picked stays while it fits.
    void FollowDeepest();

    QComboBox* zoomList_;
    SettingsStore& settings_;
    QLabel* label_;
    QComboBox* combo_;
    int saveType_;
    int picked_ = -1; // the zoom the user picked; -1: none, the deepest
};

} // namespace quiltara
