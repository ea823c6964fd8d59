// Decodes a 20-frame 1920x1080 GIF file into frame bitmaps with TGIFImage and with giflib's
// DGifSlurp (the decoder a C program would pick), and prints both times and their ratio. The
// file is made by giflib's encoder at the start of the run. giflib is loaded at run time, so
// that the benchmark builds with the program's own libraries alone.
#include "gif/MPGifImg.h"

#include <dlfcn.h>
#include <gif_lib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 20;

// The giflib calls used, looked up in the shared library.
struct Giflib {
    decltype(&EGifOpen) egifOpen = nullptr;
    decltype(&EGifSetGifVersion) egifSetGifVersion = nullptr;
    decltype(&EGifPutScreenDesc) egifPutScreenDesc = nullptr;
    decltype(&EGifPutExtension) egifPutExtension = nullptr;
    decltype(&EGifPutImageDesc) egifPutImageDesc = nullptr;
    decltype(&EGifPutLine) egifPutLine = nullptr;
    decltype(&EGifCloseFile) egifCloseFile = nullptr;
    decltype(&GifMakeMapObject) gifMakeMapObject = nullptr;
    decltype(&GifFreeMapObject) gifFreeMapObject = nullptr;
    decltype(&DGifOpen) dgifOpen = nullptr;
    decltype(&DGifSlurp) dgifSlurp = nullptr;
    decltype(&DGifCloseFile) dgifCloseFile = nullptr;

    bool load()
    {
        void* library = ::dlopen("libgif.so.7", RTLD_NOW);
        if (!library)
            library = ::dlopen("libgif.so", RTLD_NOW);
        if (!library)
            return false;
        bool ok = true;
        auto bind = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                ::dlsym(library, name));
            ok = ok && function != nullptr;
        };
        bind(egifOpen, "EGifOpen");
        bind(egifSetGifVersion, "EGifSetGifVersion");
        bind(egifPutScreenDesc, "EGifPutScreenDesc");
        bind(egifPutExtension, "EGifPutExtension");
        bind(egifPutImageDesc, "EGifPutImageDesc");
        bind(egifPutLine, "EGifPutLine");
        bind(egifCloseFile, "EGifCloseFile");
        bind(gifMakeMapObject, "GifMakeMapObject");
        bind(gifFreeMapObject, "GifFreeMapObject");
        bind(dgifOpen, "DGifOpen");
        bind(dgifSlurp, "DGifSlurp");
        bind(dgifCloseFile, "DGifCloseFile");
        return ok;
    }
};

struct Reading {
    const std::string* bytes;
    std::size_t position = 0;
};

int writeToString(GifFileType* file, const GifByteType* data, int length)
{
    static_cast<std::string*>(file->UserData)
        ->append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
    return length;
}

int readFromString(GifFileType* file, GifByteType* data, int length)
{
    auto* reading = static_cast<Reading*>(file->UserData);
    const std::size_t count =
        std::min(static_cast<std::size_t>(length), reading->bytes->size() - reading->position);
    std::memcpy(data, reading->bytes->data() + reading->position, count);
    reading->position += count;
    return static_cast<int>(count);
}

// Frames of a smooth pattern that moves from frame to frame, with a sprinkling of noise, in
// 256 colours: neither trivially compressible nor random.
std::string makeGif(const Giflib& gif)
{
    std::string bytes;
    int error = 0;
    GifFileType* file = gif.egifOpen(&bytes, writeToString, &error);
    gif.egifSetGifVersion(file, true);
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i)
        colors[i] = {GifByteType(i), GifByteType(255 - i), GifByteType(i * 7)};
    ColorMapObject* map = gif.gifMakeMapObject(256, colors);
    gif.egifPutScreenDesc(file, kWidth, kHeight, 8, 0, map);
    std::mt19937 random(11);
    std::vector<GifPixelType> line(kWidth);
    for (int frame = 0; frame < kFrames; ++frame) {
        const GifByteType control[4] = {0, 10, 0, 0}; // no disposal, 0.1 s, no transparency
        gif.egifPutExtension(file, GRAPHICS_EXT_FUNC_CODE, 4, control);
        gif.egifPutImageDesc(file, 0, 0, kWidth, kHeight, false, nullptr);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                int value = ((x + frame * 24) / 6 + (y / 9) * 3) & 0xFF;
                if (random() % 16 == 0)
                    value = static_cast<int>(random() & 0xFF);
                line[static_cast<std::size_t>(x)] = static_cast<GifPixelType>(value);
            }
            gif.egifPutLine(file, line.data(), kWidth);
        }
    }
    gif.egifCloseFile(file, &error);
    gif.gifFreeMapObject(map);
    return bytes;
}

template <class Run> double bestSeconds(Run run)
{
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

} // namespace

int main()
{
    Giflib gif;
    if (!gif.load()) {
        std::printf("giflib (libgif.so.7) not found: nothing to compare with\n");
        return 0;
    }
    const std::string bytes = makeGif(gif);

    int ourFrames = 0;
    bool same = true;
    const double ours = bestSeconds([&] {
        TGIFImage image;
        TMemoryStream stream(bytes);
        image.LoadFromStream(stream);
        ourFrames = image.FrameCount();
    });

    int peerFrames = 0;
    const double peer = bestSeconds([&] {
        Reading reading{&bytes};
        int error = 0;
        GifFileType* file = gif.dgifOpen(&reading, readFromString, &error);
        gif.dgifSlurp(file);
        peerFrames = file->ImageCount;
        gif.dgifCloseFile(file, &error);
    });

    // Both decoders must agree on the pixels of the last frame.
    {
        TGIFImage image;
        TMemoryStream stream(bytes);
        image.LoadFromStream(stream);
        Reading reading{&bytes};
        int error = 0;
        GifFileType* file = gif.dgifOpen(&reading, readFromString, &error);
        gif.dgifSlurp(file);
        const TBitmap& bitmap = image.FrameBitmap(kFrames - 1);
        const GifByteType* raster = file->SavedImages[kFrames - 1].RasterBits;
        for (int y = 0; y < kHeight && same; ++y)
            same = std::memcmp(bitmap.ScanLine(y), raster + std::size_t(y) * kWidth, kWidth) == 0;
        gif.dgifCloseFile(file, &error);
    }

    std::printf("decode a %d-frame %dx%d GIF (%zu bytes) into frame bitmaps\n", kFrames, kWidth,
                kHeight, bytes.size());
    std::printf("  TGIFImage              %8.1f ms  (%d frames)\n", ours * 1000, ourFrames);
    std::printf("  giflib DGifSlurp       %8.1f ms  (%d frames)\n", peer * 1000, peerFrames);
    std::printf("  ratio %.2f (target <= 1.0)%s\n", ours / peer, same ? "" : "  PIXELS DIFFER");
    return ourFrames == peerFrames && same ? 0 : 1;
}
