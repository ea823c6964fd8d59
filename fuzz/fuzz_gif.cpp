// Random bytes as a GIF file: the picture loads, every frame is drawn and the bytes save back
// unchanged. Nothing may crash, hang, or read or write outside its memory. A second half runs
// the LZW decoder alone on the same bytes.

#include "core/Exceptions.h"
#include "desktop/TApplication.h"
#include "desktop/TCanvas.h"
#include "gif/MPGifImg.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Frames are drawn through 32-bit pixels; larger ones are only decoded, to keep each run fast.
constexpr std::int64_t kMaxDrawnPixels = 1 << 22;

void decodeAlone(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return;
    // First byte: minimum code size; second: width; third: height and the interlace bit.
    const int minimumCodeSize = data[0] % 12;
    const int width = data[1] % 64;
    const int height = (data[2] & 0x7F) % 64;
    const bool interlaced = (data[2] & 0x80) != 0;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width * height));
    try {
        TDecoder decoder(minimumCodeSize, {data + 3, size - 3});
        decoder.Decode({pixels.data(), width, height, width}, interlaced);
    } catch (const Exception&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication application(*argc, *argv);
    // Errors of a frame's extensions go to the error box; here they are dropped.
    Application().SetErrorReporter([](const std::string&, const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    TGIFImage image;
    try {
        TMemoryStream stream(bytes);
        image.LoadFromStream(stream);
    } catch (const Exception&) {
        return 0;
    }
    QImage target(16, 16, QImage::Format_RGB32);
    QPainter painter(&target);
    TCanvas canvas(&painter);
    const int frames = image.FrameCount();
    for (int frame = 0; frame < frames; ++frame) {
        image.SetCurrentFrame(frame);
        const TBitmap& bitmap = image.FrameBitmap(frame);
        if (std::int64_t{bitmap.Width()} * bitmap.Height() <= kMaxDrawnPixels)
            image.Draw(canvas, Rect(0, 0, 16, 16));
    }
    painter.end();
    TMemoryStream saved;
    image.SaveToStream(saved);
    if (saved.bytes() != bytes)
        std::abort();
    decodeAlone(data, size);
    return 0;
}
