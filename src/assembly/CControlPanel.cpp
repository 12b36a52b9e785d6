#include "assembly/CControlPanel.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>

#include <algorithm>

#include "app/CMainFrame.h"
#include "app/CNumberInputDlg.h"
#include "app/DialogUnits.h"
#include "assembly/ParallelTileFetch.h"
#include "assembly/ProgressMeter.h"
#include "assembly/RunEstimate.h"
#include "assembly/StreamingStitcher.h"
#include "assembly/TileImageCheck.h"
#include "platform/GuiThreadPrompts.h"
#include "platform/HttpClient.h"
#include "sources/CMapSourcesDlg.h"
#include "sources/CSiteChooserDlg.h"
#include "sources/SiteChoice.h"
#include "tiles/TextFormat.h"
#include "view/CQuiltaraView.h"
#include "view/CSelectionOverlay.h"

namespace quiltara {
namespace {

constexpr const char* kSelectAreaText = "2. Select Area";
constexpr const char* kDoneText = "3. Done";
constexpr const char* kCustomMarker = "custom";

// The controls that are neither buttons nor the zoom list, as the template
// lists them (ids -1: labels nothing refers to).
struct StaticTemplate {
    int id;
    const char* text;
    int x, y, width, height;
    bool selectionDetail;
};

constexpr StaticTemplate kStatics[] = {
    {-1, "X:", 7, 19, 11, 11, false},           {1000, "Unknown", 23, 19, 96, 11, false},
    {-1, "Y:", 10, 33, 8, 11, false},           {1001, "Unknown", 23, 33, 93, 11, false},
    {-1, "Zoom:", 153, 16, 36, 11, false},      {1003, "Unknown", 200, 16, 42, 11, false},
    {1006, "", 112, 55, 136, 20, false},        {1012, "x images:", 13, 115, 33, 11, true},
    {1004, "Unknown", 52, 115, 74, 11, true},   {1013, "y images:", 13, 129, 33, 11, true},
    {1007, "Unknown", 52, 129, 71, 11, true},   {1014, "tot images:", 13, 144, 41, 11, true},
    {1008, "Unknown", 64, 144, 35, 11, true},   {1021, "Long:", 123, 115, 20, 11, true},
    {1022, "Unknown", 148, 115, 100, 11, true}, {1019, "Lat:", 122, 128, 21, 11, true},
    {1020, "Unknown", 148, 128, 100, 11, true},
};

QStringList InitialZoomEntries() {
    QStringList entries{QStringLiteral("(enter zoom)")};
    for (int zoom = 1; zoom <= 19; ++zoom) {
        entries << QString::number(zoom);
    }
    entries << QStringLiteral("(custom)...");
    return entries;
}

// The progress list of a run, fed from the worker: every line is queued for
// the GUI thread in the order the run adds it.
class ProgressListSink : public ProgressSink {
public:
    ProgressListSink(QListWidget* list, GuiThreadCalls& calls) : list_(list), calls_(calls) {}

    void ClearLines() override {
        QListWidget* list = list_;
        calls_.Post([list] { list->clear(); });
    }
    void AddLine(const std::string& line) override {
        QListWidget* list = list_;
        calls_.Post([list, text = QString::fromStdString(line)] {
            list->addItem(text);
            list->scrollToBottom();
        });
    }

    // The estimate heads the list; the bar and the status line below it
    // follow the tiles and then the layers.
    void RunEstimated(const RunEstimate& estimate) override {
        layers_ = estimate.layers;
        QListWidget* list = list_;
        calls_.Post([list, text = QString::fromStdString(EstimateText(estimate))] {
            list->insertItem(0, text);
        });
    }
    void TileStarted(std::size_t index, std::size_t count) override {
        if (index == 0) {
            meter_.Start(count, ProgressMeter::Clock::now());
        }
        meter_.SetDone(index);
        Show(static_cast<int>(index), static_cast<int>(count),
             meter_.SpeedText(ProgressMeter::Clock::now()));
    }
    void StitchStarted(MapLayer layer, const std::string& /*outputPath*/) override {
        ++stitched_;
        const int total = static_cast<int>(meter_.Total());
        Show(total, total, StitchText(stitched_, std::max(layers_, stitched_), LayerName(layer)));
    }

    // The panel's bar and status line; they outlive the run, whose worker
    // the panel joins before it goes.
    void SetRunControls(QProgressBar* bar, QLabel* status) {
        bar_ = bar;
        status_ = status;
    }

private:
    void Show(int value, int maximum, const std::string& status) {
        QProgressBar* bar = bar_;
        QLabel* label = status_;
        calls_.Post([bar, label, value, maximum, text = QString::fromStdString(status)] {
            bar->setRange(0, maximum);
            bar->setValue(value);
            label->setText(text);
        });
    }

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
    GuiThreadMapSources(SettingsStore& store, QPointer<QWidget> owner, GuiThreadCalls& calls)
        : store_(store), owner_(std::move(owner)), calls_(calls) {}

    std::optional<MapSourcesValues> AskMapSources() override {
        auto chosen = std::make_shared<std::optional<MapSourcesValues>>();
        SettingsStore* store = &store_;
        QPointer<QWidget> owner = owner_;
        if (!calls_.Run([store, owner, chosen] {
                *chosen = DialogMapSources(*store, owner.data()).AskMapSources();
            })) {
            return std::nullopt;
        }
        return *chosen;
    }

private:
    SettingsStore& store_;
    QPointer<QWidget> owner_;
    GuiThreadCalls& calls_;
};

} // namespace

CControlPanel::CControlPanel(CMainFrame* frame, ControlPanelServices services, QWidget* parent)
    : QDialog(parent, kDialogFlags), frame_(frame), services_(std::move(services)) {
    setObjectName(QStringLiteral("130"));
    setWindowTitle(QStringLiteral("Toolbar"));
    setModal(false);
    BuildControls();
    resize(DialogUnits(font()).Size(255, 275));

    selecting_ = false;
    ShowSelectionDetails(false);
    zoomList_->setCurrentIndex(0);
    pageZoom_ = -1;
    values_.detectedLayer = 0;
    runState_.overwriteAsked = false;

    if (CQuiltaraView* view = frame_ ? frame_->GetActiveView() : nullptr) {
        view->SetPanelValues(&values_);
        connect(view, &CQuiltaraView::LocationChanged, this, &CControlPanel::OnLocationChanged);
    }
}

CControlPanel::~CControlPanel() {
    // A run still going is abandoned: its questions are no longer shown, and
    // it ends before its next request (one in flight is let finish).
    stopRun_ = true;
    calls_.Stop();
    if (worker_.joinable()) {
        worker_.join();
    }
    if (CQuiltaraView* view = frame_ ? frame_->GetActiveView() : nullptr) {
        view->SetPanelValues(nullptr);
    }
}

CSelectionOverlay* CControlPanel::Overlay() {
    CSelectionOverlay* overlay = frame_ ? frame_->GetSelectionOverlay() : nullptr;
    if (overlay != nullptr) {
        connect(overlay, &CSelectionOverlay::SelectionDone, this, &CControlPanel::OnSelectionDone,
                Qt::UniqueConnection);
    }
    return overlay;
}

void CControlPanel::OnLocationChanged() {
    Label(kIdXValue)->setText(QString::fromStdString(values_.xText));
    Label(kIdYValue)->setText(QString::fromStdString(values_.yText));
    Label(kIdZoomValue)->setText(QString::fromStdString(values_.zoomText));
    details_->setText(QString::fromStdString(values_.detailsText));
}

void CControlPanel::BuildControls() {
    const DialogUnits units(font());
    const auto place = [&](QWidget* control, int id, int x, int y, int width, int height) {
        if (id >= 0) {
            control->setObjectName(QString::number(id));
        }
        units.Place(control, x, y, width, height);
    };
    const auto button = [&](int id, const char* text, int x, int y, int width, int height) {
        auto* pushButton = new QPushButton(QString::fromUtf8(text), this);
        pushButton->setAutoDefault(false);
        place(pushButton, id, x, y, width, height);
        return pushButton;
    };

    // Group boxes first, so that the controls inside them stay above them.
    auto* location = new QGroupBox(QStringLiteral("Location Details"), this);
    place(location, -1, 7, 7, 241, 41);
    auto* selection = new QGroupBox(QStringLiteral("Selection Details"), this);
    place(selection, kIdSelectionGroup, 7, 77, 241, 124);
    selectionDetails_.push_back(selection);

    for (const StaticTemplate& t : kStatics) {
        auto* label = new QLabel(QString::fromUtf8(t.text), this);
        label->setTextFormat(Qt::PlainText);
        place(label, t.id, t.x, t.y, t.width, t.height);
        if (t.selectionDetail) {
            selectionDetails_.push_back(label);
        }
    }
    Label(kIdHint)->setWordWrap(true);
    Label(kIdHint)->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    gotoSite_ = button(kIdGotoSite, "1. Goto Google maps...", 147, 28, 97, 17);
    selectArea_ = button(kIdSelectArea, kSelectAreaText, 7, 49, 55, 12);
    selectArea_->setEnabled(false);
    newLocation_ = button(kIdNewLocation, "New Location", 7, 63, 55, 12);
    newLocation_->setEnabled(false);

    zoomList_ = new QComboBox(this);
    zoomList_->addItems(InitialZoomEntries());
    // The template's 85 units are the height with the list dropped down.
    place(zoomList_, kIdZoomList, 13, 94, 96, 12);
    zoomList_->setMaxVisibleItems(10);
    selectionDetails_.push_back(zoomList_);

    progress_ = new QListWidget(this);
    place(progress_, kIdProgress, 109, 143, 133, 54);
    selectionDetails_.push_back(progress_);

    createMap_ = button(kIdCreateMap, "4. Create Map Image", 15, 158, 85, 26);
    selectionDetails_.push_back(createMap_);
    stitch_ = button(kIdStitch, "Stitch Images", 66, 158, 35, 26);
    stitch_->setVisible(false);
    drawHelper_ = button(kIdDrawHelper, "Draw Helper", 15, 186, 86, 12);
    selectionDetails_.push_back(drawHelper_);

    // Shown only while a run is under way, under the progress list.
    runStatus_ = new QLabel(this);
    runStatus_->setObjectName(QStringLiteral("runStatus"));
    runStatus_->setTextFormat(Qt::PlainText);
    units.Place(runStatus_, 7, 203, 100, 12);
    runProgress_ = new QProgressBar(this);
    runProgress_->setObjectName(QStringLiteral("runProgress"));
    runProgress_->setFormat(QStringLiteral("%v of %m tiles"));
    units.Place(runProgress_, 109, 203, 90, 12);
    cancelRun_ = button(-1, "Cancel", 201, 203, 41, 12);
    cancelRun_->setObjectName(QStringLiteral("cancelRun"));
    for (QWidget* control : std::initializer_list<QWidget*>{runStatus_, runProgress_, cancelRun_}) {
        control->setVisible(false);
    }

    details_ = new QLabel(this);
    details_->setTextFormat(Qt::PlainText);
    details_->setWordWrap(true);
    details_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(details_, kIdDetails, 7, 219, 241, 49);

    connect(gotoSite_, &QPushButton::clicked, this, &CControlPanel::OnGotoSite);
    connect(selectArea_, &QPushButton::clicked, this, &CControlPanel::OnSelectArea);
    connect(newLocation_, &QPushButton::clicked, this, &CControlPanel::OnNewLocation);
    connect(zoomList_, &QComboBox::activated, this, &CControlPanel::OnZoomChosen);
    connect(createMap_, &QPushButton::clicked, this, &CControlPanel::OnCreateMap);
    connect(drawHelper_, &QPushButton::clicked, this, &CControlPanel::OnDrawHelper);
    connect(cancelRun_, &QPushButton::clicked, this, &CControlPanel::OnCancelRun);
}

void CControlPanel::OnCancelRun() {
    if (!IsRunning()) {
        return;
    }
    cancel_.Request();
    cancelRun_->setEnabled(false);
    runStatus_->setText(QStringLiteral("Stopping after this tile..."));
}

QLabel* CControlPanel::Label(int id) const {
    return findChild<QLabel*>(QString::number(id));
}

void CControlPanel::ShowSelectionDetails(bool show) {
    for (QWidget* control : selectionDetails_) {
        control->setVisible(show);
    }
}

void CControlPanel::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // The details text takes the whole client area less 10 pixels each way
    // from where it stands, so it reaches past the bottom, and lies on top.
    details_->resize(event->size().width() - 10, event->size().height() - 10);
    details_->raise();
    // A wider panel shows the longitude and latitude spans whole: they reach
    // to the panel's right margin, never less wide than the template has them.
    const DialogUnits units(font());
    for (int id : {kIdLongText, kIdLatText}) {
        QLabel* span = Label(id);
        span->resize(std::max(units.X(100), event->size().width() - units.X(7) - span->x()),
                     span->height());
    }
}

void CControlPanel::OnGotoSite() {
    // Dialogs asked for without a parent belong to the main window.
    CSiteChooserDlg chooser(frame_.data());
    if (chooser.DoModal() != CSiteChooserDlg::kIdOk) {
        return;
    }
    if (chooser.ChosenSite().empty()) {
        services_.prompts.ShowMessage(kNoSiteMessage, MessageButtons::Ok);
        return;
    }
    CQuiltaraView* view = frame_ ? frame_->GetActiveView() : nullptr;
    if (view == nullptr) {
        return;
    }
    const CheckedSite site = CheckSiteAddress(chooser.ChosenSite());
    if (!site.fallbackMessage.empty()) {
        services_.prompts.ShowMessage(site.fallbackMessage, MessageButtons::Ok);
    }
    view->Navigate(site.address);
    selectArea_->setEnabled(true);
    gotoSite_->setVisible(false);
}

void CControlPanel::OnSelectArea() {
    CQuiltaraView* view = frame_ ? frame_->GetActiveView() : nullptr;
    if (!selecting_) {
        selecting_ = true;
        if (CSelectionOverlay* overlay = Overlay()) {
            overlay->State().locked = false;
            overlay->State().inactive = false;
        }
        if (view != nullptr) {
            view->SetInputPassThrough(true);
        }
        newLocation_->setEnabled(false);
        selectArea_->setText(QString::fromUtf8(kDoneText));
        Label(kIdHint)->setText(QString::fromUtf8(kDrawSelectionHint));
        if (frame_) {
            frame_->ShowSelectionOverlay(true);
            frame_->RepaintMapView();
        }
        return;
    }
    newLocation_->setEnabled(true);
    selectArea_->setText(QString::fromUtf8(kSelectAreaText));
    selecting_ = false;
    if (frame_) {
        frame_->ShowSelectionOverlay(false);
    }
    Label(kIdHint)->setText(QString::fromUtf8(kSelectionMadeHint));
}

void CControlPanel::OnNewLocation() {
    newLocation_->setEnabled(false);
    if (CQuiltaraView* view = frame_ ? frame_->GetActiveView() : nullptr) {
        if (CSelectionOverlay* overlay = Overlay()) {
            SelectionState& state = overlay->State();
            state.locked = false;
            state.dragging = false;
            state.inactive = true;
            overlay->update(); // the locked rectangle goes
        }
        view->SetInputPassThrough(true);
    }
    Label(kIdHint)->setText(QString::fromUtf8(kNewLocationHint));
}

void CControlPanel::OnSelectionDone() {
    if (IsRunning()) {
        return; // the map takes no input during a run
    }
    CSelectionOverlay* overlay = Overlay();
    CQuiltaraView* view = frame_ ? frame_->GetActiveView() : nullptr;
    if (overlay == nullptr || view == nullptr) {
        ApplySelection(selection_, originX_, originY_);
        return;
    }
    SelectionState& state = overlay->State();
    state.locked = true;
    const CTileRect measured = view->GetTileRect(state.left, state.top, state.right, state.bottom);
    ApplySelection(measured, state.left, state.top);
}

void CControlPanel::ApplySelection(const CTileRect& selection, int originX, int originY) {
    selectArea_->setText(QString::fromUtf8(kSelectAreaText));
    newLocation_->setEnabled(true);
    selecting_ = false;
    Label(kIdHint)->clear();
    ShowSelectionDetails(true);
    if (frame_ && frame_->GetActiveView() != nullptr) {
        selection_ = selection;
        originX_ = originX;
        originY_ = originY;
    }
    pageZoom_ = ReadLeadingInt(Label(kIdZoomValue)->text().toStdString());
    Label(kIdXValue)->setText(
        QString::fromStdString(FormatText("%.3f to %.3f", selection_.left, selection_.right)));
    Label(kIdYValue)->setText(
        QString::fromStdString(FormatText("%.3f to %.3f", selection_.top, selection_.bottom)));
    Label(kIdHint)->setText(QString::fromUtf8(kSelectionMadeHint));
    OnZoomChosen();
}

void CControlPanel::OnZoomChosen() {
    const int position = zoomList_->currentIndex();
    if (position < 0) {
        return; // a rebuilt list with nothing chosen yet
    }
    const QString text = zoomList_->currentText();
    if (text.contains(QLatin1String(kCustomMarker))) {
        RunCustomEntry();
        return;
    }
    chosenZoomIndex_ = position;
    if (!frame_ || frame_->GetActiveView() == nullptr) {
        return;
    }
    ApplyRange(ComputeRange(selection_, pageZoom_, ZoomChoice{position, text.toStdString()},
                            originX_, originY_));
}

void CControlPanel::ApplyRange(const RangeUpdate& update) {
    if (!update.changesAnything) {
        return;
    }
    if (update.replacesTileList) {
        tiles_ = update.tiles;
    }
    if (update.range) {
        range_ = *update.range;
    }
    const auto show = [this](int id, const std::optional<std::string>& text) {
        if (text) {
            Label(id)->setText(QString::fromStdString(*text));
        }
    };
    show(kIdXImages, update.xImagesText);
    show(kIdYImages, update.yImagesText);
    show(kIdTotImages, update.totImagesText);
    show(kIdLongText, update.longText);
    show(kIdLatText, update.latText);
    // The spans are longer than their fields at the template's width.
    for (int id : {kIdLongText, kIdLatText}) {
        Label(id)->setToolTip(Label(id)->text());
    }
}

void CControlPanel::RunCustomEntry() {
    // When the entry changes nothing, the list goes back to the zoom it had,
    // so that "(custom)..." never stands as the output zoom of a run.
    CNumberInputDlg input(kCustomZoomPrompt, frame_.data());
    if (input.DoModal() != CNumberInputDlg::kIdOk) {
        zoomList_->setCurrentIndex(chosenZoomIndex_);
        return;
    }
    const int deepest = ReadLeadingInt(input.EnteredText());
    if (deepest < 1 || deepest >= 50) {
        services_.prompts.ShowMessage(kBadCustomZoomMessage, MessageButtons::Ok);
        zoomList_->setCurrentIndex(chosenZoomIndex_);
        return;
    }
    const QString customText = zoomList_->currentText();
    zoomList_->clear();
    for (int zoom = 1; zoom <= deepest; ++zoom) {
        zoomList_->addItem(QString::number(zoom));
    }
    zoomList_->addItem(customText);
    zoomList_->setCurrentIndex(-1);
    chosenZoomIndex_ = -1;
    // Nothing is chosen, so no tile list may stand for a zoom the list no
    // longer shows: a run waits for the next choice.
    tiles_.clear();
    for (int id : {kIdXImages, kIdYImages, kIdTotImages}) {
        Label(id)->setText(QStringLiteral("Unknown"));
    }
}

void CControlPanel::OnDrawHelper() {
    // Only an overlay that exists draws: it does after the first page load.
    CQuiltaraView* view = frame_ ? frame_->GetActiveView() : nullptr;
    if (view != nullptr && view->SelectionOverlay() != nullptr) {
        view->SelectionOverlay()->DrawTileOutlines(tiles_);
    }
}

void CControlPanel::OnCreateMap() {
    if (IsRunning() || tiles_.empty()) {
        return;
    }
    CreateMapInputs inputs;
    inputs.range = range_;
    inputs.outputZoom = ReadLeadingInt(zoomList_->currentText().toStdString());
    // Read here: the settings store belongs to the GUI thread.
    const int connections = DownloadConnectionsSetting(services_.settings);
    SetRunning(true);
    stopRun_ = false;
    // The worker gets its own copy of the list, so nothing the GUI thread
    // does can move it during the run.
    // The owner of the run's dialogs is taken here, on the GUI thread.
    worker_ = std::thread([this, inputs, tiles = tiles_, language = values_.languageCode,
                           owner = QPointer<QWidget>(frame_.data()), connections]() mutable {
        inputs.tiles = tiles;
        RunCreateMap(inputs, language, owner, connections);
    });
}

void CControlPanel::RunCreateMap(const CreateMapInputs& inputs, const std::string& languageCode,
                                 const QPointer<QWidget>& owner, int connections) {
    GuiThreadPrompts prompts(services_.prompts, calls_);
    GuiThreadMapSources mapSources(services_.settings, owner, calls_);
    ProgressListSink progress(progress_, calls_);
    progress.SetRunControls(runProgress_, runStatus_);
    CreateMapOutcome outcome;
    std::string failure;
    try {
        const std::unique_ptr<HttpClient> http = services_.makeHttpClient();
        RasterImageCheck imageCheck;
        // Ends the run before the next request once the panel no longer wants
        // it (the program is closing), through the run's own way of ending early.
        const auto stopWhenClosing = [this](const std::string& url) {
            if (stopRun_) {
                throw TileDownloadError(TileDownloadError::Cause::Connection, url,
                                        "the program is closing");
            }
        };
        const TileFetcherParts parts{*http,
                                     services_.makeHttpClient,
                                     prompts,
                                     imageCheck,
                                     services_.overwriteChoice,
                                     runState_,
                                     services_.rememberedServer,
                                     languageCode,
                                     stopWhenClosing,
                                     [this] { return cancel_.Requested(); }};
        const std::unique_ptr<TileFetcher> fetcher = MakeTileFetcher(connections, parts);
        // Streamed, so a map of any size fits in memory; the save dialog's
        // file type picks PNG or GeoTIFF.
        StreamingStitcher stitcher(StreamingOptions{}, true);
        CreateMapServices services{prompts, mapSources, progress, *fetcher};
        services.cancel = &cancel_;
        services.stitcher = &stitcher;
        outcome = CreateMap(inputs, services);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    calls_.Post([this, outcome, failure] { FinishRun(outcome, failure); });
}

void CControlPanel::FinishRun(const CreateMapOutcome& outcome, const std::string& failure) {
    worker_.join();
    SetRunning(false);
    if (outcome.status == CreateMapStatus::Ended) {
        services_.prompts.ShowMessage(outcome.endingError, MessageButtons::Ok);
    } else if (!failure.empty()) {
        services_.prompts.ShowMessage("The map could not be made: " + failure, MessageButtons::Ok);
    }
    emit CreateMapFinished();
}

void CControlPanel::SetRunning(bool running) {
    cancel_.Clear();
    runStatus_->clear();
    runProgress_->reset();
    cancelRun_->setEnabled(true);
    for (QWidget* control : std::initializer_list<QWidget*>{runStatus_, runProgress_, cancelRun_}) {
        control->setVisible(running);
    }
    if (running) {
        lockedDuringRun_.clear();
        for (QWidget* control : std::initializer_list<QWidget*>{
                 gotoSite_, selectArea_, newLocation_, zoomList_, createMap_, drawHelper_}) {
            lockedDuringRun_.emplace_back(control, control->isEnabled());
            control->setEnabled(false);
        }
    } else {
        for (const auto& [control, enabled] : lockedDuringRun_) {
            control->setEnabled(enabled);
        }
        lockedDuringRun_.clear();
    }
    if (CQuiltaraView* view = frame_ ? frame_->GetActiveView() : nullptr) {
        view->setEnabled(!running);
    }
}

void CControlPanel::accept() {
    if (!IsRunning()) {
        QDialog::accept();
    }
}

void CControlPanel::reject() {
    if (!IsRunning()) {
        QDialog::reject();
    }
}

void CControlPanel::closeEvent(QCloseEvent* event) {
    if (IsRunning()) {
        // The close box waits for the run; the program closing does not (the
        // run is abandoned when the panel goes).
        if (event->spontaneous()) {
            event->ignore();
        } else {
            QDialog::reject();
            event->accept();
        }
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace quiltara
