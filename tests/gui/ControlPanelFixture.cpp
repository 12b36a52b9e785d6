#include "ControlPanelFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QMouseEvent>

#include <cstdint>
#include <fstream>
#include <span>

#include "app/CMainFrame.h"
#include "gui/CQuiltaraView.h"
#include "image/RasterImage.h"
#include "platform/CurlHttpClient.h"
#include "sources/MapServiceRoute.h"
#include "tiles/TileSources.h"

namespace quiltara::test {

namespace fs = std::filesystem;

namespace {

class FileSink : public HttpBodySink {
public:
    explicit FileSink(std::ofstream& out) : out_(out) {}
    void WriteBlock(std::span<const std::byte> block) override {
        out_.write(reinterpret_cast<const char*>(block.data()),
                   static_cast<std::streamsize>(block.size()));
    }

private:
    std::ofstream& out_;
};

std::uint32_t Rgb(RgbQuad c) {
    return (std::uint32_t{c.red} << 16) | (std::uint32_t{c.green} << 8) | c.blue;
}

// A tile's pixel as the map image shows it: its colour mixed with black by
// its opacity (a hybrid tile's transparent pixels stay black).
RgbQuad OverBlack(const RasterImage& tile, int x, int y) {
    RgbQuad c = tile.PixelColorUnchecked(x, y, true);
    if (tile.HasAlpha()) {
        for (std::uint8_t* sample : {&c.blue, &c.green, &c.red}) {
            *sample = static_cast<std::uint8_t>((*sample * c.reserved + 127) / 255);
        }
    }
    return c;
}

} // namespace

ControlPanel::ControlPanel(const DemoServerOptions& options)
    : server_(options), settings_(QString::fromStdString((dir_ / "Quiltara.ini").string())) {
    std::string error;
    app_.SetMapServiceRoute(
        MapServiceRoute::Parse("127.0.0.1:" + std::to_string(server_.Port()), error));
    EXPECT_TRUE(app_.InitInstance());
    panel_ = app_.ControlPanel();
}

QComboBox* ControlPanel::ZoomList() {
    return Control<QComboBox>(CControlPanel::kIdZoomList);
}

QStringList ControlPanel::ZoomEntries() {
    QStringList entries;
    for (int i = 0; i < ZoomList()->count(); ++i) {
        entries << ZoomList()->itemText(i);
    }
    return entries;
}

void ControlPanel::ChooseZoomEntry(int index) {
    QTest::keyClick(ZoomList(), Qt::Key_Home);
    for (int i = 0; i < index; ++i) {
        QTest::keyClick(ZoomList(), Qt::Key_Down);
    }
}

void ControlPanel::GotoSite(const std::function<void(QWidget*)>& act) {
    WhenModalOpens(act);
    Press(CControlPanel::kIdGotoSite);
}

void ControlPanel::SendMouse(QEvent::Type type, QPoint at, Qt::MouseButton button,
                             Qt::MouseButtons buttons) {
    QWidget* input = app_.MainFrame()->GetActiveView()->InputWidget();
    ASSERT_NE(input, nullptr);
    QMouseEvent event(type, QPointF(at), QPointF(input->mapToGlobal(at)), button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(input, &event);
}

bool ControlPanel::WaitForReadoutZoom(const QString& zoom) {
    return WaitUntil(
        [&] {
            if (app_.MainFrame()->GetActiveView()->InputWidget() != nullptr) {
                SendMouse(QEvent::MouseMove, QPoint(150, 120));
            }
            QTest::qWait(100);
            return Text(CControlPanel::kIdZoomValue) == zoom;
        },
        30000);
}

void ControlPanel::DragOverMap(QPoint from, QPoint to) {
    SendMouse(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    for (int step = 1; step <= 8; ++step) {
        SendMouse(QEvent::MouseMove, from + (to - from) * step / 8, Qt::NoButton, Qt::LeftButton);
        QTest::qWait(15);
    }
    SendMouse(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

void ControlPanel::OpenFirstSite() {
    GotoSite([](QWidget* chooser) {
        QTest::mouseClick(FindById<QPushButton>(chooser, 1), Qt::LeftButton);
    });
    ASSERT_TRUE(WaitUntil(
        [this] { return app_.MainFrame()->GetActiveView()->GetPageDocument() != nullptr; }, 30000));
}

void ControlPanel::SelectFourTiles() {
    Control<QLabel>(CControlPanel::kIdZoomValue)->setText(QStringLiteral("3"));
    panel_->ApplySelection(CTileRect{2.25, 3.5, 4.25, 2.75}, 40, 30);
    ChooseZoomEntry(4);
}

void ControlPanel::AnswerMapSourcesWithAllLayers() {
    WhenModalOpens([](QWidget* dialog) {
        for (int id : {1029, 1031, 1037, 1041}) {
            QTest::mouseClick(FindById<QCheckBox>(dialog, id), Qt::LeftButton);
        }
        QTest::mouseClick(FindById<QPushButton>(dialog, 1), Qt::LeftButton);
    });
}

std::vector<std::string> ControlPanel::ProgressLines() {
    std::vector<std::string> lines;
    auto* list = Control<QListWidget>(CControlPanel::kIdProgress);
    for (int i = 0; i < list->count(); ++i) {
        lines.push_back(list->item(i)->text().toStdString());
    }
    return lines;
}

fs::path ControlPanel::PrepareRunIntoMaps(MessageAnswer answer, int fileType) {
    OpenFirstSite();
    Press(CControlPanel::kIdSelectArea);
    SelectFourTiles();
    const fs::path maps = dir_ / "maps";
    fs::create_directory(maps);
    prompts_.QueueSavePath((maps / "city.png").string(), fileType);
    prompts_.QueueAnswer(answer);
    AnswerMapSourcesWithAllLayers();
    return maps;
}

bool ControlPanel::WaitForRunEnd() {
    return WaitUntil([this] { return !panel_->IsRunning(); }, 60000);
}

void ControlPanel::ExpectServersTilesIn(const fs::path& image, MapLayer layer,
                                        const TileRange& range, int zoom) {
    const RasterImage map(image.string(), kFormatPng);
    ASSERT_TRUE(map.HasPixels()) << image;
    const int width = range.Columns() * 256;
    const int height = range.Rows() * 256;
    ASSERT_EQ(static_cast<int>(map.Width()), width);
    ASSERT_EQ(static_cast<int>(map.Height()), height);
    std::string error;
    CurlHttpClient http;
    http.SetConnectTo(MapServiceRoute::Parse("127.0.0.1:" + std::to_string(server_.Port()), error)
                          ->ConnectToEntries());
    for (int row = range.yFirst; row <= range.yLast; ++row) {
        for (int col = range.xFirst; col <= range.xLast; ++col) {
            const fs::path tilePath = dir_ / "server-tile";
            {
                std::ofstream out(tilePath, std::ios::binary);
                FileSink sink(out);
                http.Get(ExpandSourceUrl(DefaultSourceTemplate(layer), "0", col, row, zoom, "", 1),
                         {}, sink);
            }
            const RasterImage tile(tilePath.string(), 0);
            ASSERT_TRUE(tile.HasPixels());
            const int left = (col - range.xFirst) * 256;
            const int top = (row - range.yFirst) * 256;
            int differing = 0;
            for (int y = 0; y < 256; ++y) {
                for (int x = 0; x < 256; ++x) {
                    // Both images count rows from the bottom.
                    differing += Rgb(OverBlack(tile, x, 255 - y)) !=
                                         Rgb(map.PixelColor(left + x, height - 1 - top - y))
                                     ? 1
                                     : 0;
                }
            }
            EXPECT_EQ(differing, 0) << LayerPrefix(layer) << " tile " << col << "," << row;
        }
    }
}

} // namespace quiltara::test
