#pragma once

#include <QDialog>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "assembly/CancelFlag.h"
#include "assembly/CreateMapRun.h"
#include "assembly/TileDownloader.h"
#include "platform/GuiThreadCalls.h"
#include "tiles/TileGrid.h"
#include "sources/SourceCatalogue.h"
#include "tiles/TileSources.h"
#include "view/PanelValues.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QListWidget;
class QPushButton;

namespace quiltara {

class CMainFrame;
class CSelectionOverlay;
class HttpClient;
class Prompts;
class SettingsStore;

inline constexpr const char* kCustomZoomPrompt =
    "Please input the new maximum zoom level.  Be aware that, if the images do not exist within "
    "google, errors will be received when you download your images.";
inline constexpr const char* kBadCustomZoomMessage =
    "Sorry, I couldn't interpret the number you input.  Please input a number between 1 and 50.";
inline constexpr const char* kDrawSelectionHint =
    "Please draw a selection around the area on the google map";
inline constexpr const char* kSelectionMadeHint = "Your selection is made, choose the zoom level";
inline constexpr const char* kNewLocationHint = "Choose your new location";

// What the panel needs from the application.
struct ControlPanelServices {
    Prompts& prompts; // shown on the GUI thread
    SettingsStore& settings;
    RememberedServerNumber& rememberedServer;
    OverwriteChoice& overwriteChoice;
    // Makes the HTTP client of one create-map run, on the run's worker thread.
    std::function<std::unique_ptr<HttpClient>()> makeHttpClient;
};

// The modeless "Toolbar" window that walks the user through making a map:
// go to the map site, select an area, choose the output zoom, create the map.
// It owns the values that tie the steps together (the selection, the page
// zoom, the tile list and range) and shows the live location readout.
// A create-map run goes on a worker thread; meanwhile the panel and the map
// take no input, the window keeps painting, progress lines arrive in the
// list as they are added and every question is asked on the GUI thread.
class CControlPanel : public QDialog {
    Q_OBJECT

public:
    // Control ids, kept as the controls' object names.
    enum ControlId {
        kIdXValue = 1000,
        kIdYValue = 1001,
        kIdDetails = 1002,
        kIdZoomValue = 1003,
        kIdXImages = 1004,
        kIdSelectArea = 1005,
        kIdHint = 1006,
        kIdYImages = 1007,
        kIdTotImages = 1008,
        kIdZoomList = 1009,
        kIdCreateMap = 1010,
        kIdSelectionGroup = 1011,
        kIdProgress = 1015,
        kIdStitch = 1016,
        kIdDrawHelper = 1017,
        kIdNewLocation = 1018,
        kIdLatText = 1020,
        kIdLongText = 1022,
        kIdGotoSite = 1023,
    };

    CControlPanel(CMainFrame* frame, ControlPanelServices services, QWidget* parent = nullptr);
    ~CControlPanel() override;

    // The handlers of the panel's buttons and zoom list.
    void OnGotoSite();
    void OnSelectArea();
    void OnNewLocation();
    void OnZoomChosen();
    void OnCreateMap();
    void OnDrawHelper();
    // Cancel under the progress list: the run stops after the tile in flight.
    void OnCancelRun();

    // The end of a drag over the map: locks the map and asks the probe for
    // the selection overlay's rectangle in tile units.
    void OnSelectionDone();
    // Selection done once the probe has measured the selection: selection at
    // the page zoom, and the selection rectangle's top-left corner in view pixels.
    void ApplySelection(const CTileRect& selection, int originX, int originY);

    // Enter and Escape end the panel the toolkit's way (it hides), except
    // while a run is under way.
    void accept() override;
    void reject() override;

    bool IsRunning() const { return worker_.joinable(); }
    const CTileRect& Selection() const { return selection_; }
    int PageZoom() const { return pageZoom_; }
    const std::vector<CTileCell>& TileList() const { return tiles_; }
    const TileRange& Range() const { return range_; }
    const OverwriteRunState& RunState() const { return runState_; }
    // What the location readout wrote last.
    const PanelValues& Values() const { return values_; }

signals:
    // A create-map run has ended and its last message has been answered.
    void CreateMapFinished();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    // The map view's selection overlay, made if the view has none yet, with
    // its selection-done signal connected; none without a map view.
    CSelectionOverlay* Overlay();
    void OnLocationChanged();
    void ShowSelectionDetails(bool show);
    void ApplyRange(const RangeUpdate& update);
    void RunCustomEntry();
    void SetRunning(bool running);
    void RunCreateMap(const CreateMapInputs& inputs, const std::string& languageCode,
                      const QPointer<QWidget>& owner, int connections);
    void FinishRun(const CreateMapOutcome& outcome, const std::string& failure);
    QLabel* Label(int id) const;

    QPointer<CMainFrame> frame_;
    ControlPanelServices services_;

    QPushButton* gotoSite_ = nullptr;
    QPushButton* selectArea_ = nullptr;
    QPushButton* newLocation_ = nullptr;
    QPushButton* createMap_ = nullptr;
    QPushButton* stitch_ = nullptr;
    QPushButton* drawHelper_ = nullptr;
    QComboBox* zoomList_ = nullptr;
    QListWidget* progress_ = nullptr;
    QLabel* runStatus_ = nullptr;
    QProgressBar* runProgress_ = nullptr;
    QPushButton* cancelRun_ = nullptr;
    CancelFlag cancel_;
    QLabel* details_ = nullptr;
    std::vector<QWidget*> selectionDetails_;

    bool selecting_ = false;
    CTileRect selection_;
    int originX_ = 0;
    int originY_ = 0;
    int pageZoom_ = -1;
    std::vector<CTileCell> tiles_;
    TileRange range_;
    OverwriteRunState runState_;
    PanelValues values_;
    int chosenZoomIndex_ = 0; // the entry to go back to when the custom entry changes nothing

    GuiThreadCalls calls_{this};
    std::thread worker_;
    std::atomic<bool> stopRun_{false};
    std::vector<std::pair<QWidget*, bool>> lockedDuringRun_;
    std::optional<TileSource> runSource_; // the catalogue source of the run under way
};

} // namespace quiltara
