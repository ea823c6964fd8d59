#pragma once

#include "imaging/TPalette.h"

class TBitmap;

// Turns a 24-bit bitmap into an 8-bit one: chooses a palette that suits the picture (median
// cut) or takes a given one, and maps each pixel to its nearest entry, passing the difference
// on to the pixels not yet mapped (Floyd-Steinberg) so that areas keep their average colour.
class ColorQuantizer {
public:
    // Maps onto the palette's first 256 entries; an empty palette maps everything to 0.
    explicit ColorQuantizer(const TPalette& palette);
    // A quantizer whose palette holds at most maxColors (1..256) colours of the 24-bit bitmap.
    static ColorQuantizer forPicture(const TBitmap& source, int maxColors);

    const TPalette& palette() const { return palette_; }

    // Fills the 8-bit bitmap dest, which has the size of the 24-bit source, with indexes into
    // the palette.
    void map(const TBitmap& source, TBitmap& dest) const;

private:
    TPalette palette_;
};
