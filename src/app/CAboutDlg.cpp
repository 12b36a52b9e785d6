#include "app/CAboutDlg.h"

#include <algorithm>

#include <QLabel>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/AboutTexts.h"
#include "app/AppIcon.h"
#include "gui/DialogUnits.h"
#include "gui/ShellOpen.h"
#include "platform/Prompts.h"

namespace quiltara {

namespace {

const QColor kLinkBlue(0, 0, 255);

QPushButton* LinkButton(const QString& text, const QString& id, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(id);
    button->setAutoDefault(false);
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, kLinkBlue);
    button->setPalette(palette);
    return button;
}

} // namespace

CAboutDlg::CAboutDlg(Prompts& prompts, QWidget* parent)
    : QDialog(parent, kDialogFlags),
      prompts_(prompts),
      mailLink_(
          LinkButton(QString::fromStdString(MailLinkCaption()), QStringLiteral("1023"), this)),
      donateLink_(LinkButton(QStringLiteral("Donate a few dollars using PayPal"),
                             QStringLiteral("1024"), this)),
      aboutText_(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("100"));
    setWindowTitle(QStringLiteral("About Quiltara"));
    const DialogUnits units(font());
    setFixedSize(units.Size(283, 201));

    auto* icon = new QLabel(this);
    icon->setPixmap(AppIconPixmap(std::min(units.X(20), units.Y(20))));
    units.Place(icon, 7, 7, 20, 20);

    auto* name = new QLabel(QStringLiteral("Quiltara Version 1.2 "), this);
    units.Place(name, 35, 7, 119, 8);
    auto* second = new QLabel(QStringLiteral("Large maps from web map tiles"), this);
    units.Place(second, 35, 18, 119, 8);
    auto* third = new QLabel(QStringLiteral("Freeware: use it and share it"), this);
    units.Place(third, 7, 30, 119, 8);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setAutoDefault(false);
    units.Place(ok, 226, 7, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    units.Place(mailLink_, 7, 39, 269, 13);
    connect(mailLink_, &QPushButton::clicked, this, &CAboutDlg::OnMailLink);

    aboutText_->setObjectName(QStringLiteral("1018"));
    aboutText_->setReadOnly(true);
    aboutText_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    aboutText_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    units.Place(aboutText_, 7, 54, 269, 108);

    units.Place(donateLink_, 7, 175, 127, 13);
    connect(donateLink_, &QPushButton::clicked, this, &CAboutDlg::OnDonateLink);

    auto* howTo = new QPushButton(QStringLiteral("How to use this program"), this);
    howTo->setObjectName(QStringLiteral("1025"));
    howTo->setDefault(true);
    units.Place(howTo, 147, 168, 129, 26);
    connect(howTo, &QPushButton::clicked, this, &CAboutDlg::OnHowTo);

    // The text separates its paragraphs with carriage-return and line-feed
    // pairs; Qt's edit breaks lines at a line feed alone, and would show the
    // carriage return as a stray character.
    QString text = QString::fromStdString(AboutText());
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    aboutText_->setPlainText(text);
}

int CAboutDlg::DoModal() {
    return exec() == QDialog::Accepted ? 1 : 2;
}

void CAboutDlg::OnMailLink() {
    ShellOpen(std::string("mailto:") + kMakerMailAddress);
}

void CAboutDlg::OnDonateLink() {
    OpenDonationPage();
}

void CAboutDlg::OnHowTo() {
    prompts_.ShowMessage(HowToText(), MessageButtons::Ok);
}

} // namespace quiltara
