#pragma once

// The mouse button that a mouse event is about.
enum TMouseButton { mbLeft, mbRight, mbMiddle };

// The keys and buttons held during a mouse event, and whether it is a double click.
enum TShiftStateFlag : unsigned {
    ssShift = 0x01,
    ssAlt = 0x02,
    ssCtrl = 0x04,
    ssLeft = 0x08,
    ssRight = 0x10,
    ssMiddle = 0x20,
    ssDouble = 0x40,
};
using TShiftState = unsigned;
