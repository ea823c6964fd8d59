#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <QIcon>
#include <QImage>

// An icon held in the platform's icon file format: a directory of one or more images, each a
// device-independent bitmap (colour bits followed by a one-bit transparency mask) or a PNG
// picture. The icon keeps the bytes it was loaded from, so it saves back exactly as loaded, and
// decodes them once for drawing. Copies share the bytes.
class TIcon {
public:
    TIcon() = default;
    TIcon(const TIcon&) = delete;
    TIcon& operator=(const TIcon&) = delete;

    // Raised after every change of the image (assignment, loading).
    std::function<void(TIcon* Sender)> OnChange;

    bool Empty() const { return !data_; }
    // The size of the image used for drawing; 0 when empty.
    int Width() const;
    int Height() const;
    // A value that identifies the image while it is held; 0 when empty. Two icons that share
    // their image share their handle.
    std::uintptr_t Handle() const { return reinterpret_cast<std::uintptr_t>(data_.get()); }

    // Takes a copy of source's image; a null or empty source empties this icon.
    void Assign(const TIcon* source);
    // Loads icon file bytes. Bytes that are not a valid icon raise EInvalidGraphic "Icon image
    // is not valid" and leave the icon as it was.
    void LoadFromBytes(std::string_view bytes);
    // The icon file bytes; empty for an empty icon.
    std::string SaveToBytes() const;
    // Empties the icon.
    void Clear();

    // The image chosen for drawing (the largest, then the deepest), or a null image.
    QImage toImage() const;
    QIcon toQIcon() const;

    // Decodes icon file bytes into the image that would be drawn; throws EInvalidGraphic.
    static QImage decode(std::string_view bytes);

private:
    struct Data {
        std::string bytes;
        QImage image;
    };

    void Changed();

    std::shared_ptr<const Data> data_;
};
