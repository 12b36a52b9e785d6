#include "view/MapProbe.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <vector>

#include "platform/Prompts.h"
#include "sources/SourceCatalogue.h"
#include "tiles/TextFormat.h"

namespace quiltara {

const char* const kProbeWiderMessage =
    "The system does not have enough space to work out where you are on the map, please make the "
    "window wider and try again";
const char* const kProbeHigherMessage =
    "The system does not have enough space to work out where you are on the map, please make the "
    "window higher and try again";

namespace {

constexpr double kPixelFraction = 0.00390625; // one pixel of a 256-pixel tile
constexpr int kTileSize = 256;
// How far a scan asks at once once it has passed the view's edge; only a page
// that answers for points outside its view gets there.
constexpr long long kRunBeyondView = 256;

std::string Upper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// Where the value of NAME= starts in the upper-cased URL, with the match's start.
struct ParamMatch {
    size_t start = std::string::npos;
    size_t value = std::string::npos;
};

ParamMatch FindParam(const std::string& upperUrl, std::string_view name) {
    const std::string key = Upper(name) + "=";
    ParamMatch match;
    match.start = upperUrl.find(key);
    if (match.start != std::string::npos) {
        match.value = match.start + key.size();
    }
    return match;
}

const char* DownloadLine(int layer) {
    switch (layer) {
        case 0:
            return "\nWill download from 'Maps'";
        case 1:
            return "\nWill download from 'Satellite'";
        case 2:
            return "\nWill download from 'Terrain'";
        default:
            return "";
    }
}

// The last coordinate of the run that starts at next: up to and including the
// first pixel outside the view in the scan's direction.
long long RunEnd(long long next, int direction, int extent) {
    if (direction > 0) {
        return next <= extent ? extent : next + kRunBeyondView - 1;
    }
    return next >= -1 ? -1 : next - kRunBeyondView + 1;
}

// The tile address read against the source's templates: the tile and the
// layer it belongs to.
struct SourceTile {
    TileMatch tile;
    const SourceLayer* layer = nullptr;
};

std::optional<SourceTile> MatchSourceTile(const TileSource* source, std::string_view url) {
    if (source == nullptr) {
        return std::nullopt;
    }
    for (const SourceLayer& layer : source->layers) {
        if (const std::optional<TileMatch> match = layer.tileTemplate.Match(url, source->subdomains)) {
            return SourceTile{*match, &layer};
        }
    }
    return std::nullopt;
}

} // namespace

void GetUrlParamInt(std::string_view url, std::string_view name, int& value) {
    const std::string upper = Upper(url);
    const ParamMatch match = FindParam(upper, name);
    if (match.start != std::string::npos) {
        value = ReadLeadingInt(std::string_view(upper).substr(match.value));
    }
}

void GetUrlParamText(std::string_view url, std::string_view name, std::string& value) {
    const std::string upper = Upper(url);
    const ParamMatch match = FindParam(upper, name);
    if (match.start == std::string::npos) {
        return;
    }
    const size_t amp = upper.find('&', match.start);
    if (amp == std::string::npos) {
        return;
    }
    // A name that itself holds an "&" finds that one: its value is empty.
    value = upper.substr(match.value, amp >= match.value ? amp - match.value : 0);
}

TileIndex TileOfElement(const std::optional<PageElement>& element, bool panelExists,
                        const TileSource* source) {
    TileIndex tile;
    if (!element || !panelExists || Upper(element->tagName) != "IMG") {
        return tile;
    }
    GetUrlParamInt(element->src, "x", tile.column);
    GetUrlParamInt(element->src, "y", tile.row);
    if (tile.column == -1 || tile.row == -1) {
        if (const std::optional<SourceTile> found = MatchSourceTile(source, element->src)) {
            return {found->tile.column, found->tile.row};
        }
    }
    return tile;
}

std::optional<PanelValues> ReadLocation(const std::optional<PageElement>& element, int x, int y,
                                        const PanelValues& current, const TileSource* source) {
    if (!element) {
        return std::nullopt;
    }
    const std::string tag = Upper(element->tagName);
    if (tag != "IMG") {
        return std::nullopt;
    }
    const std::string& url = element->src;
    PanelValues next = current;
    std::string details = FormatText("X: %i,  Y: %i  Element: %s", x, y, tag.c_str()) + "\n" + url;

    int column = -1;
    int row = -1;
    int zoom = -1;
    GetUrlParamInt(url, "x", column);
    GetUrlParamInt(url, "y", row);
    GetUrlParamInt(url, "zoom", zoom);
    if (zoom == -1) {
        GetUrlParamInt(url, "z", zoom);
    }

    std::string version;
    GetUrlParamText(url, "v", version);
    const std::string layerTag = Lower(version).substr(0, 3);
    if (layerTag == "w2.") {
        next.detectedLayer = 0;
    } else if (layerTag == "w2t") {
        next.detectedLayer = 1;
    } else if (layerTag == "w2p") {
        next.detectedLayer = 2;
    }
    GetUrlParamText(url, "hl", next.languageCode);

    const char* downloadLine = DownloadLine(next.detectedLayer);
    std::string sourceLine;
    if (column == -1 || row == -1) {
        if (const std::optional<SourceTile> found = MatchSourceTile(source, url)) {
            column = found->tile.column;
            row = found->tile.row;
            zoom = found->tile.zoom;
            next.detectedLayer = static_cast<int>(found->layer->layer);
            sourceLine = "\nWill download from '" + found->layer->name + "'";
            downloadLine = sourceLine.c_str();
        }
    }
    next.detailsText = details + downloadLine;
    next.xText = FormatText("%i", column);
    next.yText = FormatText("%i", row);
    next.zoomText = FormatText("%i", zoom);
    return next;
}

MapProbe::MapProbe(PageDocument* page, bool panelExists, int viewWidth, int viewHeight,
                   const TileSource* source)
    : page_(page),
      panelExists_(panelExists),
      viewWidth_(viewWidth),
      viewHeight_(viewHeight),
      source_(source) {}

TileIndex MapProbe::GetTileAt(int x, int y) const {
    if (page_ == nullptr) {
        return {};
    }
    return TileOfElement(page_->ElementAt(x, y), panelExists_, source_);
}

TileEdge MapProbe::ScanToTileEdge(int x, int y, std::string_view axis, int step) const {
    const bool horizontal = Lower(axis) == "x";
    const int direction = step < 0 ? -1 : 1;
    const int extent = horizontal ? viewWidth_ : viewHeight_;
    auto pointAt = [&](long long along) {
        const int at = static_cast<int>(along);
        return horizontal ? PagePoint{at, y} : PagePoint{x, at};
    };

    // Each question leads with a point already known (first the start point,
    // whose tile is the reference) and carries the whole run from there to the
    // view's edge, so one round trip to the page normally serves the whole walk.
    // The page answers up to where the element under the run changes; the rule
    // below decides from those answers exactly as the one-pixel walk would.
    std::vector<PagePoint> points{PagePoint{x, y}};
    std::optional<TileIndex> reference;
    long long next = static_cast<long long>(horizontal ? x : y) + direction;
    for (;;) {
        if (next > INT_MAX || next < INT_MIN) {
            // Only a page that claims the same tile everywhere gets here.
            return {static_cast<int>(next - direction), true};
        }
        const long long last =
            std::clamp(RunEnd(next, direction, extent), static_cast<long long>(INT_MIN),
                       static_cast<long long>(INT_MAX));
        for (long long at = next;; at += direction) {
            points.push_back(pointAt(at));
            if (at == last) {
                break;
            }
        }
        std::vector<std::optional<PageElement>> answers;
        if (page_ != nullptr) {
            answers = page_->ElementsAtUntilChange(points);
        }
        if (answers.size() < 2) {
            answers.resize(points.size()); // no answer: nothing is there
        }
        if (!reference) {
            reference = TileOfElement(answers[0], panelExists_, source_);
        }
        long long at = next;
        for (size_t i = 1; i < answers.size(); ++i, at += direction) {
            const TileIndex tile = TileOfElement(answers[i], panelExists_, source_);
            const bool failed = tile.column == -1;
            const bool otherTile =
                horizontal ? tile.column != reference->column : tile.row != reference->row;
            if (failed || otherTile) {
                return {static_cast<int>(at), failed};
            }
        }
        // Everything answered continues the walk (another element of the same
        // tile, or the run ended): go on after the last point answered.
        const long long answered = at - direction;
        points.assign(1, pointAt(answered));
        next = answered + direction;
    }
}

CTilePoint MapProbe::GetTilePosition(int x, int y, Prompts* prompts) const {
    const CTilePoint none;
    const TileIndex tile = GetTileAt(x, y);
    if (tile.column == -1 || tile.row == -1) {
        return none;
    }
    struct Axis {
        const char* name;
        int at;
        const char* message;
    };
    double offsets[2] = {0.0, 0.0};
    const Axis axes[2] = {{"x", x, kProbeWiderMessage}, {"y", y, kProbeHigherMessage}};
    for (int a = 0; a < 2; ++a) {
        const Axis& axis = axes[a];
        const TileEdge back = ScanToTileEdge(x, y, axis.name, -1);
        if (!back.failed && back.edge != -1) {
            offsets[a] = static_cast<double>(axis.at) - back.edge - 1;
            continue;
        }
        const TileEdge forward = ScanToTileEdge(x, y, axis.name, +1);
        if (!forward.failed && forward.edge != -1) {
            offsets[a] = kTileSize - (static_cast<double>(forward.edge) - axis.at);
            continue;
        }
        if (prompts != nullptr) {
            prompts->ShowMessage(axis.message, MessageButtons::Ok);
        }
        return none;
    }
    return {tile.column + offsets[0] * kPixelFraction, tile.row + offsets[1] * kPixelFraction};
}

CTileRect MapProbe::GetTileRect(int x1, int y1, int x2, int y2, Prompts* prompts) const {
    const CTilePoint first = GetTilePosition(x1, y1, prompts);
    const CTilePoint second = GetTilePosition(x2, y2, prompts);
    return {first.y, first.x, second.x, second.y};
}

} // namespace quiltara
