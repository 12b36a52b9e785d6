#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tiles/MapLayer.h"
#include "tiles/TileTemplate.h"

namespace quiltara {

// The server word whose first 1 to 6 letters replace [SERVER].
inline constexpr std::string_view kServerWord = "Galileo";

// The default source URL template of a layer: "http://", a tile server host
// whose first label is a fixed prefix directly followed by [SRVINDEX], then
// the layer's path with its query keys (no "?").
const char* DefaultSourceTemplate(MapLayer layer);

// Replaces, in this order and each on the previous result, every [SRVINDEX]
// by serverNumber, [X], [Y] and [Z] by column, row and zoom ("%d"), [HL] by
// languageCode ("en" while it is empty) and [SERVER] by the first wordLength
// letters of "Galileo". Placeholders match exactly, with case.
std::string ExpandSourceUrl(std::string sourceTemplate, std::string_view serverNumber, int column,
                            int row, int zoom, std::string_view languageCode, int wordLength);

// The server number that worked first, as its text. The application owns one
// for its whole run; it is set by the first successful tile request and never
// changes afterwards, whatever layer or create-map run comes next.
class RememberedServerNumber {
public:
    bool Has() const { return number_.has_value(); }
    const std::string& Text() const { return *number_; }

    // Keeps number only when none is remembered yet.
    void RememberIfUnset(const std::string& number) {
        if (!number_) {
            number_ = number;
        }
    }

private:
    std::optional<std::string> number_;
};

// What a busy server (429 or 503) said about asking again.
enum class BusyServer {
    No,        // not busy: the answer simply gave no tile
    WaitAsked, // a Retry-After the connection sits out before its next request
    NoWait,    // no usable Retry-After (none, 0, a date gone by, nonsense)
    TooLong,   // a Retry-After longer than a run waits: the tile fails now
};

// How often one tile is asked for again after busy answers, whatever else
// its retries ask.
inline constexpr int kBusyRetries = 3;

// What one attempt left at the tile path: a usable file or not, whether it
// is a file that was there before (kept without asking any server), and
// what a busy server asked of the next attempt.
struct TileFileResult {
    bool usable = false;
    bool keptExisting = false;
    bool fromCache = false; // placed from the tile cache (fresh, or confirmed by the server)
    BusyServer busy = BusyServer::No;
    std::chrono::seconds askedWait{0}; // the wait a busy answer asked for (0: none)

    TileFileResult(bool isUsable) : usable(isUsable) {} // NOLINT: a plain yes or no reads as one
    static TileFileResult KeptExisting() {
        TileFileResult result(true);
        result.keptExisting = true;
        return result;
    }
    static TileFileResult Busy(BusyServer busy, std::chrono::seconds askedWait = {}) {
        TileFileResult result(false);
        result.busy = busy;
        result.askedWait = askedWait;
        return result;
    }
    operator bool() const { return usable; } // NOLINT: tested like the plain answer
};

// What fetches one URL into one tile file (the tile downloader).
class TileUrlFetcher {
public:
    virtual ~TileUrlFetcher() = default;

    // Usable when a usable tile file is at tilePath afterwards; not when none
    // was obtained by this call. Errors that end the run are thrown.
    virtual TileFileResult FetchUrlToFile(const std::filesystem::path& tilePath,
                                          const std::string& url) = 0;
};

// Fetches one tile of one layer, trying server numbers 0 to 3 and, for each,
// the server words "G" to "Galile" until one request gives a usable file.
// Once a number is remembered, every attempt uses it and the first failure
// ends the tile. A kept existing file asked no server, so it leaves the
// remembered number as it was. An attempt answered busy with a wait the run
// sits out is made again, kBusyRetries times at most for the whole tile; an
// answer asking for longer ends the tile at once (the result says how long).
// Usable when the tile file is usable. Errors thrown by the fetcher pass
// through: nothing is retried around them.
TileFileResult FetchTileWithRetries(const std::string& sourceTemplate, int column, int row,
                                    int zoom, const std::filesystem::path& tilePath,
                                    std::string_view languageCode,
                                    RememberedServerNumber& remembered, TileUrlFetcher& fetcher);

// The map service's own credit, as its owner asks for it where space is
// short, and its terms of use.
inline constexpr const char* kMapServiceName = "Google Maps";
inline constexpr const char* kMapServiceAttribution = "Google Maps";
inline constexpr const char* kMapServiceTerms = "https://www.google.com/help/terms_maps/";

// How the tiles of a run are asked for. A run on the map service keeps its
// header lines and its retries over server numbers and words; a run from a
// catalogue source sends that source's header lines, fills {s} from its
// subdomains and asks each tile once (before anything has worked, once from
// each of up to kMostSubdomainsTried subdomains), so a missing tile costs a
// third-party server one request. A busy answer is asked again on the same
// subdomain, with or without a Retry-After; all together no tile is asked
// more than kMostCatalogueRequests times.
struct TileRequestStyle {
    bool catalogue = false;
    std::vector<std::string> subdomains;
    std::vector<std::string> headerLines; // empty: the map service's own
    std::string sourceName;               // the catalogue source's; empty: the map service
    // The most requests per second the run sends, over all its connections;
    // 0: no limit.
    double requestsPerSecond = 0.0;
    // The source's own templates: a layer's template text found here is
    // expanded as the source reads it (its zoom names, say).
    std::vector<TileTemplate> templates;
    // The credit the images carry: the source's attribution and terms link
    // (the map service's own for its templates; empty where a source has none).
    std::string attribution = kMapServiceAttribution;
    std::string terms = kMapServiceTerms;
};

inline constexpr std::size_t kMostSubdomainsTried = 3;
inline constexpr int kMostCatalogueRequests = 4;

// Fetches one tile of one layer the way style asks (FetchTileWithRetries for
// the map service). A catalogue template that cannot be read fetches nothing.
TileFileResult FetchTileOfSource(const TileRequestStyle& style, const std::string& sourceTemplate,
                                 int column, int row, int zoom,
                                 const std::filesystem::path& tilePath,
                                 std::string_view languageCode, RememberedServerNumber& remembered,
                                 TileUrlFetcher& fetcher);

} // namespace quiltara
