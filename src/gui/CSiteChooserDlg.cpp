#include "gui/CSiteChooserDlg.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/DialogUnits.h"
#include "sources/SiteChoice.h"
#include "sources/SourceCatalogue.h"
#include "sources/SourcePage.h"

namespace quiltara {

CSiteChooserDlg::CSiteChooserDlg(const SourceCatalogue& catalogue, QWidget* parent)
    : QDialog(parent, kDialogFlags), sites_(new QComboBox(this)), custom_(new QLineEdit(this)) {
    setObjectName(QStringLiteral("141"));
    setWindowTitle(QStringLiteral("Enter Google Site"));
    const DialogUnits units(font());
    setFixedSize(units.Size(236, 64));

    auto* prompt = new QLabel(QStringLiteral("Select which Google site you want to use:"), this);
    units.Place(prompt, 7, 9, 166, 9);

    sites_->setObjectName(QStringLiteral("1026"));
    for (const std::string& site : PresetSites()) {
        sites_->addItem(QString::fromStdString(site));
    }
    // Then every tile source of the catalogue, by name; choosing one opens
    // the program's own map page of it.
    for (const TileSource& source : catalogue.sources) {
        sites_->addItem(QString::fromStdString(source.name),
                        QString::fromStdString(SourcePageAddress(source.id)));
    }
    sites_->setCurrentIndex(0);
    units.Place(sites_, 7, 21, 150, 13);
    if (!catalogue.problems.empty()) {
        QStringList lines;
        for (const CatalogueProblem& problem : catalogue.problems) {
            lines << QStringLiteral("Not listed: %1").arg(QString::fromStdString(problem.Text()));
        }
        auto* problems = new QLabel(lines.join(QLatin1Char('\n')), this);
        problems->setObjectName(QStringLiteral("problems"));
        problems->setWordWrap(true);
        problems->setTextFormat(Qt::PlainText);
        units.Place(problems, 7, 60, 222, 10);
        // As tall as the wrapped reasons need, and the dialog with it.
        const int height = problems->heightForWidth(problems->width());
        problems->resize(problems->width(), height);
        setFixedSize(units.Size(236, 64).width(),
                     problems->y() + height + units.Size(0, 7).height());
    }

    auto* customLabel = new QLabel(QStringLiteral("Custom URL:"), this);
    units.Place(customLabel, 7, 45, 48, 9);
    custom_->setObjectName(QStringLiteral("1018"));
    units.Place(custom_, 57, 43, 172, 13);

    auto* go = new QPushButton(QStringLiteral("Go"), this);
    go->setObjectName(QStringLiteral("1"));
    go->setDefault(true);
    units.Place(go, 179, 7, 50, 14);
    connect(go, &QPushButton::clicked, this, &CSiteChooserDlg::accept);

    connect(custom_, &QLineEdit::textEdited, this, [this] { sites_->setCurrentIndex(-1); });
    connect(sites_, &QComboBox::activated, this, [this] { custom_->clear(); });
}

int CSiteChooserDlg::DoModal() {
    return exec() == QDialog::Accepted ? kIdOk : kIdCancel;
}

void CSiteChooserDlg::accept() {
    const QVariant address = sites_->currentData();
    chosenSite_ = sites_->currentIndex() < 0 ? custom_->text().toStdString()
                  : address.isValid()        ? address.toString().toStdString()
                                             : sites_->currentText().toStdString();
    QDialog::accept();
}

} // namespace quiltara
