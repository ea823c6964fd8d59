#pragma once

#include "imaging/GraphicsTypes.h"
#include "imaging/TPalette.h"
#include "imaging/TPersistent.h"

#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class DrawTarget;
class TStream;

enum TProgressStage { psStarting, psRunning, psEnding };

using TNotifyEvent = std::function<void(TPersistent* Sender)>;
// An error that spoiled part of a graphic (the text of one GIF frame, say) while the rest
// could still be read; the graphic carries on without that part.
using TErrorEvent = std::function<void(TPersistent* Sender, const std::exception& Error)>;
using TProgressEvent =
    std::function<void(TPersistent* Sender, TProgressStage Stage, std::uint8_t PercentDone,
                       bool RedrawNow, const TRect& R, const std::string& Msg)>;

// An image of some kind: a bitmap, a JPEG picture, a GIF picture. It loads from and saves to
// streams and files, draws itself into a rectangle of a canvas, and tells its owner (the
// picture) when it changes and how far a long operation has got.
class TGraphic : public TPersistent {
public:
    ~TGraphic() override = default;

    // The class name as the picture framework knows it ("TBitmap", "TJPEGImage", ...).
    virtual const char* ClassName() const = 0;
    // A new, empty graphic of the same class.
    virtual std::unique_ptr<TGraphic> NewInstance() const = 0;

    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetWidth(int width) = 0;
    virtual void SetHeight(int height) = 0;
    virtual bool Empty() const = 0;

    // Draws the graphic stretched into rect of target (a canvas, say).
    virtual void Draw(DrawTarget& target, const TRect& rect) = 0;

    // Makes this graphic a copy of source. A null source empties it where the class allows
    // that. The default asks the source (AssignTo) and otherwise fails with EConvertError.
    virtual void Assign(const TGraphic* source);
    // Makes dest a copy of this graphic when this class knows how; returns false otherwise.
    virtual bool AssignTo(TGraphic& dest) const;
    // True when both stand for the same image data.
    virtual bool Equals(const TGraphic& other) const;

    // Loads from the current position of the stream to its end.
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) = 0;
    // Windows or host path. "Cannot open file %s" when the file cannot be read.
    virtual void LoadFromFile(const std::string& fileName);
    // Writes a temporary file beside the target and renames it over the target, so that a
    // failed save leaves the old file whole. "Cannot create file %s" when that fails.
    virtual void SaveToFile(const std::string& fileName);

    virtual TPalette Palette() const { return {}; }
    virtual void SetPalette(const TPalette&) {}

    bool Modified() const { return modified_; }
    void SetModified(bool modified);
    bool PaletteModified = false;
    bool Transparent = false;

    TNotifyEvent OnChange;
    TProgressEvent OnProgress;
    // Hears of the errors that spoil only part of the graphic; its owner decides how to
    // report them. Unset, nobody hears of them.
    TErrorEvent OnPartError;

protected:
    // The host file that a Windows path (or a host path) names.
    static std::filesystem::path HostPath(const std::string& fileName);
    // Replaces the file that a Windows path names with bytes, atomically; raises EFCreateError
    // "Cannot create file %s" when it cannot, also when no drive resolves the path (which is
    // then never taken relative to the current folder).
    static void WriteFile(const std::string& fileName, std::string_view bytes);

    // Tells OnPartError of an error that spoiled part of the graphic.
    void PartFailed(const std::exception& error);
    // Marks the graphic modified and sends the change notification.
    virtual void Changed(TPersistent* sender);
    void Changed() { Changed(this); }
    virtual void Progress(TPersistent* sender, TProgressStage stage, std::uint8_t percentDone,
                          bool redrawNow, const TRect& r, const std::string& msg);

private:
    bool modified_ = false;
};
