#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace quiltara {

class ByteStream;
class RasterImage;

// Format identifiers. The value is also what LoadFile, SaveFile, Decode and
// Encode take; 0 asks the reader to recognise the data itself.
enum ImageFormat : std::uint32_t {
    kFormatUnknown = 0,
    kFormatBmp = 1,
    kFormatGif = 2,
    kFormatJpeg = 3,
    kFormatPng = 4,
    kFormatIco = 5,
    kFormatTiff = 6,
    kFormatTga = 7,
    kFormatPcx = 8,
    kFormatWbmp = 9,
    kFormatWmf = 10,
    kFormatJp2 = 11,
    kFormatJpc = 12,
    kFormatPgx = 13,
    kFormatPnm = 14,
    kFormatRas = 15,
    kFormatNone = 16,
    kFormatMng = 17,
    kFormatSka = 18,
    kFormatRaw = 19,
};

inline constexpr int kCodecSlotCount = 19;
inline constexpr int kErrorTextSize = 256;

// One colour as the pixel block stores it: blue, green, red, reserved.
struct RgbQuad {
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
    std::uint8_t reserved = 0;

    friend bool operator==(const RgbQuad&, const RgbQuad&) = default;
};

// The 40-byte header at the start of every pixel block (device-independent
// bitmap layout). height > 0 means rows are stored bottom-up.
struct ImageHeader {
    std::uint32_t size = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t clrImportant = 0;
};
static_assert(sizeof(ImageHeader) == 40);

// What a caller accepts from a reader. A reader refuses a picture whose header
// declares more than maxWidth x maxHeight pixels before it allocates anything
// for it (0: no bound). With wholeData a reader refuses data that ends before
// the picture's last row, where it would otherwise pad the rest.
struct ReadLimits {
    std::uint32_t maxWidth = 0;
    std::uint32_t maxHeight = 0;
    bool wholeData = false;
};

struct SelectionBox {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// Everything an image carries besides its buffers. Codecs receive the
// caller's settings through CopySettingsFrom and hand theirs back through
// AdoptFrom.
struct ImageSettings {
    std::uint32_t rowBytes = 0;          // bytes per stored row, a multiple of 4
    std::uint8_t* firstRow = nullptr;    // stored row 0 (the bottom line) inside the pixel block
    const RasterImage* owner = nullptr;  // for a borrowing image: the image whose buffers it shows
    const RasterImage* parent = nullptr; // for a layer: the image that holds it
    std::uint32_t formatId = 0;
    char errorText[kErrorTextSize] = {};
    std::uint32_t progress = 0;
    std::int32_t escape = 0;           // 0 normal, -1 header only, other values stop a codec
    std::int32_t transparentIndex = 0; // -1 none
    RgbQuad transparentColor;
    float quality = 0.0f;
    std::uint8_t jpegScale = 0;
    std::int32_t currentFrame = 0;
    std::int32_t frameCount = 0;
    std::uint32_t frameDelay = 0;
    std::int32_t xDpi = 0;
    std::int32_t yDpi = 0;
    SelectionBox selectionBox;
    std::uint8_t maxAlpha = 0;
    bool paletteHasAlpha = false; // the palette's reserved bytes are per-entry opacity
    bool enabled = false;
    std::int32_t xOffset = 0;
    std::int32_t yOffset = 0;
    std::uint32_t codecOptions[kCodecSlotCount] = {};
    RgbQuad lastColorAsked; // nearest-colour cache
    std::uint8_t lastNearestIndex = 0;
    bool nearestCacheValid = false;
    std::int32_t layerCount = 0;
    std::uint32_t flags = 0;
    std::uint8_t disposal = 0;
    bool getAllFrames = false;
    bool littleEndianHost = false;
    ReadLimits readLimits;
};

// Pixel blocks larger than this many bytes are refused as if the allocation
// had failed (0 = no limit). Process-wide; meant for tests of the
// out-of-memory paths.
void SetPixelBlockLimit(std::uint64_t bytes);
std::uint64_t PixelBlockLimit();

// The in-memory raster image. All pixels live in one block: the header, the
// palette (4 bytes per entry) and the rows, bottom row first, each padded to
// a multiple of 4 bytes; 24-bit pixels are blue, green, red. Depths in memory
// are 1, 4, 8 and 24 bits. Pixel coordinates count y from the bottom row.
//
// Codecs are classes derived from RasterImage that override Decode(stream)
// and Encode(stream). Failures are reported by the result and ErrorText(),
// never by exceptions.
class RasterImage {
public:
    explicit RasterImage(std::uint32_t formatId = 0);
    RasterImage(std::uint32_t width, std::uint32_t height, std::uint32_t bitsPerPixel,
                std::uint32_t formatId);
    // Reads the file; the caller tests HasPixels().
    RasterImage(const std::string& path, std::uint32_t formatId) {
        InitDefaults(formatId);
        LoadFile(path, formatId);
    }
    RasterImage(const RasterImage& source, bool withPixels = true, bool withSelection = true,
                bool withAlpha = true);
    RasterImage& operator=(const RasterImage& source);
    virtual ~RasterImage();

    // Lifetime.
    void InitDefaults(std::uint32_t formatId);
    // A new pixel block (zero-filled), or null with the error text set.
    std::uint8_t* Create(std::uint32_t width, std::uint32_t height, std::uint32_t bitsPerPixel,
                         std::uint32_t formatId = 0);
    bool Release();
    bool ReleaseFrames();

    // Transfer between images.
    void CopyFrom(const RasterImage& source, bool withPixels = true, bool withSelection = true,
                  bool withAlpha = true);
    bool AdoptFrom(RasterImage& source, bool withFrames);
    void BorrowFrom(const RasterImage& source);
    void CopySettingsFrom(const RasterImage& source);

    // Queries.
    bool HasPixels() const { return block_ != nullptr; }
    std::int32_t Width() const { return header_.width; }
    std::int32_t Height() const { return header_.height; }
    std::uint16_t BitsPerPixel() const { return header_.bitCount; }
    std::uint32_t RowBytes() const { return settings_.rowBytes; }
    std::uint32_t ColorCount() const { return header_.clrUsed; }
    std::uint32_t ImportantColorCount() const { return header_.clrImportant; }
    std::uint32_t FormatId() const { return settings_.formatId; }
    const char* ErrorText() const { return settings_.errorText; }
    void SetErrorText(std::string_view text);
    std::uint8_t* RowPointer(std::uint32_t row);
    const std::uint8_t* RowPointer(std::uint32_t row) const;
    bool HasTransparentColor() const { return settings_.transparentIndex >= 0; }
    bool HasAlpha() const { return alpha_ != nullptr; }
    bool IsBorrowing() const { return settings_.owner != nullptr; }

    const ImageHeader& Header() const { return header_; }
    const ImageSettings& Settings() const { return settings_; }
    std::uint8_t* PixelBlock() { return block_; }
    const std::uint8_t* PixelBlock() const { return block_; }
    // 40 + palette + rows; 0 without pixels.
    std::uint32_t BlockSize() const;

    // Settings the codecs and the stitcher read and set.
    std::int32_t TransparentIndex() const { return settings_.transparentIndex; }
    void SetTransparentIndex(std::int32_t index) { settings_.transparentIndex = index; }
    RgbQuad TransparentColor() const { return settings_.transparentColor; }
    void SetTransparentColor(RgbQuad colour) { settings_.transparentColor = colour; }
    std::int32_t Escape() const { return settings_.escape; }
    void SetEscape(std::int32_t escape) { settings_.escape = escape; }
    float Quality() const { return settings_.quality; }
    void SetQuality(float quality) { settings_.quality = quality; }
    std::uint8_t JpegScale() const { return settings_.jpegScale; }
    void SetJpegScale(std::uint8_t scale) { settings_.jpegScale = scale; }
    bool PaletteHasAlpha() const { return settings_.paletteHasAlpha; }
    void SetPaletteHasAlpha(bool value) { settings_.paletteHasAlpha = value; }
    const ReadLimits& GetReadLimits() const { return settings_.readLimits; }
    void SetReadLimits(const ReadLimits& limits) { settings_.readLimits = limits; }
    std::int32_t HorizontalDpi() const { return settings_.xDpi; }
    std::int32_t VerticalDpi() const { return settings_.yDpi; }
    void SetHorizontalDpi(std::int32_t dpi);
    void SetVerticalDpi(std::int32_t dpi);

    // Palette.
    RgbQuad PaletteEntry(std::uint8_t index) const;
    void SetPaletteEntry(std::uint8_t index, RgbQuad colour);
    // Entries from red, green, blue byte triples.
    void SetPaletteFromTriples(const std::uint8_t* triples, std::uint32_t count);
    void SetGreyRamp();
    bool IsGreyRamp() const;
    void SetImportantColorCount(std::uint32_t count);
    void SwapPaletteIndices(std::uint8_t a, std::uint8_t b);
    std::uint8_t NearestIndex(RgbQuad colour);
    void SwapRedBlue(std::uint8_t* buffer, std::uint32_t length) const;

    // Pixels.
    std::uint8_t PixelIndex(std::int32_t x, std::int32_t y) const;
    RgbQuad PixelColor(std::int32_t x, std::int32_t y, bool withAlpha = false) const;
    RgbQuad PixelColorUnchecked(std::int32_t x, std::int32_t y, bool withAlpha = false) const;
    void PutPixelIndex(std::int32_t x, std::int32_t y, std::uint8_t index);
    void PutPixelColor(std::int32_t x, std::int32_t y, RgbQuad colour, bool withAlpha = false);
    bool IsTransparentAt(std::int32_t x, std::int32_t y) const;
    // Copies source's pixels with its bottom-left corner at (xOffset, yOffset),
    // leaving out its transparent pixels; parts outside this image are dropped.
    void PasteOver(const RasterImage& source, std::int32_t xOffset, std::int32_t yOffset);
    // Lays source over this 24-bit image as source's opacity says (alpha
    // plane, palette opacity, transparent colour or index): opaque pixels are
    // copied as PasteOver copies them, fully transparent ones leave this image
    // as it was, the others are mixed with what is there. With an alpha plane
    // this image keeps the result's opacity too (colour not premultiplied);
    // without one the result is opaque, so over black it is the colour
    // premultiplied by its alpha. A palette target is pasted as PasteOver does.
    void BlendOver(const RasterImage& source, std::int32_t xOffset, std::int32_t yOffset);

    // Alpha plane: width x height opacity bytes, bottom row first, no padding.
    bool CreateAlpha();
    std::uint8_t AlphaAt(std::int32_t x, std::int32_t y) const;
    void SetAlphaAt(std::int32_t x, std::int32_t y, std::uint8_t value);
    std::uint8_t* AlphaPlane() { return alpha_; }
    const std::uint8_t* AlphaPlane() const { return alpha_; }

    // Members kept only so that creation, copying and release respect them.
    bool CreateSelection();
    const std::uint8_t* SelectionMask() const { return selection_; }
    bool AppendLayer(std::unique_ptr<RasterImage> layer);
    bool AppendFrame(std::unique_ptr<RasterImage> frame);
    std::uint32_t LayerSlots() const { return layerSlots_; }
    std::uint32_t FrameSlots() const { return frameSlots_; }
    RasterImage* Layer(std::uint32_t i) const { return i < layerSlots_ ? layers_[i] : nullptr; }
    RasterImage* Frame(std::uint32_t i) const { return i < frameSlots_ ? frames_[i] : nullptr; }

    // Codec dispatch (implemented with the codecs).
    static std::uint32_t FormatSlot(std::uint32_t id);
    bool SetFormatId(std::uint32_t id);
    std::uint32_t CodecFlags(std::uint32_t id = 0) const;
    void SetCodecFlags(std::uint32_t value, std::uint32_t id = 0);
    bool LoadFile(const std::string& path, std::uint32_t id);
    bool SaveFile(const std::string& path, std::uint32_t id);
    bool Decode(std::FILE* file, std::uint32_t id);
    bool Encode(std::FILE* file, std::uint32_t id);
    bool Decode(ByteStream* stream, std::uint32_t id);
    bool Encode(ByteStream* stream, std::uint32_t id);
    // True when an encoder must refuse (no stream or no pixels); sets the error text.
    bool CheckBeforeEncode(ByteStream* stream);

    // A codec's own reader and writer. The plain image has neither.
    virtual bool Decode(ByteStream* /*stream*/) { return false; }
    virtual bool Encode(ByteStream* /*stream*/) { return false; }

protected:
    bool Inside(std::int32_t x, std::int32_t y) const {
        return x >= 0 && y >= 0 && x < header_.width && y < header_.height;
    }
    // True, with the error text set, when a picture of this size is more than
    // the caller's read limits accept. Readers ask before allocating.
    bool ExceedsReadLimits(std::uint64_t width, std::uint64_t height);
    // Copies the header record into the block's own header.
    void SyncBlockHeader();
    // The palette area of the block (4 bytes per entry), null without one.
    std::uint8_t* PaletteBytes() const;

    std::uint8_t* block_ = nullptr;
    ImageHeader header_;
    ImageSettings settings_;
    std::uint8_t* selection_ = nullptr;
    std::uint8_t* alpha_ = nullptr;
    RasterImage** layers_ = nullptr;
    RasterImage** frames_ = nullptr;

private:
    void PasteRows(const RasterImage& source, std::int32_t xOffset, std::int32_t yOffset);
    void PastePixels(const RasterImage& source, std::int32_t xOffset, std::int32_t yOffset);
    // Source's colour and opacity (blue, green, red, alpha) over columns
    // [first, last) of its row y.
    void OpacityRow(std::int32_t y, std::int32_t first, std::int32_t last,
                    const std::array<RgbQuad, 256>& lut, RgbQuad* out) const;
    void WriteIndex(std::uint8_t* row, std::int32_t x, std::uint8_t index);

    // Lengths of the owned layer and frame arrays. Kept apart from the counts
    // in the settings, which a settings copy overwrites.
    std::uint32_t layerSlots_ = 0;
    std::uint32_t frameSlots_ = 0;
};

} // namespace quiltara
