#pragma once

#include <cstdint>
#include <vector>

// One colour of a logical palette.
struct TPaletteEntry {
    std::uint8_t Red = 0;
    std::uint8_t Green = 0;
    std::uint8_t Blue = 0;
    std::uint8_t Flags = 0;
    friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};

// A logical palette. No entries means no palette at all. Halftone marks the general-purpose
// palette made for a screen of 256 colours, which a bitmap file never records as its colours.
struct TPalette {
    std::vector<TPaletteEntry> Entries;
    bool Halftone = false;

    bool empty() const { return Entries.empty(); }
    friend bool operator==(const TPalette&, const TPalette&) = default;

    // The 256-colour general-purpose palette for screens of 8 or fewer bits per pixel.
    static TPalette halftone();
};
