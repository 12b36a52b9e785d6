#pragma once

#include <string>

namespace demomap {

// The service's own OGC WMTS 1.0.0 capabilities document, with every
// address at origin ("http://HOST:PORT", as the client asked for it). Its
// layers serve the same tiles as the rest of the service, in the forms real
// services use:
//  - demo-road (road map, PNG): REST, tile matrices "EPSG:3857:0" ...
//  - demo-photo (satellite, JPEG): REST, tile matrices "00" ... "19"
//  - demo-relief (terrain, PNG): key-value only, matrix limits zoom 2 to 16
//  - demo-labels (hybrid, PNG): REST and key-value, matrices "0" ... "19"
//  - demo-daily (road map, PNG): REST with a Time dimension
//  - demo-utm: EPSG:25832 only; demo-hidpi: 512 x 512 tiles only (the
//    kinds of set Quiltara refuses).
std::string WmtsCapabilitiesXml(const std::string& origin);

} // namespace demomap
