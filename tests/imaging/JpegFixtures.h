#pragma once

// Writes JPEG files for the tests with the JPEG library itself.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

struct JpegSpec {
    int width = 64;
    int height = 48;
    bool grayscale = false;
    bool progressive = false;
    int quality = 90;
};

// Colour rows: red rises to the right, green downwards, blue is constant; grey rows rise to
// the right.
inline std::string makeJpeg(const JpegSpec& spec)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr error{};
    c.err = jpeg_std_error(&error);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(spec.width);
    c.image_height = JDIMENSION(spec.height);
    c.input_components = spec.grayscale ? 1 : 3;
    c.in_color_space = spec.grayscale ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, spec.quality, TRUE);
    if (spec.progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<unsigned char> row(std::size_t(spec.width) * std::size_t(c.input_components));
    for (int y = 0; y < spec.height; ++y) {
        for (int x = 0; x < spec.width; ++x) {
            if (spec.grayscale) {
                row[std::size_t(x)] = (unsigned char)(x * 255 / std::max(spec.width - 1, 1));
            } else {
                row[std::size_t(3 * x)] = (unsigned char)(x * 255 / std::max(spec.width - 1, 1));
                row[std::size_t(3 * x + 1)] =
                    (unsigned char)(y * 255 / std::max(spec.height - 1, 1));
                row[std::size_t(3 * x + 2)] = 64;
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    std::string out(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&c);
    std::free(buffer);
    return out;
}

// A progressive file whose second scan header asks for coefficients past the last one: the
// header reads fine, decoding fails.
inline std::string damagedSecondScan(std::string file)
{
    const auto first = file.find("\xFF\xDA");
    const auto second = file.find("\xFF\xDA", first + 2);
    if (second == std::string::npos)
        return file;
    const auto components = std::size_t(std::uint8_t(file[second + 4]));
    file[second + 5 + 2 * components] = char(70); // start of spectral selection
    return file;
}
