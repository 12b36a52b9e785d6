#pragma once

#include <QMainWindow>

#include <functional>
#include <map>

class QAction;
class QPrinter;

namespace quiltara {

class CQuiltaraDoc;
class CQuiltaraView;
class CSelectionOverlay;
class Prompts;

// The top-level window: the map view fills the client area under the menu
// bar; there is no toolbar and no status bar. The frame handles saving and
// exiting and hands printing to the view; the application connects the
// commands it handles itself (About, New, Open, Print Setup) to the actions.
// The rest of the system reaches the map view and its selection overlay
// through the frame.
class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    CMainFrame(CQuiltaraDoc& document, Prompts& prompts, QPrinter& printer,
               QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The action of a menu command or accelerator, or none for an unknown id.
    QAction* Command(int id) const;

    // The frame's active view when it is the map view, else none.
    CQuiltaraView* GetActiveView() const;

    // The selection overlay of the active map view, for the control panel
    // and the view; the first of them to be called makes it. Without a map
    // view they do nothing and GetSelectionOverlay returns none.
    void ShowSelectionOverlay(bool show);
    CSelectionOverlay* GetSelectionOverlay();
    // Erases and repaints the map view at once (not at the next event loop pass).
    void RepaintMapView();

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
