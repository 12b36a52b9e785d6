#include "MapPage.h"

namespace demomap {

const std::string& MapPageHtml() {
    static const std::string html = R"html(<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>Demo Maps</title>
<link rel="stylesheet" href="/leaflet/leaflet.css">
<script src="/leaflet/leaflet.js"></script>
<style>
html, body { margin: 0; padding: 0; height: 100%; }
#map { position: absolute; top: 0; left: 0; right: 0; bottom: 0; background: #dde; }
/* Leaflet lets pointer hit-tests pass through tiles; a position probe asks
   the page for the element under a point, which must be the tile image. */
.leaflet-tile-container, .leaflet-tile { pointer-events: auto; }
</style>
</head>
<body>
<div id="map"></div>
<script>
(function () {
    var query = new URLSearchParams(window.location.search);
    var hl = query.get('hl') || 'en';
    var port = window.location.port ? ':' + window.location.port : '';
    // Tiles are shown at their natural 256 x 256 size only: whole zoom steps,
    // no retina doubling, no wrapping of the world.
    var tileOptions = {
        subdomains: '0123', tileSize: 256, zoomOffset: 0, minZoom: 0, maxZoom: 20,
        noWrap: true, detectRetina: false, updateWhenZooming: false
    };
    function tiles(host, path, version) {
        return L.tileLayer('http://' + host + '{s}.google.localhost' + port + path +
            '?v=' + version + '&hl=' + encodeURIComponent(hl) +
            '&x={x}&y={y}&zoom={z}&s=Galileo', tileOptions);
    }
    var layers = {
        'Map': tiles('mt', '/vt', 'w2.97'),
        'Satellite': tiles('khm', '/kh', 'w2t.50'),
        'Terrain': tiles('mt', '/vt', 'w2p.115')
    };
    var chosen = { map: 'Map', satellite: 'Satellite', terrain: 'Terrain' }[query.get('layer')] || 'Map';
    var lat = parseFloat(query.get('lat'));
    var lng = parseFloat(query.get('lng'));
    var zoom = parseInt(query.get('zoom'), 10);
    var map = L.map('map', {
        zoomSnap: 1, zoomDelta: 1, worldCopyJump: false,
        maxBounds: [[-85.05, -180], [85.05, 180]], maxBoundsViscosity: 1.0,
        layers: [layers[chosen]]
    }).setView([isNaN(lat) ? 51.5 : lat, isNaN(lng) ? 0 : lng], isNaN(zoom) ? 3 : zoom);
    map.attributionControl.setPrefix('Quiltara demo map service');
    L.control.layers(layers, {}, { collapsed: false }).addTo(map);
    window.demoMap = map;
})();
</script>
</body>
</html>
)html";
    return html;
}

} // namespace demomap
