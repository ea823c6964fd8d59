#pragma once

#include "imaging/GraphicsTypes.h"

#include <QColor>

// A colour as Qt draws it: a plain colour as it is, a system colour from the application's
// palette as it is now.
QColor toQColor(TColor color);

// The plain colour a colour stands for now (system colours from the application palette),
// as 0x00BBGGRR.
TColor ColorToRGB(TColor color);
