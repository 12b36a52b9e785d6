#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "MakeOptions.h"
#include "tiles/MapLayer.h"

namespace quiltara::make {

// The area as the command line gives it; it is read once all of it is known,
// since the zoom decides what the numbers mean.
struct AreaArguments {
    std::optional<std::string> tiles;
    std::optional<std::string> box;
    std::optional<std::string> selection;
    std::optional<std::string> zoom;
    std::optional<std::string> pageZoom;
};

// What the arguments say, each read on its own, before they are checked
// against each other and against the catalogue.
struct GivenArguments {
    MakeOptions options;
    AreaArguments area;
    std::optional<std::string> layers;
    std::optional<std::string> sourceId;
    std::optional<std::string> output;
    bool beyondTileLimit = false;
    bool tiffCompressionGiven = false;
    bool helpAsked = false;
    bool listSources = false;
    std::optional<std::string> addWmts; // a capabilities address or file
    std::vector<std::string> wmtsLayers;
    std::optional<std::string> newSourceId;
};

// How an option takes its value ("--name=value" or "--name value").
enum class Takes {
    Nothing,      // a flag: "--quiet=yes" is refused as taking no value
    Alone,        // ends the reading; "--help=x" is no option at all
    Value,        // a missing value is refused as missing
    CheckedValue, // a missing value is refused as an empty one is, in the option's own words
};

// One use of an option on the command line.
struct OptionUse {
    std::string_view spelling;      // as given: "-o", "--keep-tiles", "--template-sat"
    std::string value;              // empty for an option that takes none
    MapLayer layer = MapLayer::Map; // for the options whose spelling ends in LAYER
};

// Takes one use of its option into the arguments; the complaint when the
// value cannot be used.
using OptionHandler = std::optional<std::string> (*)(GivenArguments&, const OptionUse&);

struct MakeOption {
    std::string_view
        spellings;          // as --help shows them, ", " between; LAYER stands for a layer's name
    std::string_view value; // the value's placeholder in --help; empty when it takes none
    Takes takes;
    std::string_view help; // its lines in --help, '\n' between
    bool area;             // listed with the area's options rather than the others
    OptionHandler handle;
};

// Every option of quiltara-make, in the order --help lists them.
std::span<const MakeOption> MakeOptionTable();

// Reads every argument by the table into given, stopping at --help and
// --list-sources; the first complaint, if any.
std::optional<std::string> ReadArguments(const std::vector<std::string>& args,
                                         GivenArguments& given);

} // namespace quiltara::make
