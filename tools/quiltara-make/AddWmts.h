#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Console.h"
#include "MakeOptionTable.h"
#include "platform/HttpClient.h"
#include "sources/WmtsSource.h"

namespace quiltara::make {

// The --add-wmts request the arguments make; the complaint when they mix it
// with a map's options or give --wmts-layer or --id without it.
std::optional<std::string> AddWmtsFrom(const GivenArguments& given,
                                       std::optional<AddWmtsRequest>& request);

// Reads the --wmts-layer values ("ID" or "KIND=ID") into choice: a plain ID
// takes the first of map, satellite, terrain and hybrid still free. The
// complaint when a kind is unknown, taken twice, or none is left.
std::optional<std::string> ChooseWmtsLayers(const std::vector<std::string>& given,
                                            WmtsChoice& choice);

// Reads the capabilities at the request's location (over http), lists the
// layers when none is named, or else writes the source of the named layers
// into the user's sources folder and prints its path. The exit status: 0
// done, 1 when the document cannot be read or the source made or written.
int RunAddWmts(const AddWmtsRequest& request, Console& out, Console& errors, HttpClient& http);

} // namespace quiltara::make
