#include "gui/CAddTileSourceDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/DialogUnits.h"
#include "platform/HttpClient.h"
#include "platform/Prompts.h"
#include "sources/TileSourceFile.h"
#include "sources/WmtsSource.h"
#include "tiles/MapLayer.h"

namespace quiltara {
namespace {

const char* const kKindLabels[] = {"Road map:", "Satellite:", "Terrain:", "Hybrid:"};

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

CAddTileSourceDlg::CAddTileSourceDlg(Prompts& prompts, HttpClientFactory makeHttpClient,
                                     QWidget* parent)
    : QDialog(parent, kDialogFlags),
      prompts_(prompts),
      makeHttpClient_(std::move(makeHttpClient)),
      location_(new QLineEdit(this)),
      read_(new QPushButton(QStringLiteral("&Read"), this)),
      status_(new QLabel(this)),
      layers_(new QTreeWidget(this)),
      refusals_(new QLabel(this)),
      id_(new QLineEdit(this)),
      name_(new QLineEdit(this)),
      save_(nullptr) {
    setObjectName(QStringLiteral("AddTileSource"));
    setWindowTitle(QStringLiteral("Add Tile Source"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("Address or file of a WMTS service's capabilities:"), this));
    auto* where = new QHBoxLayout;
    location_->setObjectName(QStringLiteral("location"));
    location_->setPlaceholderText(QStringLiteral("https://.../WMTSCapabilities.xml"));
    where->addWidget(location_, 1);
    auto* browse = new QPushButton(QStringLiteral("&File..."), this);
    where->addWidget(browse);
    read_->setObjectName(QStringLiteral("read"));
    where->addWidget(read_);
    layout->addLayout(where);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    status_->setTextFormat(Qt::PlainText);
    layout->addWidget(status_);

    layers_->setObjectName(QStringLiteral("layers"));
    layers_->setHeaderLabels(
        {QStringLiteral("Layer"), QStringLiteral("Title"), QStringLiteral("Zooms and tiles")});
    layers_->setRootIsDecorated(false);
    layers_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(layers_, 1);
    // Each refusal in full: a sentence does not fit the list's column.
    refusals_->setObjectName(QStringLiteral("refusals"));
    refusals_->setWordWrap(true);
    refusals_->setTextFormat(Qt::PlainText);
    layout->addWidget(refusals_);

    auto* form = new QFormLayout;
    for (MapLayer kind : kAllLayers) {
        auto* choice = new QComboBox(this);
        choice->setObjectName(QString::fromLatin1(LayerName(kind)));
        choice->setEnabled(false);
        choices_[static_cast<std::size_t>(kind)] = choice;
        form->addRow(QString::fromLatin1(kKindLabels[static_cast<std::size_t>(kind)]), choice);
    }
    id_->setObjectName(QStringLiteral("id"));
    form->addRow(QStringLiteral("Source id:"), id_);
    name_->setObjectName(QStringLiteral("name"));
    form->addRow(QStringLiteral("Name:"), name_);
    layout->addLayout(form);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    save_ = buttons->button(QDialogButtonBox::Save);
    save_->setObjectName(QStringLiteral("1"));
    save_->setEnabled(false);
    layout->addWidget(buttons);
    resize(DialogUnits(font()).Size(330, 290));

    connect(read_, &QPushButton::clicked, this, &CAddTileSourceDlg::OnRead);
    connect(location_, &QLineEdit::returnPressed, this, &CAddTileSourceDlg::OnRead);
    connect(browse, &QPushButton::clicked, this, &CAddTileSourceDlg::OnBrowse);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAddTileSourceDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CAddTileSourceDlg::reject);
}

CAddTileSourceDlg::~CAddTileSourceDlg() {
    if (reading_.valid()) {
        reading_.wait(); // its answer goes nowhere now
    }
}

std::optional<TileSource> CAddTileSourceDlg::DoModal() {
    return exec() == QDialog::Accepted ? saved_ : std::nullopt;
}

void CAddTileSourceDlg::OnBrowse() {
    const QString file = QFileDialog::getOpenFileName(
        this, QStringLiteral("Capabilities"), QString(), QStringLiteral("XML (*.xml);;All (*)"));
    if (!file.isEmpty()) {
        location_->setText(file);
        OnRead();
    }
}

void CAddTileSourceDlg::OnRead() {
    const std::string location = location_->text().trimmed().toStdString();
    if (location.empty() || (reading_.valid() && reading_.wait_for(std::chrono::seconds(0)) !=
                                                     std::future_status::ready)) {
        return;
    }
    read_->setEnabled(false);
    status_->setText(QStringLiteral("Reading %1 ...").arg(Text(location)));
    std::shared_ptr<HttpClient> http = makeHttpClient_();
    // The dialog waits for the reading before it goes, and what it posts
    // to a dialog that has gone is dropped.
    reading_ = std::async(std::launch::async, [this, http, location] {
        std::string error;
        const std::optional<std::string> text = ReadCapabilitiesText(location, *http, error);
        std::optional<WmtsService> service =
            text ? ReadWmtsCapabilities(*text, location, error) : std::nullopt;
        QMetaObject::invokeMethod(
            this,
            [this, service = std::move(service), error, location] {
                readFrom_ = location;
                ShowService(service, error);
            },
            Qt::QueuedConnection);
    });
}

void CAddTileSourceDlg::ShowService(const std::optional<WmtsService>& service,
                                    const std::string& error) {
    read_->setEnabled(true);
    service_ = service;
    layers_->clear();
    refusals_->clear();
    for (QComboBox* choice : choices_) {
        choice->clear();
        choice->addItem(QStringLiteral("(none)"));
        choice->setEnabled(service.has_value());
    }
    save_->setEnabled(false);
    if (!service) {
        status_->setText(QStringLiteral("Cannot use %1: %2").arg(location_->text(), Text(error)));
        emit ServiceRead();
        return;
    }
    int usable = 0;
    QStringList refused;
    for (const WmtsLayer& layer : service->layers) {
        if (!layer.Usable()) {
            refused << QStringLiteral("%1: %2").arg(Text(layer.identifier), Text(layer.refusal));
        }
        const QString detail = layer.Usable() ? QStringLiteral("zoom %1 to %2, %3")
                                                    .arg(layer.minZoom)
                                                    .arg(layer.maxZoom)
                                                    .arg(Text(layer.format))
                                              : QStringLiteral("cannot be used (below)");
        auto* item =
            new QTreeWidgetItem(layers_, {Text(layer.identifier), Text(layer.title), detail});
        item->setDisabled(!layer.Usable());
        if (layer.Usable()) {
            ++usable;
            for (QComboBox* choice : choices_) {
                choice->addItem(Text(layer.title + " (" + layer.identifier + ")"),
                                Text(layer.identifier));
            }
        }
    }
    refusals_->setText(refused.join(QLatin1Char('\n')));
    status_->setText(QStringLiteral("%1: %2 layers, %3 of them usable")
                         .arg(Text(service->title))
                         .arg(service->layers.size())
                         .arg(usable));
    if (usable > 0) {
        // The first layer as the road map to start with; the user chooses the rest.
        choices_[static_cast<std::size_t>(MapLayer::Map)]->setCurrentIndex(1);
        save_->setEnabled(true);
    }
    id_->setText(Text(SourceIdFor(service->title)));
    name_->setText(Text(service->title));
    emit ServiceRead();
}

void CAddTileSourceDlg::accept() {
    if (!service_) {
        return;
    }
    WmtsChoice choice;
    for (MapLayer kind : kAllLayers) {
        choice.layers[static_cast<std::size_t>(kind)] =
            choices_[static_cast<std::size_t>(kind)]->currentData().toString().toStdString();
    }
    choice.id = id_->text().trimmed().toStdString();
    std::string error;
    std::optional<TileSource> source = SourceFromWmts(*service_, choice, readFrom_, error);
    if (source && !name_->text().trimmed().isEmpty()) {
        source->name = name_->text().trimmed().toStdString();
    }
    // The file must read back: an id the catalogue would refuse is caught here.
    if (source && !ReadTileSource(TileSourceText(*source), error)) {
        source.reset();
    }
    if (!source) {
        prompts_.ShowMessage("The tile source cannot be made: " + error, MessageButtons::Ok);
        return;
    }
    const bool exists = std::filesystem::exists(UserSourcePath(source->id));
    if (exists &&
        prompts_.ShowMessage("There is a tile source file " + UserSourcePath(source->id).string() +
                                 " already. Do you want to replace it?",
                             MessageButtons::YesNo) != MessageAnswer::Yes) {
        return;
    }
    const std::optional<std::filesystem::path> written = SaveUserSource(*source, exists, error);
    if (!written) {
        prompts_.ShowMessage("The tile source cannot be saved: " + error, MessageButtons::Ok);
        return;
    }
    source->file = *written;
    saved_ = std::move(source);
    QDialog::accept();
}

} // namespace quiltara
