#include "app/CMainFrame.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>

#include <vector>

#include "app/CQuiltaraDoc.h"
#include "app/CommandIds.h"
#include "gui/CQuiltaraView.h"
#include "gui/CSelectionOverlay.h"
#include "platform/Prompts.h"

namespace quiltara {

namespace {

// One row of a menu; id 0 stands for a separator.
struct MenuRow {
    const char* text;
    int id;
};

struct MenuTable {
    const char* title;
    std::vector<MenuRow> rows;
};

const std::vector<MenuTable>& Menus() {
    static const std::vector<MenuTable> kMenus = {
        {"&File",
         {{"&New\tCtrl+N", kIdFileNew},
          {"&Open...\tCtrl+O", kIdFileOpen},
          {"&Save\tCtrl+S", kIdFileSave},
          {"Save &As...", kIdFileSaveAs},
          {nullptr, 0},
          {"Add &Tile Source...", kIdFileAddTileSource},
          {nullptr, 0},
          {"&Print...\tCtrl+P", kIdFilePrint},
          {"Print Pre&view", kIdFilePrintPreview},
          {"P&rint Setup...", kIdFilePrintSetup},
          {nullptr, 0},
          {"E&xit", kIdAppExit}}},
        {"&Edit",
         {{"&Undo\tCtrl+Z", kIdEditUndo},
          {nullptr, 0},
          {"Cu&t\tCtrl+X", kIdEditCut},
          {"&Copy\tCtrl+C", kIdEditCopy},
          {"&Paste\tCtrl+V", kIdEditPaste},
          {nullptr, 0},
          {"Pro&xy...", kIdEditProxy}}},
        {"&View", {{"&Toolbar", kIdViewToolbar}}},
        {"&Help", {{"&About Quiltara...", kIdAppAbout}}},
    };
    return kMenus;
}

struct Accelerator {
    int id;
    QList<QKeySequence> keys;
};

const std::vector<Accelerator>& Accelerators() {
    static const std::vector<Accelerator> kAccelerators = {
        {kIdFileNew, {QKeySequence(Qt::CTRL | Qt::Key_N)}},
        {kIdFileOpen, {QKeySequence(Qt::CTRL | Qt::Key_O)}},
        {kIdFileSave, {QKeySequence(Qt::CTRL | Qt::Key_S)}},
        {kIdFilePrint, {QKeySequence(Qt::CTRL | Qt::Key_P)}},
        {kIdEditUndo,
         {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)}},
        {kIdEditCut,
         {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)}},
        {kIdEditCopy,
         {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)}},
        {kIdEditPaste,
         {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)}},
        {kIdNextPane, {QKeySequence(Qt::Key_F6)}},
        {kIdPrevPane, {QKeySequence(Qt::SHIFT | Qt::Key_F6)}},
    };
    return kAccelerators;
}

// Commands nothing in the program handles: shown, but disabled, so their
// keys also reach the page (copying text from it, for one).
bool HasHandler(int id) {
    switch (id) {
        case kIdEditUndo:
        case kIdEditCut:
        case kIdEditCopy:
        case kIdEditPaste:
        case kIdNextPane:
        case kIdPrevPane:
            return false;
        default:
            return true;
    }
}

} // namespace

CMainFrame::CMainFrame(CQuiltaraDoc& document, Prompts& prompts, QPrinter& printer,
                       const SourceCatalogue& catalogue, QWidget* parent)
    : QMainWindow(parent), document_(document), prompts_(prompts), printer_(printer) {
    setObjectName(QStringLiteral("128"));
    auto* view = new CQuiltaraView(catalogue, this);
    view->SetPrompts(&prompts_);
    setCentralWidget(view);
    BuildMenus();
    BuildAccelerators();
    BindCommands();
    connect(&document_, &CQuiltaraDoc::TitleChanged, this, &CMainFrame::UpdateTitle);
    UpdateTitle();
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::AddCommand(QWidget* owner, const char* text, int id) {
    auto* action = new QAction(QString::fromUtf8(text), this);
    action->setObjectName(QString::number(id));
    action->setEnabled(HasHandler(id));
    owner->addAction(action);
    commands_[id] = action;
    return action;
}

void CMainFrame::BuildMenus() {
    for (const MenuTable& table : Menus()) {
        QMenu* menu = menuBar()->addMenu(QString::fromUtf8(table.title));
        for (const MenuRow& row : table.rows) {
            if (row.id == 0) {
                menu->addSeparator();
            } else {
                AddCommand(menu, row.text, row.id);
            }
        }
    }
}

void CMainFrame::BuildAccelerators() {
    for (const Accelerator& accelerator : Accelerators()) {
        QAction* action = Command(accelerator.id);
        if (action == nullptr) {
            // Keys with no menu item (next and previous pane) still need an
            // action of the frame to hold them.
            action = AddCommand(this, "", accelerator.id);
        }
        action->setShortcuts(accelerator.keys);
    }
}

void CMainFrame::BindCommands() {
    connect(Command(kIdFileSave), &QAction::triggered, this, &CMainFrame::OnFileSave);
    connect(Command(kIdFileSaveAs), &QAction::triggered, this, &CMainFrame::OnFileSaveAs);
    connect(Command(kIdAppExit), &QAction::triggered, this, &QWidget::close);
    connect(Command(kIdFilePrint), &QAction::triggered, this, [this] {
        if (CQuiltaraView* view = GetActiveView()) {
            view->OnFilePrint(printer_);
        }
    });
    connect(Command(kIdFilePrintPreview), &QAction::triggered, this, [this] {
        if (CQuiltaraView* view = GetActiveView()) {
            view->OnFilePrintPreview(printer_);
        }
    });
    if (CQuiltaraView* view = GetActiveView()) {
        // Every completed page shows the selection overlay again.
        connect(view, &CQuiltaraView::DocumentComplete, this,
                [this] { ShowSelectionOverlay(true); });
    }
}

QAction* CMainFrame::Command(int id) const {
    const auto found = commands_.find(id);
    return found == commands_.end() ? nullptr : found->second;
}

CQuiltaraView* CMainFrame::GetActiveView() const {
    return qobject_cast<CQuiltaraView*>(centralWidget());
}

void CMainFrame::ShowSelectionOverlay(bool show) {
    CQuiltaraView* view = GetActiveView();
    if (view == nullptr) {
        return;
    }
    view->CreateSelectionOverlay()->setVisible(show);
}

CSelectionOverlay* CMainFrame::GetSelectionOverlay() {
    CQuiltaraView* view = GetActiveView();
    return view == nullptr ? nullptr : view->CreateSelectionOverlay();
}

void CMainFrame::RepaintMapView() {
    if (CQuiltaraView* view = GetActiveView()) {
        view->repaint();
        // The view's repaint may be left to the next pass when the browser
        // covers it; the overlay's own drawing is done before returning.
        if (CSelectionOverlay* overlay = view->SelectionOverlay();
            overlay && overlay->isVisible()) {
            overlay->repaint();
        }
    }
}

void CMainFrame::UpdateTitle() {
    setWindowTitle(document_.Title() + QStringLiteral(" - Quiltara"));
}

void CMainFrame::OnFileSave() {
    if (document_.PathName().isEmpty()) {
        OnFileSaveAs();
        return;
    }
    SaveTo(document_.PathName());
}

void CMainFrame::OnFileSaveAs() {
    SaveDialogOptions options;
    options.initialFileName = document_.Title().toStdString();
    options.filter = "All Files (*.*)|*.*||";
    const std::optional<std::string> path = prompts_.AskSavePath(options);
    if (path) {
        SaveTo(QString::fromStdString(*path));
    }
}

bool CMainFrame::SaveTo(const QString& path) {
    if (document_.OnSaveDocument(path)) {
        return true;
    }
    prompts_.ShowMessage("Could not save " + path.toStdString() + ".", MessageButtons::Ok);
    return false;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (closeCheck_ && !closeCheck_()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) {
        emit Closed();
    }
}

} // namespace quiltara
