#include "imaging/jpeg.h"

#include "core/ByteReader.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "imaging/ColorQuantizer.h"
#include "imaging/DrawTarget.h"
#include "platform/ScreenDepth.h"

#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace {

constexpr int kBufferSize = 4096;
constexpr int kQuantizedColors = 236;
constexpr unsigned kProgressInterval = 500; // milliseconds between progress reports
// Decoding never asks for more than 2^31 bytes of pixels.
constexpr std::uint64_t kMaxPixelBytes = std::uint64_t(1) << 31;

std::uint32_t tickCount()
{
    using namespace std::chrono;
    return std::uint32_t(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

[[noreturn]] void raiseJpegError(int code, std::string libraryText = {})
{
    throw EJPEG(core::Format("JPEG error #%d", {code}), std::move(libraryText));
}

} // namespace

// Everything one decode or encode needs, on the caller's stack. The library's fatal errors
// jump back to the guard of the call that was running (see guarded), which turns them into
// EJPEG after the library's frames are gone; an exception from a progress handler travels the
// same way.
struct TJPEGImage::Context {
    struct ErrorManager {
        jpeg_error_mgr pub;
        std::jmp_buf jump;
    };
    struct Progress {
        jpeg_progress_mgr pub;
        TJPEGImage* owner = nullptr;
        Context* context = nullptr;
        int percent = -1;
        std::uint32_t lastTime = 0;
        bool timed = false;
        int lastScanLine = 0;
    };
    struct Source {
        jpeg_source_mgr pub;
        TMemoryStream* stream = nullptr;
        bool startOfFile = true;
        JOCTET buffer[kBufferSize];
    };
    struct Destination {
        jpeg_destination_mgr pub;
        TMemoryStream* stream = nullptr;
        JOCTET buffer[kBufferSize];
    };

    ErrorManager error{};
    Progress progress{};
    Source source{};
    Destination destination{};
    J_DCT_METHOD finalDctMethod = JDCT_ISLOW;
    boolean finalTwoPass = FALSE;
    J_DITHER_MODE finalDitherMode = JDITHER_FS;
    bool decompressing = false;
    bool compressing = false;
    // A CMYK or YCCK file: the library delivers CMYK rows, which are turned into RGB here.
    bool cmyk = false;
    // Whether those rows hold each ink inverted (255 is none), as Adobe's programs store it.
    bool cmykInverted = false;
    jpeg_decompress_struct d{};
    jpeg_compress_struct c{};
    std::exception_ptr pending;

    Context() = default;
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    ~Context() { release(); }

    void release()
    {
        if (decompressing)
            jpeg_destroy_decompress(&d);
        if (compressing)
            jpeg_destroy_compress(&c);
        decompressing = compressing = false;
    }
};

namespace {

using Context = TJPEGImage::Context;

void errorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<Context::ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings and trace messages are dropped.
void emitMessage(j_common_ptr, int) {}
void outputMessage(j_common_ptr) {}

void resetErrorManager(j_common_ptr cinfo)
{
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
}

void installErrorManager(Context& context)
{
    jpeg_std_error(&context.error.pub);
    context.error.pub.error_exit = errorExit;
    context.error.pub.emit_message = emitMessage;
    context.error.pub.output_message = outputMessage;
    context.error.pub.reset_error_mgr = resetErrorManager;
    // The library keeps this pointer when it creates its object.
    context.d.err = &context.error.pub;
    context.c.err = &context.error.pub;
}

// Runs library calls; a fatal library error becomes EJPEG "JPEG error #%d", and an exception
// that a progress handler raised comes out as itself. The calls must not own anything with a
// destructor, since a library error leaves them by a jump.
template <class Calls> void guarded(Context& context, Calls&& calls)
{
    if (setjmp(context.error.jump) != 0) {
        if (context.pending) {
            std::exception_ptr pending = context.pending;
            context.pending = nullptr;
            std::rethrow_exception(pending);
        }
        // The library's own words for the error, made while its parameters are still there.
        char text[JMSG_LENGTH_MAX] = {};
        context.error.pub.format_message(reinterpret_cast<j_common_ptr>(&context.d), text);
        raiseJpegError(context.error.pub.msg_code, text);
    }
    calls();
}

void initSource(j_decompress_ptr cinfo)
{
    reinterpret_cast<Context::Source*>(cinfo->src)->startOfFile = true;
}

boolean fillInputBuffer(j_decompress_ptr cinfo)
{
    auto* source = reinterpret_cast<Context::Source*>(cinfo->src);
    std::int64_t n = source->stream->Read(source->buffer, kBufferSize);
    if (n <= 0) {
        if (source->startOfFile)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        // A file cut short ends here: an end-of-image marker lets the library finish the
        // picture with what it has.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        source->buffer[0] = JOCTET(0xFF);
        source->buffer[1] = JOCTET(JPEG_EOI);
        n = 2;
    }
    source->pub.next_input_byte = source->buffer;
    source->pub.bytes_in_buffer = std::size_t(n);
    source->startOfFile = false;
    return TRUE;
}

void skipInputData(j_decompress_ptr cinfo, long count)
{
    auto* source = reinterpret_cast<Context::Source*>(cinfo->src);
    if (count <= 0)
        return;
    while (std::size_t(count) > source->pub.bytes_in_buffer) {
        count -= long(source->pub.bytes_in_buffer);
        fillInputBuffer(cinfo);
    }
    source->pub.next_input_byte += count;
    source->pub.bytes_in_buffer -= std::size_t(count);
}

void termSource(j_decompress_ptr) {}

void attachSource(Context& context, TMemoryStream& stream)
{
    Context::Source& source = context.source;
    source.stream = &stream;
    source.pub.init_source = initSource;
    source.pub.fill_input_buffer = fillInputBuffer;
    source.pub.skip_input_data = skipInputData;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = termSource;
    source.pub.bytes_in_buffer = 0;
    source.pub.next_input_byte = nullptr;
    context.d.src = &source.pub;
}

void initDestination(j_compress_ptr cinfo)
{
    auto* destination = reinterpret_cast<Context::Destination*>(cinfo->dest);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = kBufferSize;
}

boolean emptyOutputBuffer(j_compress_ptr cinfo)
{
    auto* destination = reinterpret_cast<Context::Destination*>(cinfo->dest);
    if (destination->stream->Write(destination->buffer, kBufferSize) != kBufferSize)
        ERREXIT(cinfo, JERR_FILE_WRITE);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = kBufferSize;
    return TRUE;
}

void termDestination(j_compress_ptr cinfo)
{
    auto* destination = reinterpret_cast<Context::Destination*>(cinfo->dest);
    const std::int64_t count = kBufferSize - std::int64_t(destination->pub.free_in_buffer);
    if (count > 0 && destination->stream->Write(destination->buffer, count) != count)
        ERREXIT(cinfo, JERR_FILE_WRITE);
}

void attachDestination(Context& context, TMemoryStream& stream)
{
    Context::Destination& destination = context.destination;
    destination.stream = &stream;
    destination.pub.init_destination = initDestination;
    destination.pub.empty_output_buffer = emptyOutputBuffer;
    destination.pub.term_destination = termDestination;
    context.c.dest = &destination.pub;
}

TPalette paletteFromColormap(const jpeg_decompress_struct& d)
{
    TPalette palette;
    if (d.colormap == nullptr)
        return palette;
    for (int i = 0; i < d.actual_number_of_colors; ++i) {
        TPaletteEntry entry;
        if (d.out_color_components == 1) {
            entry.Red = entry.Green = entry.Blue = d.colormap[0][i];
        } else {
            entry.Red = d.colormap[0][i];
            entry.Green = d.colormap[1][i];
            entry.Blue = d.colormap[2][i];
        }
        palette.Entries.push_back(entry);
    }
    return palette;
}

// Makes the library map its output onto the palette's colours. Called under guarded: the
// allocation may fail with a library error.
void colormapFromPalette(jpeg_decompress_struct& d, const TPalette& palette)
{
    const auto count = JDIMENSION(std::min<std::size_t>(palette.Entries.size(), 256));
    if (count == 0)
        return;
    d.colormap = d.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&d), JPOOL_IMAGE, count, 3);
    for (JDIMENSION i = 0; i < count; ++i) {
        d.colormap[0][i] = palette.Entries[i].Red;
        d.colormap[1][i] = palette.Entries[i].Green;
        d.colormap[2][i] = palette.Entries[i].Blue;
    }
    d.actual_number_of_colors = int(count);
}

// x / 255, rounded, for x from 0 to 255 * 255.
int divideBy255(int x)
{
    x += 128;
    return (x + (x >> 8)) >> 8;
}

// What a row of CMYK samples becomes.
enum class CmykRow {
    bgr,       // blue-green-red pixels
    greyBgr,   // blue-green-red pixels holding the luminance in all three channels
    greyIndex, // indexes into greyRamp(kQuantizedColors)
};

// Evenly spaced greys from black to white, as the library makes for grey output.
TPalette greyRamp(int count)
{
    TPalette palette;
    for (int i = 0; i < count; ++i) {
        const auto level = std::uint8_t((i * 255 + (count - 1) / 2) / (count - 1));
        palette.Entries.push_back({level, level, level, 0});
    }
    return palette;
}

// Converts one row of CMYK samples. A channel is what its ink and the black let through:
// with inverted samples that is ink * black / 255, otherwise the samples are inverted first
// (255 ^ s is 255 - s). Luminance weighs the channels as the library does for grey.
void convertCmykRow(const JSAMPLE* in, std::uint8_t* out, JDIMENSION width, bool inverted,
                    CmykRow form)
{
    const int flip = inverted ? 0 : 255;
    for (JDIMENSION x = 0; x < width; ++x, in += 4) {
        const int black = flip ^ in[3];
        const int red = divideBy255((flip ^ in[0]) * black);
        const int green = divideBy255((flip ^ in[1]) * black);
        const int blue = divideBy255((flip ^ in[2]) * black);
        if (form == CmykRow::bgr) {
            *out++ = std::uint8_t(blue);
            *out++ = std::uint8_t(green);
            *out++ = std::uint8_t(red);
            continue;
        }
        const int level = (red * 19595 + green * 38470 + blue * 7471 + 32768) >> 16;
        if (form == CmykRow::greyIndex) {
            *out++ = std::uint8_t((level * (kQuantizedColors - 1) + 127) / 255);
        } else {
            out[0] = out[1] = out[2] = std::uint8_t(level);
            out += 3;
        }
    }
}

} // namespace

// The library's progress monitor, called many times during a decode or an encode.
struct JpegProgress {
    static void monitor(j_common_ptr cinfo)
    {
        auto* progress = reinterpret_cast<Context::Progress*>(cinfo->progress);
        if (progress->owner == nullptr)
            return;
        const std::uint32_t now = tickCount();
        if (progress->timed && now - progress->lastTime < kProgressInterval)
            return;
        const bool first = !progress->timed;
        progress->lastTime = now;
        progress->timed = true;
        if (first)
            return;

        TRect rect;
        int scanLine = 0;
        if (cinfo->is_decompressor) {
            auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
            scanLine = int(d->output_scanline);
            rect = {0, progress->lastScanLine, int(d->output_width), scanLine};
            if (rect.Bottom < rect.Top)
                rect.Bottom = int(d->output_height);
        }
        const jpeg_progress_mgr& pub = progress->pub;
        const double done =
            pub.pass_limit > 0 ? double(pub.pass_counter) / double(pub.pass_limit) : 0.0;
        const int percent =
            pub.total_passes > 0 ? int((done + pub.completed_passes) * 100 / pub.total_passes) : 0;
        if (percent == progress->percent)
            return;
        progress->percent = percent;
        if (cinfo->is_decompressor)
            progress->lastScanLine = scanLine;

        // A progress handler's exception cannot cross the library's frames: it is kept and
        // the library is left by the error jump, after which guarded raises it again.
        try {
            progress->owner->reportProgress(psRunning, std::uint8_t(std::clamp(percent, 0, 100)),
                                            rect.Height() >= 4, rect);
        } catch (...) {
            progress->context->pending = std::current_exception();
        }
        if (progress->context->pending)
            std::longjmp(progress->context->error.jump, 1);
    }
};

TJPEGDefaults& DefaultJPEGSettings()
{
    static TJPEGDefaults defaults = [] {
        TJPEGDefaults d;
        d.PixelFormat = platform::screenBitsPerPixel() <= 8 ? jf8Bit : jf24Bit;
        return d;
    }();
    return defaults;
}

TJPEGImage::TJPEGImage() : image_(std::make_shared<TJPEGData>())
{
    const TJPEGDefaults& defaults = DefaultJPEGSettings();
    CompressionQuality = defaults.CompressionQuality;
    grayscale_ = defaults.Grayscale;
    performance_ = defaults.Performance;
    pixelFormat_ = defaults.PixelFormat;
    ProgressiveDisplay = defaults.ProgressiveDisplay;
    ProgressiveEncoding = defaults.ProgressiveEncoding;
    scale_ = defaults.Scale;
    Smoothing = defaults.Smoothing;
}

TJPEGImage::~TJPEGImage() = default;

std::unique_ptr<TGraphic> TJPEGImage::NewInstance() const
{
    return std::make_unique<TJPEGImage>();
}

void TJPEGImage::newImage()
{
    image_ = std::make_shared<TJPEGData>();
}

void TJPEGImage::newBitmap()
{
    bitmap_ = std::make_unique<TBitmap>();
    decodeError_ = nullptr;
}

void TJPEGImage::FreeBitmap()
{
    bitmap_.reset();
    decodeError_ = nullptr;
}

std::string_view TJPEGImage::CompressedData() const
{
    return image_->Data.bytes();
}

void TJPEGImage::calcOutputDimensions() const
{
    if (!needRecalc_)
        return;
    if (image_->Data.bytes().empty()) {
        scaledWidth_ = scaledHeight_ = 0;
        needRecalc_ = false;
        return;
    }
    auto* self = const_cast<TJPEGImage*>(this);
    Context context;
    self->prepareDecoder(context, false);
    guarded(context, [&] { jpeg_calc_output_dimensions(&context.d); });
    scaledWidth_ = int(context.d.output_width);
    scaledHeight_ = int(context.d.output_height);
    self->ProgressiveEncoding = jpeg_has_multiple_scans(&context.d) != 0;
    needRecalc_ = false;
}

int TJPEGImage::Width() const
{
    if (bitmap_)
        return bitmap_->Width();
    if (scale_ == jsFullSize)
        return image_->Width;
    calcOutputDimensions();
    return scaledWidth_;
}

int TJPEGImage::Height() const
{
    if (bitmap_)
        return bitmap_->Height();
    if (scale_ == jsFullSize)
        return image_->Height;
    calcOutputDimensions();
    return scaledHeight_;
}

void TJPEGImage::SetWidth(int)
{
    throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}

void TJPEGImage::SetHeight(int)
{
    throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}

bool TJPEGImage::Empty() const
{
    return !image_->HasData && (!bitmap_ || bitmap_->Empty());
}

void TJPEGImage::Draw(DrawTarget& target, const TRect& rect)
{
    DecodedBitmap().Draw(target, rect);
}

void TJPEGImage::Assign(const TGraphic* source)
{
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(source)) {
        if (jpeg == this)
            return;
        image_ = jpeg->image_;
        if (jpeg->bitmap_) {
            newBitmap();
            bitmap_->Assign(jpeg->bitmap_.get());
        } else {
            FreeBitmap();
        }
        needRecalc_ = true;
        PaletteModified = true;
        Changed();
        return;
    }
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
        newImage();
        newBitmap();
        bitmap_->Assign(bitmap);
        needRecalc_ = true;
        PaletteModified = true;
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

bool TJPEGImage::AssignTo(TGraphic& dest) const
{
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        TBitmap& decoded = const_cast<TJPEGImage*>(this)->DecodedBitmap();
        if (decodeError_)
            std::rethrow_exception(decodeError_);
        bitmap->Assign(&decoded);
        return true;
    }
    return TGraphic::AssignTo(dest);
}

bool TJPEGImage::Equals(const TGraphic& other) const
{
    const auto* jpeg = dynamic_cast<const TJPEGImage*>(&other);
    return jpeg != nullptr && jpeg->image_ == image_;
}

void TJPEGImage::LoadFromStream(TStream& stream)
{
    const std::int64_t count = stream.Size() - stream.Position();
    newImage();
    FreeBitmap();
    needRecalc_ = true;
    TJPEGData& data = *image_;
    if (count > 0) {
        data.Data.SetSize(count);
        stream.ReadBuffer(data.Data.buffer().data(), count);
        data.HasData = true;
        Context context;
        installErrorManager(context);
        guarded(context, [&] {
            jpeg_create_decompress(&context.d);
            context.decompressing = true;
            attachSource(context, data.Data);
            jpeg_read_header(&context.d, TRUE);
        });
        data.Width = int(context.d.image_width);
        data.Height = int(context.d.image_height);
        data.Grayscale = context.d.jpeg_color_space == JCS_GRAYSCALE;
        ProgressiveEncoding = jpeg_has_multiple_scans(&context.d) != 0;
    }
    PaletteModified = true;
    Changed();
}

void TJPEGImage::SaveToStream(TStream& stream)
{
    if (!image_->HasData)
        EncodeFromBitmap();
    const std::string_view bytes = image_->Data.bytes();
    stream.WriteBuffer(bytes.data(), std::int64_t(bytes.size()));
}

void TJPEGImage::ReadData(TStream& stream)
{
    std::uint8_t size[4] = {};
    stream.ReadBuffer(size, 4);
    const std::int64_t count = core::littleEndian32(size);
    // The length comes from the data: it is checked against what the stream holds before
    // anything is allocated for it.
    if (count > stream.Size() - stream.Position())
        throw EReadError("Stream read error");
    TMemoryStream bytes;
    bytes.SetSize(count);
    stream.ReadBuffer(bytes.buffer().data(), count);
    bytes.SetPosition(0);
    LoadFromStream(bytes);
}

void TJPEGImage::WriteData(TStream& stream)
{
    const auto count = std::uint32_t(image_->HasData ? image_->Data.bytes().size() : 0);
    const std::uint8_t size[4] = {std::uint8_t(count), std::uint8_t(count >> 8),
                                  std::uint8_t(count >> 16), std::uint8_t(count >> 24)};
    stream.WriteBuffer(size, 4);
    if (count > 0)
        stream.WriteBuffer(image_->Data.bytes().data(), count);
}

TPalette TJPEGImage::Palette() const
{
    if (bitmap_)
        return bitmap_->Palette();
    if (!tempPal_.empty())
        return tempPal_;
    if (pixelFormat_ == jf24Bit && platform::screenBitsPerPixel() <= 8) {
        tempPal_ = TPalette::halftone();
        return tempPal_;
    }
    return {};
}

void TJPEGImage::SetPalette(const TPalette& palette)
{
    if (palette == tempPal_)
        return;
    tempPal_ = palette;
    if (bitmap_ && bitmap_->Palette() != palette) {
        FreeBitmap();
        PaletteModified = true;
        Changed();
    }
}

void TJPEGImage::SetGrayscale(bool value)
{
    if (value == grayscale_)
        return;
    FreeBitmap();
    grayscale_ = value;
    PaletteModified = true;
    Changed();
}

void TJPEGImage::SetPixelFormat(TJPEGPixelFormat value)
{
    if (value == pixelFormat_)
        return;
    FreeBitmap();
    pixelFormat_ = value;
    PaletteModified = true;
    Changed();
}

void TJPEGImage::SetPerformance(TJPEGPerformance value)
{
    if (value == performance_)
        return;
    FreeBitmap();
    performance_ = value;
    PaletteModified = true;
    Changed();
}

void TJPEGImage::SetScale(TJPEGScale value)
{
    if (value == scale_)
        return;
    FreeBitmap();
    scale_ = value;
    needRecalc_ = true;
    Changed();
}

void TJPEGImage::reportProgress(TProgressStage stage, std::uint8_t percent, bool redrawNow,
                                const TRect& rect)
{
    Progress(this, stage, percent, redrawNow, rect, std::string());
}

void TJPEGImage::prepareDecoder(Context& context, bool reportProgress)
{
    installErrorManager(context);
    if (reportProgress) {
        context.progress.pub.progress_monitor = JpegProgress::monitor;
        context.progress.owner = this;
        context.progress.context = &context;
    }
    TMemoryStream& data = image_->Data;
    data.SetPosition(0);
    const int scale = scale_;
    const bool smoothing = Smoothing;
    const bool grayscale = grayscale_;
    const bool eightBit = pixelFormat_ == jf8Bit;
    const bool fast = performance_ == jpBestSpeed;
    const bool progressiveDisplay = ProgressiveDisplay;
    guarded(context, [&] {
        jpeg_create_decompress(&context.d);
        context.decompressing = true;
        if (reportProgress)
            context.d.progress = &context.progress.pub;
        attachSource(context, data);
        jpeg_read_header(&context.d, TRUE);
    });
    jpeg_decompress_struct& d = context.d;
    // A picture whose pixels would need more than 2^31 bytes is refused before the library
    // allocates anything for it. Four bytes a pixel also cover the 8-bit form of a CMYK
    // picture, which is decoded to three bytes a pixel before it is quantised.
    const std::uint64_t pixels = std::uint64_t(d.image_width) * d.image_height;
    if (pixels * 4 > kMaxPixelBytes ||
        pixels * std::uint64_t(d.num_components) * 2 > kMaxPixelBytes)
        raiseJpegError(JERR_IMAGE_TOO_BIG, core::Format("Picture of %ux%u pixels is too large",
                                                        {d.image_width, d.image_height}));

    d.scale_num = 1;
    d.scale_denom = 1u << scale;
    d.do_block_smoothing = smoothing ? TRUE : FALSE;
    // The library turns YCCK into CMYK but CMYK into nothing else: such pictures come as
    // CMYK rows, and their grey and 8-bit forms are made from the converted rows.
    context.cmyk = d.jpeg_color_space == JCS_CMYK || d.jpeg_color_space == JCS_YCCK;
    if (context.cmyk) {
        context.cmykInverted = d.saw_Adobe_marker != 0;
        d.out_color_space = JCS_CMYK;
        d.quantize_colors = FALSE;
        d.two_pass_quantize = FALSE;
    } else {
        if (grayscale)
            d.out_color_space = JCS_GRAYSCALE;
        if (eightBit || d.out_color_space == JCS_GRAYSCALE) {
            d.quantize_colors = TRUE;
            d.desired_number_of_colors = kQuantizedColors;
        } else {
            // Rows arrive blue first, as the bitmap's rows hold them.
            d.out_color_space = JCS_EXT_BGR;
        }
    }
    if (fast) {
        d.dct_method = JDCT_IFAST;
        d.two_pass_quantize = FALSE;
        d.dither_mode = JDITHER_ORDERED;
    }
    context.finalDctMethod = d.dct_method;
    context.finalTwoPass = d.two_pass_quantize;
    context.finalDitherMode = d.dither_mode;
    if (progressiveDisplay && jpeg_has_multiple_scans(&d)) {
        d.enable_2pass_quant = d.two_pass_quantize;
        d.dct_method = JDCT_IFAST;
        d.two_pass_quantize = FALSE;
        d.dither_mode = JDITHER_ORDERED;
        d.buffered_image = TRUE;
    }
}

TBitmap& TJPEGImage::DecodedBitmap()
{
    if (bitmap_)
        return *bitmap_;
    newBitmap();
    TBitmap& bitmap = *bitmap_;
    decodeError_ = nullptr;
    Context context;
    jpeg_decompress_struct& d = context.d;
    bool eightBit = false;
    bool paletteFromOutside = false;
    // For a CMYK picture: one row as the library gives it, what the rows become, and for
    // 8-bit colour (or grey onto a given palette) the whole picture in RGB, which is
    // quantised once it is decoded (also when decoding stops early, so that what was
    // decoded shows).
    std::vector<JSAMPLE> cmykRow;
    CmykRow cmykForm = CmykRow::bgr;
    TBitmap rgb;
    auto quantizeCmyk = [&] {
        if (rgb.Empty())
            return;
        if (paletteFromOutside) {
            ColorQuantizer(tempPal_).map(rgb, bitmap);
            return;
        }
        const ColorQuantizer quantizer = ColorQuantizer::forPicture(rgb, kQuantizedColors);
        quantizer.map(rgb, bitmap);
        bitmap.SetPalette(quantizer.palette());
        PaletteModified = true;
    };
    try {
        prepareDecoder(context, true);
        eightBit = pixelFormat_ == jf8Bit || d.out_color_space == JCS_GRAYSCALE ||
                   (context.cmyk && grayscale_);
        bitmap.SetPixelFormat(eightBit ? pf8bit : pf24bit);
        reportProgress(psStarting, 0, false, TRect{});

        if (!tempPal_.empty()) {
            if (pixelFormat_ == jf8Bit) {
                if (!context.cmyk)
                    guarded(context, [&] { colormapFromPalette(d, tempPal_); });
                bitmap.SetPalette(tempPal_);
                paletteFromOutside = true;
            } else {
                tempPal_ = TPalette{};
            }
        }

        guarded(context, [&] { jpeg_start_decompress(&d); });
        bitmap.SetSize(int(d.output_width), int(d.output_height));
        PaletteModified = false;
        if (context.cmyk) {
            cmykRow.resize(std::size_t(d.output_width) * 4);
            if (eightBit && grayscale_ && !paletteFromOutside) {
                cmykForm = CmykRow::greyIndex;
                bitmap.SetPalette(greyRamp(kQuantizedColors));
                PaletteModified = true;
            } else if (eightBit) {
                cmykForm = grayscale_ ? CmykRow::greyBgr : CmykRow::bgr;
                rgb.SetPixelFormat(pf24bit);
                rgb.SetSize(int(d.output_width), int(d.output_height));
            }
        }
        TBitmap& target = rgb.Empty() ? bitmap : rgb;

        // Rows are stored from the top image row down, one per call, straight into the
        // bitmap; CMYK rows go through a buffer of their own and are converted.
        auto readRows = [&] {
            while (d.output_scanline < d.output_height) {
                JSAMPROW row = target.ScanLine(int(d.output_scanline));
                if (row == nullptr)
                    break;
                if (!context.cmyk) {
                    jpeg_read_scanlines(&d, &row, 1);
                    continue;
                }
                JSAMPROW cmyk = cmykRow.data();
                if (jpeg_read_scanlines(&d, &cmyk, 1) == 1)
                    convertCmykRow(cmyk, row, d.output_width, context.cmykInverted, cmykForm);
            }
        };
        auto buildPalette = [&] {
            if (d.colormap != nullptr && !paletteFromOutside) {
                bitmap.SetPalette(paletteFromColormap(d));
                PaletteModified = true;
            }
        };

        if (d.buffered_image) {
            bool firstPass = true;
            int status = 0;
            while (true) {
                guarded(context, [&] { status = jpeg_consume_input(&d); });
                if (status == JPEG_REACHED_EOI)
                    break;
                guarded(context, [&] { jpeg_start_output(&d, d.input_scan_number); });
                if (firstPass && eightBit) {
                    buildPalette();
                    firstPass = false;
                }
                guarded(context, [&] {
                    readRows();
                    jpeg_finish_output(&d);
                });
                if (status == JPEG_SUSPENDED)
                    break;
            }
            d.dct_method = context.finalDctMethod;
            d.dither_mode = context.finalDitherMode;
            if (context.finalTwoPass) {
                d.two_pass_quantize = TRUE;
                d.colormap = nullptr;
            }
            guarded(context, [&] { jpeg_start_output(&d, d.input_scan_number); });
        }
        if (!d.buffered_image || context.finalTwoPass)
            buildPalette();
        guarded(context, [&] {
            readRows();
            if (d.buffered_image)
                jpeg_finish_output(&d);
            jpeg_finish_decompress(&d);
        });
        quantizeCmyk();
    } catch (const EAbort&) {
        // A progress handler stopped the decode: the rows read so far are kept.
        quantizeCmyk();
    } catch (...) {
        // The partly decoded bitmap stays for drawing, but the failure is remembered so that
        // converting the picture to a bitmap fails the same way instead of yielding a
        // half-empty picture.
        decodeError_ = std::current_exception();
        context.release();
        quantizeCmyk();
        reportProgress(psEnding, 0, PaletteModified, TRect{});
        if (PaletteModified)
            Changed();
        throw;
    }
    reportProgress(psEnding, 100, PaletteModified, TRect{});
    if (PaletteModified)
        Changed();
    return *bitmap_;
}

void TJPEGImage::EncodeFromBitmap()
{
    Context context;
    installErrorManager(context);
    context.progress.pub.progress_monitor = JpegProgress::monitor;
    context.progress.owner = this;
    context.progress.context = &context;
    newImage();
    TJPEGData& data = *image_;
    guarded(context, [&] {
        jpeg_create_compress(&context.c);
        context.compressing = true;
        context.c.progress = &context.progress.pub;
        attachDestination(context, data.Data);
    });
    if (!bitmap_ || bitmap_->Width() == 0 || bitmap_->Height() == 0)
        return;
    jpeg_compress_struct& c = context.c;
    c.image_width = JDIMENSION(bitmap_->Width());
    c.image_height = JDIMENSION(bitmap_->Height());
    data.Width = bitmap_->Width();
    data.Height = bitmap_->Height();
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    TBitmap rows;
    rows.Assign(bitmap_.get());
    rows.SetPixelFormat(pf24bit);
    const TBitmap& source = rows;
    const int quality = CompressionQuality;
    const bool grayscale = grayscale_;
    const bool progressive = ProgressiveEncoding;
    try {
        guarded(context, [&] {
            jpeg_set_defaults(&c);
            jpeg_set_quality(&c, quality, TRUE);
            if (grayscale)
                jpeg_set_colorspace(&c, JCS_GRAYSCALE);
            if (progressive)
                jpeg_simple_progression(&c);
        });
        data.Grayscale = grayscale;
        reportProgress(psStarting, 0, false, TRect{});
        guarded(context, [&] {
            jpeg_start_compress(&c, TRUE);
            while (c.next_scanline < c.image_height) {
                JSAMPROW row = const_cast<JSAMPROW>(source.ScanLine(int(c.next_scanline)));
                jpeg_write_scanlines(&c, &row, 1);
            }
            jpeg_finish_compress(&c);
        });
        data.HasData = true;
        reportProgress(psEnding, 100, false, TRect{});
    } catch (const EAbort&) {
        newImage();
    }
}
