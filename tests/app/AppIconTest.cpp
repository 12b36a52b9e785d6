#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QSettings>

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "TestPaths.h"
#include "app/AppIcon.h"
#include "app/CMainFrame.h"
#include "app/CQuiltaraApp.h"
#include "gui/CControlPanel.h"
#include "gui/QtPrompts.h"
#include "gui/QtSettingsStore.h"

namespace quiltara {
namespace {

QImage At32(const QIcon& icon) {
    return icon.pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// The icon is the application's, not each window's: the message box of the
// tenth start comes before any window and has no parent, and shows it too.
TEST(AppIconTest, EveryWindowShowsTheApplicationIconParentlessMessageBoxesIncluded) {
    ASSERT_TRUE(QApplication::windowIcon().isNull());
    test::TempDir dir;
    const QString ini = QString::fromStdString((dir / "Quiltara.ini").string());
    QSettings(ini, QSettings::IniFormat).setValue(QStringLiteral("Quiltara/TimesUsed"), 9);
    QtSettingsStore settings(ini);
    QtPrompts prompts;
    CQuiltaraApp app(settings, prompts);

    QImage boxIcon;
    bool boxShown = false;
    QWidget* boxParent = nullptr;
    test::WhenModalOpens([&](QWidget* modal) {
        boxShown = true;
        boxIcon = At32(modal->windowIcon());
        boxParent = modal->parentWidget();
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        box->button(QMessageBox::No)->click();
    });
    ASSERT_TRUE(app.InitInstance());

    const QImage expected = AppIconImage(32);
    EXPECT_EQ(At32(QApplication::windowIcon()), expected);
    ASSERT_TRUE(boxShown);
    EXPECT_EQ(boxParent, nullptr);
    EXPECT_EQ(boxIcon, expected);
    EXPECT_EQ(At32(app.MainFrame()->windowIcon()), expected);
    ASSERT_NE(app.ControlPanel(), nullptr);
    EXPECT_EQ(At32(app.ControlPanel()->windowIcon()), expected);
    EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("quiltara"));
}

} // namespace
} // namespace quiltara
