#include "sources/WmtsSource.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

// Latitudes beyond this lie off the square Mercator grid.
constexpr double kLatitudeLimit = 85.0511;
// The page opens with the layers' common area about this many tiles across.
constexpr double kTilesAcrossAtStart = 3.0;
constexpr std::size_t kLongestId = 48;

class TextSink : public HttpBodySink {
public:
    void WriteBlock(std::span<const std::byte> block) override {
        if (text.size() + block.size() > kLargestCapabilities) {
            throw std::length_error("larger than any capabilities document");
        }
        text.append(reinterpret_cast<const char*>(block.data()), block.size());
    }
    std::string text;
};

bool IsAddress(const std::string& location) {
    const std::string lower = LowerCase(location.substr(0, 8));
    return lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
}

std::optional<std::string> ReadFile(const std::string& location, std::string& error) {
    const std::string path = location.rfind("file://", 0) == 0 ? location.substr(7) : location;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    char block[65536];
    while (in.read(block, sizeof block) || in.gcount() > 0) {
        text.append(block, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kLargestCapabilities) {
            error = path + " is larger than any capabilities document";
            return std::nullopt;
        }
    }
    return text;
}

// The start over the common area of boxes, at the zoom that shows it a few
// tiles across; nothing when no layer gives its area.
std::optional<MapPosition> StartOver(const std::vector<const WmtsLayer*>& layers, int minZoom,
                                     int maxZoom) {
    std::optional<DegreeBox> common;
    for (const WmtsLayer* layer : layers) {
        if (!layer->bounds) {
            continue;
        }
        if (!common) {
            common = layer->bounds;
            continue;
        }
        common->west = std::max(common->west, layer->bounds->west);
        common->south = std::max(common->south, layer->bounds->south);
        common->east = std::min(common->east, layer->bounds->east);
        common->north = std::min(common->north, layer->bounds->north);
    }
    if (!common || common->east <= common->west || common->north <= common->south) {
        return std::nullopt;
    }
    const double width = std::clamp(common->east - common->west, 1e-6, 360.0);
    const int zoom = static_cast<int>(std::floor(std::log2(kTilesAcrossAtStart * 360.0 / width)));
    return MapPosition{
        std::clamp((common->south + common->north) / 2.0, -kLatitudeLimit, kLatitudeLimit),
        std::clamp((common->west + common->east) / 2.0, -180.0, 180.0),
        std::clamp(zoom, minZoom, maxZoom)};
}

} // namespace

std::optional<std::string> ReadCapabilitiesText(const std::string& location, HttpClient& http,
                                                std::string& error) {
    if (!IsAddress(location)) {
        return ReadFile(location, error);
    }
    TextSink sink;
    try {
        const HttpResult answer = http.Get(
            location,
            {"Accept: application/xml, text/xml, */*", "User-Agent: " + QuiltaraUserAgent()}, sink);
        if (answer.status < 200 || answer.status > 299) {
            error =
                FormatText("the service answered %ld instead of its capabilities", answer.status);
            return std::nullopt;
        }
        if (!answer.complete) {
            error = "the service stopped before the end of its capabilities";
            return std::nullopt;
        }
    } catch (const HttpConnectionError& failure) {
        error = failure.Reason();
        return std::nullopt;
    } catch (const std::length_error& tooLong) {
        error = std::string("the answer is ") + tooLong.what();
        return std::nullopt;
    }
    return std::move(sink.text);
}

std::string SourceIdFor(const std::string& title) {
    std::string id;
    for (unsigned char c : title) {
        if (std::isalnum(c) != 0 && c < 0x80) {
            id += static_cast<char>(std::tolower(c));
        } else if (!id.empty() && id.back() != '-') {
            id += '-';
        }
    }
    id = id.substr(0, kLongestId);
    while (!id.empty() && id.back() == '-') {
        id.pop_back();
    }
    return id.empty() ? "wmts" : id;
}

std::optional<TileSource> SourceFromWmts(const WmtsService& service, const WmtsChoice& choice,
                                         const std::string& location, std::string& error) {
    TileSource source;
    source.id = choice.id.empty() ? SourceIdFor(service.title) : choice.id;
    source.name = service.title.empty() ? source.id : service.title;
    source.attribution = service.provider.empty() ? source.name : service.provider;
    source.terms = service.providerSite.empty() ? location : service.providerSite;
    source.minZoom = 0;
    source.maxZoom = 30;
    std::vector<const WmtsLayer*> chosen;
    for (MapLayer kind : kAllLayers) {
        const std::string& identifier = choice.layers[static_cast<std::size_t>(kind)];
        if (identifier.empty()) {
            continue;
        }
        const WmtsLayer* layer = service.Find(identifier);
        if (layer == nullptr) {
            error = "the service has no layer '" + identifier + "'";
            return std::nullopt;
        }
        if (!layer->Usable()) {
            error = "the layer '" + identifier + "' cannot be used: " + layer->refusal;
            return std::nullopt;
        }
        std::optional<TileTemplate> parsed = TileTemplate::Parse(layer->tileTemplate, error);
        if (!parsed) {
            error =
                "the layer '" + identifier + "' has a tile address Quiltara cannot read: " + error;
            return std::nullopt;
        }
        parsed->SetZoomNames(layer->zoomNames);
        source.layers.push_back(SourceLayer{kind, layer->title, std::move(*parsed)});
        source.minZoom = std::max(source.minZoom, layer->minZoom);
        source.maxZoom = std::min(source.maxZoom, layer->maxZoom);
        chosen.push_back(layer);
    }
    if (chosen.empty()) {
        error = "no layer chosen";
        return std::nullopt;
    }
    if (source.minZoom > source.maxZoom) {
        error = "the layers chosen share no zoom level";
        return std::nullopt;
    }
    source.start = StartOver(chosen, source.minZoom, source.maxZoom);
    return source;
}

std::string WmtsListing(const WmtsService& service) {
    std::size_t width = 0;
    for (const WmtsLayer& layer : service.layers) {
        width = std::max(width, layer.identifier.size());
    }
    std::string listing;
    for (const WmtsLayer& layer : service.layers) {
        listing += "  " + layer.identifier + std::string(width - layer.identifier.size() + 2, ' ') +
                   layer.title + " (";
        listing += layer.Usable()
                       ? FormatText("zoom %i to %i, %s%s", layer.minZoom, layer.maxZoom,
                                    layer.format.c_str(), layer.keyValue ? ", key-value" : "")
                       : "cannot be used: " + layer.refusal;
        listing += ")\n";
    }
    return listing;
}

} // namespace quiltara
