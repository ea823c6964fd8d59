#pragma once

// The side of a text on which its drop shadow shows.
enum TShadowPosition { spLeftTop, spLeftBottom, spRightBottom, spRightTop };
