// The format-level entries of RasterImage: which codec reads or writes which
// format identifier, the content-sniffing chain, and the file wrappers.
#include <cstdio>
#include <memory>
#include <string>

#include "image/BmpCodec.h"
#include "image/ByteStream.h"
#include "image/FileStream.h"
#include "image/GifCodec.h"
#include "image/JpegCodec.h"
#include "image/PngCodec.h"
#include "image/RasterImage.h"
#include "image/TiffCodec.h"

namespace quiltara {

namespace {

constexpr const char* kNullStream = "null file handler";
constexpr const char* kUnknownDecode = "Decode: Unknown or wrong format";
constexpr const char* kUnknownEncode = "Encode: Unknown format";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

FileHandle OpenFile(const std::string& path, const char* mode) {
    return FileHandle(std::fopen(path.c_str(), mode));
}

// The codec that reads or writes id, or null when this build has none. The
// readers of ICO, MNG, TGA, PCX, WBMP, WMF, the JPEG 2000 family, SKA and
// camera raw are not part of this build, so the chain below skips them.
std::unique_ptr<RasterImage> MakeCodec(std::uint32_t id) {
    switch (id) {
        case kFormatBmp:
            return std::make_unique<BmpCodec>();
        case kFormatGif:
            return std::make_unique<GifCodec>();
        case kFormatJpeg:
            return std::make_unique<JpegCodec>();
        case kFormatPng:
            return std::make_unique<PngCodec>();
        case kFormatTiff:
            return std::make_unique<TiffCodec>();
        default:
            return nullptr;
    }
}

// The order in which unknown data is offered to the readers.
constexpr std::uint32_t kSniffOrder[] = {
    kFormatBmp, kFormatJpeg, kFormatIco,  kFormatGif, kFormatPng, kFormatTiff, kFormatMng,
    kFormatTga, kFormatPcx,  kFormatWbmp, kFormatWmf, kFormatJp2, kFormatSka,  kFormatRaw,
};

// A reader starts from the caller's settings so that its options (escape,
// codec options, quality, decoding scale) reach it. The transparency that
// described the caller's previous picture must not describe the new one: a
// reader sets it only when the data has some.
void PrepareReader(RasterImage& codec, const RasterImage& caller) {
    codec.CopySettingsFrom(caller);
    codec.SetTransparentIndex(-1);
    codec.SetTransparentColor(RgbQuad{});
    codec.SetPaletteHasAlpha(false);
}

} // namespace

std::uint32_t RasterImage::FormatSlot(std::uint32_t id) {
    if (id <= kFormatRas) {
        return id;
    }
    if (id >= kFormatMng && id <= kFormatRaw) {
        return id - 1;
    }
    return 0;
}

bool RasterImage::SetFormatId(std::uint32_t id) {
    if ((id >= kFormatBmp && id <= kFormatRas) || (id >= kFormatMng && id <= kFormatRaw)) {
        settings_.formatId = id;
        return true;
    }
    settings_.formatId = kFormatUnknown;
    return false;
}

std::uint32_t RasterImage::CodecFlags(std::uint32_t id) const {
    std::uint32_t slot = FormatSlot(id);
    if (slot == 0) {
        slot = FormatSlot(settings_.formatId);
    }
    return settings_.codecOptions[slot];
}

void RasterImage::SetCodecFlags(std::uint32_t value, std::uint32_t id) {
    std::uint32_t slot = FormatSlot(id);
    if (slot == 0) {
        slot = FormatSlot(settings_.formatId);
    }
    settings_.codecOptions[slot] = value;
}

bool RasterImage::LoadFile(const std::string& path, std::uint32_t id) {
    if (FormatSlot(id) != 0) {
        FileHandle file = OpenFile(path, "rb");
        if (!file) {
            return false;
        }
        if (Decode(file.get(), id)) {
            return true;
        }
    }
    // The named reader refused: the data may be another format under a
    // misleading name (a JPEG tile saved as .png), so let every reader try.
    const std::string firstComplaint = ErrorText();
    FileHandle file = OpenFile(path, "rb");
    if (!file) {
        return false;
    }
    const bool decoded = Decode(file.get(), kFormatUnknown);
    if (!decoded && id != kFormatUnknown) {
        SetErrorText(firstComplaint);
    }
    return decoded;
}

bool RasterImage::SaveFile(const std::string& path, std::uint32_t id) {
    FileHandle file = OpenFile(path, "wb");
    if (!file) {
        return false;
    }
    const bool encoded = Encode(file.get(), id);
    // Closing flushes the last buffered bytes; if that fails the file is
    // incomplete, which must not pass for a saved image.
    if (std::fclose(file.release()) != 0 && encoded) {
        SetErrorText("Error closing the saved file");
        return false;
    }
    return encoded;
}

bool RasterImage::Decode(std::FILE* file, std::uint32_t id) {
    if (file == nullptr) {
        return Decode(static_cast<ByteStream*>(nullptr), id);
    }
    FileStream stream(file);
    return Decode(&stream, id);
}

bool RasterImage::Encode(std::FILE* file, std::uint32_t id) {
    if (file == nullptr) {
        return Encode(static_cast<ByteStream*>(nullptr), id);
    }
    FileStream stream(file);
    return Encode(&stream, id);
}

bool RasterImage::Decode(ByteStream* stream, std::uint32_t id) {
    if (stream == nullptr) {
        SetErrorText(kNullStream);
        return false;
    }
    if (id == kFormatUnknown) {
        const std::int32_t start = stream->Tell();
        for (const std::uint32_t candidate : kSniffOrder) {
            std::unique_ptr<RasterImage> codec = MakeCodec(candidate);
            if (!codec) {
                continue;
            }
            PrepareReader(*codec, *this);
            if (codec->Decode(stream)) {
                // A borrowing image refuses to give up what it shows.
                return AdoptFrom(*codec, true);
            }
            stream->Seek(start, 0);
        }
        SetErrorText(kUnknownDecode);
        return false;
    }
    std::unique_ptr<RasterImage> codec = MakeCodec(id);
    if (!codec) {
        SetErrorText(kUnknownDecode);
        return false;
    }
    PrepareReader(*codec, *this);
    if (!codec->Decode(stream)) {
        SetErrorText(codec->ErrorText());
        return false;
    }
    return AdoptFrom(*codec, true);
}

bool RasterImage::Encode(ByteStream* stream, std::uint32_t id) {
    if (id == kFormatWmf) {
        SetErrorText("Save WMF not supported");
        return false;
    }
    if (id == kFormatRaw) {
        SetErrorText("Save RAW not supported");
        return false;
    }
    std::unique_ptr<RasterImage> codec = MakeCodec(id);
    if (!codec) {
        SetErrorText(kUnknownEncode);
        return false;
    }
    // The codec shows this image's buffers without owning them, so
    // discarding it afterwards frees nothing.
    codec->BorrowFrom(*this);
    if (!codec->Encode(stream)) {
        SetErrorText(codec->ErrorText());
        return false;
    }
    return true;
}

bool RasterImage::CheckBeforeEncode(ByteStream* stream) {
    if (stream == nullptr) {
        SetErrorText(kNullStream);
        return true;
    }
    if (!HasPixels()) {
        SetErrorText("null image!!!");
        return true;
    }
    return false;
}

} // namespace quiltara
