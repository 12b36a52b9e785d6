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

#include "download/TileDownloader.h"
#include "gui/GuiThreadCalls.h"
#include "gui/MapWindow.h"
#include "platform/CancelFlag.h"
#include "run/ControlPanelState.h"
#include "run/CreateMapRun.h"
#include "sources/SourceCatalogue.h"
#include "tiles/TileGrid.h"
#include "tiles/TileSources.h"
#include "view/PanelValues.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QListWidget;
class QPushButton;

namespace quiltara {

class CSelectionOverlay;
class HttpClient;
class RunImagesList;
struct RunImage;
class Prompts;
struct SelectionState;
class SettingsStore;
class ZoomRangeChoice;

inline constexpr const char* kStopAndQuitQuestion = "A map is being made. Stop it and quit?";

// What the panel needs from the application.
struct ControlPanelServices {
    Prompts& prompts; // shown on the GUI thread
    SettingsStore& settings;
    RememberedServerNumber& rememberedServer;
    OverwriteChoice& overwriteChoice;
    // Makes the HTTP client of one create-map run, on the run's worker thread.
    std::function<std::unique_ptr<HttpClient>()> makeHttpClient;
    // The application's source catalogue, which the map view and the map
    // pages share, and how to read it again from its files; that replaces
    // its contents in place, on the GUI thread.
    const SourceCatalogue& catalogue;
    std::function<void()> reloadCatalogue;
};

// The modeless "Toolbar" window that walks the user through making a map:
// go to the map site, select an area, choose the output zoom, create the map.
// The values that tie the steps together and their rules are a
// ControlPanelState, which the window shows; it also shows the live location
// readout.
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

    CControlPanel(MapWindow* frame, ControlPanelServices services, QWidget* parent = nullptr);
    ~CControlPanel() override;

    // The handlers of the panel's buttons and zoom list.
    void OnGotoSite();
    void OnSelectArea();
    void OnNewLocation();
    void OnZoomChosen();
    void OnCreateMap();
    void OnDrawHelper();
    // Cancel under the progress list: the run stops, keeping every finished tile.
    void OnCancelRun();
    // "Open Folder" after a run: the folder of the images it saved.
    void OnOpenFolder();

    // Shows "1. Goto Google maps..." again, with hint, so that the site
    // chooser's tile sources can be reached from an open page.
    void OfferSiteChooser(const std::string& hint) {
        state_.OfferSiteChooser(hint);
        ShowState();
    }

    // Whether the program may close now. During a run the user is asked
    // first; yes stops the run as Cancel does and waits for it to end.
    bool ConfirmQuit();

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
    const ControlPanelState& State() const { return state_; }
    const CTileRect& Selection() const { return state_.Selection(); }
    int PageZoom() const { return state_.PageZoom(); }
    const std::vector<CTileCell>& TileList() const { return state_.TileList(); }
    const TileRange& Range() const { return state_.Range(); }
    const OverwriteRunState& RunState() const { return runState_; }
    const ZoomRangeChoice& FromZoom() const { return *fromZoom_; }
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
    // Brings every control in line with the panel's state.
    void ShowState();
    void ShowZoomList();
    void RunCustomEntry();
    SelectionState* OverlayState();
    void SetRunning(bool running);
    void RunCreateMap(const CreateMapInputs& inputs, const std::string& languageCode,
                      const QPointer<QWidget>& owner, int connections);
    void FinishRun(const CreateMapOutcome& outcome, const std::string& failure,
                   const std::vector<RunImage>& made);
    QLabel* Label(int id) const;

    // The window, or none once its widget is gone.
    MapWindow* Frame() const { return frameWidget_ ? frame_ : nullptr; }

    MapWindow* frame_;
    QPointer<QWidget> frameWidget_;
    ControlPanelServices services_;

    QPushButton* gotoSite_ = nullptr;
    QPushButton* selectArea_ = nullptr;
    QPushButton* newLocation_ = nullptr;
    QPushButton* createMap_ = nullptr;
    QPushButton* stitch_ = nullptr;
    QPushButton* drawHelper_ = nullptr;
    QComboBox* zoomList_ = nullptr;
    ZoomRangeChoice* fromZoom_ = nullptr; // a package's first zoom, beside the list
    QListWidget* progress_ = nullptr;
    QLabel* runStatus_ = nullptr;
    QProgressBar* runProgress_ = nullptr;
    QPushButton* cancelRun_ = nullptr;
    QPushButton* openFolder_ = nullptr;
    std::string savedFolder_; // where the last run saved its images
    CancelFlag cancel_;
    QLabel* details_ = nullptr;
    std::vector<QWidget*> selectionDetails_;
    RunImagesList* images_ = nullptr; // what the last run saved

    ControlPanelState state_;
    OverwriteRunState runState_;
    PanelValues values_;
    bool quitting_ = false; // the program waits for a stopped run before it closes

    GuiThreadCalls calls_{this};
    std::thread worker_;
    std::atomic<bool> stopRun_{false};
    std::optional<TileSource> runSource_; // the catalogue source of the run under way
};

} // namespace quiltara
