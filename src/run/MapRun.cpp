#include "run/MapRun.h"

#include "stitch/MapStitcher.h"
#include "stitch/StreamingStitcher.h"

namespace quiltara {
namespace {

std::unique_ptr<TileFetcher> MakeFetcher(const MapRunParts& parts,
                                         const TileImageCheck& imageCheck) {
    TileFetcherParts fetch{parts.http,       parts.moreConnections, parts.prompts,
                           imageCheck,       parts.choice,          parts.runState,
                           parts.remembered, parts.languageCode};
    fetch.beforeAttempt = parts.beforeAttempt;
    if (parts.cancel != nullptr) {
        fetch.stopRequested = [cancel = parts.cancel] { return cancel->Requested(); };
    }
    fetch.requestStyle = parts.requestStyle;
    fetch.cache = parts.cache;
    return MakeTileFetcher(parts.connections, fetch);
}

std::unique_ptr<LayerStitcher> MakeStitcher(const StitchChoice& choice) {
    if (choice.inMemory) {
        return std::make_unique<InMemoryStitcher>(choice.overlay);
    }
    StreamingOptions options = choice.streaming;
    options.overlay = choice.overlay;
    return std::make_unique<StreamingStitcher>(options, choice.offerTypes);
}

} // namespace

MapRun::MapRun(const MapRunParts& parts)
    : fetcher_(MakeFetcher(parts, imageCheck_)),
      stitcher_(MakeStitcher(parts.stitch)),
      services_{parts.prompts, parts.mapSources, parts.progress,
                *fetcher_,     *stitcher_,       parts.cancel},
      cache_(parts.cache) {
    stitcher_->UseCredit(CreditOf(parts.requestStyle));
}

CreateMapOutcome MapRun::Create(const CreateMapInputs& inputs) {
    CreateMapOutcome outcome = CreateMap(inputs, services_);
    if (cache_ != nullptr) {
        // Once the run's tiles are placed: the entries it used are the
        // newest, so the cap takes older ones first.
        cache_->TrimToLimit();
    }
    return outcome;
}

} // namespace quiltara
