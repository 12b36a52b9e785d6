// After a run the panel lists every image it saved: the name in full, the
// pixel and file sizes, a preview read back from the file, and buttons that
// open the image and its folder.
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <cmath>
#include <filesystem>

#include <gtest/gtest.h>

#include "ControlPanelFixture.h"
#include "gui/CControlPanel.h"
#include "gui/RunImagesList.h"
#include "tiles/MapLayer.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;
using test::ControlPanel;

struct ListedImage {
    QString name;
    QString size;
    QImage preview;
    QWidget* entry = nullptr;
};

std::vector<ListedImage> ListedImages(CControlPanel* panel) {
    std::vector<ListedImage> listed;
    auto* list = panel->findChild<RunImagesList*>(QStringLiteral("runImages"));
    if (list == nullptr || !list->isVisible()) {
        return listed;
    }
    for (QWidget* entry : list->findChildren<QWidget*>(QStringLiteral("runImage"))) {
        ListedImage image;
        image.entry = entry;
        // The name is shown with zero-width break points; they are not part of it.
        image.name =
            entry->findChild<QLabel*>(QStringLiteral("name"))->text().remove(QChar(0x200B));
        image.size = entry->findChild<QLabel*>(QStringLiteral("size"))->text();
        const QIcon icon = entry->findChild<QToolButton*>(QStringLiteral("preview"))->icon();
        if (!icon.isNull()) {
            image.preview = icon.pixmap(icon.availableSizes().value(0)).toImage();
        }
        listed.push_back(image);
    }
    return listed;
}

// The mean of the image's pixels under preview pixel (px, py) of a side x side preview.
QColor MeanUnder(const QImage& image, int px, int py, int side) {
    double sums[3] = {0, 0, 0};
    int count = 0;
    for (int y = py * image.height() / side; y < (py + 1) * image.height() / side; ++y) {
        for (int x = px * image.width() / side; x < (px + 1) * image.width() / side; ++x) {
            const QColor c = image.pixelColor(x, y);
            sums[0] += c.red();
            sums[1] += c.green();
            sums[2] += c.blue();
            ++count;
        }
    }
    return QColor::fromRgb(static_cast<int>(std::lround(sums[0] / count)),
                           static_cast<int>(std::lround(sums[1] / count)),
                           static_cast<int>(std::lround(sums[2] / count)));
}

// "512 x 512 pixels, 105.3 kB": the number of kilobytes is the file's, to a tenth.
void ExpectSizeText(const QString& text, const fs::path& file) {
    const QString pixels = QStringLiteral("512 x 512 pixels, ");
    ASSERT_TRUE(text.startsWith(pixels)) << text.toStdString();
    const QStringList size = text.mid(pixels.size()).split(QLatin1Char(' '));
    ASSERT_EQ(size.size(), 2) << text.toStdString();
    const double scale = size[1] == QStringLiteral("kB")   ? 1e3
                         : size[1] == QStringLiteral("MB") ? 1e6
                                                           : 0;
    ASSERT_GT(scale, 0) << text.toStdString();
    EXPECT_NEAR(size[0].toDouble() * scale, static_cast<double>(fs::file_size(file)), scale / 20);
}

TEST_F(ControlPanel, AfterARunEveryImageIsListedWithItsSizesAPreviewAndWaysToOpenIt) {
    const fs::path maps = PrepareRunIntoMaps(MessageAnswer::No);
    EXPECT_TRUE(ListedImages(panel_).empty());
    const int heightBefore = panel_->height();
    Press(CControlPanel::kIdCreateMap);
    ASSERT_TRUE(WaitForRunEnd());

    std::vector<ListedImage> listed = ListedImages(panel_);
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_GT(panel_->height(), heightBefore); // grown to show the list
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const std::string name = std::string(LayerPrefix(kAllLayers[i])) + "city.png";
        SCOPED_TRACE(name);
        EXPECT_EQ(listed[i].name.toStdString(), name);
        ExpectSizeText(listed[i].size, maps / name);
        ASSERT_EQ(listed[i].preview.size(), QSize(72, 72));
    }
    // The road map's preview is its image scaled down, each pixel the mean of its square.
    const QImage map(QString::fromStdString((maps / "Map_city.png").string()));
    for (const QPoint at : {QPoint(0, 0), QPoint(36, 20), QPoint(71, 71)}) {
        const QColor expected = MeanUnder(map, at.x(), at.y(), 72);
        const QColor shown = listed[0].preview.pixelColor(at);
        EXPECT_LE(std::abs(shown.red() - expected.red()) +
                      std::abs(shown.green() - expected.green()) +
                      std::abs(shown.blue() - expected.blue()),
                  6)
            << at.x() << "," << at.y();
    }

    test::OpenedUrls opened({QStringLiteral("file")});
    QTest::mouseClick(listed[1].entry->findChild<QPushButton*>(QStringLiteral("openImage")),
                      Qt::LeftButton);
    QTest::mouseClick(listed[2].entry->findChild<QToolButton*>(QStringLiteral("preview")),
                      Qt::LeftButton);
    QTest::mouseClick(listed[3].entry->findChild<QPushButton*>(QStringLiteral("openImageFolder")),
                      Qt::LeftButton);
    ASSERT_EQ(opened.Urls().size(), 3u);
    const auto local = [&opened](std::size_t i) {
        return fs::path(opened.Urls()[i].toLocalFile().toStdString());
    };
    EXPECT_TRUE(fs::equivalent(local(0), maps / "Sat_city.png"));
    EXPECT_TRUE(fs::equivalent(local(1), maps / "Ter_city.png"));
    EXPECT_TRUE(fs::equivalent(local(2), maps));

    // A second run, as GeoTIFF into another folder, replaces the list; the
    // previews come from the files' overviews.
    const fs::path other = dir_ / "other";
    fs::create_directory(other);
    prompts_.QueueSavePath((other / "city.png").string(), 1);
    prompts_.QueueAnswer(MessageAnswer::No);
    AnswerMapSourcesWithAllLayers();
    Press(CControlPanel::kIdCreateMap);
    ASSERT_TRUE(panel_->IsRunning());          // it waits for the map sources, asked on this thread
    EXPECT_TRUE(ListedImages(panel_).empty()); // gone while the next run is under way
    ASSERT_TRUE(WaitForRunEnd());
    listed = ListedImages(panel_);
    ASSERT_EQ(listed.size(), 4u);
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const std::string name = std::string(LayerPrefix(kAllLayers[i])) + "city.png";
        EXPECT_EQ(listed[i].name.toStdString(), name);
        ExpectSizeText(listed[i].size, other / name);
        EXPECT_EQ(listed[i].preview.size(), QSize(72, 72)) << name;
    }
}

} // namespace
} // namespace quiltara
