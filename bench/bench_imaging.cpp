// Decoding a 24-megapixel JPEG and loading and saving a 24-megapixel BMP, each timed against
// the tool a user would pick instead (djpeg, cp) in the same run. Prints the ratios.
#include "imaging/TBitmap.h"
#include "imaging/jpeg.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000; // 24 megapixels

fs::path workDir()
{
    static const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "crestwick-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        return fs::path(pattern);
    }();
    return dir;
}

fs::path jpegPath()
{
    return workDir() / "photo.jpg";
}
fs::path bmpPath()
{
    return workDir() / "photo.bmp";
}

// A photograph-like test picture: smooth gradients with some fine detail.
void writeJpeg()
{
    jpeg_compress_struct c{};
    jpeg_error_mgr error{};
    c.err = jpeg_std_error(&error);
    jpeg_create_compress(&c);
    FILE* out = std::fopen(jpegPath().c_str(), "wb");
    jpeg_stdio_dest(&c, out);
    c.image_width = kWidth;
    c.image_height = kHeight;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<unsigned char> row(std::size_t(kWidth) * 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            row[std::size_t(3 * x)] = (unsigned char)(x * 255 / kWidth);
            row[std::size_t(3 * x + 1)] = (unsigned char)(y * 255 / kHeight);
            row[std::size_t(3 * x + 2)] = (unsigned char)(((x / 7) ^ (y / 5)) & 0xFF);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(out);
}

void writeBmp()
{
    TJPEGImage jpeg;
    jpeg.LoadFromFile(jpegPath().string());
    jpeg.DecodedBitmap().SaveToFile(bmpPath().string());
}

void prepare()
{
    if (!fs::exists(jpegPath()))
        writeJpeg();
    if (!fs::exists(bmpPath()))
        writeBmp();
}

void decodeJpeg()
{
    TJPEGImage jpeg;
    jpeg.LoadFromFile(jpegPath().string());
    benchmark::DoNotOptimize(jpeg.DecodedBitmap().ScanLine(0));
}

void loadSaveBmp()
{
    TBitmap bitmap;
    bitmap.LoadFromFile(bmpPath().string());
    bitmap.SaveToFile((workDir() / "copy.bmp").string());
}

void run(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "failed: %s\n", command.c_str());
}

void djpeg()
{
    run("djpeg -bmp '" + jpegPath().string() + "' > /dev/null");
}
void cp()
{
    run("cp '" + bmpPath().string() + "' '" + (workDir() / "peer.bmp").string() + "'");
}

// The fastest of several runs, in seconds.
double best(const std::function<void()>& work, int runs = 7)
{
    double fastest = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        fastest = std::min(fastest, took.count());
    }
    return fastest;
}

void BM_JpegDecode24Mp(benchmark::State& state)
{
    prepare();
    for (auto _ : state)
        decodeJpeg();
}
BENCHMARK(BM_JpegDecode24Mp)->Unit(benchmark::kMillisecond);

void BM_PeerDjpegBmp(benchmark::State& state)
{
    prepare();
    for (auto _ : state)
        djpeg();
}
BENCHMARK(BM_PeerDjpegBmp)->Unit(benchmark::kMillisecond);

void BM_BmpLoadSave24Mp(benchmark::State& state)
{
    prepare();
    for (auto _ : state)
        loadSaveBmp();
}
BENCHMARK(BM_BmpLoadSave24Mp)->Unit(benchmark::kMillisecond);

void BM_PeerCp(benchmark::State& state)
{
    prepare();
    for (auto _ : state)
        cp();
}
BENCHMARK(BM_PeerCp)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // The ratios, each pair timed back to back.
    prepare();
    const double ours = best(decodeJpeg), theirs = best(djpeg);
    std::printf("JPEG 24 MP decode: %.1f ms, djpeg -bmp %.1f ms, ratio %.2f (target <= 1.10)\n",
                ours * 1e3, theirs * 1e3, ours / theirs);
    const double load = best(loadSaveBmp), copy = best(cp);
    std::printf("BMP 24 MP load+save: %.1f ms, cp %.1f ms, ratio %.2f (target <= 3.00)\n",
                load * 1e3, copy * 1e3, load / copy);
    std::error_code ec;
    fs::remove_all(workDir(), ec);
    return 0;
}
