#pragma once

#include <string>

namespace demomap {

// The slippy-map page served at "/": Leaflet (served by this service under
// /leaflet/) showing the road map, satellite and terrain layers as 256 x 256
// <img> tiles whose URLs carry x, y, zoom, v and hl query parameters, on the
// tile hosts mt0..mt3.google.localhost and khm0..khm3.google.localhost of the
// page's own port. The page's query may set hl, lat, lng, zoom and layer
// (map, satellite or terrain).
const std::string& MapPageHtml();

} // namespace demomap
