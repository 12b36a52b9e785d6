#pragma once

#include <QDialog>
#include <QString>

#include <string>

class QLineEdit;

namespace quiltara {

// A small modal dialog with one prompt and one line of input. It returns the
// text as typed; the caller converts and checks it.
class CNumberInputDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kIdOk = 1;
    static constexpr int kIdCancel = 2;

    explicit CNumberInputDlg(const std::string& prompt, QWidget* parent = nullptr);

    // Runs the dialog modally; kIdOk or kIdCancel.
    int DoModal();

    // The text read from the input when OK was pressed; empty otherwise.
    const std::string& EnteredText() const { return enteredText_; }

    void accept() override;

private:
    std::string enteredText_;
    QLineEdit* input_;
};

} // namespace quiltara
