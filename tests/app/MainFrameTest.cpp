#include <QAction>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QSignalSpy>
#include <QTest>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "TestPaths.h"
#include "app/CMainFrame.h"
#include "app/CQuiltaraDoc.h"
#include "gui/CQuiltaraView.h"
#include "gui/CSelectionOverlay.h"
#include "platform/ScriptedPrompts.h"
#include "sources/SourceCatalogue.h"
#include "view/MapProbe.h"
#include "view/PanelValues.h"

namespace quiltara {
namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    PaintCounter(QWidget* widget, int& paints) : paints_(paints) {
        widget->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        paints_ += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }

private:
    int& paints_;
};

class MainFrameTest : public ::testing::Test {
protected:
    // One line per menu entry: "title" for a menu, "  text|id|enabled|keys" for an
    // item, "  -" for a separator.
    std::string MenuTree() const {
        std::ostringstream tree;
        for (QAction* menuAction : frame_.menuBar()->actions()) {
            tree << menuAction->text().toStdString() << "\n";
            for (QAction* item : menuAction->menu()->actions()) {
                if (item->isSeparator()) {
                    tree << "  -\n";
                    continue;
                }
                QStringList keys;
                for (const QKeySequence& key : item->shortcuts()) {
                    keys << key.toString(QKeySequence::PortableText);
                }
                tree << "  " << item->text().toStdString() << "|"
                     << item->objectName().toStdString() << "|" << item->isEnabled() << "|"
                     << keys.join(QLatin1Char(',')).toStdString() << "\n";
            }
        }
        return tree.str();
    }

    CQuiltaraDoc document_;
    ScriptedPrompts prompts_;
    QPrinter printer_;
    const SourceCatalogue catalogue_;
    CMainFrame frame_{document_, prompts_, printer_, catalogue_};
};

TEST_F(MainFrameTest, MenusCarryTheirTextsIdsSeparatorsAndAccelerators) {
    EXPECT_EQ(MenuTree(),
              "&File\n"
              "  &New\tCtrl+N|57600|1|Ctrl+N\n"
              "  &Open...\tCtrl+O|57601|1|Ctrl+O\n"
              "  &Save\tCtrl+S|57603|1|Ctrl+S\n"
              "  Save &As...|57604|1|\n"
              "  -\n"
              "  Add &Tile Source...|32771|1|\n"
              "  -\n"
              "  &Print...\tCtrl+P|57607|1|Ctrl+P\n"
              "  Print Pre&view|57609|1|\n"
              "  P&rint Setup...|57606|1|\n"
              "  -\n"
              "  E&xit|57665|1|\n"
              "&Edit\n"
              "  &Undo\tCtrl+Z|57643|0|Ctrl+Z,Alt+Backspace\n"
              "  -\n"
              "  Cu&t\tCtrl+X|57635|0|Ctrl+X,Shift+Del\n"
              "  &Copy\tCtrl+C|57634|0|Ctrl+C,Ctrl+Ins\n"
              "  &Paste\tCtrl+V|57637|0|Ctrl+V,Shift+Ins\n"
              "  -\n"
              "  Pro&xy...|32775|1|\n"
              "&View\n"
              "  &Toolbar|59392|1|\n"
              "&Help\n"
              "  &About Quiltara...|57664|1|\n");
}

TEST_F(MainFrameTest, PaneKeysExistWithoutMenuItemsAndDoNothing) {
    for (const auto& [id, key] : {std::pair{57680, "F6"}, std::pair{57681, "Shift+F6"}}) {
        QAction* action = frame_.Command(id);
        ASSERT_NE(action, nullptr) << id;
        EXPECT_EQ(action->shortcut().toString(QKeySequence::PortableText), QString(key));
        EXPECT_FALSE(action->isEnabled());
    }
    EXPECT_EQ(frame_.Command(12345), nullptr);
}

TEST_F(MainFrameTest, AcceleratorsTriggerTheirCommandsInTheActiveFrame) {
    frame_.show();
    frame_.activateWindow();
    ASSERT_TRUE(test::WaitUntil([&] { return frame_.isActiveWindow(); }));
    int newCount = 0;
    QObject::connect(frame_.Command(57600), &QAction::triggered, [&] { ++newCount; });
    QTest::keyClick(&frame_, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(newCount, 1);
}

TEST_F(MainFrameTest, SaveAsWritesAnEmptyDocumentAndSaveNeverEmptiesTheOpenedFile) {
    test::TempDir dir;
    const std::string saved = (dir / "first.qlt").string();
    prompts_.QueueSavePath(saved);
    frame_.Command(57603)->trigger(); // &Save of a new document asks where
    ASSERT_EQ(prompts_.SaveRequests().size(), 1u);
    EXPECT_EQ(prompts_.SaveRequests()[0].initialFileName, "Untitled");
    EXPECT_TRUE(prompts_.SaveRequests()[0].overwritePrompt);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(saved)));
    EXPECT_EQ(QFile(QString::fromStdString(saved)).size(), 0);
    EXPECT_EQ(frame_.windowTitle(), QStringLiteral("first.qlt - Quiltara"));

    const std::string opened = (dir / "notes.txt").string();
    std::ofstream(opened) << "the user's own words";
    ASSERT_TRUE(document_.OnOpenDocument(QString::fromStdString(opened)));
    frame_.Command(57603)->trigger();
    EXPECT_EQ(prompts_.SaveRequests().size(), 1u); // no second question
    EXPECT_EQ(QFile(QString::fromStdString(opened)).size(), 20);

    prompts_.QueueSavePath(std::nullopt); // Save As cancelled
    frame_.Command(57604)->trigger();
    EXPECT_EQ(frame_.windowTitle(), QStringLiteral("notes.txt - Quiltara"));
}

TEST_F(MainFrameTest, AFailedSaveIsReported) {
    prompts_.QueueSavePath("/nonexistent-folder/map.qlt");
    frame_.Command(57604)->trigger();
    EXPECT_EQ(prompts_.Texts(),
              std::vector<std::string>{"Could not save /nonexistent-folder/map.qlt."});
    EXPECT_EQ(frame_.windowTitle(), QStringLiteral("Untitled - Quiltara"));
}

TEST_F(MainFrameTest, OverlayOperationsReachTheMapViewsOverlayOnly) {
    CQuiltaraView* view = frame_.GetActiveView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->SelectionOverlay(), nullptr);
    frame_.show();
    frame_.ShowSelectionOverlay(true); // the first call makes it
    CSelectionOverlay* overlay = view->SelectionOverlay();
    ASSERT_NE(overlay, nullptr);
    EXPECT_TRUE(overlay->isVisible());
    EXPECT_EQ(overlay->geometry(), view->rect());
    frame_.ShowSelectionOverlay(false);
    EXPECT_FALSE(overlay->isVisible());
    EXPECT_EQ(frame_.GetSelectionOverlay(), overlay); // never a second one
    EXPECT_EQ(view->findChildren<CSelectionOverlay*>().size(), 1);

    // RepaintMapView paints the overlay before it returns.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame_));
    int paints = 0;
    PaintCounter counter(overlay, paints);
    frame_.ShowSelectionOverlay(true);
    frame_.RepaintMapView();
    EXPECT_GE(paints, 1);

    // A frame whose client area is not the map view leaves everything alone.
    frame_.setCentralWidget(new QWidget);
    EXPECT_EQ(frame_.GetActiveView(), nullptr);
    frame_.ShowSelectionOverlay(true);
    frame_.RepaintMapView();
    EXPECT_EQ(frame_.GetSelectionOverlay(), nullptr);
}

TEST_F(MainFrameTest, TheProbeAsksForAWiderWindowThroughTheFramesPrompts) {
    // One tile image larger than the view: no neighbour within reach either way.
    test::TempDir dir;
    const std::string path = (dir / "tile.html").string();
    std::ofstream(path) << "<html><body style='margin:0'><img src='/vt?x=4&amp;y=7&amp;zoom=3' "
                           "style='display:block;width:3000px;height:3000px'></body></html>";
    CQuiltaraView* view = frame_.GetActiveView();
    PanelValues panel;
    view->SetPanelValues(&panel);
    frame_.show();
    QSignalSpy loaded(view, &CQuiltaraView::DocumentComplete);
    view->Navigate("file://" + path);
    ASSERT_TRUE(loaded.wait(30000));
    const CTileRect rect = view->GetTileRect(10, 10, 50, 50);
    EXPECT_EQ(rect.left, -1.0);
    EXPECT_EQ(rect.bottom, -1.0);
    EXPECT_EQ(prompts_.Texts(), (std::vector<std::string>{kProbeWiderMessage, kProbeWiderMessage}));
    view->SetPanelValues(nullptr);
}

} // namespace
} // namespace quiltara
