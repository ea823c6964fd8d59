#pragma once

// The common base of the objects that raise notifications (pictures, graphics): an event's
// Sender parameter points at one of these.
class TPersistent {
public:
    TPersistent() = default;
    TPersistent(const TPersistent&) = delete;
    TPersistent& operator=(const TPersistent&) = delete;
    virtual ~TPersistent() = default;
};
