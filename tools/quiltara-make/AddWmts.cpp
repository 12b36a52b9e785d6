#include "AddWmts.h"

#include "HeadlessRun.h"
#include "sources/TileSourceFile.h"
#include "tiles/MapLayer.h"
#include "tiles/TextFormat.h"

namespace quiltara::make {

std::optional<std::string> AddWmtsFrom(const GivenArguments& given,
                                       std::optional<AddWmtsRequest>& request) {
    if (!given.addWmts) {
        return "--wmts-layer and --id belong to --add-wmts";
    }
    const AreaArguments& area = given.area;
    if (area.tiles || area.box || area.selection || area.zoom || given.output || given.sourceId ||
        given.layers) {
        return "--add-wmts writes a tile source and makes no map: leave out the area, the zoom, "
               "the layers, --source and the output";
    }
    request = AddWmtsRequest{*given.addWmts, given.wmtsLayers, given.newSourceId.value_or(""),
                             given.options.proxy};
    return std::nullopt;
}

std::optional<std::string> ChooseWmtsLayers(const std::vector<std::string>& given,
                                            WmtsChoice& choice) {
    for (const std::string& entry : given) {
        const std::size_t equals = entry.find('=');
        std::optional<MapLayer> kind;
        std::string identifier = entry;
        if (equals != std::string::npos) {
            kind = LayerFromName(entry.substr(0, equals));
            if (!kind) {
                return "--wmts-layer " + entry + ": '" + entry.substr(0, equals) +
                       "' is none of map, satellite, terrain, hybrid";
            }
            identifier = entry.substr(equals + 1);
        } else {
            for (MapLayer layer : kAllLayers) {
                if (choice.layers[static_cast<std::size_t>(layer)].empty()) {
                    kind = layer;
                    break;
                }
            }
            if (!kind) {
                return "--wmts-layer " + entry + ": the four map layers are taken already";
            }
        }
        std::string& slot = choice.layers[static_cast<std::size_t>(*kind)];
        if (identifier.empty() || !slot.empty()) {
            return "--wmts-layer " + entry + ": " +
                   (identifier.empty()
                        ? std::string("no layer named")
                        : std::string("the ") + LayerName(*kind) + " layer is taken already");
        }
        slot = identifier;
    }
    return std::nullopt;
}

int RunAddWmts(const AddWmtsRequest& request, Console& out, Console& errors, HttpClient& http) {
    WmtsChoice choice;
    choice.id = request.id;
    std::string error;
    if (const std::optional<std::string> complaint = ChooseWmtsLayers(request.layers, choice)) {
        errors.Line("quiltara-make: " + *complaint);
        return kExitBadArguments;
    }
    const std::optional<std::string> text = ReadCapabilitiesText(request.location, http, error);
    const std::optional<WmtsService> service =
        text ? ReadWmtsCapabilities(*text, request.location, error) : std::nullopt;
    if (!service) {
        errors.Line("quiltara-make: " + request.location + ": " + error);
        return kExitFailed;
    }
    if (request.layers.empty()) {
        out.Line("Layers of " + (service->title.empty() ? request.location : service->title) + ":");
        out.Line(WmtsListing(*service) +
                 "Name the layers for a tile source with --wmts-layer [KIND=]ID.");
        return kExitMade;
    }
    const std::optional<TileSource> source =
        SourceFromWmts(*service, choice, request.location, error);
    const std::optional<std::filesystem::path> written =
        source ? SaveUserSource(*source, false, error) : std::nullopt;
    if (!written) {
        errors.Line("quiltara-make: " + error);
        return kExitFailed;
    }
    out.Line(FormatText("Wrote the tile source '%s' (%s; zoom %i to %i) to ", source->id.c_str(),
                        source->LayerList().c_str(), source->minZoom, source->maxZoom) +
             written->string());
    out.Line(
        "Check its attribution and terms against the service's terms of use, and use it "
        "with --source " +
        source->id + ".");
    return kExitMade;
}

} // namespace quiltara::make
