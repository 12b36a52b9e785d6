#pragma once

#include <QDialog>

class QLineEdit;

namespace quiltara {

class Prompts;
class SettingsStore;

// Where the window's messages say a proxy of the Proxy setting came from.
inline constexpr const char* kProxySettingOrigin = "Edit > Proxy...";

// "Proxy": the proxy of the window's tile downloads, kept as the settings
// store's Proxy text. Empty: the proxy the environment names; "direct": none.
// OK refuses a text that is no proxy's address with a message, and stays.
class CProxyDlg : public QDialog {
    Q_OBJECT

public:
    CProxyDlg(SettingsStore& settings, Prompts& prompts, QWidget* parent = nullptr);

    // Runs the dialog; true when OK stored the text in the box.
    bool DoModal();

    void accept() override;

private:
    SettingsStore& settings_;
    Prompts& prompts_;
    QLineEdit* address_;
};

} // namespace quiltara
