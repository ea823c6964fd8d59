#pragma once

// Writes JPEG files for the tests with the JPEG library itself.

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

// Compresses a picture with the JPEG library: configure sets options after the library's
// defaults, fillRow fills the samples of row y.
inline std::string compressJpeg(int width, int height, int components, J_COLOR_SPACE space,
                                const std::function<void(jpeg_compress_struct&)>& configure,
                                const std::function<void(int y, unsigned char* row)>& fillRow)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr error{};
    c.err = jpeg_std_error(&error);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = components;
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    configure(c);
    jpeg_start_compress(&c, TRUE);
    std::vector<unsigned char> row(std::size_t(width) * std::size_t(components));
    for (int y = 0; y < height; ++y) {
        fillRow(y, row.data());
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    std::string out(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&c);
    std::free(buffer);
    return out;
}

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
    const int components = spec.grayscale ? 1 : 3;
    return compressJpeg(
        spec.width, spec.height, components, spec.grayscale ? JCS_GRAYSCALE : JCS_RGB,
        [&](jpeg_compress_struct& c) {
            jpeg_set_quality(&c, spec.quality, TRUE);
            if (spec.progressive)
                jpeg_simple_progression(&c);
        },
        [&](int y, unsigned char* row) {
            for (int x = 0; x < spec.width; ++x) {
                if (spec.grayscale) {
                    row[x] = (unsigned char)(x * 255 / std::max(spec.width - 1, 1));
                } else {
                    row[3 * x] = (unsigned char)(x * 255 / std::max(spec.width - 1, 1));
                    row[3 * x + 1] = (unsigned char)(y * 255 / std::max(spec.height - 1, 1));
                    row[3 * x + 2] = 64;
                }
            }
        });
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

// How a four-component file stores its inks.
enum class CmykForm {
    adobeCmyk, // CMYK, inverted as Adobe's programs write it, with the Adobe marker
    adobeYcck, // the same inks transformed to YCCK, with the Adobe marker
    plainCmyk, // CMYK, not inverted, without an Adobe marker
};

// The colour at (x, y) of the block picture: 16-pixel squares in eight flat colours, four
// across and two down, so that a square's middle survives lossy compression.
inline std::array<unsigned char, 3> blockColour(int x, int y)
{
    static const unsigned char colours[8][3] = {{255, 0, 0},    {0, 255, 0},   {0, 0, 255},
                                                {255, 255, 0},  {0, 128, 255}, {255, 255, 255},
                                                {200, 100, 50}, {40, 40, 40}};
    const unsigned char* c = colours[(y / 16 % 2) * 4 + x / 16 % 4];
    return {c[0], c[1], c[2]};
}

// The block picture (64 x 32) written with four components: black is what all three
// channels lack in common, the inks make up the rest.
inline std::string makeCmykJpeg(CmykForm form, bool progressive = false)
{
    return compressJpeg(
        64, 32, 4, JCS_CMYK,
        [&](jpeg_compress_struct& c) {
            jpeg_set_quality(&c, 98, TRUE);
            jpeg_set_colorspace(&c, form == CmykForm::adobeYcck ? JCS_YCCK : JCS_CMYK);
            if (form == CmykForm::plainCmyk)
                c.write_Adobe_marker = FALSE;
            if (progressive)
                jpeg_simple_progression(&c);
        },
        [&](int y, unsigned char* row) {
            for (int x = 0; x < 64; ++x) {
                const auto rgb = blockColour(x, y);
                const int most = std::max({rgb[0], rgb[1], rgb[2]});
                const int black = 255 - most;
                for (int i = 0; i < 3; ++i) {
                    const int ink = most == 0 ? 0 : (most - rgb[std::size_t(i)]) * 255 / most;
                    row[4 * x + i] = (unsigned char)ink;
                }
                row[4 * x + 3] = (unsigned char)black;
                if (form != CmykForm::plainCmyk)
                    for (int i = 0; i < 4; ++i)
                        row[4 * x + i] = (unsigned char)(255 - row[4 * x + i]);
            }
        });
}
