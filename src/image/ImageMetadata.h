#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace quiltara {

// Who made the pixels of an image and how it came to be: written into every
// map image so the credit stays with the file wherever it goes. Texts are
// UTF-8; an empty text is left out.
struct ImageMetadata {
    std::string copyright;   // the attribution the tiles' owner asks for
    std::string source;      // where the tiles came from: the service's name
    std::string terms;       // the address of the service's terms of use
    std::string software;    // the program and its version
    std::time_t created = 0; // when the image was made; 0: not said

    bool Empty() const {
        return copyright.empty() && source.empty() && terms.empty() && software.empty() &&
               created == 0;
    }
    // The source and its terms in one line: "NAME (terms of use: LINK)".
    std::string SourceLine() const;
};

// A time as PNG's "Creation Time" convention writes it (RFC 1123, in GMT):
// "Wed, 09 Dec 2026 08:03:03 GMT".
std::string Rfc1123Time(std::time_t time);
// A time as TIFF's DateTime tag holds it: "2026:12:09 08:03:03" (UTC).
std::string TiffDateTime(std::time_t time);

// One PNG text chunk: tEXt when the text is Latin-1 (the text then already
// converted to it), iTXt with UTF-8 otherwise.
struct PngTextEntry {
    std::string keyword;
    std::string text;
    bool international = false;

    bool operator==(const PngTextEntry&) const = default;
};

// The registered PNG keywords for the metadata: Copyright, Source, Software,
// Creation Time. Control characters become spaces, so a text stays on its line.
std::vector<PngTextEntry> PngTextEntries(const ImageMetadata& metadata);

// GDAL's own metadata document (the GDAL_METADATA TIFF tag), so GIS tools show
// the credit beside the TIFF tags: ATTRIBUTION, SOURCE and TERMS_OF_USE items.
std::string GdalMetadataXml(const ImageMetadata& metadata);

// The text with invalid UTF-8 sequences replaced by U+FFFD and control
// characters by spaces.
std::string CleanUtf8Line(const std::string& text);

// The Unicode code points of UTF-8 text; an invalid sequence gives U+FFFD.
std::u32string DecodeUtf8(const std::string& text);
std::string EncodeUtf8(const std::u32string& codePoints);

} // namespace quiltara
