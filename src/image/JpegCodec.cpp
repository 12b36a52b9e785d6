#include "image/JpegCodec.h"

// clang-format off
#include <cstdio>
#include <csetjmp>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "image/ByteStream.h"

namespace quiltara {

namespace {

constexpr std::size_t kJpegBufferSize = 4096;
// Legitimate progressive files have around ten scans; thousands of tiny ones
// only serve to keep the decoder busy.
constexpr int kMaxScans = 1000;
// Whole-image buffers of progressive files above this are refused: libjpeg
// zeroes them as it goes, whatever the data behind them.
constexpr long kMaxDecoderMemory = 256L * 1024 * 1024;
// Work is bounded by the data behind it. Huffman-coded data needs at least a
// bit per 8 x 8 block, so no honest file yields more than a few hundred
// pixels per byte; past the allowance below the data counts as ended, as
// when it runs out. This ends the padding that libjpeg would otherwise spend
// on a huge picture behind a few bytes, restart markers or endless scans.
// (Arithmetic coding can honestly pack more; such pictures beyond the
// allowance come out cut, which no map service's tiles ever need.)
constexpr std::uint64_t kFreePixels = std::uint64_t{1} << 24;
constexpr std::uint64_t kPixelsPerByte = 512;
// Each scan of a progressive file passes over the whole picture again.
constexpr std::uint64_t kScanPixelsPerByte = 4096;
constexpr const char* kDataEndedText = "JPEG: the data ends before the last row";

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    RasterImage* image;
};

// Where the data behind the picture ended: the scan and the iMCU row being
// decoded when it did.
struct DataEnd {
    bool reached;
    int scan;
    JDIMENSION row;
};

struct SourceManager {
    jpeg_source_mgr pub;
    ByteStream* stream;
    bool startOfFile;
    bool decoding;  // past the headers: scans are being read
    bool wholeData; // the caller refuses padded pictures
    RasterImage* image;
    std::uint64_t bytesRead;
    DataEnd end;
    JOCTET buffer[kJpegBufferSize];
};

struct DestinationManager {
    jpeg_destination_mgr pub;
    ByteStream* stream;
    JOCTET buffer[kJpegBufferSize];
};

struct ProgressMonitor {
    jpeg_progress_mgr pub;
    RasterImage* image;
};

[[noreturn]] void FailWith(j_common_ptr cinfo) {
    longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

[[noreturn]] void OnError(j_common_ptr cinfo) {
    char message[JMSG_LENGTH_MAX] = {};
    (*cinfo->err->format_message)(cinfo, message);
    reinterpret_cast<ErrorManager*>(cinfo->err)->image->SetErrorText(message);
    FailWith(cinfo);
}

// From here on libjpeg would pad the rest of the picture. A caller that
// wants whole data gets a failure at once.
void NoteDataEnd(j_decompress_ptr cinfo) {
    auto* source = reinterpret_cast<SourceManager*>(cinfo->src);
    if (source->end.reached) {
        return;
    }
    source->end = DataEnd{true, cinfo->input_scan_number, cinfo->input_iMCU_row};
    if (source->wholeData) {
        source->image->SetErrorText(kDataEndedText);
        FailWith(reinterpret_cast<j_common_ptr>(cinfo));
    }
}

// Warnings (such as the premature end of a truncated tile) are counted, never
// printed. The entropy decoder warns when it needs bits past a marker: past
// anything but a restart marker (after which the data goes on) the scan's
// data has ended.
void OnMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) {
        return;
    }
    ++cinfo->err->num_warnings;
    if (cinfo->is_decompressor && cinfo->err->msg_code == JWRN_HIT_MARKER) {
        auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
        const int marker = dinfo->unread_marker;
        if (marker < JPEG_RST0 || marker > JPEG_RST0 + 7) { // RST0 to RST7
            NoteDataEnd(dinfo);
        }
    }
}

void InitErrors(ErrorManager& errors, RasterImage& image) {
    jpeg_std_error(&errors.pub);
    errors.pub.error_exit = OnError;
    errors.pub.emit_message = OnMessage;
    errors.image = &image;
}

void InitSource(j_decompress_ptr cinfo) {
    reinterpret_cast<SourceManager*>(cinfo->src)->startOfFile = true;
}

boolean FillInput(j_decompress_ptr cinfo) {
    auto* source = reinterpret_cast<SourceManager*>(cinfo->src);
    std::size_t count = source->stream->Read(source->buffer, 1, kJpegBufferSize);
    if (count == 0) {
        if (source->startOfFile) {
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        }
        // The data ends early: pretend an end-of-image marker follows, so
        // libjpeg finishes the picture with what it has. Inside a scan that
        // leaves rows without data (arithmetic-coded data says so no other way).
        WARNMS(cinfo, JWRN_JPEG_EOF);
        if (source->decoding && cinfo->input_iMCU_row < cinfo->total_iMCU_rows) {
            NoteDataEnd(cinfo);
        }
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        count = 2;
    } else {
        source->bytesRead += count;
    }
    source->pub.next_input_byte = source->buffer;
    source->pub.bytes_in_buffer = count;
    source->startOfFile = false;
    return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
    if (count <= 0) {
        return;
    }
    jpeg_source_mgr* source = cinfo->src;
    auto remaining = static_cast<std::size_t>(count);
    while (remaining > source->bytes_in_buffer) {
        remaining -= source->bytes_in_buffer;
        FillInput(cinfo);
    }
    source->next_input_byte += remaining;
    source->bytes_in_buffer -= remaining;
}

void TermSource(j_decompress_ptr /*cinfo*/) {}

void InitDestination(j_compress_ptr cinfo) {
    auto* destination = reinterpret_cast<DestinationManager*>(cinfo->dest);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = kJpegBufferSize;
}

boolean EmptyOutput(j_compress_ptr cinfo) {
    auto* destination = reinterpret_cast<DestinationManager*>(cinfo->dest);
    if (destination->stream->Write(destination->buffer, 1, kJpegBufferSize) != kJpegBufferSize) {
        ERREXIT(cinfo, JERR_FILE_WRITE);
    }
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = kJpegBufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* destination = reinterpret_cast<DestinationManager*>(cinfo->dest);
    const std::size_t count = kJpegBufferSize - destination->pub.free_in_buffer;
    if (count > 0 && destination->stream->Write(destination->buffer, 1, count) != count) {
        ERREXIT(cinfo, JERR_FILE_WRITE);
    }
    if (!destination->stream->Flush()) {
        ERREXIT(cinfo, JERR_FILE_WRITE);
    }
}

void OnProgress(j_common_ptr cinfo) {
    auto* monitor = reinterpret_cast<ProgressMonitor*>(cinfo->progress);
    const std::int32_t escape = monitor->image->Escape();
    if (escape != 0 && escape != -1) {
        FailWith(cinfo);
    }
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
        monitor->image->SetErrorText("JPEG: too many scans");
        FailWith(cinfo);
    }
}

// The size the pixel block of a width x height image of this depth would
// have, as the image container computes it.
std::uint64_t BlockBytes(std::uint64_t width, std::uint64_t height, std::uint32_t depth) {
    const std::uint64_t rowBytes = ((width * depth + 31) / 32) * 4;
    const std::uint64_t palette = depth <= 8 ? (std::uint64_t{1} << depth) * 4 : 0;
    return 40 + palette + rowBytes * height;
}

} // namespace

struct JpegCodec::Decompressor {
    Decompressor() = default;
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
    // jpeg_destroy is safe on a structure that was never created: it does
    // nothing until the memory manager exists.
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }

    jpeg_decompress_struct cinfo{};
    ErrorManager errors{};
    SourceManager source{};
    ProgressMonitor progress{};
};

struct JpegCodec::Compressor {
    Compressor() = default;
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
    ~Compressor() { jpeg_destroy_compress(&cinfo); }

    jpeg_compress_struct cinfo{};
    ErrorManager errors{};
    DestinationManager destination{};
};

bool JpegCodec::Decode(ByteStream* stream) {
    if (stream == nullptr) {
        SetErrorText("null file handler");
        return false;
    }
    const std::int32_t start = stream->Tell();
    exif_.Scan(*stream);
    stream->Seek(start, 0);

    Decompressor jpeg;
    InitErrors(jpeg.errors, *this);
    jpeg.cinfo.err = &jpeg.errors.pub;
    jpeg.source.stream = stream;
    jpeg.source.pub.init_source = InitSource;
    jpeg.source.pub.fill_input_buffer = FillInput;
    jpeg.source.pub.skip_input_data = SkipInput;
    jpeg.source.pub.resync_to_restart = jpeg_resync_to_restart;
    jpeg.source.pub.term_source = TermSource;
    jpeg.source.wholeData = GetReadLimits().wholeData;
    jpeg.source.image = this;
    jpeg.progress.pub.progress_monitor = OnProgress;
    jpeg.progress.image = this;
    return DecodeGuarded(jpeg);
}

bool JpegCodec::DecodeGuarded(Decompressor& jpeg) {
    if (setjmp(jpeg.errors.jump) != 0) {
        return false;
    }
    return DecodeBody(jpeg);
}

bool JpegCodec::DecodeBody(Decompressor& jpeg) {
    jpeg_decompress_struct& cinfo = jpeg.cinfo;
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
    cinfo.src = &jpeg.source.pub;
    cinfo.progress = &jpeg.progress.pub;
    jpeg_read_header(&cinfo, TRUE);
    if (ExceedsReadLimits(cinfo.image_width, cinfo.image_height)) {
        return false;
    }

    const std::uint32_t options = CodecFlags(kFormatJpeg);
    if ((options & kJpegGreyOutput) != 0) {
        cinfo.out_color_space = JCS_GRAYSCALE;
    } else if (cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_RGB) {
        // libjpeg delivers the stored blue-green-red order itself.
        cinfo.out_color_space = JCS_EXT_BGR;
    }
    if ((options & kJpegFastDct) != 0) {
        cinfo.dct_method = JDCT_IFAST;
    }
    if ((options & kJpegNoSmoothing) != 0) {
        cinfo.do_fancy_upsampling = FALSE;
        cinfo.do_block_smoothing = FALSE;
    }
    const std::uint8_t scale = JpegScale();
    if (scale == 2 || scale == 4 || scale == 8) {
        cinfo.scale_num = 1;
        cinfo.scale_denom = scale;
    }

    if (Escape() == -1) {
        header_.width = static_cast<std::int32_t>(cinfo.image_width);
        header_.height = static_cast<std::int32_t>(cinfo.image_height);
        settings_.formatId = kFormatJpeg;
        return true;
    }
    if (Escape() != 0) {
        return false;
    }

    jpeg_calc_output_dimensions(&cinfo);
    const int components = cinfo.out_color_components;
    if (components != 1 && components != 3 && components != 4) {
        SetErrorText("JPEG: unsupported number of colour components");
        return false;
    }
    const std::uint32_t depth = components == 1 ? 8 : 24;
    // Refuse an image the container cannot hold before libjpeg allocates its
    // own whole-image buffers for it.
    const std::uint64_t needed = BlockBytes(cinfo.output_width, cinfo.output_height, depth);
    const std::uint64_t limit = PixelBlockLimit();
    if (needed > UINT32_MAX || (limit != 0 && needed > limit)) {
        SetErrorText("RasterImage::Create can't allocate memory");
        return false;
    }

    // A file of several scans is read scan by scan into libjpeg's
    // whole-picture buffer, so the reading can stop where the data ends
    // rather than padding every scan to its last row.
    const bool multiScan = jpeg_has_multiple_scans(&cinfo) != 0;
    cinfo.buffered_image = multiScan ? TRUE : FALSE;
    jpeg.source.decoding = true;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != components ||
        Create(cinfo.output_width, cinfo.output_height, depth, kFormatJpeg) == nullptr) {
        return false;
    }
    if (components == 1) {
        SetGreyRamp();
    }
    if (multiScan) {
        if (!AbsorbScans(jpeg)) {
            return false;
        }
        jpeg_start_output(&cinfo, cinfo.input_scan_number);
    }
    if (!ReadRows(jpeg)) {
        return false;
    }
    ApplyResolution(jpeg);
    if (jpeg.source.end.reached) {
        // Finishing would have libjpeg pad what is left; the rows without
        // data stay zero.
        return true;
    }
    if (multiScan) {
        jpeg_finish_output(&cinfo);
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

bool JpegCodec::AbsorbScans(Decompressor& jpeg) {
    jpeg_decompress_struct& cinfo = jpeg.cinfo;
    const std::uint64_t rowPixels = std::uint64_t{cinfo.image_width} *
                                    static_cast<std::uint64_t>(cinfo.max_v_samp_factor) * DCTSIZE;
    // A scan whose data ends early does not end the reading: the scans after
    // it still refine the rows it reached. The allowance bounds the padding.
    std::uint64_t pixels = 0;
    for (;;) {
        if (Escape() != 0) {
            return false;
        }
        if (cinfo.input_scan_number > kMaxScans) {
            SetErrorText("JPEG: too many scans");
            return false;
        }
        const int status = jpeg_consume_input(&cinfo);
        if (status == JPEG_REACHED_EOI || status == JPEG_SUSPENDED) {
            break;
        }
        if (status == JPEG_ROW_COMPLETED || status == JPEG_SCAN_COMPLETED) {
            pixels += rowPixels;
            if (pixels > kFreePixels + kScanPixelsPerByte * jpeg.source.bytesRead) {
                NoteDataEnd(&cinfo);
                break;
            }
        }
    }
    return true;
}

bool JpegCodec::ReadRows(Decompressor& jpeg) {
    jpeg_decompress_struct& cinfo = jpeg.cinfo;
    const int components = cinfo.output_components;
    JSAMPARRAY cmykRow = nullptr;
    if (components == 4) {
        cmykRow = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                             cinfo.output_width * 4, 1);
    }
    const bool swapRedBlue = components == 3 && cinfo.out_color_space != JCS_EXT_BGR;
    const JDIMENSION height = cinfo.output_height;
    const std::uint64_t picturePixels = std::uint64_t{cinfo.image_width} * cinfo.image_height;
    const DataEnd& end = jpeg.source.end;
    while (cinfo.output_scanline < height) {
        if (Escape() != 0) {
            return false;
        }
        // Rows past the end of the data stay zero. In a file of several
        // scans a later scan's end leaves every row the earlier ones' data.
        if (end.reached &&
            (!cinfo.buffered_image || (end.scan <= 1 && cinfo.output_iMCU_row > end.row))) {
            break;
        }
        const std::uint64_t done = picturePixels * cinfo.output_scanline / height;
        if (done > kFreePixels + kPixelsPerByte * jpeg.source.bytesRead) {
            NoteDataEnd(&cinfo);
            break;
        }
        std::uint8_t* const row = RowPointer(height - 1 - cinfo.output_scanline);
        JSAMPROW target = components == 4 ? cmykRow[0] : row;
        if (jpeg_read_scanlines(&cinfo, &target, 1) != 1) {
            SetErrorText("JPEG: the decoder stopped delivering rows");
            return false;
        }
        if (components == 4) {
            const JSAMPLE* cmyk = cmykRow[0];
            for (JDIMENSION x = 0; x < cinfo.output_width; ++x, cmyk += 4) {
                row[3 * x] = static_cast<std::uint8_t>(cmyk[2] * cmyk[3] / 255);
                row[3 * x + 1] = static_cast<std::uint8_t>(cmyk[1] * cmyk[3] / 255);
                row[3 * x + 2] = static_cast<std::uint8_t>(cmyk[0] * cmyk[3] / 255);
            }
        } else if (swapRedBlue) {
            SwapRedBlue(row, RowBytes());
        }
    }
    return true;
}

void JpegCodec::ApplyResolution(const Decompressor& jpeg) {
    const jpeg_decompress_struct& cinfo = jpeg.cinfo;
    if (exif_.Found()) {
        const ExifRecord& exif = exif_.Record();
        double factor = 0.0;
        switch (exif.resolutionUnit) {
            case 1:
            case 2:
                factor = 1.0;
                break;
            case 3:
                factor = 0.3937007874;
                break;
            case 4:
                factor = 0.03937007874;
                break;
            case 5:
                factor = 0.00003937007874;
                break;
            default:
                break;
        }
        // A value the signed resolution field cannot hold counts as "not
        // given" (96 dpi).
        const auto toDpi = [factor](double resolution) {
            const double dpi = resolution / factor;
            return dpi > INT32_MAX ? 0 : static_cast<std::int32_t>(dpi);
        };
        if (factor != 0.0 && exif.xResolution != 0.0) {
            SetHorizontalDpi(toDpi(exif.xResolution));
        }
        if (factor != 0.0 && exif.yResolution != 0.0) {
            SetVerticalDpi(toDpi(exif.yResolution));
        }
        return;
    }
    switch (cinfo.density_unit) {
        case 2:
            SetHorizontalDpi(static_cast<std::int32_t>(std::floor(cinfo.X_density * 2.54 + 0.5)));
            SetVerticalDpi(static_cast<std::int32_t>(std::floor(cinfo.Y_density * 2.54 + 0.5)));
            break;
        case 0:
            if (cinfo.X_density != 0 && cinfo.Y_density != 0) {
                SetVerticalDpi(static_cast<std::int32_t>(
                    HorizontalDpi() * (static_cast<double>(cinfo.Y_density) / cinfo.X_density)));
            }
            break;
        default:
            SetHorizontalDpi(cinfo.X_density);
            SetVerticalDpi(cinfo.Y_density);
            break;
    }
}

bool JpegCodec::Encode(ByteStream* stream) {
    if (CheckBeforeEncode(stream)) {
        return false;
    }
    if (!(BitsPerPixel() == 24 || (BitsPerPixel() == 8 && IsGreyRamp()))) {
        SetErrorText("JPEG can save only RGB or GreyScale images");
        return false;
    }
    Compressor jpeg;
    InitErrors(jpeg.errors, *this);
    jpeg.cinfo.err = &jpeg.errors.pub;
    jpeg.destination.stream = stream;
    jpeg.destination.pub.init_destination = InitDestination;
    jpeg.destination.pub.empty_output_buffer = EmptyOutput;
    jpeg.destination.pub.term_destination = TermDestination;
    return EncodeGuarded(jpeg);
}

bool JpegCodec::EncodeGuarded(Compressor& jpeg) {
    if (setjmp(jpeg.errors.jump) != 0) {
        return false;
    }
    EncodeBody(jpeg);
    return true;
}

void JpegCodec::EncodeBody(Compressor& jpeg) {
    jpeg_compress_struct& cinfo = jpeg.cinfo;
    jpeg_create_compress(&cinfo);
    cinfo.dest = &jpeg.destination.pub;
    cinfo.image_width = static_cast<JDIMENSION>(Width());
    cinfo.image_height = static_cast<JDIMENSION>(Height());
    const bool colour = BitsPerPixel() == 24;
    cinfo.input_components = colour ? 3 : 1;
    cinfo.in_color_space = colour ? JCS_EXT_BGR : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    const int quality = static_cast<int>(std::lround(std::clamp(Quality(), 0.0f, 100.0f)));
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.density_unit = 1;
    cinfo.X_density = static_cast<UINT16>(std::clamp(HorizontalDpi(), 1, 65535));
    cinfo.Y_density = static_cast<UINT16>(std::clamp(VerticalDpi(), 1, 65535));
    jpeg_start_compress(&cinfo, TRUE);
    const JDIMENSION height = cinfo.image_height;
    while (cinfo.next_scanline < height) {
        JSAMPROW row = RowPointer(height - 1 - cinfo.next_scanline);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
}

} // namespace quiltara
