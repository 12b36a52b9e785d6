#include "gui/CNumberInputDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/DialogUnits.h"

namespace quiltara {

CNumberInputDlg::CNumberInputDlg(const std::string& prompt, QWidget* parent)
    : QDialog(parent, kDialogFlags), input_(new QLineEdit(this)) {
    setObjectName(QStringLiteral("140"));
    setWindowTitle(QStringLiteral("Dialog"));
    const DialogUnits units(font());
    // The dialog keeps its size whatever the prompt's length.
    setFixedSize(units.Size(291, 52));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    units.Place(ok, 234, 7, 50, 14);
    connect(ok, &QPushButton::clicked, this, &CNumberInputDlg::accept);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("2"));
    cancel->setAutoDefault(false);
    units.Place(cancel, 234, 24, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &CNumberInputDlg::reject);

    input_->setObjectName(QStringLiteral("1028"));
    units.Place(input_, 7, 33, 218, 12);

    auto* label = new QLabel(QString::fromStdString(prompt), this);
    label->setObjectName(QStringLiteral("1027"));
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText); // the prompt is shown as given, never as markup
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The template's 19 units hold two lines of the prompt; the standard
    // zoom prompt needs three, so the prompt reaches down to the input box.
    units.Place(label, 7, 7, 217, 25);

    input_->setFocus();
}

int CNumberInputDlg::DoModal() {
    return exec() == QDialog::Accepted ? kIdOk : kIdCancel;
}

void CNumberInputDlg::accept() {
    enteredText_ = input_->text().toStdString();
    QDialog::accept();
}

} // namespace quiltara
