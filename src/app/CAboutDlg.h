#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace quiltara {

class Prompts;

// "About Quiltara": the name and version, a read-only text about the program,
// the mail and donation links drawn in blue, and the how-to message. Each
// control carries its numeric id as its object name.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(Prompts& prompts, QWidget* parent = nullptr);

    // Runs the dialog modally; returns the id of the button that closed it.
    int DoModal();

private:
    void OnMailLink();
    void OnDonateLink();
    void OnHowTo();

    Prompts& prompts_;
    QPushButton* mailLink_;
    QPushButton* donateLink_;
    QPlainTextEdit* aboutText_;
};

} // namespace quiltara
