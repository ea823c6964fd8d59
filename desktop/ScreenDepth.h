#pragma once

namespace desktop {

// The primary screen's depth in bits per pixel (32 when there is no screen). Bitmaps
// compatible with the screen take this depth.
int screenBitsPerPixel();

// Makes screenBitsPerPixel report bits instead (0 goes back to the real screen), so that the
// behaviour on 8- and 16-bit displays can be checked.
void overrideScreenBitsPerPixel(int bits);

} // namespace desktop
