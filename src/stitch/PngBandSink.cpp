#include "stitch/PngBandSink.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

constexpr std::int32_t kTileSize = kBandTileSide;
// Strips thinner than this would decode every tile too often to be worth it.
constexpr int kMinBandRows = 16;

} // namespace

bool PngBandSink::Shape(int columns, int tileRows, const StreamingOptions& options,
                        BandShape& shape, std::string& error) {
    const std::int64_t width = std::int64_t{columns} * kTileSize;
    const std::int64_t height = std::int64_t{tileRows} * kTileSize;
    constexpr std::int64_t kPngLimit = std::numeric_limits<std::int32_t>::max();
    if (columns <= 0 || tileRows <= 0 || width > kPngLimit || height > kPngLimit) {
        error = FormatText("a map of %lld x %lld pixels cannot be a PNG image",
                           static_cast<long long>(width), static_cast<long long>(height));
        return false;
    }
    width_ = static_cast<std::size_t>(width);
    height_ = static_cast<std::size_t>(height);
    pixelBytes_ = alpha_ ? 4 : 3;
    rowBytes_ = width_ * pixelBytes_;
    shape.alpha = alpha_;
    // A row of tiles too wide for the memory allowed is made in strips, each
    // tile decoded once per strip: slower, but a map of any width fits.
    while (bandRows_ > kMinBandRows &&
           rowBytes_ * static_cast<std::size_t>(bandRows_) > options.bandMemory) {
        bandRows_ /= 2;
        shape.stripsPerTileRow *= 2;
    }
    shape.rows = bandRows_;
    shape.blockColumns = columns;
    partRows_ = static_cast<int>(std::clamp<std::size_t>(options.partBytes / rowBytes_, 1,
                                                         static_cast<std::size_t>(bandRows_)));
    partsPerBand_ = (bandRows_ + partRows_ - 1) / partRows_;
    return true;
}

void PngBandSink::Begin(BandPipeline& pipeline) {
    const RasterImage fresh(kFormatPng);
    const auto pixelsPerMetre = static_cast<std::uint32_t>(fresh.Header().xPelsPerMeter);
    errno = 0;
    if (!writer_.WriteHeader(static_cast<std::uint32_t>(width_),
                             static_cast<std::uint32_t>(height_), pixelsPerMetre, alpha_,
                             PngTextEntries(pipeline.Options().metadata)) ||
        !writer_.AddImageData(ZlibStreamJoiner::Header(level_))) {
        pipeline.Fail(WriteFailure(errno));
    }
}

// Bands arrive in order, each once decoded; the band above has handed over
// its last rows by then.
void PngBandSink::BandDecoded(BandPipeline& pipeline, BandSlot& slot, int band) {
    if (band + 1 < pipeline.Bands()) {
        auto rows = std::make_unique<RowsAbove>();
        rows->secondLast.resize(rowBytes_);
        rows->last.resize(rowBytes_);
        StoredRow(slot, 1, rows->secondLast.data());
        StoredRow(slot, 0, rows->last.data());
        above_[band + 1] = std::move(rows);
    }
    const auto found = above_.find(band);
    const RowsAbove* above = found != above_.end() ? found->second.get() : nullptr;
    const int bands = pipeline.Bands();
    for (int part = 0; part < partsPerBand_; ++part) {
        const BandSlot* source = &slot;
        pipeline.Dispatch(
            [this, &pipeline, source, above, band, part, bands]() -> BandPipeline::Continuation {
                std::shared_ptr<DeflatePart> compressed =
                    CompressPart(*source, above, band, part, bands);
                return [this, &pipeline, compressed, band, part] {
                    done_[{band, part}] = compressed;
                    WriteReadyParts(pipeline);
                };
            },
            true, "the image data could not be compressed");
    }
}

void PngBandSink::WriteReadyParts(BandPipeline& pipeline) {
    for (;;) {
        const auto found = done_.find({writeBand_, writePart_});
        if (found == done_.end()) {
            return;
        }
        const DeflatePart& part = *found->second;
        joiner_.AddPart(part.Adler(), part.Length());
        errno = 0;
        if (!writer_.AddImageData(part.Compressed())) {
            pipeline.Fail(WriteFailure(errno));
            return;
        }
        done_.erase(found);
        if (++writePart_ == partsPerBand_) {
            above_.erase(writeBand_);
            pipeline.ReleaseBand(writeBand_++);
            writePart_ = 0;
        }
    }
}

void PngBandSink::StoredRow(const BandSlot& slot, std::uint32_t stored, std::uint8_t* out) const {
    if (alpha_) {
        BandRowToRgba(slot.image.RowPointer(stored), slot.image.AlphaPlane() + stored * width_,
                      width_, out);
    } else {
        BandRowToRgb(slot.image.RowPointer(stored), width_, out);
    }
}

bool PngBandSink::FileOrderRow(const BandSlot& slot, const RowsAbove* above, int row,
                               std::uint8_t* out) const {
    if (row >= 0) {
        StoredRow(slot, static_cast<std::uint32_t>(bandRows_ - 1 - row), out);
        return true;
    }
    if (above == nullptr) {
        return false; // above the picture
    }
    const std::vector<std::uint8_t>& source = row == -1 ? above->last : above->secondLast;
    std::memcpy(out, source.data(), rowBytes_);
    return true;
}

std::unique_ptr<DeflatePart> PngBandSink::CompressPart(const BandSlot& slot, const RowsAbove* above,
                                                       int band, int part, int bands) const {
    const int first = part * partRows_;
    const int last = std::min(bandRows_, first + partRows_);
    std::vector<std::uint8_t> prior(rowBytes_, 0);
    std::vector<std::uint8_t> row(rowBytes_);
    std::vector<std::uint8_t> filtered(rowBytes_ + 1);
    auto deflater = std::make_unique<DeflatePart>(level_, true);
    // The filtered row above is what precedes this part in the stream.
    if (FileOrderRow(slot, above, first - 1, row.data())) {
        if (!FileOrderRow(slot, above, first - 2, prior.data())) {
            std::fill(prior.begin(), prior.end(), 0);
        }
        FilterRgbRow(prior.data(), row.data(), rowBytes_, filtered.data(), pixelBytes_);
        deflater->SetDictionary(filtered);
        prior.swap(row);
    }
    for (int r = first; r < last && !deflater->Failed(); ++r) {
        FileOrderRow(slot, above, r, row.data());
        FilterRgbRow(prior.data(), row.data(), rowBytes_, filtered.data(), pixelBytes_);
        deflater->Add(filtered);
        prior.swap(row);
    }
    deflater->End(band == bands - 1 && part == partsPerBand_ - 1);
    if (deflater->Failed()) {
        throw std::runtime_error("deflate failed");
    }
    return deflater;
}

void PngBandSink::Finish(BandPipeline& pipeline) {
    errno = 0;
    if (!(writer_.AddImageData(joiner_.Trailer()) && writer_.Finish())) {
        pipeline.Fail(WriteFailure(errno));
    }
}

} // namespace quiltara
