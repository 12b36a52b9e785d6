// The control panel's packages: the save dialog's MBTiles type, and the
// "from zoom" choice beside the zoom list that it brings.
#include <QComboBox>
#include <QLabel>

#include <filesystem>
#include <map>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ControlPanelFixture.h"
#include "gui/CControlPanel.h"
#include "gui/ZoomRangeChoice.h"
#include "stitch/SqliteDatabase.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;
using test::ControlPanel;

std::map<int, int> TilesPerZoom(const fs::path& package) {
    SqliteDatabase db(package.string(), SqliteDatabase::Mode::ReadOnly);
    SqliteStatement count = db.Prepare("SELECT zoom_level, count(*) FROM tiles GROUP BY 1");
    std::map<int, int> tiles;
    while (count.Step()) {
        tiles[static_cast<int>(count.Integer(0))] = static_cast<int>(count.Integer(1));
    }
    return tiles;
}

QStringList Entries(const QComboBox* combo) {
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i) {
        entries << combo->itemText(i);
    }
    return entries;
}

TEST_F(ControlPanel, AMbtilesRunBringsTheFromZoomChoiceAndTheNextRunTakesItsZooms) {
    // The four tiles of zoom 4, in an MBTiles; the tiles are deleted afterwards.
    const fs::path maps = PrepareRunIntoMaps(MessageAnswer::Yes, 2);
    auto* fromZoom = panel_->findChild<QComboBox*>(QStringLiteral("fromZoom"));
    ASSERT_NE(fromZoom, nullptr);
    EXPECT_FALSE(fromZoom->isVisible()); // a PNG was the last type
    Press(CControlPanel::kIdCreateMap);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(TilesPerZoom(maps / "Map_city.png"), (std::map<int, int>{{4, 4}}));
    EXPECT_FALSE(fs::exists(maps / "Map_x=7y=4zoom=4.png"));

    // Now shown beside the zoom list, from 1 to its zoom, and remembered.
    EXPECT_TRUE(fromZoom->isVisible());
    EXPECT_TRUE(panel_->findChild<QLabel*>(QStringLiteral("fromZoomLabel"))->isVisible());
    EXPECT_EQ(Entries(fromZoom), (QStringList{"1", "2", "3", "4"}));
    EXPECT_EQ(fromZoom->currentText(), QStringLiteral("4"));
    EXPECT_EQ(settings_.GetInt(kMapFileTypeSetting, 0), 2);

    fromZoom->setCurrentIndex(1);
    emit fromZoom->activated(1);
    prompts_.QueueSavePath((maps / "city.png").string(), 3); // a GeoPackage this time
    prompts_.QueueAnswer(MessageAnswer::No);
    AnswerMapSourcesWithAllLayers();
    Press(CControlPanel::kIdCreateMap);
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(prompts_.SaveRequests().size(), 2u);
    EXPECT_EQ(prompts_.SaveRequests()[1].filterIndex, 2); // opened on the last type
    // Zooms 2 to 4, shallow ones first, all in the package.
    EXPECT_EQ(TilesPerZoom(maps / "Sat_city.png"), (std::map<int, int>{{2, 2}, {3, 2}, {4, 4}}));
    EXPECT_TRUE(fs::exists(maps / "Sat_x=1y=1zoom=2.png"));
    EXPECT_EQ(settings_.GetInt(kMapFileTypeSetting, 0), 3);
    EXPECT_TRUE(fromZoom->isVisible());
}

} // namespace
} // namespace quiltara
