#include <QFile>
#include <QPrinter>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "DemoServer.h"
#include "GuiTestSupport.h"
#include "TestPaths.h"
#include "app/CMainFrame.h"
#include "app/CQuiltaraDoc.h"
#include "gui/CQuiltaraView.h"
#include "gui/CSelectionOverlay.h"
#include "platform/PageDocument.h"
#include "platform/ScriptedPrompts.h"
#include "sources/SourceCatalogue.h"

namespace quiltara {
namespace {

// Two 100 x 100 tile images side by side and a plain block under them. The
// tile host refuses connections, so the images stay empty but keep their place.
const char* const kTilePage = R"(<!DOCTYPE html>
<html><body style="margin:0">
<img src="http://tiles.localhost:9/vt?x=3&amp;y=4&amp;zoom=5"
     style="position:absolute;left:0;top:0;width:100px;height:100px">
<img src="http://tiles.localhost:9/vt?x=4&amp;y=4&amp;zoom=5"
     style="position:absolute;left:100px;top:0;width:100px;height:100px">
<div style="position:absolute;left:0;top:150px;width:200px;height:50px;background:#ccc"></div>
</body></html>)";

const PageElement kLeftTile{"IMG", "http://tiles.localhost:9/vt?x=3&y=4&zoom=5"};
const PageElement kRightTile{"IMG", "http://tiles.localhost:9/vt?x=4&y=4&zoom=5"};

class QuiltaraViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        view_.resize(640, 480);
        view_.show();
    }

    std::string WritePage(const std::string& name, const std::string& html) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path) << html;
        return "file://" + path;
    }

    // Navigates and waits for the page-loaded notification.
    void Load(const std::string& url) {
        QSignalSpy loaded(&view_, &CQuiltaraView::DocumentComplete);
        view_.Navigate(url);
        ASSERT_TRUE(loaded.wait(30000)) << url;
        EXPECT_EQ(loaded.front().front().toUrl(), QUrl(QString::fromStdString(url)));
    }

    test::TempDir dir_;
    const SourceCatalogue catalogue_; // no page here is a catalogue source's
    CQuiltaraView view_{catalogue_};
};

TEST_F(QuiltaraViewTest, StartsEmptyAndTakesThePageDocumentWhenAPageHasLoaded) {
    EXPECT_TRUE(view_.Browser()->url().isEmpty());
    EXPECT_EQ(view_.GetPageDocument(), nullptr);
    EXPECT_TRUE(view_.InputPassThrough());

    Load(WritePage("tiles.html", kTilePage));
    PageDocument* page = view_.GetPageDocument();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->ElementAt(50, 50), kLeftTile);
    EXPECT_EQ(page->ElementAt(150, 99), kRightTile);
    EXPECT_EQ(page->ElementAt(10, 160), (PageElement{"DIV", ""}));
    EXPECT_EQ(page->ElementAt(-1, 10), std::nullopt);
    EXPECT_EQ(page->ElementAt(10, 5000), std::nullopt);
}

TEST_F(QuiltaraViewTest, ABatchAnswersLikeSingleQuestions) {
    Load(WritePage("tiles.html", kTilePage));
    PageDocument* page = view_.GetPageDocument();
    ASSERT_NE(page, nullptr);
    std::vector<PagePoint> line;
    std::vector<std::optional<PageElement>> oneByOne;
    for (int x = -3; x < 700; x += 13) {
        line.push_back({x, 99});
        oneByOne.push_back(page->ElementAt(x, 99));
    }
    EXPECT_EQ(page->ElementsAt(line), oneByOne);
    // Cut after the first change of element: the left tile, then the right one.
    std::vector<PagePoint> run;
    for (int x = 50; x < 700; ++x) {
        run.push_back({x, 50});
    }
    const std::vector<std::optional<PageElement>> untilChange = page->ElementsAtUntilChange(run);
    ASSERT_EQ(untilChange.size(), 51u);
    EXPECT_EQ(untilChange[49], kLeftTile);
    EXPECT_EQ(untilChange[50], kRightTile);
    EXPECT_EQ(oneByOne[1], kLeftTile);
    EXPECT_EQ(oneByOne.back(), oneByOne[oneByOne.size() - 2]); // past the tiles: the page itself
    EXPECT_NE(oneByOne.back(), kRightTile);
    EXPECT_TRUE(page->ElementsAt({}).empty());
}

TEST_F(QuiltaraViewTest, PointsAreViewPixelsWhateverThePageZoom) {
    Load(WritePage("tiles.html", kTilePage));
    view_.Browser()->page()->setZoomFactor(2.0);
    PageDocument* page = view_.GetPageDocument();
    // At twice the size the left tile covers the first 200 view pixels.
    EXPECT_TRUE(test::WaitUntil([&] { return page->ElementAt(150, 150) == kLeftTile; }));
    EXPECT_EQ(page->ElementAt(250, 10), kRightTile);
}

TEST_F(QuiltaraViewTest, EachLoadReplacesThePageDocument) {
    Load(WritePage("tiles.html", kTilePage));
    Load(WritePage("plain.html",
                   "<html><body style='margin:0'><p style='margin:0;"
                   "height:300px;background:#eee'>no tiles</p></body></html>"));
    EXPECT_EQ(view_.GetPageDocument()->ElementAt(50, 50), (PageElement{"P", ""}));
}

TEST_F(QuiltaraViewTest, TheOverlayIsMadeOnceAndCoversTheViewAfterEveryResize) {
    EXPECT_EQ(view_.SelectionOverlay(), nullptr);
    CSelectionOverlay* overlay = view_.CreateSelectionOverlay();
    ASSERT_NE(overlay, nullptr);
    EXPECT_EQ(view_.CreateSelectionOverlay(), overlay);
    EXPECT_EQ(view_.findChildren<CSelectionOverlay*>().size(), 1);
    EXPECT_FALSE(overlay->isVisible());
    EXPECT_TRUE(overlay->State().inactive);
    EXPECT_EQ(overlay->parentWidget(), &view_);
    EXPECT_EQ(overlay->geometry(), QRect(0, 0, 640, 480));
    view_.resize(333, 222);
    EXPECT_EQ(overlay->geometry(), QRect(0, 0, 333, 222));
    // Above the browser, so its drawing lands on the page.
    EXPECT_EQ(view_.children().last(), overlay);
}

TEST_F(QuiltaraViewTest, PrintsThePageThroughQtsPrintSupport) {
    Load(WritePage("tiles.html", kTilePage));
    const QString pdf = QString::fromStdString((dir_ / "page.pdf").string());
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    view_.OnFilePrintDirect(printer);
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.read(5), QByteArray("%PDF-"));
}

// The number after "name=" in a tile URL, -1 when it has none.
int UrlNumber(const std::string& url, const std::string& name) {
    std::smatch match;
    if (std::regex_search(url, match, std::regex("[?&]" + name + "=(-?[0-9]+)"))) {
        return std::stoi(match[1]);
    }
    return -1;
}

TEST_F(QuiltaraViewTest, FindsTheTileImagesOfTheOfflineMapPage) {
    test::DemoServer server;
    Load(server.SiteAddress() + "/?lat=48.85&lng=2.35&zoom=5");
    PageDocument* page = view_.GetPageDocument();
    ASSERT_NE(page, nullptr);

    // Away from the page's zoom buttons, layer switcher and attribution.
    const PagePoint middle{200, 240};
    std::optional<PageElement> tile;
    EXPECT_TRUE(test::WaitUntil([&] {
        tile = page->ElementAt(middle.x, middle.y);
        return tile && tile->tagName == "IMG";
    }));
    ASSERT_TRUE(tile.has_value());
    const int x = UrlNumber(tile->src, "x");
    const int y = UrlNumber(tile->src, "y");
    EXPECT_EQ(UrlNumber(tile->src, "zoom"), 5) << tile->src;
    EXPECT_GE(x, 0) << tile->src;
    EXPECT_GE(y, 0) << tile->src;
    EXPECT_NE(tile->src.find("v=w2."), std::string::npos) << tile->src;
    EXPECT_NE(tile->src.find("hl="), std::string::npos) << tile->src;

    // Tiles are 256 pixels square, unscaled: a step of 256 reaches the neighbour.
    const std::optional<PageElement> right = page->ElementAt(middle.x + 256, middle.y);
    ASSERT_TRUE(right.has_value());
    EXPECT_EQ(right->tagName, "IMG");
    EXPECT_EQ(UrlNumber(right->src, "x"), x + 1) << right->src;
    EXPECT_EQ(UrlNumber(right->src, "y"), y) << right->src;
    const std::optional<PageElement> below = page->ElementAt(middle.x, middle.y + 200);
    ASSERT_TRUE(below.has_value());
    const int rowsDown = UrlNumber(below->src, "y") - y;
    EXPECT_TRUE(rowsDown == 0 || rowsDown == 1) << below->src;
}

TEST(MainFrameViewTest, EveryCompletedPageShowsTheSelectionOverlayAgain) {
    test::TempDir dir;
    const std::string path = (dir / "page.html").string();
    std::ofstream(path) << "<html><body>map</body></html>";

    CQuiltaraDoc document;
    ScriptedPrompts prompts;
    QPrinter printer;
    const SourceCatalogue catalogue;
    CMainFrame frame(document, prompts, printer, catalogue);
    frame.show();
    CQuiltaraView* view = frame.GetActiveView();
    EXPECT_EQ(view->SelectionOverlay(), nullptr); // none before the first page
    for (int load = 0; load < 2; ++load) {
        if (view->SelectionOverlay() != nullptr) {
            view->SelectionOverlay()->hide();
        }
        QSignalSpy loaded(view, &CQuiltaraView::DocumentComplete);
        view->Navigate("file://" + path);
        ASSERT_TRUE(loaded.wait(30000));
        ASSERT_NE(view->SelectionOverlay(), nullptr);
        EXPECT_TRUE(view->SelectionOverlay()->isVisible()) << load;
    }
    EXPECT_EQ(view->findChildren<CSelectionOverlay*>().size(), 1);
}

} // namespace
} // namespace quiltara
