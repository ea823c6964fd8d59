#include "imaging/TPalette.h"

TPalette TPalette::halftone()
{
    // Twenty fixed colours, a 6 x 6 x 6 colour cube and a ramp of greys: 256 entries.
    TPalette palette;
    palette.Halftone = true;
    static const std::uint8_t fixed[20][3] = {
        {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
        {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
        {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
        {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    for (int i = 0; i < 10; ++i)
        palette.Entries.push_back({fixed[i][0], fixed[i][1], fixed[i][2], 0});
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                palette.Entries.push_back(
                    {std::uint8_t(r * 51), std::uint8_t(g * 51), std::uint8_t(b * 51), 0});
    for (int i = 1; palette.Entries.size() < 246; ++i) {
        const auto level = std::uint8_t(i * 255 / 21);
        palette.Entries.push_back({level, level, level, 0});
    }
    for (int i = 10; i < 20; ++i)
        palette.Entries.push_back({fixed[i][0], fixed[i][1], fixed[i][2], 0});
    return palette;
}
