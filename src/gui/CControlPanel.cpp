#include "gui/CControlPanel.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>

#include <algorithm>

#include "download/ParallelTileFetch.h"
#include "gui/CNumberInputDlg.h"
#include "gui/CQuiltaraView.h"
#include "gui/CSelectionOverlay.h"
#include "gui/CSiteChooserDlg.h"
#include "gui/DialogUnits.h"
#include "gui/GuiThreadPrompts.h"
#include "gui/PanelRunOutput.h"
#include "gui/RunImagesList.h"
#include "gui/ShellOpen.h"
#include "gui/ZoomRangeChoice.h"
#include "platform/HttpClient.h"
#include "run/MapRun.h"
#include "sources/SiteChoice.h"
#include "sources/SourceCatalogue.h"
#include "sources/SourcePage.h"
#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

// The controls that are neither buttons nor the zoom list, as the template
// lists them (ids -1: labels nothing refers to).
struct StaticTemplate {
    int id;
    const char* text;
    int x, y, width, height;
    bool selectionDetail;
};

// The counts and spans stand one under the other, each value as wide as the
// group, so that "Choose a higher zoom" and the longest spans show whole.
constexpr int kValueX = 56;
constexpr int kValueWidth = 186;

constexpr StaticTemplate kStatics[] = {
    {-1, "X:", 7, 19, 11, 11, false},
    {1000, "Unknown", 23, 19, 96, 11, false},
    {-1, "Y:", 10, 33, 8, 11, false},
    {1001, "Unknown", 23, 33, 93, 11, false},
    {-1, "Zoom:", 153, 16, 36, 11, false},
    {1003, "Unknown", 200, 16, 42, 11, false},
    {1006, "", 112, 55, 136, 20, false},
    {1012, "x images:", 13, 104, 41, 11, true},
    {1004, "Unknown", kValueX, 104, kValueWidth, 11, true},
    {1013, "y images:", 13, 115, 41, 11, true},
    {1007, "Unknown", kValueX, 115, kValueWidth, 11, true},
    {1014, "tot images:", 13, 126, 41, 11, true},
    {1008, "Unknown", kValueX, 126, kValueWidth, 11, true},
    {1021, "Long:", 13, 137, 41, 11, true},
    {1022, "Unknown", kValueX, 137, kValueWidth, 11, true},
    {1019, "Lat:", 13, 148, 41, 11, true},
    {1020, "Unknown", kValueX, 148, kValueWidth, 11, true},
};

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

CControlPanel::CControlPanel(MapWindow* frame, ControlPanelServices services, QWidget* parent)
    : QDialog(parent, kDialogFlags),
      frame_(frame),
      frameWidget_(frame != nullptr ? frame->Widget() : nullptr),
      services_(std::move(services)) {
    setObjectName(QStringLiteral("130"));
    setWindowTitle(QStringLiteral("Toolbar"));
    setModal(false);
    BuildControls();
    resize(DialogUnits(font()).Size(255, 295));

    values_.detectedLayer = 0;
    runState_.overwriteAsked = false;
    ShowState();

    if (CQuiltaraView* view = Frame() ? Frame()->GetActiveView() : nullptr) {
        view->SetPanelValues(&values_);
        connect(view, &CQuiltaraView::LocationChanged, this, &CControlPanel::OnLocationChanged);
        connect(view, &CQuiltaraView::NoReadableTiles, this, [this] {
            values_.detailsText = kNoReadableTilesText;
            OnLocationChanged();
            OfferSiteChooser(kNoReadableTilesHint);
        });
    }
}

CControlPanel::~CControlPanel() {
    // A run still going is abandoned: its questions are no longer shown, and
    // it ends before its next request (one in flight is let finish).
    stopRun_ = true;
    cancel_.Request(); // previews of the images still being read stop too
    calls_.Stop();
    if (worker_.joinable()) {
        worker_.join();
    }
    if (CQuiltaraView* view = Frame() ? Frame()->GetActiveView() : nullptr) {
        view->SetPanelValues(nullptr);
    }
}

CSelectionOverlay* CControlPanel::Overlay() {
    CSelectionOverlay* overlay = Frame() ? Frame()->GetSelectionOverlay() : nullptr;
    if (overlay != nullptr) {
        connect(overlay, &CSelectionOverlay::SelectionDone, this, &CControlPanel::OnSelectionDone,
                Qt::UniqueConnection);
    }
    return overlay;
}

SelectionState* CControlPanel::OverlayState() {
    CSelectionOverlay* overlay = Overlay();
    return overlay != nullptr ? &overlay->State() : nullptr;
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
    place(selection, kIdSelectionGroup, 7, 77, 241, 142);
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
    newLocation_ = button(kIdNewLocation, "New Location", 7, 63, 55, 12);

    zoomList_ = new QComboBox(this);
    // The template's 85 units are the height with the list dropped down.
    place(zoomList_, kIdZoomList, 13, 89, 96, 12);
    zoomList_->setMaxVisibleItems(10);
    selectionDetails_.push_back(zoomList_);
    fromZoom_ = new ZoomRangeChoice(zoomList_, services_.settings, this, units);

    progress_ = new QListWidget(this);
    place(progress_, kIdProgress, 109, 162, 133, 52);
    selectionDetails_.push_back(progress_);

    createMap_ = button(kIdCreateMap, "4. Create Map Image", 15, 162, 85, 26);
    selectionDetails_.push_back(createMap_);
    stitch_ = button(kIdStitch, "Stitch Images", 66, 162, 35, 26);
    stitch_->setVisible(false);
    drawHelper_ = button(kIdDrawHelper, "Draw Helper", 15, 192, 86, 12);
    selectionDetails_.push_back(drawHelper_);

    // Shown only while a run is under way, under the progress list.
    runStatus_ = new QLabel(this);
    runStatus_->setObjectName(QStringLiteral("runStatus"));
    runStatus_->setTextFormat(Qt::PlainText);
    units.Place(runStatus_, 7, 223, 100, 12);
    runProgress_ = new QProgressBar(this);
    runProgress_->setObjectName(QStringLiteral("runProgress"));
    runProgress_->setFormat(QStringLiteral("%v of %m tiles"));
    units.Place(runProgress_, 109, 223, 90, 12);
    cancelRun_ = button(-1, "Cancel", 201, 223, 41, 12);
    cancelRun_->setObjectName(QStringLiteral("cancelRun"));
    // After a run that saved images, in the same row.
    openFolder_ = button(-1, "Open Folder", 181, 223, 61, 12);
    openFolder_->setObjectName(QStringLiteral("openFolder"));
    for (QWidget* control :
         std::initializer_list<QWidget*>{runStatus_, runProgress_, cancelRun_, openFolder_}) {
        control->setVisible(false);
    }

    details_ = new QLabel(this);
    details_->setTextFormat(Qt::PlainText);
    details_->setWordWrap(true);
    details_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(details_, kIdDetails, 7, 239, 241, 49);
    // It reaches over the images list below it, which takes the clicks.
    details_->setAttribute(Qt::WA_TransparentForMouseEvents);
    images_ = new RunImagesList(this, 291);

    connect(gotoSite_, &QPushButton::clicked, this, &CControlPanel::OnGotoSite);
    connect(selectArea_, &QPushButton::clicked, this, &CControlPanel::OnSelectArea);
    connect(newLocation_, &QPushButton::clicked, this, &CControlPanel::OnNewLocation);
    connect(zoomList_, &QComboBox::activated, this, &CControlPanel::OnZoomChosen);
    connect(createMap_, &QPushButton::clicked, this, &CControlPanel::OnCreateMap);
    connect(drawHelper_, &QPushButton::clicked, this, &CControlPanel::OnDrawHelper);
    connect(cancelRun_, &QPushButton::clicked, this, &CControlPanel::OnCancelRun);
    connect(openFolder_, &QPushButton::clicked, this, &CControlPanel::OnOpenFolder);
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

void CControlPanel::ShowState() {
    const std::pair<QWidget*, PanelControl> controls[] = {
        {gotoSite_, PanelControl::GotoSite},       {selectArea_, PanelControl::SelectArea},
        {newLocation_, PanelControl::NewLocation}, {zoomList_, PanelControl::ZoomList},
        {createMap_, PanelControl::CreateMap},     {drawHelper_, PanelControl::DrawHelper},
    };
    for (const auto& [control, id] : controls) {
        control->setEnabled(state_.Enabled(id));
        if (auto* button = qobject_cast<QPushButton*>(control)) {
            button->setDefault(id == state_.DefaultButton());
        }
    }
    gotoSite_->setVisible(state_.GotoSiteShown());
    selectArea_->setText(Text(state_.SelectAreaText()));
    Label(kIdHint)->setText(Text(state_.Hint()));
    for (QWidget* control : selectionDetails_) {
        control->setVisible(state_.DetailsShown());
    }
    ShowZoomList();
    const PanelCounts& counts = state_.Counts();
    const std::pair<int, const std::string*> texts[] = {
        {kIdXImages, &counts.xImages},     {kIdYImages, &counts.yImages},
        {kIdTotImages, &counts.totImages}, {kIdLongText, &counts.longText},
        {kIdLatText, &counts.latText},
    };
    for (const auto& [id, text] : texts) {
        Label(id)->setText(Text(*text));
    }
}

void CControlPanel::ShowZoomList() {
    QStringList entries;
    for (const std::string& entry : state_.ZoomEntries()) {
        entries << Text(entry);
    }
    QStringList shown;
    for (int i = 0; i < zoomList_->count(); ++i) {
        shown << zoomList_->itemText(i);
    }
    if (shown != entries) {
        zoomList_->clear();
        zoomList_->addItems(entries);
    }
    zoomList_->setCurrentIndex(state_.ZoomIndex());
}

void CControlPanel::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // The details text takes the whole client area less 10 pixels each way
    // from where it stands, so it reaches past the bottom, and lies on top.
    details_->resize(event->size().width() - 10, event->size().height() - 10);
    details_->raise();
}

void CControlPanel::OnGotoSite() {
    // Read again, so that a source file added or mended meanwhile is offered
    // (and its page and its run follow it).
    if (services_.reloadCatalogue) {
        services_.reloadCatalogue();
    }
    // Dialogs asked for without a parent belong to the main window.
    CSiteChooserDlg chooser(services_.catalogue, frameWidget_.data());
    if (chooser.DoModal() != CSiteChooserDlg::kIdOk) {
        return;
    }
    if (chooser.ChosenSite().empty()) {
        services_.prompts.ShowMessage(kNoSiteMessage, MessageButtons::Ok);
        return;
    }
    CQuiltaraView* view = Frame() ? Frame()->GetActiveView() : nullptr;
    if (view == nullptr) {
        return;
    }
    if (IsSourcePageAddress(chooser.ChosenSite())) {
        // The program's own page of a tile source: nothing to check.
        view->Navigate(chooser.ChosenSite());
    } else {
        const CheckedSite site = CheckSiteAddress(chooser.ChosenSite());
        if (!site.fallbackMessage.empty()) {
            services_.prompts.ShowMessage(site.fallbackMessage, MessageButtons::Ok);
        }
        view->Navigate(site.address);
    }
    state_.SiteOpened();
    ShowState();
}

void CControlPanel::OnSelectArea() {
    CQuiltaraView* view = Frame() ? Frame()->GetActiveView() : nullptr;
    const bool armed = state_.ToggleSelectArea(OverlayState());
    ShowState();
    if (armed) {
        if (view != nullptr) {
            view->SetInputPassThrough(true);
        }
        if (MapWindow* frame = Frame()) {
            frame->ShowSelectionOverlay(true);
            frame->RepaintMapView();
        }
    } else if (MapWindow* frame = Frame()) {
        frame->ShowSelectionOverlay(false);
    }
}

void CControlPanel::OnNewLocation() {
    CQuiltaraView* view = Frame() ? Frame()->GetActiveView() : nullptr;
    state_.NewLocation(view != nullptr ? OverlayState() : nullptr);
    if (view != nullptr) {
        if (CSelectionOverlay* overlay = view->SelectionOverlay()) {
            overlay->update(); // the locked rectangle goes
        }
        view->SetInputPassThrough(true);
    }
    ShowState();
}

void CControlPanel::OnSelectionDone() {
    if (IsRunning()) {
        return; // the map takes no input during a run
    }
    CSelectionOverlay* overlay = Overlay();
    CQuiltaraView* view = Frame() ? Frame()->GetActiveView() : nullptr;
    if (overlay == nullptr || view == nullptr) {
        ApplySelection(Selection(), 0, 0);
        return;
    }
    SelectionState& state = overlay->State();
    state.locked = true;
    const CTileRect measured = view->GetTileRect(state.left, state.top, state.right, state.bottom);
    ApplySelection(measured, state.left, state.top);
}

void CControlPanel::ApplySelection(const CTileRect& selection, int originX, int originY) {
    const bool mapView = Frame() != nullptr && Frame()->GetActiveView() != nullptr;
    state_.SelectionDone(mapView ? std::optional<CTileRect>(selection) : std::nullopt, originX,
                         originY, Label(kIdZoomValue)->text().toStdString());
    Label(kIdXValue)->setText(Text(state_.SelectionXText()));
    Label(kIdYValue)->setText(Text(state_.SelectionYText()));
    ShowState();
}

void CControlPanel::OnZoomChosen() {
    const bool mapView = Frame() != nullptr && Frame()->GetActiveView() != nullptr;
    if (state_.ChooseZoom(zoomList_->currentIndex(), mapView) ==
        ControlPanelState::ZoomStep::AskCustom) {
        RunCustomEntry();
    }
    ShowState();
}

void CControlPanel::RunCustomEntry() {
    CNumberInputDlg input(kCustomZoomPrompt, frameWidget_.data());
    std::optional<std::string> entered;
    if (input.DoModal() == CNumberInputDlg::kIdOk) {
        entered = input.EnteredText();
    }
    if (state_.EnterCustomZoom(entered) == ControlPanelState::CustomZoom::Refused) {
        services_.prompts.ShowMessage(kBadCustomZoomMessage, MessageButtons::Ok);
    }
}

void CControlPanel::OnDrawHelper() {
    // Only an overlay that exists draws: it does after the first page load.
    CQuiltaraView* view = Frame() ? Frame()->GetActiveView() : nullptr;
    if (view != nullptr && view->SelectionOverlay() != nullptr) {
        view->SelectionOverlay()->DrawTileOutlines(TileList());
    }
}

void CControlPanel::OnCreateMap() {
    if (IsRunning()) {
        return;
    }
    CQuiltaraView* view = Frame() ? Frame()->GetActiveView() : nullptr;
    const TileSource* shown = view != nullptr ? view->ShownSource() : nullptr;
    if (const std::optional<std::string> refusal = state_.CreateMapRefusal(shown)) {
        if (!refusal->empty()) {
            services_.prompts.ShowMessage(*refusal, MessageButtons::Ok);
        }
        return;
    }
    CreateMapInputs inputs;
    inputs.range = Range();
    inputs.outputZoom = state_.OutputZoom();
    fromZoom_->FillInputs(inputs);
    // Read here: the settings store belongs to the GUI thread.
    int connections = DownloadConnectionsSetting(services_.settings);
    // The source on show decides how its tiles are asked for; the worker reads
    // this copy, which nothing changes while the run lasts.
    runSource_ = shown != nullptr ? std::optional<TileSource>(*shown) : std::nullopt;
    if (runSource_) {
        connections = std::min(connections, runSource_->connections);
    }
    SetRunning(true);
    stopRun_ = false;
    // The worker gets its own copy of the list, so nothing the GUI thread
    // does can move it during the run.
    // The owner of the run's dialogs is taken here, on the GUI thread.
    worker_ = std::thread([this, inputs, tiles = TileList(), language = values_.languageCode,
                           owner = QPointer<QWidget>(frameWidget_.data()), connections]() mutable {
        inputs.tiles = tiles;
        RunCreateMap(inputs, language, owner, connections);
    });
}

void CControlPanel::RunCreateMap(const CreateMapInputs& inputs, const std::string& languageCode,
                                 const QPointer<QWidget>& owner, int connections) {
    GuiThreadPrompts prompts(services_.prompts, calls_);
    const TileSource* source = runSource_ ? &*runSource_ : nullptr;
    GuiThreadMapSources chosenSources(services_.settings, owner, calls_, source);
    std::optional<TileLimitedMapSources> limited;
    if (source != nullptr) {
        limited.emplace(chosenSources, *source, TilesOfRun(inputs), prompts);
    }
    MapSourcesProvider& mapSources =
        limited ? static_cast<MapSourcesProvider&>(*limited) : chosenSources;
    ProgressListSink progress(progress_, calls_);
    progress.SetRunControls(runProgress_, runStatus_);
    CreateMapOutcome outcome;
    std::string failure;
    try {
        const std::unique_ptr<HttpClient> http = services_.makeHttpClient();
        // A catalogue source's run keeps no server number for the map service's runs.
        RememberedServerNumber sourceRun;
        MapRunParts parts{prompts,
                          mapSources,
                          progress,
                          *http,
                          services_.overwriteChoice,
                          runState_,
                          source != nullptr ? sourceRun : services_.rememberedServer,
                          languageCode};
        parts.moreConnections = services_.makeHttpClient;
        parts.connections = connections;
        parts.cancel = &cancel_;
        // Ends the run before the next request once the panel no longer wants
        // it (the program is closing), through the run's own way of ending early.
        parts.beforeAttempt = [this](const std::string& url) {
            if (stopRun_) {
                throw TileDownloadError(TileDownloadError::Cause::Connection, url,
                                        "the program is closing");
            }
        };
        if (source != nullptr) {
            parts.requestStyle = source->RequestStyle();
        }
        // Streamed, so a map of any size fits in memory; the save dialog's
        // file type picks PNG or GeoTIFF.
        parts.stitch.offerTypes = true;
        outcome = MapRun(parts).Create(inputs);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    // Read back here, off the GUI thread: a large PNG takes a while.
    calls_.Post([this] { runStatus_->setText(QStringLiteral("Reading the images back...")); });
    std::vector<RunImage> made = DescribeRunImages(outcome, kRunImagePreviewSide, &cancel_);
    calls_.Post([this, outcome, failure, made] { FinishRun(outcome, failure, made); });
}

void CControlPanel::FinishRun(const CreateMapOutcome& outcome, const std::string& failure,
                              const std::vector<RunImage>& made) {
    worker_.join();
    SetRunning(false);
    fromZoom_->TypeChosen(outcome.saveType);
    // The list ends with where the images are, and the folder is one click away.
    savedFolder_ = AddSavedLines(progress_, outcome);
    openFolder_->setVisible(!savedFolder_.empty());
    images_->ShowImages(made);
    if (outcome.status == CreateMapStatus::Ended) {
        services_.prompts.ShowMessage(outcome.endingError, MessageButtons::Ok);
    } else if (!failure.empty()) {
        services_.prompts.ShowMessage("The map could not be made: " + failure, MessageButtons::Ok);
    }
    emit CreateMapFinished();
}

void CControlPanel::OnOpenFolder() {
    if (!savedFolder_.empty()) {
        ShellOpenFolder(savedFolder_);
    }
}

void CControlPanel::SetRunning(bool running) {
    cancel_.Clear();
    runStatus_->clear();
    runProgress_->reset();
    cancelRun_->setEnabled(true);
    for (QWidget* control : std::initializer_list<QWidget*>{runStatus_, runProgress_, cancelRun_}) {
        control->setVisible(running);
    }
    openFolder_->setVisible(false);
    if (running) {
        images_->ShowImages({});
    }
    state_.SetRunning(running);
    ShowState();
    if (CQuiltaraView* view = Frame() ? Frame()->GetActiveView() : nullptr) {
        view->setEnabled(!running);
    }
}

bool CControlPanel::ConfirmQuit() {
    if (quitting_) {
        return false; // already waiting for the run to end
    }
    if (!IsRunning()) {
        return true;
    }
    if (services_.prompts.ShowMessage(kStopAndQuitQuestion, MessageButtons::YesNo) !=
        MessageAnswer::Yes) {
        return false;
    }
    // Stopped as Cancel stops it, and waited for, so that no transfer or
    // worker outlives the window that showed it.
    quitting_ = true;
    OnCancelRun();
    QEventLoop wait;
    connect(this, &CControlPanel::CreateMapFinished, &wait, &QEventLoop::quit);
    if (IsRunning()) {
        wait.exec();
    }
    quitting_ = false;
    return true;
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
