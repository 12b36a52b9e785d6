#pragma once

#include <QMainWindow>

#include <functional>
#include <map>

#include "gui/MapWindow.h"

class QAction;
class QPrinter;

namespace quiltara {

class CQuiltaraDoc;
class Prompts;
struct SourceCatalogue;

// The top-level window: the map view fills the client area under the menu
// bar; there is no toolbar and no status bar. The frame handles saving and
// exiting and hands printing to the view; the application connects the
// commands it handles itself (About, New, Open, Print Setup) to the actions.
// The rest of the system reaches the map view and its selection overlay
// through the frame. The map view finds catalogue sources in catalogue, which
// outlives the frame.
class CMainFrame : public QMainWindow, public MapWindow {
    Q_OBJECT

public:
    CMainFrame(CQuiltaraDoc& document, Prompts& prompts, QPrinter& printer,
               const SourceCatalogue& catalogue, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The action of a menu command or accelerator, or none for an unknown id.
    QAction* Command(int id) const;

    // The map window of the control panel and the view; the selection
    // overlay is made by the first of them to ask for it.
    QWidget* Widget() override { return this; }
    CQuiltaraView* GetActiveView() const override;
    void ShowSelectionOverlay(bool show) override;
    CSelectionOverlay* GetSelectionOverlay() override;
    void RepaintMapView() override;

    void OnFileSave();
    void OnFileSaveAs();

    // Asked before the frame closes; false keeps the program running.
    void SetCloseCheck(std::function<bool()> check) { closeCheck_ = std::move(check); }

signals:
    // The frame is closing; the program ends with it.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenus();
    void BuildAccelerators();
    QAction* AddCommand(QWidget* owner, const char* text, int id);
    void BindCommands();
    void UpdateTitle();
    bool SaveTo(const QString& path);

    CQuiltaraDoc& document_;
    Prompts& prompts_;
    QPrinter& printer_;
    std::map<int, QAction*> commands_;
    std::function<bool()> closeCheck_;
};

} // namespace quiltara
