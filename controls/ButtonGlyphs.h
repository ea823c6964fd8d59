#pragma once

#include <QImage>

#include <string_view>

// The pictures of the main window's buttons, 32 by 32 pixels each, drawn by the program itself.
// Names: "Autoscan", "Stop", "Resize", "ControlPanel", "Save", "Exit" (256-colour pictures) and
// "DesktopShortcut" (a true-colour picture). The lower-left pixel of each holds the colour that
// the button treats as see-through. An unknown name gives an empty image.
QImage ButtonGlyph(std::string_view name);

// Side length of every button picture.
constexpr int kButtonGlyphSize = 32;
