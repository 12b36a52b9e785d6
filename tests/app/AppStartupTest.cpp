#include <QDialog>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QWebEngineView>

#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "TestPaths.h"
#include "app/CMainFrame.h"
#include "app/CQuiltaraApp.h"
#include "app/CQuiltaraDoc.h"
#include "gui/CControlPanel.h"
#include "gui/CQuiltaraView.h"
#include "gui/QtSettingsStore.h"
#include "gui/ShellOpen.h"
#include "platform/ScriptedPrompts.h"

namespace quiltara {
namespace {

// Notes whether the main frame existed when each message was shown.
class OrderPrompts : public ScriptedPrompts {
public:
    const CQuiltaraApp* app = nullptr;
    std::vector<bool> frameExisted;

    MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons) override {
        frameExisted.push_back(app != nullptr && app->MainFrame() != nullptr);
        return ScriptedPrompts::ShowMessage(text, buttons);
    }
};

class AppWithoutFrame : public CQuiltaraApp {
public:
    using CQuiltaraApp::CQuiltaraApp;

protected:
    std::unique_ptr<CMainFrame> CreateFrame() override { return nullptr; }
};

class AppStartupTest : public ::testing::Test {
protected:
    QString IniPath() const { return QString::fromStdString((dir_ / "Quiltara.ini").string()); }
    int StoredTimesUsed() const {
        return QSettings(IniPath(), QSettings::IniFormat)
            .value(QStringLiteral("Quiltara/TimesUsed"))
            .toInt();
    }

    test::TempDir dir_;
    OrderPrompts prompts_;
};

TEST_F(AppStartupTest, FirstStartShowsTheFrameWithAnEmptyBrowserAndThePanelBesideIt) {
    QtSettingsStore settings(IniPath());
    CQuiltaraApp app(settings, prompts_);
    ASSERT_TRUE(app.InitInstance());

    EXPECT_EQ(StoredTimesUsed(), 1);
    EXPECT_TRUE(prompts_.Messages().empty());

    CMainFrame* frame = app.MainFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Untitled - Quiltara"));
    EXPECT_TRUE(frame->findChildren<QToolBar*>().isEmpty());
    EXPECT_TRUE(frame->findChildren<QStatusBar*>().isEmpty());

    // The browser fills the whole client area under the menu, and shows nothing yet.
    CQuiltaraView* view = frame->GetActiveView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->geometry(), QRect(0, frame->menuBar()->height(), frame->width(),
                                      frame->height() - frame->menuBar()->height()));
    EXPECT_EQ(view->Browser()->size(), view->size());
    EXPECT_TRUE(view->Browser()->url().isEmpty());
    EXPECT_EQ(view->GetPageDocument(), nullptr);

    QWidget* panel = app.ControlPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->isWindow());
    EXPECT_EQ(panel->parentWidget(), nullptr);
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Toolbar"));
    // Beside the frame: level with its top, to its right, and on the screen.
    const QRect panelRect = panel->frameGeometry();
    EXPECT_EQ(panelRect.top(), frame->frameGeometry().top());
    EXPECT_GT(panelRect.left(), frame->frameGeometry().left());
    EXPECT_TRUE(frame->screen()->availableGeometry().contains(panelRect));
}

TEST_F(AppStartupTest, TheUsageMessageComesBeforeTheFrameAndYesOpensTheDonationPage) {
    QSettings(IniPath(), QSettings::IniFormat).setValue(QStringLiteral("Quiltara/TimesUsed"), 9);
    test::OpenedUrls opened({QStringLiteral("https")});
    QtSettingsStore settings(IniPath());
    CQuiltaraApp app(settings, prompts_);
    prompts_.app = &app;
    prompts_.QueueAnswer(MessageAnswer::Yes);
    ASSERT_TRUE(app.InitInstance());

    EXPECT_EQ(StoredTimesUsed(), 10);
    ASSERT_EQ(prompts_.frameExisted, std::vector<bool>{false});
    ASSERT_EQ(opened.Urls().size(), 1u);
    const QUrl donation = opened.Urls().front();
    EXPECT_EQ(donation.toString(), QString::fromUtf8(kDonationUrl));
    EXPECT_EQ(donation.scheme(), QStringLiteral("https"));
    EXPECT_EQ(donation.path(), QStringLiteral("/us/cgi-bin/webscr"));
    EXPECT_TRUE(donation.host().endsWith(QStringLiteral("example.org")));
    EXPECT_EQ(donation.query(),
              QStringLiteral("cmd=_xclick&business=donate@example.org&item_name=Quiltara"
                             "&currency_code=USD&amount=5"));
    EXPECT_TRUE(app.ControlPanel()->isVisible());
}

TEST_F(AppStartupTest, ACountIsKeptEvenWhenTheWindowCannotBeMade) {
    QtSettingsStore settings(IniPath());
    AppWithoutFrame app(settings, prompts_);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(StoredTimesUsed(), 1);
    EXPECT_EQ(app.ControlPanel(), nullptr);
}

TEST_F(AppStartupTest, ADocumentNamedOnTheCommandLineIsOpenedOrEndsTheStart) {
    const std::string existing = (dir_ / "plan.qlt").string();
    std::ofstream(existing) << "kept";
    {
        QtSettingsStore settings(IniPath());
        CQuiltaraApp app(settings, prompts_, {QString::fromStdString(existing)});
        ASSERT_TRUE(app.InitInstance());
        EXPECT_EQ(app.MainFrame()->windowTitle(), QStringLiteral("plan.qlt - Quiltara"));
    }
    QtSettingsStore settings(IniPath());
    const QString missing = QString::fromStdString((dir_ / "missing.qlt").string());
    CQuiltaraApp app(settings, prompts_, {missing});
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.ControlPanel(), nullptr);
    ASSERT_EQ(prompts_.Texts().size(), 1u);
    EXPECT_EQ(prompts_.Texts().front(), "Could not open " + missing.toStdString() + ".");
    EXPECT_EQ(StoredTimesUsed(), 2);
}

TEST_F(AppStartupTest, TheApplicationsCommandsNewAboutAndPrintSetup) {
    const QString existing = QString::fromStdString((dir_ / "route.qlt").string());
    std::ofstream(existing.toStdString()) << "kept";
    QtSettingsStore settings(IniPath());
    CQuiltaraApp app(settings, prompts_);
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();

    // Each command's dialog, as it came up; closed at once.
    QStringList seen;
    const auto closeNextDialog = [&seen](const std::function<void(QDialog*)>& close) {
        test::WhenModalOpens([&seen, close](QWidget* modal) {
            seen << QString::fromLatin1(modal->metaObject()->className()) + QLatin1Char('|') +
                        modal->objectName() + QLatin1Char('|') + modal->windowTitle();
            close(qobject_cast<QDialog*>(modal));
        });
    };

    ASSERT_TRUE(app.Document().OnOpenDocument(existing));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("route.qlt - Quiltara"));
    frame->Command(57600)->trigger(); // &New
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Untitled - Quiltara"));
    EXPECT_TRUE(app.Document().PathName().isEmpty());

    closeNextDialog([](QDialog* dialog) { dialog->reject(); });
    frame->Command(57664)->trigger(); // &About Quiltara...
    closeNextDialog([](QDialog* dialog) { dialog->reject(); });
    frame->Command(57606)->trigger(); // P&rint Setup...
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen[0], QStringLiteral("quiltara::CAboutDlg|100|About Quiltara"));
    EXPECT_TRUE(seen[1].startsWith(QStringLiteral("QPageSetupDialog|"))) << seen[1].toStdString();
    EXPECT_TRUE(prompts_.Messages().empty());
}

TEST_F(AppStartupTest, ClosingTheFrameClosesThePanelToo) {
    QtSettingsStore settings(IniPath());
    CQuiltaraApp app(settings, prompts_);
    ASSERT_TRUE(app.InitInstance());
    app.MainFrame()->Command(57665)->trigger(); // E&xit
    EXPECT_FALSE(app.MainFrame()->isVisible());
    EXPECT_FALSE(app.ControlPanel()->isVisible());
}

} // namespace
} // namespace quiltara
