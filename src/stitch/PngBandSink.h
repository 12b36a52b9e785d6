#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "image/ByteStream.h"
#include "image/DeflateParts.h"
#include "image/PngStreamWriter.h"
#include "stitch/BandPipeline.h"

namespace quiltara {

// The PNG output of the streaming stitcher: each band filtered and deflated
// in parts on the workers, the parts joined into one zlib stream written to
// out in order. With alpha the image is RGBA, the band's alpha beside its
// colour.
class PngBandSink : public BandSink {
public:
    PngBandSink(ByteStream& out, int level, bool alpha = false)
        : writer_(out), level_(level), alpha_(alpha) {}

    bool Shape(int columns, int tileRows, const StreamingOptions& options, BandShape& shape,
               std::string& error) override;
    void Begin(BandPipeline& pipeline) override;
    void BandDecoded(BandPipeline& pipeline, BandSlot& slot, int band) override;
    void Finish(BandPipeline& pipeline) override;

private:
    // The two rows just above a band, in file byte order (red, green, blue, and alpha): the
    // first part of the band filters its top row against them and takes the
    // filtered row above as its dictionary.
    struct RowsAbove {
        std::vector<std::uint8_t> secondLast;
        std::vector<std::uint8_t> last;
    };

    void WriteReadyParts(BandPipeline& pipeline);
    std::unique_ptr<DeflatePart> CompressPart(const BandSlot& slot, const RowsAbove* above,
                                              int band, int part, int bands) const;
    bool FileOrderRow(const BandSlot& slot, const RowsAbove* above, int row,
                      std::uint8_t* out) const;
    // Stored row `stored` of the band in file byte order.
    void StoredRow(const BandSlot& slot, std::uint32_t stored, std::uint8_t* out) const;

    PngStreamWriter writer_;
    ZlibStreamJoiner joiner_;
    const int level_;
    const bool alpha_;
    std::size_t pixelBytes_ = 3;
    std::size_t width_ = 0;    // pixels
    std::size_t height_ = 0;   // pixels
    std::size_t rowBytes_ = 0; // file bytes of a row, filter byte excluded
    int bandRows_ = kBandTileSide;
    int partRows_ = 1;
    int partsPerBand_ = 1;
    std::map<int, std::unique_ptr<RowsAbove>> above_;
    std::map<std::pair<int, int>, std::shared_ptr<DeflatePart>> done_;
    int writeBand_ = 0;
    int writePart_ = 0;
};

} // namespace quiltara
