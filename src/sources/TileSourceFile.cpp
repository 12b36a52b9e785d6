#include "sources/TileSourceFile.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <nlohmann/json.hpp>

#include "platform/AtomicFile.h"

namespace quiltara {

std::string TileSourceText(const TileSource& source) {
    using Json = nlohmann::ordered_json;
    Json file;
    file["id"] = source.id;
    file["name"] = source.name;
    Json layers = Json::object();
    for (const SourceLayer& layer : source.layers) {
        Json entry = {{"template", layer.tileTemplate.Text()}, {"name", layer.name}};
        const std::vector<std::string>& names = layer.tileTemplate.ZoomNames();
        if (!names.empty()) {
            Json table = Json::object();
            for (std::size_t zoom = 0; zoom < names.size(); ++zoom) {
                if (!names[zoom].empty()) {
                    table[std::to_string(zoom)] = names[zoom];
                }
            }
            entry["zoomNames"] = table;
        }
        layers[LayerName(layer.layer)] = entry;
    }
    file["layers"] = layers;
    if (!source.subdomains.empty()) {
        file["subdomains"] = source.subdomains;
    }
    file["minZoom"] = source.minZoom;
    file["maxZoom"] = source.maxZoom;
    file["attribution"] = source.attribution;
    file["terms"] = source.terms;
    if (!source.headerLines.empty()) {
        file["headers"] = source.headerLines;
    }
    file["connections"] = source.connections;
    if (source.rate) {
        file["rate"] = *source.rate;
    }
    if (source.tileLimit) {
        file["tileLimit"] = *source.tileLimit;
    }
    if (source.start) {
        file["start"] = {{"lat", source.start->latitude},
                         {"lon", source.start->longitude},
                         {"zoom", source.start->zoom}};
    }
    return file.dump(2) + "\n";
}

std::filesystem::path UserSourcePath(const std::string& id) {
    return UserSourcesFolder() / (id + ".json");
}

std::optional<std::filesystem::path> SaveUserSource(const TileSource& source, bool replace,
                                                    std::string& error) {
    const std::filesystem::path path = UserSourcePath(source.id);
    if (UserSourcesFolder().empty()) {
        error = "there is no folder for your sources (neither XDG_CONFIG_HOME nor HOME is set)";
        return std::nullopt;
    }
    std::error_code ec;
    if (!replace && std::filesystem::exists(path, ec)) {
        error = "there is a source file " + path.string() + " already";
        return std::nullopt;
    }
    std::filesystem::create_directories(path.parent_path(), ec);
    if (ec) {
        error = "cannot make " + path.parent_path().string() + ": " + ec.message();
        return std::nullopt;
    }
    try {
        AtomicFile file(path);
        const std::string text = TileSourceText(source);
        if (std::fwrite(text.data(), 1, text.size(), file.Stream()) != text.size()) {
            error = "cannot write " + path.string() + ": " + std::strerror(errno);
            return std::nullopt;
        }
        file.Commit();
    } catch (const std::system_error& failure) {
        error = "cannot write " + path.string() + ": " + failure.code().message();
        return std::nullopt;
    }
    return path;
}

} // namespace quiltara
