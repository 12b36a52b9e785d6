#include "image/TiffMetadata.h"

#include <mutex>

namespace quiltara {
namespace {

TIFFExtendProc parentExtender = nullptr;

void ExtendTags(TIFF* tif) {
    static const TIFFFieldInfo kFields[] = {
        {kGdalMetadataTag, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_ASCII, FIELD_CUSTOM, 1, 0,
         const_cast<char*>("GDALMetadata")},
    };
    TIFFMergeFieldInfo(tif, kFields, 1);
    if (parentExtender != nullptr) {
        parentExtender(tif);
    }
}

bool SetText(TIFF* tif, ttag_t tag, const std::string& text) {
    return text.empty() || TIFFSetField(tif, tag, text.c_str()) != 0;
}

} // namespace

void KnowGdalMetadataTag() {
    static std::once_flag known;
    std::call_once(known, [] { parentExtender = TIFFSetTagExtender(ExtendTags); });
}

bool SetTiffMetadata(TIFF* tif, const ImageMetadata& metadata) {
    const std::string description = metadata.SourceLine();
    return SetText(tif, TIFFTAG_COPYRIGHT, CleanUtf8Line(metadata.copyright)) &&
           SetText(tif, TIFFTAG_IMAGEDESCRIPTION, CleanUtf8Line(description)) &&
           SetText(tif, TIFFTAG_SOFTWARE, CleanUtf8Line(metadata.software)) &&
           SetText(tif, TIFFTAG_DATETIME,
                   metadata.created != 0 ? TiffDateTime(metadata.created) : "") &&
           SetText(tif, kGdalMetadataTag, GdalMetadataXml(metadata));
}

} // namespace quiltara
