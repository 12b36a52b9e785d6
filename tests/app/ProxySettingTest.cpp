// Edit > Proxy...: the dialog that keeps the Proxy setting, and the window's
// downloads that take it.
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DemoServer.h"
#include "GuiTestSupport.h"
#include "HttpTestSinks.h"
#include "TestPaths.h"
#include "TestProxy.h"
#include "app/CMainFrame.h"
#include "app/CQuiltaraApp.h"
#include "app/CommandIds.h"
#include "gui/CProxyDlg.h"
#include "gui/QtSettingsStore.h"
#include "platform/HttpClient.h"
#include "platform/MemorySettingsStore.h"
#include "platform/ProxyChoice.h"
#include "platform/ScriptedPrompts.h"

namespace quiltara {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Types text in place of what the dialog's box shows and presses OK, then Cancel
// when OK left the dialog open.
void TypeAndPressOk(QWidget* modal, const QString& text) {
    auto* address = modal->findChild<QLineEdit*>(QStringLiteral("address"));
    address->clear();
    QTest::keyClicks(address, text);
    auto* buttons = modal->findChild<QDialogButtonBox*>();
    buttons->button(QDialogButtonBox::Ok)->click();
    if (modal->isVisible()) {
        buttons->button(QDialogButtonBox::Cancel)->click();
    }
}

TEST(ProxyDlgTest, OkKeepsAProxysAddressOrNothingAndRefusesAnythingElse) {
    const struct {
        const char* typed;
        bool stored;
        const char* kept;    // the setting afterwards
        const char* message; // empty: none
    } cases[] = {
        {"  proxy.example:3128 ", true, "proxy.example:3128", ""},
        {"", true, "", ""},
        {"DIRECT", true, "DIRECT", ""},
        {"ftp://user:pw@proxy.example:21", false, "http://old:1",
         "The proxy was not changed: 'ftp://***@proxy.example:21' is no proxy's address: a "
         "proxy's address starts with http://"},
    };
    for (const auto& c : cases) {
        MemorySettingsStore settings;
        settings.SetString(kProxySetting, "http://old:1");
        ScriptedPrompts prompts;
        CProxyDlg dialog(settings, prompts);
        QString shown;
        test::WhenModalOpens([&](QWidget* modal) {
            shown = modal->findChild<QLineEdit*>(QStringLiteral("address"))->text();
            TypeAndPressOk(modal, QString::fromUtf8(c.typed));
        });
        EXPECT_EQ(dialog.DoModal(), c.stored) << c.typed;
        EXPECT_EQ(shown, QStringLiteral("http://old:1"));
        EXPECT_EQ(settings.GetString(kProxySetting, "?"), c.kept) << c.typed;
        if (*c.message == '\0') {
            EXPECT_TRUE(prompts.Messages().empty()) << c.typed;
        } else {
            ASSERT_EQ(prompts.Messages().size(), 1u) << c.typed;
            EXPECT_THAT(prompts.Messages()[0].text, HasSubstr(c.message));
            EXPECT_THAT(prompts.Messages()[0].text, Not(HasSubstr("pw@")));
        }
    }
}

class AppClients : public CQuiltaraApp {
public:
    using CQuiltaraApp::CQuiltaraApp;
    std::unique_ptr<HttpClient> Client() { return CreateHttpClient(); }
};

TEST(ProxySettingTest, TheWindowsDownloadsTakeTheSettingAndEditProxyChangesItForTheNextOnes) {
    test::TempDir dir;
    QtSettingsStore settings(QString::fromStdString((dir / "Quiltara.ini").string()));
    test::RefusingPort refusing;
    settings.SetString(kProxySetting, refusing.Url());
    ScriptedPrompts prompts;
    AppClients app(settings, prompts);
    ASSERT_TRUE(app.InitInstance());
    test::DemoServer server;
    const std::string url = server.BaseUrl() + "/";

    test::MemorySink body;
    try {
        app.Client()->Get(url, {}, body);
        ADD_FAILURE() << "the request did not go to the refusing proxy";
    } catch (const HttpProxyError& error) {
        EXPECT_THAT(error.Reason(),
                    HasSubstr("the proxy '" + refusing.Url() + "' (from Edit > Proxy...)"));
    }

    test::TestProxy proxy(server.Port());
    test::WhenModalOpens(
        [&](QWidget* modal) { TypeAndPressOk(modal, QString::fromStdString(proxy.Url())); });
    app.MainFrame()->Command(kIdEditProxy)->trigger();
    EXPECT_EQ(settings.GetString(kProxySetting, ""), proxy.Url());
    EXPECT_EQ(app.Client()->Get(url, {}, body).status, 200);
    EXPECT_EQ(proxy.Forwarded().size(), 1u);
}

} // namespace
} // namespace quiltara
