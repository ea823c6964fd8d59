#pragma once

#include <functional>

namespace platform {

// The primary screen's depth in bits per pixel, which bitmaps compatible with the screen take:
// what the source set by setScreenDepthSource answers (the program with a window sets one),
// else 32, as for a program without a screen.
int screenBitsPerPixel();

// Where screenBitsPerPixel asks; an empty source goes back to 32.
void setScreenDepthSource(std::function<int()> source);

// Makes screenBitsPerPixel report bits instead (0 goes back to the source), so that the
// behaviour on 8- and 16-bit displays can be checked.
void overrideScreenBitsPerPixel(int bits);

} // namespace platform
