#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sources/SourceCatalogue.h"

namespace quiltara {

// The text of a source file that reads back as source (its file aside).
std::string TileSourceText(const TileSource& source);

// Writes source into the user's sources folder as ID.json, made when
// missing, under a temporary name until complete. A file of that name is
// replaced only when replace is set. The path written, or nothing with the
// reason in error.
std::optional<std::filesystem::path> SaveUserSource(const TileSource& source, bool replace,
                                                    std::string& error);

// Where SaveUserSource puts the file of a source with this id.
std::filesystem::path UserSourcePath(const std::string& id);

} // namespace quiltara
