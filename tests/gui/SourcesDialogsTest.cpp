// The map sources dialog and the site chooser, driven through their real
// controls.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "gui/CMapSourcesDlg.h"
#include "gui/CSiteChooserDlg.h"
#include "platform/MemorySettingsStore.h"
#include "sources/PublishSettings.h"
#include "sources/SourceCatalogue.h"
#include "tiles/TileSources.h"

namespace quiltara {
namespace {

using test::FindById;

// The ids of one layer's controls: download, default, URL, same folder, folder.
struct LayerIds {
    MapLayer layer;
    const char* settingsName;
    int download, useDefault, url, sameFolder, folder;
};
constexpr LayerIds kLayers[] = {
    {MapLayer::Map, "SourceURL_MAP", 1029, 1033, 1030, 1034, 1019},
    {MapLayer::Satellite, "SourceURL_SAT", 1031, 1035, 1032, 1036, 1020},
    {MapLayer::Terrain, "SourceURL_TER", 1037, 1038, 1039, 1040, 1021},
    {MapLayer::Hybrid, "SourceURL_HYB", 1041, 1042, 1043, 1044, 1022},
};

class MapSourcesDialog : public ::testing::Test {
protected:
    QCheckBox* Box(int id) { return FindById<QCheckBox>(dialog_.get(), id); }
    QLineEdit* Edit(int id) { return FindById<QLineEdit>(dialog_.get(), id); }
    void Click(int id) { QTest::mouseClick(Box(id), Qt::LeftButton); }
    // On the tick mark: a box wider than its text takes no click past the text.
    static void Tick(QCheckBox* box) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    }
    void Open() {
        dialog_ = std::make_unique<CMapSourcesDlg>(store_);
        dialog_->show();
    }
    void Press(int id) {
        QTest::mouseClick(FindById<QPushButton>(dialog_.get(), id), Qt::LeftButton);
    }

    MemorySettingsStore store_;
    std::unique_ptr<CMapSourcesDlg> dialog_;
};

TEST_F(MapSourcesDialog, WithNothingStoredEveryLayerOffersItsDefaultAndNothingIsEnabled) {
    Open();
    EXPECT_EQ(dialog_->windowTitle(), QStringLiteral("Select the maps you wish to download"));
    for (const LayerIds& ids : kLayers) {
        SCOPED_TRACE(ids.settingsName);
        EXPECT_FALSE(Box(ids.download)->isChecked());
        EXPECT_TRUE(Box(ids.download)->isEnabled());
        EXPECT_TRUE(Box(ids.useDefault)->isChecked());
        EXPECT_FALSE(Box(ids.useDefault)->isEnabled());
        EXPECT_TRUE(Box(ids.sameFolder)->isChecked());
        EXPECT_FALSE(Box(ids.sameFolder)->isEnabled());
        EXPECT_EQ(Edit(ids.url)->text().toStdString(), DefaultSourceTemplate(ids.layer));
        EXPECT_FALSE(Edit(ids.url)->isEnabled());
        EXPECT_EQ(Edit(ids.folder)->text(), QString());
        EXPECT_FALSE(Edit(ids.folder)->isEnabled());
    }
    // The groups stand top to bottom in the order of the layers.
    for (size_t i = 1; i < std::size(kLayers); ++i) {
        EXPECT_GT(Box(kLayers[i].download)->y(), Box(kLayers[i - 1].sameFolder)->y());
    }
}

TEST_F(MapSourcesDialog, ACatalogueSourceOffersItsOwnLayersAndStoresNothing) {
    std::string error;
    const std::optional<TileSource> source = ReadTileSource(
        R"({"id": "s", "name": "Some tiles", "layers": {
              "map": {"template": "https://t.example/{z}/{x}/{y}.png", "name": "Streets"},
              "terrain": "https://t.example/hills/{z}/{x}/{y}.png"}})",
        error);
    ASSERT_TRUE(source) << error;
    store_.SetString("SourceURL_MAP", "http://mine.example/[X]");
    dialog_ = std::make_unique<CMapSourcesDlg>(store_, nullptr, &*source);
    dialog_->show();
    EXPECT_EQ(Edit(1030)->text(), QStringLiteral("https://t.example/{z}/{x}/{y}.png"));
    EXPECT_TRUE(Box(1033)->isChecked());
    EXPECT_FALSE(Box(1031)->isEnabled()); // no satellite layer
    EXPECT_FALSE(Box(1041)->isEnabled());
    EXPECT_TRUE(Box(1037)->isEnabled());
    // An edited template serves this run; the default box brings the source's back.
    Click(1029);
    Click(1033);
    Edit(1030)->setText(QStringLiteral("https://t.example/{z}/{x}/{y}.png?fresh=1"));
    Click(1037);
    Click(1038);
    Edit(1039)->setText(QStringLiteral("typed"));
    Click(1038);
    EXPECT_EQ(Edit(1039)->text(), QStringLiteral("https://t.example/hills/{z}/{x}/{y}.png"));
    Press(1);
    const MapSourcesValues& values = dialog_->Values();
    EXPECT_TRUE(values.IsDownloaded(MapLayer::Map));
    EXPECT_TRUE(values.IsDownloaded(MapLayer::Terrain));
    EXPECT_FALSE(values.IsDownloaded(MapLayer::Satellite));
    EXPECT_EQ(values[MapLayer::Map].sourceUrl, "https://t.example/{z}/{x}/{y}.png?fresh=1");
    EXPECT_EQ(store_.GetString("SourceURL_MAP", ""), "http://mine.example/[X]");
    EXPECT_EQ(store_.GetString("SourceURL_TER", "absent"), "absent");
}

TEST_F(MapSourcesDialog, CheckBoxesEnableTheirEditBoxesAndOkTakesWhatTheBoxesHold) {
    Open();
    const LayerIds& map = kLayers[0];
    const LayerIds& sat = kLayers[1];
    Click(map.download);
    EXPECT_TRUE(Box(map.useDefault)->isEnabled());
    EXPECT_TRUE(Box(map.sameFolder)->isEnabled());
    EXPECT_FALSE(Box(sat.useDefault)->isEnabled());

    // Unchecking the default keeps the default text to edit from; checking it
    // again puts the default back over what was typed.
    Click(map.useDefault);
    EXPECT_TRUE(Edit(map.url)->isEnabled());
    EXPECT_EQ(Edit(map.url)->text().toStdString(), DefaultSourceTemplate(MapLayer::Map));
    Edit(map.url)->setText(QStringLiteral("http://typed/[X]"));
    Click(map.useDefault);
    EXPECT_FALSE(Edit(map.url)->isEnabled());
    EXPECT_EQ(Edit(map.url)->text().toStdString(), DefaultSourceTemplate(MapLayer::Map));
    Click(map.useDefault);
    QTest::keyClick(Edit(map.url), Qt::Key_End);
    QTest::keyClicks(Edit(map.url), QStringLiteral("&extra=1"));

    // A folder typed and then hidden behind "same folder" still counts.
    Click(map.sameFolder);
    EXPECT_TRUE(Edit(map.folder)->isEnabled());
    QTest::keyClicks(Edit(map.folder), QStringLiteral("roads"));
    Click(map.sameFolder);
    EXPECT_FALSE(Edit(map.folder)->isEnabled());
    EXPECT_EQ(Edit(map.folder)->text(), QStringLiteral("roads"));

    // Unchecking the download box leaves the edit boxes as they were.
    Click(sat.download);
    Click(sat.useDefault);
    Click(sat.download);
    EXPECT_FALSE(Box(sat.useDefault)->isEnabled());
    EXPECT_FALSE(Box(sat.sameFolder)->isEnabled());
    EXPECT_TRUE(Edit(sat.url)->isEnabled());
    Edit(sat.url)->clear();

    Press(1);
    EXPECT_EQ(dialog_->result(), QDialog::Accepted);
    const MapSourcesValues values = dialog_->Values();
    EXPECT_TRUE(values[MapLayer::Map].download);
    EXPECT_EQ(values[MapLayer::Map].sourceUrl,
              std::string(DefaultSourceTemplate(MapLayer::Map)) + "&extra=1");
    EXPECT_EQ(values[MapLayer::Map].subfolder, "roads");
    EXPECT_FALSE(values[MapLayer::Satellite].download);
    EXPECT_EQ(values[MapLayer::Satellite].sourceUrl, "");
    EXPECT_FALSE(values[MapLayer::Terrain].download);
    EXPECT_FALSE(values[MapLayer::Hybrid].download);

    // All four templates are stored, downloaded or not; an emptied one as empty.
    EXPECT_EQ(store_.GetString("SourceURL_MAP", "?"), values[MapLayer::Map].sourceUrl);
    EXPECT_EQ(store_.GetString("SourceURL_SAT", "?"), "");
    EXPECT_EQ(store_.GetString("SourceURL_TER", "?"), DefaultSourceTemplate(MapLayer::Terrain));
    EXPECT_EQ(store_.GetString("SourceURL_HYB", "?"), DefaultSourceTemplate(MapLayer::Hybrid));

    // Next time: stored texts in enabled boxes, the emptied one back to its default.
    Open();
    EXPECT_FALSE(Box(map.useDefault)->isChecked());
    EXPECT_EQ(Edit(map.url)->text().toStdString(), values[MapLayer::Map].sourceUrl);
    EXPECT_TRUE(Edit(map.url)->isEnabled());
    EXPECT_FALSE(Box(map.download)->isChecked());
    EXPECT_EQ(Edit(map.folder)->text(), QString());
    EXPECT_TRUE(Box(sat.useDefault)->isChecked());
    EXPECT_FALSE(Edit(sat.url)->isEnabled());
    EXPECT_FALSE(Box(kLayers[2].useDefault)->isChecked());
    EXPECT_TRUE(Edit(kLayers[2].url)->isEnabled());
}

// A screen reader ticks a box through the accessibility interface, which
// changes its state without a click: the rules follow the state all the same.
TEST_F(MapSourcesDialog, BoxesTickedWithoutAClickApplyTheirRules) {
    Open();
    const auto toggle = [this](int id) {
        QAccessibleInterface* box = QAccessible::queryAccessibleInterface(Box(id));
        ASSERT_NE(box, nullptr);
        ASSERT_NE(box->actionInterface(), nullptr);
        box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    };
    for (const LayerIds& ids : kLayers) {
        SCOPED_TRACE(ids.settingsName);
        toggle(ids.download);
        ASSERT_TRUE(Box(ids.download)->isChecked());
        EXPECT_TRUE(Box(ids.useDefault)->isEnabled());
        EXPECT_TRUE(Box(ids.sameFolder)->isEnabled());
        toggle(ids.useDefault);
        EXPECT_TRUE(Edit(ids.url)->isEnabled());
        Box(ids.sameFolder)->setChecked(false);
        EXPECT_TRUE(Edit(ids.folder)->isEnabled());
    }
}

TEST_F(MapSourcesDialog, CancelAndEscapeStoreNothing) {
    store_.SetString("SourceURL_TER", "http://custom/[Z]");
    Open();
    EXPECT_FALSE(Box(kLayers[2].useDefault)->isChecked());
    EXPECT_EQ(Edit(kLayers[2].url)->text(), QStringLiteral("http://custom/[Z]"));
    Click(kLayers[2].useDefault);
    Click(kLayers[0].download);
    Press(2);
    EXPECT_EQ(dialog_->result(), QDialog::Rejected);

    Open();
    Edit(kLayers[2].url)->setText(QStringLiteral("http://other"));
    QTest::keyClick(dialog_.get(), Qt::Key_Escape);
    EXPECT_EQ(dialog_->result(), QDialog::Rejected);
    EXPECT_EQ(store_.GetString("SourceURL_TER", "?"), "http://custom/[Z]");
    EXPECT_EQ(store_.GetString("SourceURL_MAP", "?"), "?");

    DialogMapSources provider(store_);
    test::WhenModalOpens([](QWidget* dialog) {
        QTest::mouseClick(FindById<QPushButton>(dialog, 2), Qt::LeftButton);
    });
    EXPECT_EQ(provider.AskMapSources(), std::nullopt);
}

// The two boxes under the layers: the satellite-and-hybrid image can be
// asked for only while both layers are chosen, and counts only then.
TEST_F(MapSourcesDialog, TheImagesBoxesSetWhatIsMadeOfTheLayers) {
    struct Row {
        const char* name;
        bool satellite, hybrid, composite, stamp;
        bool compositeEnabled;
        std::vector<CompositeLayers> composites;
    };
    const Row rows[] = {
        {"nothing ticked", false, false, false, false, false, {}},
        {"both layers and the box", true, true, true, false, true, {kSatelliteHybrid}},
        {"both layers, box left empty", true, true, false, true, true, {}},
        {"box ticked, hybrid not", true, false, true, true, false, {}},
        {"box ticked, satellite not", false, true, true, false, false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        store_.SetInt(kStampAttributionSetting, 0);
        Open();
        QCheckBox* composite = dialog_->findChild<QCheckBox*>(QStringLiteral("satelliteHybrid"));
        QCheckBox* stamp = dialog_->findChild<QCheckBox*>(QStringLiteral("stampAttribution"));
        ASSERT_TRUE(composite != nullptr && stamp != nullptr);
        EXPECT_FALSE(composite->isEnabled());
        // Ticked while both layers are, then a layer unticked: kept, but off.
        Click(kLayers[1].download);
        Click(kLayers[3].download);
        EXPECT_TRUE(composite->isEnabled());
        Tick(composite);
        EXPECT_EQ(composite->isChecked(), true);
        if (!row.composite) {
            Tick(composite);
        }
        if (!row.satellite) {
            Click(kLayers[1].download);
        }
        if (!row.hybrid) {
            Click(kLayers[3].download);
        }
        EXPECT_EQ(composite->isEnabled(), row.compositeEnabled);
        EXPECT_EQ(composite->isChecked(), row.composite);
        if (row.stamp) {
            Tick(stamp);
        }
        Press(1);
        const PublishChoices& chosen = dialog_->Values().publish;
        EXPECT_EQ(chosen.composites, row.composites);
        EXPECT_EQ(chosen.stampAttribution, row.stamp);
        EXPECT_EQ(store_.GetInt(kStampAttributionSetting, -1), row.stamp ? 1 : 0);
    }
}

TEST_F(MapSourcesDialog, TheAttributionBoxIsRememberedOnlyByOk) {
    const auto stamp = [this] {
        return dialog_->findChild<QCheckBox*>(QStringLiteral("stampAttribution"));
    };
    Open();
    EXPECT_FALSE(stamp()->isChecked());
    Tick(stamp());
    Press(2);
    EXPECT_EQ(store_.GetInt(kStampAttributionSetting, -1), -1);
    Open();
    EXPECT_FALSE(stamp()->isChecked());
    Tick(stamp());
    Press(1);
    Open();
    EXPECT_TRUE(stamp()->isChecked());
    EXPECT_TRUE(dialog_->Values().publish.composites.empty());

    // Below the layers, above OK, and all of it inside the dialog.
    const QRect hybridGroup = Box(kLayers[3].sameFolder)->geometry();
    const QRect ok = FindById<QPushButton>(dialog_.get(), 1)->geometry();
    EXPECT_GT(stamp()->geometry().top(), hybridGroup.bottom());
    EXPECT_LT(
        dialog_->findChild<QCheckBox*>(QStringLiteral("satelliteHybrid"))->geometry().bottom(),
        ok.top());
    EXPECT_TRUE(dialog_->rect().contains(ok));
}

class SiteChooser : public ::testing::Test {
protected:
    // Runs the chooser modally; act works on the open dialog and ends it.
    int Run(const std::function<void(QWidget*)>& act) {
        test::WhenModalOpens(act);
        return chooser_.DoModal();
    }
    static void PressGo(QWidget* dialog) {
        QTest::mouseClick(FindById<QPushButton>(dialog, 1), Qt::LeftButton);
    }

    const SourceCatalogue catalogue_ = LoadSourceCatalogue(SourceFolders());
    CSiteChooserDlg chooser_{catalogue_};
};

TEST_F(SiteChooser, GoTakesTheFirstPresetUntouched) {
    ASSERT_EQ(Run([this](QWidget* dialog) {
                  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Enter Google Site"));
                  auto* list = FindById<QComboBox>(dialog, 1026);
                  EXPECT_FALSE(list->isEditable());
                  // The five sites, then the catalogue's sources.
                  EXPECT_EQ(list->count(), 5 + static_cast<int>(catalogue_.sources.size()));
                  EXPECT_EQ(list->itemText(5),
                            QString::fromStdString(catalogue_.sources.front().name));
                  EXPECT_EQ(list->currentIndex(), 0);
                  EXPECT_EQ(FindById<QLineEdit>(dialog, 1018)->text(), QString());
                  PressGo(dialog);
              }),
              CSiteChooserDlg::kIdOk);
    EXPECT_EQ(chooser_.ChosenSite(), "http://maps.google.com");
}

TEST_F(SiteChooser, AnotherPresetByKeyboard) {
    Run([](QWidget* dialog) {
        QTest::keyClick(FindById<QComboBox>(dialog, 1026), Qt::Key_Down);
        PressGo(dialog);
    });
    EXPECT_EQ(chooser_.ChosenSite(), "http://maps.google.co.uk");
}

TEST_F(SiteChooser, TypingACustomAddressTakesTheListsChoiceAway) {
    Run([](QWidget* dialog) {
        QTest::keyClicks(FindById<QLineEdit>(dialog, 1018), QStringLiteral("http://x.google.de"));
        EXPECT_EQ(FindById<QComboBox>(dialog, 1026)->currentIndex(), -1);
        PressGo(dialog);
    });
    EXPECT_EQ(chooser_.ChosenSite(), "http://x.google.de");
}

TEST_F(SiteChooser, AnEmptiedCustomBoxChoosesNothingAndAPresetEmptiesTheBox) {
    Run([](QWidget* dialog) {
        auto* custom = FindById<QLineEdit>(dialog, 1018);
        QTest::keyClicks(custom, QStringLiteral("ab"));
        QTest::keyClick(custom, Qt::Key_Backspace);
        QTest::keyClick(custom, Qt::Key_Backspace);
        PressGo(dialog);
    });
    EXPECT_EQ(chooser_.ChosenSite(), "");

    CSiteChooserDlg again(catalogue_);
    test::WhenModalOpens([](QWidget* dialog) {
        auto* custom = FindById<QLineEdit>(dialog, 1018);
        QTest::keyClicks(custom, QStringLiteral("typed"));
        auto* list = FindById<QComboBox>(dialog, 1026);
        QTest::keyClick(list, Qt::Key_Home);
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(list, Qt::Key_Down);
        }
        EXPECT_EQ(custom->text(), QString());
        PressGo(dialog);
    });
    again.DoModal();
    EXPECT_EQ(again.ChosenSite(), "http://maps.google.com.tw");
}

TEST_F(SiteChooser, EscapeCancels) {
    EXPECT_EQ(Run([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); }),
              CSiteChooserDlg::kIdCancel);
    EXPECT_EQ(chooser_.ChosenSite(), "");
}

} // namespace
} // namespace quiltara
