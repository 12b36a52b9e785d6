#pragma once

#include <tiffio.h>

#include "image/ImageMetadata.h"

namespace quiltara {

// GDAL's metadata tag (42112), which libtiff does not know by itself.
inline constexpr ttag_t kGdalMetadataTag = 42112;

// Makes GDAL's metadata tag known to libtiff for every file opened from now
// on, beside the tags other extenders add. Safe to call more than once.
void KnowGdalMetadataTag();

// The credit in the current directory: the copyright, image description,
// software and date-time tags, and GDAL's metadata document. False when
// libtiff refuses one.
bool SetTiffMetadata(TIFF* tif, const ImageMetadata& metadata);

} // namespace quiltara
