// The attribution strip where the font or the text is not what it should be.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "SamePixels.h"
#include "StreamingTiles.h"
#include "platform/ScriptedPrompts.h"
#include "stitch/AttributionStamp.h"
#include "stitch/MapStitcher.h"
#include "stitch/StreamingStitcher.h"
#include "tiles/ProgressSink.h"

namespace quiltara {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class RecordedLines : public NullProgressSink {
public:
    void AddLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

class AttributionStamp : public test::StreamingStitcherTest {
protected:
    // The map layer of a 1 x 1 range stamped by stitcher with credit.
    std::vector<StitchedLayer> Stamp(LayerStitcher& stitcher, const ImageCredit& credit) {
        tiles_.Rgb(0, 0);
        MapSourcesValues sources;
        sources[MapLayer::Map].download = true;
        sources.publish.stampAttribution = true;
        stitcher.UseCredit(credit);
        return stitcher.StitchLayers(tiles_.Folder(), "map.png", sources, TileRange{0, 0, 0, 0},
                                     test::kStreamingZoom, prompts_, progress_, nullptr);
    }

    ScriptedPrompts prompts_;
    RecordedLines progress_;
};

TEST_F(AttributionStamp, AMissingFontIsSaidAndTheImageIsWrittenWithoutTheStrip) {
    ImageCredit credit;
    credit.attribution = "Google Maps";
    credit.fontPath = (out_ / "no-such-font.ttf").string();
    InMemoryStitcher inMemory;
    StreamingStitcher streaming;
    for (LayerStitcher* stitcher :
         {static_cast<LayerStitcher*>(&inMemory), static_cast<LayerStitcher*>(&streaming)}) {
        const std::vector<StitchedLayer> layers = Stamp(*stitcher, credit);
        ASSERT_EQ(layers.size(), 1u);
        EXPECT_TRUE(layers[0].saved) << layers[0].saveError;
        const std::string path = tiles_.Folder() + "Map_map.png";
        EXPECT_THAT(
            prompts_.Texts(),
            ElementsAre("The attribution could not be drawn on " + path + ": the font " +
                        credit.fontPath + " could not be read; the image is written without it."));
        prompts_ = ScriptedPrompts();
        // Without the strip: the tile's own pixels, as the in-memory
        // stitcher pastes them.
        const RasterImage written(path, kFormatPng);
        test::ExpectSamePixels(InMemory(0, 0), written, "unstamped image");
    }
    EXPECT_THAT(progress_.lines, ::testing::IsEmpty());
}

TEST_F(AttributionStamp, TextTheFontLacksOrThatIsNoUtf8IsDrawnWithoutHarm) {
    // Chinese and an emoji DejaVu Sans does not have, a lone continuation
    // byte, an overlong NUL, a control character and the end of Unicode.
    const std::string odd =
        "\xe5\x9c\xb0\xe5\x9b\xbe \xf0\x9f\x97\xba \x80 \xc0\x80 \x1b[31m "
        "\xf4\x8f\xbf\xbf OK";
    const CornerStamp stamp(odd, 256, 256, kStampFontPath);
    ASSERT_TRUE(stamp.Drawn()) << stamp.Note("x.png");
    EXPECT_EQ(stamp.Left() + stamp.Width(), 256);
    EXPECT_EQ(stamp.Top() + stamp.Height(), 256);
    EXPECT_FALSE(stamp.Whole());
    EXPECT_THAT(stamp.Note("x.png"), HasSubstr("cannot draw: they show as boxes"));
    RasterImage band(256, 256, 24, kFormatPng);
    ASSERT_TRUE(band.HasPixels());
    stamp.DrawInto(band, 0, 0);
    // The strip's light ground shows in its corner pixel.
    EXPECT_GT(band.PixelColor(255, 0).red, 150);
    EXPECT_EQ(band.PixelColor(255, 255 - stamp.Height()).red, 0);
}

TEST_F(AttributionStamp, ASourceWithoutAttributionGetsNoStripAndTheNoteSaysWhy) {
    ImageCredit credit; // a catalogue source whose file names no attribution
    InMemoryStitcher stitcher;
    const std::vector<StitchedLayer> layers = Stamp(stitcher, credit);
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_TRUE(layers[0].saved);
    EXPECT_THAT(layers[0].stampNote, HasSubstr("the tile source names none"));
}

} // namespace
} // namespace quiltara
