// The running program with its control panel, against the offline map
// service behind the real addresses, and the steps the panel's tests share.
#pragma once

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPoint>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QThread>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DemoServer.h"
#include "GuiTestSupport.h"
#include "TestPaths.h"
#include "app/CQuiltaraApp.h"
#include "gui/CControlPanel.h"
#include "gui/QtSettingsStore.h"
#include "platform/ScriptedPrompts.h"
#include "tiles/MapLayer.h"
#include "tiles/TileGrid.h"

class QComboBox;

namespace quiltara::test {

// Scripted answers that also note whether each question came on the GUI thread.
class ThreadNotingPrompts : public ScriptedPrompts {
public:
    MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons) override {
        NoteThread();
        return ScriptedPrompts::ShowMessage(text, buttons);
    }
    std::optional<std::string> AskSavePath(const SaveDialogOptions& options) override {
        NoteThread();
        return ScriptedPrompts::AskSavePath(options);
    }
    int offGuiThread = 0;

private:
    void NoteThread() { offGuiThread += QThread::currentThread() != qApp->thread() ? 1 : 0; }
};

// Points the user's configuration folder (and so the user's sources) at
// folder while it lives.
class ConfigHomeAt {
public:
    explicit ConfigHomeAt(const std::filesystem::path& folder) {
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
            saved_ = old;
        }
        setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    }
    ~ConfigHomeAt() {
        if (saved_) {
            setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
    }
    ConfigHomeAt(const ConfigHomeAt&) = delete;
    ConfigHomeAt& operator=(const ConfigHomeAt&) = delete;

private:
    std::optional<std::string> saved_;
};

// Points the user's tile cache at folder while it lives: the map service's
// tiles have the same addresses in every test, so each test needs a cache of
// its own to see the server at all.
class CacheHomeAt {
public:
    explicit CacheHomeAt(const std::filesystem::path& folder) {
        if (const char* old = std::getenv("XDG_CACHE_HOME")) {
            saved_ = old;
        }
        setenv("XDG_CACHE_HOME", folder.c_str(), 1);
    }
    ~CacheHomeAt() {
        if (saved_) {
            setenv("XDG_CACHE_HOME", saved_->c_str(), 1);
        } else {
            unsetenv("XDG_CACHE_HOME");
        }
    }
    CacheHomeAt(const CacheHomeAt&) = delete;
    CacheHomeAt& operator=(const CacheHomeAt&) = delete;

private:
    std::optional<std::string> saved_;
};

class ControlPanel : public ::testing::Test {
protected:
    explicit ControlPanel(const DemoServerOptions& options = {});

    template <typename Widget = QWidget>
    Widget* Control(int id) {
        return FindById<Widget>(panel_, id);
    }
    QString Text(int id) { return Control<QLabel>(id)->text(); }
    void Press(int id) { QTest::mouseClick(Control<QPushButton>(id), Qt::LeftButton); }
    QComboBox* ZoomList();
    QStringList ZoomEntries();
    // Chooses an entry with the keyboard, as a user would.
    void ChooseZoomEntry(int index);
    // "1. Goto Google maps..." with the chooser answered by act.
    void GotoSite(const std::function<void(QWidget*)>& act);
    // A mouse event at a point of the map view, sent where the browser takes
    // its input (that widget may be replaced while a page loads).
    void SendMouse(QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::NoButton,
                   Qt::MouseButtons buttons = Qt::NoButton);
    // Moves the mouse over the map until the readout shows the page's zoom.
    bool WaitForReadoutZoom(const QString& zoom);
    // A left-button drag over the map in eight steps, as a hand makes it.
    void DragOverMap(QPoint from, QPoint to);
    // Opens the first preset site and waits for its page.
    void OpenFirstSite();
    // A selection of tiles 7 to 8 and 4 to 5 at zoom 4, made at page zoom 3.
    void SelectFourTiles();
    void AnswerMapSourcesWithAllLayers();
    std::vector<std::string> ProgressLines();
    // The four tiles chosen and a run's questions queued up to the press of
    // Create Map: the map saved as maps/city.png, every layer in the map
    // sources dialog, then `answer`. fileType: the type picked in the save
    // dialog. Gives the maps folder.
    std::filesystem::path PrepareRunIntoMaps(MessageAnswer answer, int fileType = 0);
    bool WaitForRunEnd();

    // Every pixel of the layer's image is the server's tile at that place.
    void ExpectServersTilesIn(const std::filesystem::path& image, MapLayer layer,
                              const TileRange& range, int zoom);

    TempDir dir_;
    const CacheHomeAt cacheHome_{dir_ / "cache-home"};
    DemoServer server_;
    QtSettingsStore settings_;
    ThreadNotingPrompts prompts_;
    CQuiltaraApp app_{settings_, prompts_};
    CControlPanel* panel_ = nullptr;
};

} // namespace quiltara::test
