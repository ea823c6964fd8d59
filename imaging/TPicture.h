#pragma once

#include "imaging/TGraphic.h"

#include <memory>
#include <string>
#include <vector>

class TBitmap;

// A kind of graphic that the picture framework can create for a file extension.
struct TGraphicClass {
    std::string ClassName;
    std::function<std::unique_ptr<TGraphic>()> Create;

    template <class Graphic> static TGraphicClass of(const char* className)
    {
        return {className, [] { return std::unique_ptr<TGraphic>(new Graphic()); }};
    }
};

// One entry of the registered file formats.
struct TFileFormat {
    TGraphicClass GraphicClass;
    std::string Extension; // lower case, without the dot
    std::string Description;
    int DescResID = 0;
};

// Holds at most one graphic and forwards its change and progress notifications. Loading a
// file creates the graphic class registered for the file's extension.
class TPicture : public TPersistent {
public:
    TPicture();
    ~TPicture() override;

    // The graphic held, or nullptr.
    TGraphic* Graphic() const { return graphic_.get(); }
    // Holds a copy of graphic (a new graphic of the same class assigned from it), or nothing.
    void SetGraphic(const TGraphic* graphic);
    // Holds graphic itself.
    void SetGraphic(std::unique_ptr<TGraphic> graphic);

    // The graphic as a bitmap: a graphic of any other kind (or none) is first replaced by a
    // new, empty bitmap.
    TBitmap& Bitmap();

    int Width() const;
    int Height() const;

    // Loads a file by its extension; on failure the picture keeps the graphic it had.
    void LoadFromFile(const std::string& fileName);
    // Loads a file as the registered class of the format that its first bytes announce (a
    // bitmap's "BM", a JPEG's FF D8 FF, a GIF's "GIF87a" or "GIF89a"), whatever its name says;
    // a file that announces none of them, or a format that is not registered, loads by its
    // extension. For files that a user names by hand, whose extensions may be anything.
    void LoadFromFileByContent(const std::string& fileName);
    // Saves the graphic with its own file save; with no graphic nothing happens.
    void SaveToFile(const std::string& fileName);

    void Assign(const TPicture* source);
    void Assign(const TGraphic* source);

    TNotifyEvent OnChange;
    TProgressEvent OnProgress;
    // Hears of the errors that spoiled part of the graphic while it was read.
    TErrorEvent OnPartError;

    // The registered file formats, oldest first. Created on first use with "wmf", "emf",
    // "ico" and "bmp", followed by "jpeg" and "jpg" of the JPEG picture class.
    static const std::vector<TFileFormat>& FileFormats();
    // Appends an entry; the extension is stored in lower case. A later registration of the
    // same extension wins.
    static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                   const TGraphicClass& graphicClass);
    // Removes every entry of a class.
    static void UnregisterGraphicClass(const std::string& className);
    // The registered class for a file name's extension, or nullptr.
    static const TFileFormat* FindFileFormat(const std::string& fileName);
    // The part of a file name after its last ".", when that comes after the last "\" , "/"
    // and ":"; otherwise empty.
    static std::string FileExtension(const std::string& fileName);

protected:
    virtual void Changed(TPersistent* sender);
    virtual void Progress(TPersistent* sender, TProgressStage stage, std::uint8_t percentDone,
                          bool redrawNow, const TRect& r, const std::string& msg);
    virtual void PartFailed(TPersistent* sender, const std::exception& error);

private:
    void load(const TFileFormat& format, const std::string& fileName);
    void install(std::unique_ptr<TGraphic> graphic);

    std::unique_ptr<TGraphic> graphic_;
};
