#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quiltara {

// The most requests per second a source file may ask a run to keep to.
inline constexpr double kFastestSourceRate = 1000.0;

// A layer's "zoomNames": {"0": "EPSG:3857:0", "1": "EPSG:3857:1", ...}, the
// name each zoom level goes by in the service's addresses, as a list by
// zoom (an empty entry: that zoom is its number). Nothing, with the reason
// in error, when it is not such a table.
std::optional<std::vector<std::string>> ReadZoomNames(const nlohmann::json& names,
                                                      std::string& error);

// The source's "rate": requests per second, above 0 and at most
// kFastestSourceRate. Nothing, with the reason in error, when it is not one.
std::optional<double> ReadRequestRate(const nlohmann::json& rate, std::string& error);

} // namespace quiltara
