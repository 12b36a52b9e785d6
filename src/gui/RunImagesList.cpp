#include "gui/RunImagesList.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "gui/DialogUnits.h"
#include "gui/ShellOpen.h"

namespace quiltara {
namespace {

// Entries shown whole when the list appears; more scroll.
constexpr int kEntriesShown = 2;
// Gap under the list, in dialog units, and the least height it keeps.
constexpr int kMargin = 7;
constexpr int kLeastHeight = 24;

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// A file name with places to break it: after each separator, and inside a
// long run without one, so that the whole name shows in a narrow list.
QString Breakable(const QString& name) {
    constexpr int kLongestRun = 16;
    QString broken;
    int run = 0;
    for (const QChar c : name) {
        broken += c;
        ++run;
        if (c == QLatin1Char('_') || c == QLatin1Char('-') || c == QLatin1Char('.') ||
            run >= kLongestRun) {
            broken += QChar(0x200B); // zero-width space: a break, nothing drawn
            run = 0;
        }
    }
    return broken;
}

QPushButton* SmallButton(const QString& text, const QString& id, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(id);
    button->setAutoDefault(false);
    return button;
}

} // namespace

RunImagesList::RunImagesList(QWidget* panel, int top)
    : QGroupBox(QStringLiteral("Images made"), panel), panel_(panel), top_(top) {
    setObjectName(QStringLiteral("runImages"));
    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(4, 4, 4, 4);
    frame->addWidget(scroll_);
    setVisible(false);
    panel_->installEventFilter(this);
}

void RunImagesList::ShowImages(const std::vector<RunImage>& images) {
    // A new page of entries; the scroll area deletes the old one.
    entries_ = new QWidget;
    layout_ = new QVBoxLayout(entries_);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(4);
    for (const RunImage& image : images) {
        AddEntry(image);
    }
    layout_->addStretch();
    scroll_->setWidget(entries_);
    setVisible(!images.empty());
    if (!images.empty()) {
        GrowPanel();
        FitToPanel();
    }
}

void RunImagesList::AddEntry(const RunImage& image) {
    auto* entry = new QWidget(entries_);
    entry->setObjectName(QStringLiteral("runImage"));
    auto* grid = new QGridLayout(entry);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(1);

    const int side = static_cast<int>(kRunImagePreviewSide);
    auto* preview = new QToolButton(entry);
    preview->setObjectName(QStringLiteral("preview"));
    preview->setAutoRaise(true);
    preview->setFixedSize(side + 6, side + 6);
    preview->setIconSize(QSize(side, side));
    if (image.preview) {
        const ImagePreview& p = *image.preview;
        const QImage picture(p.rgba.data(), static_cast<int>(p.previewWidth),
                             static_cast<int>(p.previewHeight),
                             static_cast<qsizetype>(p.previewWidth) * 4, QImage::Format_RGBA8888);
        preview->setIcon(QIcon(QPixmap::fromImage(picture.copy())));
    } else {
        preview->setText(QStringLiteral("No\npreview"));
    }
    preview->setToolTip(QStringLiteral("Open ") + Text(image.path));
    grid->addWidget(preview, 0, 0, 3, 1, Qt::AlignTop);

    auto* name = new QLabel(Breakable(Text(image.fileName)), entry);
    name->setObjectName(QStringLiteral("name"));
    name->setTextFormat(Qt::PlainText);
    name->setWordWrap(true);
    name->setToolTip(Text(image.path));
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    grid->addWidget(name, 0, 1);
    auto* size = new QLabel(Text(image.SizeText()), entry);
    size->setObjectName(QStringLiteral("size"));
    size->setTextFormat(Qt::PlainText);
    size->setWordWrap(true);
    grid->addWidget(size, 1, 1);

    auto* buttons = new QHBoxLayout;
    QPushButton* open = SmallButton(QStringLiteral("Open"), QStringLiteral("openImage"), entry);
    QPushButton* folder =
        SmallButton(QStringLiteral("Folder"), QStringLiteral("openImageFolder"), entry);
    folder->setToolTip(Text(image.folder));
    buttons->addWidget(open);
    buttons->addWidget(folder);
    buttons->addStretch();
    grid->addLayout(buttons, 2, 1);
    grid->setColumnStretch(1, 1);

    const std::string path = image.path;
    const std::string where = image.folder;
    connect(preview, &QToolButton::clicked, entry, [path] { ShellOpenFile(path); });
    connect(open, &QPushButton::clicked, entry, [path] { ShellOpenFile(path); });
    connect(folder, &QPushButton::clicked, entry, [where] { ShellOpenFolder(where); });
    layout_->addWidget(entry);
}

bool RunImagesList::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panel_ && event->type() == QEvent::Resize && isVisible()) {
        FitToPanel();
    }
    return QGroupBox::eventFilter(watched, event);
}

void RunImagesList::FitToPanel() {
    const DialogUnits units(panel_->font());
    const int y = units.Y(top_);
    setGeometry(units.X(7), y, panel_->width() - units.X(14),
                std::max(panel_->height() - y - units.Y(kMargin), units.Y(kLeastHeight)));
}

void RunImagesList::GrowPanel() {
    const DialogUnits units(panel_->font());
    int entries = 0;
    int shown = 0;
    for (int i = 0; i < layout_->count(); ++i) {
        if (QWidget* entry = layout_->itemAt(i)->widget()) {
            if (++entries <= kEntriesShown) {
                shown += entry->sizeHint().height() + layout_->spacing();
            }
        }
    }
    // Past the shown entries, a little of the next one says that the list scrolls.
    if (entries > kEntriesShown) {
        shown += units.Y(10);
    }
    const QMargins frame = contentsMargins() + layout()->contentsMargins();
    int wanted = units.Y(top_) + shown + frame.top() + frame.bottom() + units.Y(kMargin);
    if (const QScreen* screen = panel_->screen()) {
        // Room for the window's caption and border.
        wanted = std::min(wanted, screen->availableGeometry().height() - units.Y(20));
    }
    if (panel_->height() < wanted) {
        panel_->resize(panel_->width(), wanted);
    }
}

std::string AddSavedLines(QListWidget* progress, const CreateMapOutcome& outcome) {
    std::string folder;
    for (const StitchedLayer& image : outcome.images) {
        if (image.saved) {
            progress->addItem(QStringLiteral("Saved ") + Text(image.path));
            folder = outcome.outputFolder.empty() ? std::string(".") : outcome.outputFolder;
        } else {
            // A streamed image that could not be written (a full disk) says so.
            progress->addItem(QStringLiteral("Not saved ") + Text(image.path) +
                              (image.saveError.empty()
                                   ? QString()
                                   : QStringLiteral(": ") + Text(image.saveError)));
        }
    }
    progress->scrollToBottom();
    return folder;
}

} // namespace quiltara
