#pragma once

#include <string>

// The program's own icon: a 32 by 32, 16-colour picture of a blue crest holding a lit candle,
// as the bytes of an icon file.
std::string CrestwickIconBytes();
