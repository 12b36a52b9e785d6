#include "image/RasterImage.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace quiltara {

namespace {

constexpr std::uint32_t kHeaderSize = sizeof(ImageHeader);
constexpr const char* kZeroSizeText =
    "RasterImage::Create : width and height must be greater than zero";
constexpr const char* kNoMemoryText = "RasterImage::Create can't allocate memory";

std::atomic<std::uint64_t> gPixelBlockLimit{0};

RgbQuad LoadQuad(const std::uint8_t* p) {
    return RgbQuad{p[0], p[1], p[2], p[3]};
}

void StoreQuad(std::uint8_t* p, RgbQuad c) {
    p[0] = c.blue;
    p[1] = c.green;
    p[2] = c.red;
    p[3] = c.reserved;
}

std::uint32_t PaletteSizeFor(std::uint32_t depth) {
    switch (depth) {
        case 1:
            return 2;
        case 4:
            return 16;
        case 8:
            return 256;
        default:
            return 0;
    }
}

std::uint32_t MapDepth(std::uint32_t bitsPerPixel) {
    if (bitsPerPixel <= 1) {
        return 1;
    }
    if (bitsPerPixel <= 4) {
        return 4;
    }
    if (bitsPerPixel <= 8) {
        return 8;
    }
    return 24;
}

// Index of pixel x in a stored row of a palette image.
std::uint8_t ReadIndex(const std::uint8_t* row, std::int32_t x, std::uint16_t depth) {
    switch (depth) {
        case 8:
            return row[x];
        case 4: {
            const std::uint8_t byte = row[x >> 1];
            return (x & 1) ? (byte & 0x0F) : (byte >> 4);
        }
        case 1:
            return (row[x >> 3] >> (7 - (x & 7))) & 1;
        default:
            return 0;
    }
}

// Resolution in dots per inch to the header's pixels per metre. A resolution
// read from a file can be absurd; the result is held to the field's range.
std::int32_t DpiToPelsPerMeter(std::int32_t dpi) {
    const double pels = std::floor(dpi * 39.37007874015748 + 0.5);
    return static_cast<std::int32_t>(std::min(pels, double{INT32_MAX}));
}

std::uint8_t* DuplicatePlane(const std::uint8_t* plane, std::size_t bytes) {
    auto* copy = static_cast<std::uint8_t*>(std::malloc(bytes));
    if (copy != nullptr) {
        std::memcpy(copy, plane, bytes);
    }
    return copy;
}

} // namespace

void SetPixelBlockLimit(std::uint64_t bytes) {
    gPixelBlockLimit.store(bytes, std::memory_order_relaxed);
}

std::uint64_t PixelBlockLimit() {
    return gPixelBlockLimit.load(std::memory_order_relaxed);
}

// ---- construction and lifetime ----

RasterImage::RasterImage(std::uint32_t formatId) {
    InitDefaults(formatId);
}

RasterImage::RasterImage(std::uint32_t width, std::uint32_t height, std::uint32_t bitsPerPixel,
                         std::uint32_t formatId) {
    InitDefaults(formatId);
    Create(width, height, bitsPerPixel, formatId);
}

RasterImage::RasterImage(const RasterImage& source, bool withPixels, bool withSelection,
                         bool withAlpha) {
    InitDefaults(source.FormatId());
    CopyFrom(source, withPixels, withSelection, withAlpha);
}

RasterImage& RasterImage::operator=(const RasterImage& source) {
    if (this != &source) {
        CopyFrom(source, true, true, true);
    }
    return *this;
}

RasterImage::~RasterImage() {
    ReleaseFrames();
    Release();
}

void RasterImage::InitDefaults(std::uint32_t formatId) {
    block_ = nullptr;
    selection_ = nullptr;
    alpha_ = nullptr;
    layers_ = nullptr;
    frames_ = nullptr;
    layerSlots_ = 0;
    frameSlots_ = 0;
    header_ = ImageHeader{};
    settings_ = ImageSettings{};
    settings_.formatId = formatId;
    settings_.quality = 90.0f;
    settings_.maxAlpha = 255;
    settings_.transparentIndex = -1;
    settings_.enabled = true;
    SetHorizontalDpi(96);
    SetVerticalDpi(96);
    settings_.littleEndianHost = true;
}

std::uint8_t* RasterImage::Create(std::uint32_t width, std::uint32_t height,
                                  std::uint32_t bitsPerPixel, std::uint32_t formatId) {
    if (!Release()) {
        return nullptr;
    }
    settings_.firstRow = nullptr;
    if (width == 0 || height == 0) {
        SetErrorText(kZeroSizeText);
        return nullptr;
    }
    const std::uint32_t depth = MapDepth(bitsPerPixel);
    const std::uint32_t colours = PaletteSizeFor(depth);

    // Sizes are worked out wide; anything that does not fit the header's 32-bit
    // fields is refused just like an allocation that failed.
    const std::uint64_t rowBytes = ((std::uint64_t{width} * depth + 31) / 32) * 4;
    const std::uint64_t imageSize = rowBytes * height;
    const std::uint64_t blockSize = kHeaderSize + 4ull * colours + imageSize;
    constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();
    const bool fits = rowBytes <= kMax32 && imageSize <= kMax32 && blockSize <= kMax32;

    header_.clrUsed = colours;
    settings_.formatId = formatId;
    settings_.rowBytes = static_cast<std::uint32_t>(fits ? rowBytes : 0);
    header_.width = static_cast<std::int32_t>(width);
    header_.height = static_cast<std::int32_t>(height);
    header_.size = kHeaderSize;
    header_.planes = 1;
    header_.bitCount = static_cast<std::uint16_t>(depth);
    header_.compression = 0;
    header_.sizeImage = static_cast<std::uint32_t>(fits ? imageSize : 0);

    const std::uint64_t limit = PixelBlockLimit();
    const bool signedSizeOk = width <= static_cast<std::uint32_t>(INT32_MAX) &&
                              height <= static_cast<std::uint32_t>(INT32_MAX);
    if (!fits || !signedSizeOk || (limit != 0 && blockSize > limit)) {
        SetErrorText(kNoMemoryText);
        return nullptr;
    }
    // A zeroing allocation: a blank image reads as black (palette index 0), and
    // the pages of a huge image are not touched until something is drawn.
    block_ = static_cast<std::uint8_t*>(std::calloc(1, static_cast<std::size_t>(blockSize)));
    if (block_ == nullptr) {
        SetErrorText(kNoMemoryText);
        return nullptr;
    }
    settings_.nearestCacheValid = false;
    SyncBlockHeader();
    settings_.firstRow = block_ + kHeaderSize + 4 * colours;
    return block_;
}

bool RasterImage::Release() {
    if (IsBorrowing()) {
        return false;
    }
    for (std::uint32_t i = 0; i < layerSlots_; ++i) {
        delete layers_[i];
    }
    std::free(static_cast<void*>(layers_));
    layers_ = nullptr;
    layerSlots_ = 0;
    settings_.layerCount = 0;
    std::free(selection_);
    selection_ = nullptr;
    std::free(alpha_);
    alpha_ = nullptr;
    std::free(block_);
    block_ = nullptr;
    return true;
}

bool RasterImage::ReleaseFrames() {
    if (IsBorrowing()) {
        return false;
    }
    for (std::uint32_t i = 0; i < frameSlots_; ++i) {
        delete frames_[i];
    }
    std::free(static_cast<void*>(frames_));
    frames_ = nullptr;
    frameSlots_ = 0;
    settings_.frameCount = 0;
    return true;
}

std::uint32_t RasterImage::BlockSize() const {
    if (block_ == nullptr) {
        return 0;
    }
    return kHeaderSize + 4 * header_.clrUsed + header_.sizeImage;
}

void RasterImage::SetErrorText(std::string_view text) {
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(kErrorTextSize - 1));
    std::memcpy(settings_.errorText, text.data(), n);
    settings_.errorText[n] = '\0';
}

bool RasterImage::ExceedsReadLimits(std::uint64_t width, std::uint64_t height) {
    const ReadLimits& limits = settings_.readLimits;
    if ((limits.maxWidth == 0 || width <= limits.maxWidth) &&
        (limits.maxHeight == 0 || height <= limits.maxHeight)) {
        return false;
    }
    char text[kErrorTextSize];
    std::snprintf(text, sizeof text, "%llu x %llu pixels is larger than the %u x %u accepted",
                  static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
                  limits.maxWidth, limits.maxHeight);
    SetErrorText(text);
    return true;
}

void RasterImage::SyncBlockHeader() {
    if (block_ != nullptr) {
        std::memcpy(block_, &header_, kHeaderSize);
    }
}

std::uint8_t* RasterImage::PaletteBytes() const {
    if (block_ == nullptr || header_.clrUsed == 0) {
        return nullptr;
    }
    return block_ + kHeaderSize;
}

// ---- transfer between images ----

void RasterImage::CopyFrom(const RasterImage& source, bool withPixels, bool withSelection,
                           bool withAlpha) {
    // A borrowing image shows another image's buffers; copying into it would
    // overwrite or free what it does not own.
    if (this == &source || IsBorrowing()) {
        return;
    }
    if (source.IsBorrowing()) {
        BorrowFrom(source);
        return;
    }
    // Free our buffers before the settings copy overwrites the counts and
    // pointers that describe them.
    Release();
    settings_ = source.settings_;
    header_ = source.header_;
    settings_.owner = nullptr;
    settings_.firstRow = nullptr;
    Create(static_cast<std::uint32_t>(std::max(source.Width(), 0)),
           static_cast<std::uint32_t>(std::max(source.Height(), 0)), source.BitsPerPixel(),
           source.FormatId());

    if (withPixels && block_ != nullptr && source.block_ != nullptr) {
        std::memcpy(block_, source.block_, std::min(BlockSize(), source.BlockSize()));
    } else if (PaletteBytes() != nullptr && source.PaletteBytes() != nullptr) {
        const std::uint32_t entries =
            std::min({source.ColorCount(), ColorCount(), std::uint32_t{256}});
        std::memcpy(PaletteBytes(), source.PaletteBytes(), 4 * entries);
    }
    const std::size_t planeBytes = static_cast<std::size_t>(std::max(Width(), 0)) *
                                   static_cast<std::size_t>(std::max(Height(), 0));
    if (withSelection && source.selection_ != nullptr) {
        std::free(selection_);
        selection_ = DuplicatePlane(source.selection_, planeBytes);
    }
    if (withAlpha && source.alpha_ != nullptr) {
        std::free(alpha_);
        alpha_ = DuplicatePlane(source.alpha_, planeBytes);
    }
}

bool RasterImage::AdoptFrom(RasterImage& source, bool withFrames) {
    if (this == &source) {
        return true;
    }
    // A borrowing image owns nothing it could hand over.
    if (source.IsBorrowing() || !Release()) {
        return false;
    }
    header_ = source.header_;
    settings_ = source.settings_;
    block_ = std::exchange(source.block_, nullptr);
    selection_ = std::exchange(source.selection_, nullptr);
    alpha_ = std::exchange(source.alpha_, nullptr);
    layers_ = std::exchange(source.layers_, nullptr);
    layerSlots_ = std::exchange(source.layerSlots_, 0);
    source.header_ = ImageHeader{};
    source.settings_ = ImageSettings{};
    if (withFrames) {
        ReleaseFrames();
        frames_ = std::exchange(source.frames_, nullptr);
        frameSlots_ = std::exchange(source.frameSlots_, 0);
        settings_.frameCount = static_cast<std::int32_t>(frameSlots_);
    }
    return true;
}

void RasterImage::BorrowFrom(const RasterImage& source) {
    if (this == &source) {
        return;
    }
    // Whatever this image owned would be lost once it only borrows.
    ReleaseFrames();
    Release();
    header_ = source.header_;
    settings_ = source.settings_;
    block_ = source.block_;
    selection_ = source.selection_;
    alpha_ = source.alpha_;
    layers_ = source.layers_;
    layerSlots_ = source.layerSlots_;
    frames_ = source.frames_;
    frameSlots_ = source.frameSlots_;
    settings_.owner = &source;
}

void RasterImage::CopySettingsFrom(const RasterImage& source) {
    if (block_ != nullptr) {
        return;
    }
    // The pointers describe buffers, not settings: they stay this image's own.
    const RasterImage* owner = settings_.owner;
    const RasterImage* parent = settings_.parent;
    settings_ = source.settings_;
    settings_.owner = owner;
    settings_.parent = parent;
    settings_.firstRow = nullptr;
}

// ---- rows and resolution ----

std::uint8_t* RasterImage::RowPointer(std::uint32_t row) {
    return const_cast<std::uint8_t*>(std::as_const(*this).RowPointer(row));
}

const std::uint8_t* RasterImage::RowPointer(std::uint32_t row) const {
    if (block_ == nullptr || row >= static_cast<std::uint32_t>(std::max(header_.height, 0))) {
        return nullptr;
    }
    return settings_.firstRow + static_cast<std::size_t>(row) * settings_.rowBytes;
}

void RasterImage::SetHorizontalDpi(std::int32_t dpi) {
    if (dpi <= 0) {
        dpi = 96;
    }
    settings_.xDpi = dpi;
    header_.xPelsPerMeter = DpiToPelsPerMeter(dpi);
    SyncBlockHeader();
}

void RasterImage::SetVerticalDpi(std::int32_t dpi) {
    if (dpi <= 0) {
        dpi = 96;
    }
    settings_.yDpi = dpi;
    header_.yPelsPerMeter = DpiToPelsPerMeter(dpi);
    SyncBlockHeader();
}

// ---- palette ----

RgbQuad RasterImage::PaletteEntry(std::uint8_t index) const {
    const std::uint8_t* palette = PaletteBytes();
    if (palette == nullptr || index >= header_.clrUsed) {
        return RgbQuad{};
    }
    return LoadQuad(palette + 4 * index);
}

void RasterImage::SetPaletteEntry(std::uint8_t index, RgbQuad colour) {
    std::uint8_t* palette = PaletteBytes();
    if (palette == nullptr || index >= header_.clrUsed) {
        return;
    }
    StoreQuad(palette + 4 * index, colour);
    settings_.nearestCacheValid = false;
}

void RasterImage::SetPaletteFromTriples(const std::uint8_t* triples, std::uint32_t count) {
    std::uint8_t* palette = PaletteBytes();
    if (palette == nullptr || triples == nullptr) {
        return;
    }
    const std::uint32_t n = std::min(count, header_.clrUsed);
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint8_t* rgb = triples + 3 * i;
        StoreQuad(palette + 4 * i, RgbQuad{rgb[2], rgb[1], rgb[0], 0});
    }
    settings_.nearestCacheValid = false;
}

void RasterImage::SetGreyRamp() {
    std::uint8_t* palette = PaletteBytes();
    if (palette == nullptr) {
        return;
    }
    const std::uint32_t step = 255 / (header_.clrUsed - 1);
    for (std::uint32_t i = 0; i < header_.clrUsed; ++i) {
        const auto grey = static_cast<std::uint8_t>(i * step);
        StoreQuad(palette + 4 * i, RgbQuad{grey, grey, grey, 0});
    }
    settings_.nearestCacheValid = false;
}

bool RasterImage::IsGreyRamp() const {
    const std::uint8_t* palette = PaletteBytes();
    if (palette == nullptr) {
        return false;
    }
    for (std::uint32_t i = 0; i < header_.clrUsed; ++i) {
        const std::uint8_t* entry = palette + 4 * i;
        if (entry[0] != i || entry[1] != i || entry[2] != i) {
            return false;
        }
    }
    return true;
}

void RasterImage::SetImportantColorCount(std::uint32_t count) {
    if (count == 0 || count > 256) {
        count = 0;
    } else {
        switch (header_.bitCount) {
            case 1:
                count = std::min(count, std::uint32_t{2});
                break;
            case 4:
                count = std::min(count, std::uint32_t{16});
                break;
            case 8:
                break;
            default:
                count = 0; // no palette to speak of
                break;
        }
    }
    header_.clrImportant = count;
    // The nearest-colour search range changed with it.
    settings_.nearestCacheValid = false;
    SyncBlockHeader();
}

void RasterImage::SwapPaletteIndices(std::uint8_t a, std::uint8_t b) {
    std::uint8_t* palette = PaletteBytes();
    if (palette == nullptr || a >= header_.clrUsed || b >= header_.clrUsed || a == b) {
        return;
    }
    const RgbQuad ea = LoadQuad(palette + 4 * a);
    StoreQuad(palette + 4 * a, LoadQuad(palette + 4 * b));
    StoreQuad(palette + 4 * b, ea);
    settings_.nearestCacheValid = false;
    for (std::int32_t y = 0; y < header_.height; ++y) {
        std::uint8_t* row = RowPointer(static_cast<std::uint32_t>(y));
        for (std::int32_t x = 0; x < header_.width; ++x) {
            const std::uint8_t index = ReadIndex(row, x, header_.bitCount);
            if (index == a) {
                WriteIndex(row, x, b);
            } else if (index == b) {
                WriteIndex(row, x, a);
            }
        }
    }
}

std::uint8_t RasterImage::NearestIndex(RgbQuad colour) {
    const std::uint8_t* palette = PaletteBytes();
    if (palette == nullptr) {
        return 0;
    }
    if (settings_.nearestCacheValid && settings_.lastColorAsked == colour) {
        return settings_.lastNearestIndex;
    }
    settings_.lastColorAsked = colour;
    settings_.nearestCacheValid = true;

    const std::uint32_t m = std::min(
        header_.clrImportant != 0 ? header_.clrImportant : header_.clrUsed, header_.clrUsed);
    std::int32_t bestDistance = 200000;
    std::uint8_t best = 0;
    for (std::uint32_t i = 0; i < m; ++i) {
        const std::uint8_t* entry = palette + 4 * i;
        const std::int32_t db = entry[0] - colour.blue;
        const std::int32_t dg = entry[1] - colour.green;
        const std::int32_t dr = entry[2] - colour.red;
        const std::int32_t d = db * db + dg * dg + dr * dr;
        if (d == 0) {
            best = static_cast<std::uint8_t>(i);
            break;
        }
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<std::uint8_t>(i);
        }
    }
    settings_.lastNearestIndex = best;
    return best;
}

void RasterImage::SwapRedBlue(std::uint8_t* buffer, std::uint32_t length) const {
    if (buffer == nullptr || header_.bitCount != 24) {
        return;
    }
    const std::uint64_t rowPixels = static_cast<std::uint64_t>(std::max(header_.width, 0)) * 3;
    const std::uint64_t n =
        std::min({std::uint64_t{length}, std::uint64_t{settings_.rowBytes}, rowPixels});
    for (std::uint64_t i = 0; i + 3 <= n; i += 3) {
        std::swap(buffer[i], buffer[i + 2]);
    }
}

// ---- pixels ----

void RasterImage::WriteIndex(std::uint8_t* row, std::int32_t x, std::uint8_t index) {
    switch (header_.bitCount) {
        case 8:
            row[x] = index;
            break;
        case 4: {
            std::uint8_t& byte = row[x >> 1];
            if (x & 1) {
                byte = static_cast<std::uint8_t>((byte & 0xF0) | (index & 0x0F));
            } else {
                byte = static_cast<std::uint8_t>((byte & 0x0F) | ((index & 0x0F) << 4));
            }
            break;
        }
        case 1: {
            const auto mask = static_cast<std::uint8_t>(0x80 >> (x & 7));
            std::uint8_t& byte = row[x >> 3];
            byte = static_cast<std::uint8_t>((index & 1) ? (byte | mask) : (byte & ~mask));
            break;
        }
        default:
            break;
    }
}

std::uint8_t RasterImage::PixelIndex(std::int32_t x, std::int32_t y) const {
    if (block_ == nullptr || header_.clrUsed == 0) {
        return 0;
    }
    if (!Inside(x, y)) {
        if (settings_.transparentIndex >= 0) {
            return static_cast<std::uint8_t>(settings_.transparentIndex);
        }
        return settings_.firstRow[0];
    }
    return ReadIndex(RowPointer(static_cast<std::uint32_t>(y)), x, header_.bitCount);
}

RgbQuad RasterImage::PixelColor(std::int32_t x, std::int32_t y, bool withAlpha) const {
    if (block_ == nullptr || !Inside(x, y)) {
        if (settings_.transparentIndex >= 0) {
            if (header_.bitCount < 24) {
                return PaletteEntry(static_cast<std::uint8_t>(settings_.transparentIndex));
            }
            return settings_.transparentColor;
        }
        if (block_ != nullptr) {
            return PixelColor(0, 0, true);
        }
        return settings_.transparentColor;
    }
    RgbQuad colour = settings_.transparentColor;
    const std::uint8_t* row = RowPointer(static_cast<std::uint32_t>(y));
    if (header_.clrUsed != 0) {
        colour = PaletteEntry(ReadIndex(row, x, header_.bitCount));
    } else {
        const std::uint8_t* p = row + static_cast<std::size_t>(x) * 3;
        colour.blue = p[0];
        colour.green = p[1];
        colour.red = p[2];
    }
    if (withAlpha && alpha_ != nullptr) {
        colour.reserved = AlphaAt(x, y);
    }
    return colour;
}

RgbQuad RasterImage::PixelColorUnchecked(std::int32_t x, std::int32_t y, bool withAlpha) const {
    RgbQuad colour;
    const std::uint8_t* row = settings_.firstRow + static_cast<std::size_t>(y) * settings_.rowBytes;
    if (header_.clrUsed != 0) {
        colour = PaletteEntry(ReadIndex(row, x, header_.bitCount));
    } else {
        const std::uint8_t* p = row + static_cast<std::size_t>(x) * 3;
        colour = RgbQuad{p[0], p[1], p[2], 0};
    }
    if (withAlpha && alpha_ != nullptr) {
        colour.reserved =
            alpha_[static_cast<std::size_t>(y) * static_cast<std::size_t>(header_.width) +
                   static_cast<std::size_t>(x)];
    }
    return colour;
}

void RasterImage::PutPixelIndex(std::int32_t x, std::int32_t y, std::uint8_t index) {
    if (block_ == nullptr || header_.clrUsed == 0 || !Inside(x, y)) {
        return;
    }
    WriteIndex(RowPointer(static_cast<std::uint32_t>(y)), x, index);
}

void RasterImage::PutPixelColor(std::int32_t x, std::int32_t y, RgbQuad colour, bool withAlpha) {
    if (block_ == nullptr || !Inside(x, y)) {
        return;
    }
    std::uint8_t* row = RowPointer(static_cast<std::uint32_t>(y));
    if (header_.clrUsed != 0) {
        WriteIndex(row, x, NearestIndex(colour));
    } else {
        std::uint8_t* p = row + static_cast<std::size_t>(x) * 3;
        p[0] = colour.blue;
        p[1] = colour.green;
        p[2] = colour.red;
    }
    if (withAlpha && alpha_ != nullptr) {
        SetAlphaAt(x, y, colour.reserved);
    }
}

bool RasterImage::IsTransparentAt(std::int32_t x, std::int32_t y) const {
    if (block_ == nullptr) {
        return false;
    }
    if (settings_.transparentIndex >= 0) {
        if (header_.bitCount < 24) {
            if (PixelIndex(x, y) == settings_.transparentIndex) {
                return true;
            }
        } else if (PixelColor(x, y, false) == settings_.transparentColor) {
            return true;
        }
    }
    return alpha_ != nullptr && AlphaAt(x, y) == 0;
}

// ---- alpha plane and the members the system does not use ----

bool RasterImage::CreateAlpha() {
    if (alpha_ == nullptr && !IsBorrowing() && header_.width > 0 && header_.height > 0) {
        const std::size_t bytes =
            static_cast<std::size_t>(header_.width) * static_cast<std::size_t>(header_.height);
        alpha_ = static_cast<std::uint8_t*>(std::malloc(bytes));
        if (alpha_ != nullptr) {
            std::memset(alpha_, 255, bytes);
        }
    }
    return alpha_ != nullptr;
}

std::uint8_t RasterImage::AlphaAt(std::int32_t x, std::int32_t y) const {
    if (alpha_ == nullptr || !Inside(x, y)) {
        return 0;
    }
    return alpha_[static_cast<std::size_t>(y) * static_cast<std::size_t>(header_.width) +
                  static_cast<std::size_t>(x)];
}

void RasterImage::SetAlphaAt(std::int32_t x, std::int32_t y, std::uint8_t value) {
    if (alpha_ == nullptr || !Inside(x, y)) {
        return;
    }
    alpha_[static_cast<std::size_t>(y) * static_cast<std::size_t>(header_.width) +
           static_cast<std::size_t>(x)] = value;
}

bool RasterImage::CreateSelection() {
    if (selection_ == nullptr && !IsBorrowing() && header_.width > 0 && header_.height > 0) {
        selection_ = static_cast<std::uint8_t*>(std::calloc(
            static_cast<std::size_t>(header_.width), static_cast<std::size_t>(header_.height)));
    }
    return selection_ != nullptr;
}

namespace {

// Appends one owned image to a malloc'ed pointer array; false leaves all as it was.
bool AppendOwned(RasterImage**& array, std::uint32_t& slots, std::unique_ptr<RasterImage> item) {
    if (item == nullptr) {
        return false;
    }
    void* grown = std::realloc(static_cast<void*>(array), sizeof(RasterImage*) * (slots + 1));
    if (grown == nullptr) {
        return false;
    }
    array = static_cast<RasterImage**>(grown);
    array[slots++] = item.release();
    return true;
}

} // namespace

bool RasterImage::AppendLayer(std::unique_ptr<RasterImage> layer) {
    if (IsBorrowing() || layer == nullptr) {
        return false;
    }
    layer->settings_.parent = this;
    if (!AppendOwned(layers_, layerSlots_, std::move(layer))) {
        return false;
    }
    settings_.layerCount = static_cast<std::int32_t>(layerSlots_);
    return true;
}

bool RasterImage::AppendFrame(std::unique_ptr<RasterImage> frame) {
    if (IsBorrowing() || !AppendOwned(frames_, frameSlots_, std::move(frame))) {
        return false;
    }
    settings_.frameCount = static_cast<std::int32_t>(frameSlots_);
    return true;
}

} // namespace quiltara
