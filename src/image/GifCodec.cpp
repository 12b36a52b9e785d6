#include "image/GifCodec.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "image/ByteStream.h"

namespace quiltara {

namespace {

constexpr std::int64_t kMaxScreenPixels = 64ll * 1024 * 1024;

class GifReadHandle {
public:
    explicit GifReadHandle(GifFileType* gif) : gif_(gif) {}
    GifReadHandle(const GifReadHandle&) = delete;
    GifReadHandle& operator=(const GifReadHandle&) = delete;
    ~GifReadHandle() {
        if (gif_ != nullptr) {
            int ignored = 0;
            DGifCloseFile(gif_, &ignored);
        }
    }
    GifFileType* get() const { return gif_; }

private:
    GifFileType* gif_;
};

class GifWriteHandle {
public:
    explicit GifWriteHandle(GifFileType* gif) : gif_(gif) {}
    GifWriteHandle(const GifWriteHandle&) = delete;
    GifWriteHandle& operator=(const GifWriteHandle&) = delete;
    ~GifWriteHandle() {
        if (gif_ != nullptr) {
            int ignored = 0;
            EGifCloseFile(gif_, &ignored);
        }
    }
    GifFileType* get() const { return gif_; }
    // Closing writes the trailer: its result is the write's result.
    bool Close(int& error) {
        GifFileType* gif = gif_;
        gif_ = nullptr;
        return EGifCloseFile(gif, &error) == GIF_OK;
    }

private:
    GifFileType* gif_;
};

class ColorMapHandle {
public:
    explicit ColorMapHandle(ColorMapObject* map) : map_(map) {}
    ColorMapHandle(const ColorMapHandle&) = delete;
    ColorMapHandle& operator=(const ColorMapHandle&) = delete;
    ~ColorMapHandle() { GifFreeMapObject(map_); }
    ColorMapObject* get() const { return map_; }

private:
    ColorMapObject* map_;
};

int ReadFromStream(GifFileType* gif, GifByteType* buffer, int length) {
    auto* stream = static_cast<ByteStream*>(gif->UserData);
    return length <= 0
               ? 0
               : static_cast<int>(stream->Read(buffer, 1, static_cast<std::size_t>(length)));
}

int WriteToStream(GifFileType* gif, const GifByteType* buffer, int length) {
    auto* stream = static_cast<ByteStream*>(gif->UserData);
    return length <= 0
               ? 0
               : static_cast<int>(stream->Write(buffer, 1, static_cast<std::size_t>(length)));
}

std::string GifMessage(int error) {
    const char* text = GifErrorString(error);
    return std::string("GIF: ") + (text != nullptr ? text : "unknown error");
}

} // namespace

bool GifCodec::Decode(ByteStream* stream) {
    if (stream == nullptr) {
        SetErrorText("null file handler");
        return false;
    }
    int error = 0;
    GifReadHandle handle(DGifOpen(stream, ReadFromStream, &error));
    GifFileType* gif = handle.get();
    if (gif == nullptr) {
        SetErrorText(GifMessage(error));
        return false;
    }
    if (ExceedsReadLimits(static_cast<std::uint32_t>(std::max(gif->SWidth, 0)),
                          static_cast<std::uint32_t>(std::max(gif->SHeight, 0)))) {
        return false;
    }
    if (Escape() == -1) {
        header_.width = gif->SWidth;
        header_.height = gif->SHeight;
        settings_.formatId = kFormatGif;
        return true;
    }

    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        if (Escape() != 0) {
            return false;
        }
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) {
            SetErrorText(GifMessage(gif->Error));
            return false;
        }
        if (type == TERMINATE_RECORD_TYPE) {
            SetErrorText("GIF: the file holds no picture");
            return false;
        }
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) {
                SetErrorText(GifMessage(gif->Error));
                return false;
            }
            if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
                GraphicsControlBlock control{};
                if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
                    transparent = control.TransparentColor;
                }
            }
            while (block != nullptr) {
                if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
                    SetErrorText(GifMessage(gif->Error));
                    return false;
                }
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) {
            continue;
        }
        if (DGifGetImageDesc(gif) == GIF_ERROR) {
            SetErrorText(GifMessage(gif->Error));
            return false;
        }
        break;
    }

    const GifImageDesc& frame = gif->Image;
    if (frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0) {
        SetErrorText("GIF: the picture has no size");
        return false;
    }
    if (ExceedsReadLimits(static_cast<std::uint32_t>(frame.Width),
                          static_cast<std::uint32_t>(frame.Height))) {
        return false;
    }
    std::int32_t width = gif->SWidth;
    std::int32_t height = gif->SHeight;
    std::int32_t left = frame.Left;
    std::int32_t top = frame.Top;
    // A screen too small for its own picture, or one far larger than any
    // real picture's (a few header bytes could otherwise make the reader
    // fill gigabytes with the background): the picture is taken alone.
    const std::int64_t screenPixels = std::int64_t{width} * height;
    const std::int64_t framePixels = std::int64_t{frame.Width} * frame.Height;
    if (std::int64_t{left} + frame.Width > width || std::int64_t{top} + frame.Height > height ||
        screenPixels > std::max(kMaxScreenPixels, framePixels)) {
        width = frame.Width;
        height = frame.Height;
        left = 0;
        top = 0;
    }
    if (Create(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 8,
               kFormatGif) == nullptr) {
        return false;
    }
    const ColorMapObject* map = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (map != nullptr && map->Colors != nullptr) {
        const int count = std::min(map->ColorCount, 256);
        for (int i = 0; i < count; ++i) {
            const GifColorType& colour = map->Colors[i];
            SetPaletteEntry(static_cast<std::uint8_t>(i),
                            RgbQuad{colour.Blue, colour.Green, colour.Red, 0});
        }
        SetImportantColorCount(static_cast<std::uint32_t>(count));
    } else {
        SetGreyRamp();
    }
    if (transparent >= 0 && transparent < 256) {
        SetTransparentIndex(transparent);
    }
    // Only the screen around the frame shows the background: the frame's own
    // rows are written as they are decoded, and a picture whose data ends
    // early fails, so filling them first would only cost the time and memory
    // of the whole picture for nothing.
    const auto background =
        static_cast<std::uint8_t>((transparent >= 0 ? transparent : gif->SBackGroundColor) & 0xFF);
    for (std::int32_t line = 0; line < height; ++line) {
        std::uint8_t* const row = RowPointer(static_cast<std::uint32_t>(height - 1 - line));
        if (line < top || line >= top + frame.Height) {
            std::memset(row, background, static_cast<std::size_t>(width));
            continue;
        }
        std::memset(row, background, static_cast<std::size_t>(left));
        std::memset(row + left + frame.Width, background,
                    static_cast<std::size_t>(width - left - frame.Width));
    }

    // Interlaced pictures arrive in four passes: every 8th line from 0, every
    // 8th from 4, every 4th from 2, every 2nd from 1.
    static constexpr int kPassStart[] = {0, 4, 2, 1};
    static constexpr int kPassStep[] = {8, 8, 4, 2};
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int first = frame.Interlace ? kPassStart[pass] : 0;
        const int step = frame.Interlace ? kPassStep[pass] : 1;
        for (int row = first; row < frame.Height; row += step) {
            if (Escape() != 0) {
                return false;
            }
            if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) {
                SetErrorText(GifMessage(gif->Error));
                return false;
            }
            const auto y = static_cast<std::uint32_t>(height - 1 - (top + row));
            std::memcpy(RowPointer(y) + left, line.data(), line.size());
        }
    }
    return true;
}

bool GifCodec::Encode(ByteStream* stream) {
    if (CheckBeforeEncode(stream)) {
        return false;
    }
    if (ColorCount() == 0) {
        SetErrorText("GIF can save only palette images");
        return false;
    }
    const int bits = BitsPerPixel() == 1 ? 1 : (BitsPerPixel() == 4 ? 4 : 8);
    const int colours = 1 << bits;
    std::vector<GifColorType> entries(static_cast<std::size_t>(colours));
    for (int i = 0; i < colours; ++i) {
        const RgbQuad entry = PaletteEntry(static_cast<std::uint8_t>(i));
        entries[static_cast<std::size_t>(i)] = GifColorType{entry.red, entry.green, entry.blue};
    }
    ColorMapHandle map(GifMakeMapObject(colours, entries.data()));
    int error = 0;
    GifWriteHandle handle(EGifOpen(stream, WriteToStream, &error));
    GifFileType* gif = handle.get();
    if (map.get() == nullptr || gif == nullptr) {
        SetErrorText(GifMessage(error != 0 ? error : E_GIF_ERR_NOT_ENOUGH_MEM));
        return false;
    }
    const bool transparent = HasTransparentColor() && TransparentIndex() < colours;
    EGifSetGifVersion(gif, transparent);
    const auto fail = [&]() {
        SetErrorText(GifMessage(gif->Error));
        return false;
    };
    if (EGifPutScreenDesc(gif, Width(), Height(), bits, 0, map.get()) == GIF_ERROR) {
        return fail();
    }
    if (transparent) {
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSAL_UNSPECIFIED;
        control.DelayTime = 0;
        control.TransparentColor = TransparentIndex();
        GifByteType extension[4];
        const auto length = static_cast<int>(EGifGCBToExtension(&control, extension));
        if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, length, extension) == GIF_ERROR) {
            return fail();
        }
    }
    if (EGifPutImageDesc(gif, 0, 0, Width(), Height(), false, nullptr) == GIF_ERROR) {
        return fail();
    }
    std::vector<GifPixelType> line(static_cast<std::size_t>(Width()));
    for (std::int32_t y = Height(); y-- > 0;) {
        for (std::int32_t x = 0; x < Width(); ++x) {
            line[static_cast<std::size_t>(x)] = PixelIndex(x, y);
        }
        if (EGifPutLine(gif, line.data(), Width()) == GIF_ERROR) {
            return fail();
        }
    }
    if (!handle.Close(error)) {
        SetErrorText(GifMessage(error));
        return false;
    }
    return true;
}

} // namespace quiltara
