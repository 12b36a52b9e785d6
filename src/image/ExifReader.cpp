#include "image/ExifReader.h"

#include <cstring>
#include <vector>

#include "image/ByteStream.h"

namespace quiltara {

namespace {

constexpr int kMarkerSos = 0xDA;
constexpr int kMarkerEoi = 0xD9;
constexpr int kMarkerApp1 = 0xE1;
// A damaged file could hold endless tiny segments; real files have a handful.
constexpr int kMaxSegments = 1024;

constexpr std::uint16_t kTagXResolution = 0x011A;
constexpr std::uint16_t kTagYResolution = 0x011B;
constexpr std::uint16_t kTagResolutionUnit = 0x0128;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;
constexpr std::uint16_t kTypeRational = 5;

// Reads the TIFF structure inside the block with its own byte order, never
// past the end of the block.
class TiffView {
public:
    TiffView(const std::uint8_t* data, std::size_t size, bool bigEndian)
        : data_(data), size_(size), bigEndian_(bigEndian) {}

    bool Has(std::size_t offset, std::size_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    std::uint16_t U16(std::size_t offset) const {
        const std::uint8_t* p = data_ + offset;
        return bigEndian_ ? static_cast<std::uint16_t>(p[0] << 8 | p[1])
                          : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
    }
    std::uint32_t U32(std::size_t offset) const {
        const std::uint8_t* p = data_ + offset;
        if (bigEndian_) {
            return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                   std::uint32_t{p[2]} << 8 | p[3];
        }
        return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 |
               p[0];
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    bool bigEndian_;
};

double ReadRational(const TiffView& tiff, std::size_t entry) {
    const std::uint32_t valueOffset = tiff.U32(entry + 8);
    if (!tiff.Has(valueOffset, 8)) {
        return 0.0;
    }
    const std::uint32_t numerator = tiff.U32(valueOffset);
    const std::uint32_t denominator = tiff.U32(valueOffset + 4);
    return denominator == 0 ? 0.0 : static_cast<double>(numerator) / denominator;
}

} // namespace

bool ExifReader::Parse(const std::uint8_t* data, std::size_t size) {
    static const char kSignature[] = "Exif\0\0";
    constexpr std::size_t kSignatureLength = 6;
    if (size < kSignatureLength + 8 || std::memcmp(data, kSignature, kSignatureLength) != 0) {
        return false;
    }
    data += kSignatureLength;
    size -= kSignatureLength;
    bool bigEndian = false;
    if (data[0] == 'M' && data[1] == 'M') {
        bigEndian = true;
    } else if (!(data[0] == 'I' && data[1] == 'I')) {
        return false;
    }
    const TiffView tiff(data, size, bigEndian);
    if (tiff.U16(2) != 42) {
        return false;
    }
    const std::uint32_t directory = tiff.U32(4);
    if (!tiff.Has(directory, 2)) {
        return false;
    }
    const std::uint16_t entries = tiff.U16(directory);
    ExifRecord record;
    for (std::uint16_t i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + std::size_t{i} * 12;
        if (!tiff.Has(entry, 12)) {
            break;
        }
        const std::uint16_t tag = tiff.U16(entry);
        const std::uint16_t type = tiff.U16(entry + 2);
        if ((tag == kTagXResolution || tag == kTagYResolution) && type == kTypeRational) {
            (tag == kTagXResolution ? record.xResolution : record.yResolution) =
                ReadRational(tiff, entry);
        } else if (tag == kTagResolutionUnit && type == kTypeShort) {
            record.resolutionUnit = tiff.U16(entry + 8);
        } else if (tag == kTagResolutionUnit && type == kTypeLong) {
            record.resolutionUnit = static_cast<int>(tiff.U32(entry + 8));
        }
    }
    record_ = record;
    found_ = true;
    return true;
}

bool ExifReader::Scan(ByteStream& stream) {
    found_ = false;
    record_ = ExifRecord{};
    std::uint8_t soi[2];
    if (stream.Read(soi, 1, 2) != 2 || soi[0] != 0xFF || soi[1] != 0xD8) {
        return false;
    }
    for (int segment = 0; segment < kMaxSegments; ++segment) {
        int byte = stream.GetC();
        if (byte != 0xFF) {
            return false;
        }
        int marker = stream.GetC();
        while (marker == 0xFF) { // fill bytes before a marker
            marker = stream.GetC();
        }
        if (marker < 0 || marker == kMarkerSos || marker == kMarkerEoi) {
            return false;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            continue; // markers without a length field
        }
        std::uint8_t lengthBytes[2];
        if (stream.Read(lengthBytes, 1, 2) != 2) {
            return false;
        }
        const int length = lengthBytes[0] << 8 | lengthBytes[1];
        if (length < 2) {
            return false;
        }
        if (marker == kMarkerApp1) {
            std::vector<std::uint8_t> payload(static_cast<std::size_t>(length - 2));
            if (stream.Read(payload.data(), 1, payload.size()) != payload.size()) {
                return false;
            }
            if (Parse(payload.data(), payload.size())) {
                return true;
            }
        } else if (!stream.Seek(length - 2, 1)) {
            return false;
        }
    }
    return false;
}

} // namespace quiltara
