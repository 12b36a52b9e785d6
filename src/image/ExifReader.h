#pragma once

#include <cstddef>
#include <cstdint>

namespace quiltara {

class ByteStream;

// What the JPEG reader takes from an EXIF block: the resolution fields of the
// first image directory. Everything else in the block is skipped.
struct ExifRecord {
    double xResolution = 0.0;
    double yResolution = 0.0;
    int resolutionUnit = 0; // 0 when the block does not say
};

// Finds the EXIF block (APP1 "Exif\0\0") among the leading markers of JPEG
// data and reads its resolution fields. Every offset inside the block is
// checked against the block's length, so a damaged block is simply ignored.
class ExifReader {
public:
    // Scans from the stream's current position up to the first scan or image
    // end; true when an EXIF block was found and parsed. The position is left
    // wherever the scan stopped: the caller puts it back.
    bool Scan(ByteStream& stream);

    // Parses one EXIF block given as the APP1 payload ("Exif\0\0" + TIFF data).
    bool Parse(const std::uint8_t* data, std::size_t size);

    bool Found() const { return found_; }
    const ExifRecord& Record() const { return record_; }

private:
    bool found_ = false;
    ExifRecord record_;
};

} // namespace quiltara
