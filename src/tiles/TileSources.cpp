#include "tiles/TileSources.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "tiles/TileTemplate.h"

namespace quiltara {
namespace {

constexpr int kServerCount = 4;
// One less than the word's length: the full word is never sent.
constexpr int kLongestWord = static_cast<int>(kServerWord.size()) - 1;

void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
    size_t at = text.find(placeholder);
    while (at != std::string::npos) {
        text.replace(at, placeholder.size(), value);
        // Continue after the inserted value, so a value that contains the
        // placeholder itself is not expanded again.
        at = text.find(placeholder, at + value.size());
    }
}

} // namespace

const char* DefaultSourceTemplate(MapLayer layer) {
    switch (layer) {
        case MapLayer::Map:
            return "http://mt[SRVINDEX].google.com/vt/v=w2.97&hl=[HL]&x=[X]&y=[Y]&z=[Z]&s=[SERVER]";
        case MapLayer::Satellite:
            return "http://khm[SRVINDEX].google.com/kh/v=50&x=[X]&y=[Y]&z=[Z]&s=[SERVER]";
        case MapLayer::Terrain:
            return "http://mt[SRVINDEX].google.com/vt/"
                   "v=w2p.115&hl=[HL]&x=[X]&y=[Y]&z=[Z]&s=[SERVER]";
        case MapLayer::Hybrid:
            return "http://mt[SRVINDEX].google.com/vt/"
                   "lyrs=h@115&hl=[HL]&x=[X]&y=[Y]&z=[Z]&s=[SERVER]";
    }
    return "";
}

std::string ExpandSourceUrl(std::string sourceTemplate, std::string_view serverNumber, int column,
                            int row, int zoom, std::string_view languageCode, int wordLength) {
    const size_t letters = wordLength < 0 ? 0 : static_cast<size_t>(wordLength);
    ReplaceAll(sourceTemplate, "[SRVINDEX]", serverNumber);
    ReplaceAll(sourceTemplate, "[X]", std::to_string(column));
    ReplaceAll(sourceTemplate, "[Y]", std::to_string(row));
    ReplaceAll(sourceTemplate, "[Z]", std::to_string(zoom));
    ReplaceAll(sourceTemplate, "[HL]", languageCode.empty() ? "en" : languageCode);
    ReplaceAll(sourceTemplate, "[SERVER]", kServerWord.substr(0, letters));
    return sourceTemplate;
}

TileFileResult FetchTileWithRetries(const std::string& sourceTemplate, int column, int row,
                                    int zoom, const std::filesystem::path& tilePath,
                                    std::string_view languageCode,
                                    RememberedServerNumber& remembered, TileUrlFetcher& fetcher) {
    const bool rememberedAtEntry = remembered.Has();
    int busyLeft = kBusyRetries;
    TileFileResult result(false);
    for (int server = 0; server < kServerCount; ++server) {
        for (int letters = 1; letters <= kLongestWord; ++letters) {
            const std::string number =
                remembered.Has() ? remembered.Text() : std::to_string(server);
            const std::string url =
                ExpandSourceUrl(sourceTemplate, number, column, row, zoom, languageCode, letters);
            do {
                result = fetcher.FetchUrlToFile(tilePath, url);
            } while (result.busy == BusyServer::WaitAsked && busyLeft-- > 0);
            if (result.usable) {
                if (!result.keptExisting) {
                    remembered.RememberIfUnset(number);
                }
                return result;
            }
            if (rememberedAtEntry || result.busy == BusyServer::TooLong) {
                return result;
            }
        }
    }
    return result;
}

TileFileResult FetchTileOfSource(const TileRequestStyle& style, const std::string& sourceTemplate,
                                 int column, int row, int zoom,
                                 const std::filesystem::path& tilePath,
                                 std::string_view languageCode, RememberedServerNumber& remembered,
                                 TileUrlFetcher& fetcher) {
    if (!style.catalogue) {
        return FetchTileWithRetries(sourceTemplate, column, row, zoom, tilePath, languageCode,
                                    remembered, fetcher);
    }
    std::string error;
    const auto own =
        std::find_if(style.templates.begin(), style.templates.end(),
                     [&](const TileTemplate& t) { return t.Text() == sourceTemplate; });
    const std::optional<TileTemplate> parsed =
        own != style.templates.end() ? *own : TileTemplate::Parse(sourceTemplate, error);
    if (!parsed) {
        return false;
    }
    const bool rememberedAtEntry = remembered.Has();
    const std::size_t count = std::max<std::size_t>(1, style.subdomains.size());
    // Neighbouring tiles go to different subdomains, as map pages spread them.
    const std::size_t first = static_cast<std::size_t>(std::abs(column % static_cast<int>(count)) +
                                                       std::abs(row % static_cast<int>(count))) %
                              count;
    TileFileResult result(false);
    int requests = 0;
    std::string previous;
    for (std::size_t k = 0; k < std::min(count, kMostSubdomainsTried); ++k) {
        const std::string subdomain =
            style.subdomains.empty() ? std::string() : style.subdomains[(first + k) % count];
        const std::string url = parsed->Expand(column, row, zoom, subdomain, languageCode);
        if (url == previous || requests >= kMostCatalogueRequests) {
            // A template without {s} would ask the same again; or the
            // tile's requests are spent.
            break;
        }
        previous = url;
        do {
            result = fetcher.FetchUrlToFile(tilePath, url);
            ++requests;
        } while ((result.busy == BusyServer::WaitAsked || result.busy == BusyServer::NoWait) &&
                 requests < kMostCatalogueRequests);
        if (result.usable) {
            if (!result.keptExisting) {
                // Tells the parallel fetcher that requests now work; the
                // number itself picks nothing in a catalogue template.
                remembered.RememberIfUnset("0");
            }
            return result;
        }
        if (rememberedAtEntry || result.busy != BusyServer::No) {
            return result; // a busy server is not asked on another name
        }
    }
    return result;
}

} // namespace quiltara
