#pragma once

#include "desktop/TCanvas.h"
#include "imaging/GraphicsTypes.h"
#include "imaging/TPicture.h"
#include "imaging/jpeg.h"

#include <cstdint>
#include <memory>
#include <string>

#include <QWidget>

enum TImageType { itBmp, itGif, itJpeg, itUnknown };

// The picture preview: shows the picture loaded from the file named by ImageName, at its own
// size or shrunk to fit with its proportions kept, optionally centred, framed and captioned,
// with an "Empty" label when there is none. It can shrink the picture into a new bitmap of a
// given size, save the picture as a bitmap file, and tell the size of the file it loaded.
class TAdvImage : public QWidget {
public:
    explicit TAdvImage(QWidget* owner = nullptr);
    ~TAdvImage() override;

    TImageType ImageType() const;

    const std::string& ImageName() const { return imageName_; }
    void SetImageName(const std::string& value);
    int BevelWidth() const { return bevelWidth_; }
    void SetBevelWidth(int value);
    bool GIFAnimate() const { return gifAnimate_; }
    void SetGIFAnimate(bool value);
    bool ShowFrame3D() const { return showFrame3D_; }
    void SetShowFrame3D(bool value);
    bool StretchRatio() const { return stretchRatio_; }
    void SetStretchRatio(bool value);
    bool CenterView() const { return centerView_; }
    void SetCenterView(bool value);
    bool ShowEmptyLabel() const { return showEmptyLabel_; }
    void SetShowEmptyLabel(bool value);
    TJPEGPixelFormat JPEGPixelFormat() const { return jpegPixelFormat_; }
    void SetJPEGPixelFormat(TJPEGPixelFormat value);
    TJPEGScale JPEGScale() const { return jpegScale_; }
    void SetJPEGScale(TJPEGScale value);
    bool JPEGGrayscale() const { return jpegGrayscale_; }
    void SetJPEGGrayscale(bool value);
    TJPEGPerformance JPEGPerformance() const { return jpegPerformance_; }
    void SetJPEGPerformance(TJPEGPerformance value);
    bool JPEGSmoothing() const { return jpegSmoothing_; }
    void SetJPEGSmoothing(bool value);
    bool JPEGProgressiveEncoding() const { return jpegProgressiveEncoding_; }
    void SetJPEGProgressiveEncoding(bool value);
    // Plain fields: they take effect on the next load (quality is never passed on).
    TJPEGQualityRange JPEGCompressionQuality = 0;
    bool JPEGProgressiveDisplay = false;
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& value);
    bool Checked() const { return checked_; }
    void SetChecked(bool value);
    TColor CheckColor() const { return checkColor_; }
    void SetCheckColor(TColor value);
    int GifAnimateSpeed() const { return gifAnimateSpeed_; }
    void SetGifAnimateSpeed(int value);
    const std::string& EmptyLabel() const { return emptyLabel_; }
    void SetEmptyLabel(const std::string& value);
    // The surround colour when not checked.
    TColor Color() const { return color_; }
    void SetColor(TColor value);
    // The control's own font; the canvas draws with its own font, which this does not change.
    TFont Font;

    TPicture& Picture() { return *picture_; }
    // Length in bytes of the file last loaded through ImageName.
    std::int64_t FileSize() const { return fileSize_; }
    // Where the picture was last drawn, in control coordinates.
    const TRect& ImageRect() const { return imageRect_; }
    // The canvas the control paints with; its font, brush and pen last from one paint to the
    // next.
    TCanvas& Canvas() { return canvas_; }
    TRect ClientRect() const { return {0, 0, width(), height()}; }

    // Loads the file into the picture (an invalid picture leaves the viewer empty), records
    // its size and paints.
    void LoadImage(const std::string& fileName);
    // The file's length in bytes; 0 when it does not exist. EInOutError when it cannot be
    // opened or measured.
    std::int64_t ReadFileSize(const std::string& fileName);
    void ClearImage();
    // The picture's change notification: paints at once while an animation or progressive
    // display runs.
    void PictureChanged(TPersistent* sender);
    // Fills the area around the picture and draws the caption, at once.
    void DrawSurround();

    // Redraws the picture into a new screen-compatible bitmap that fits r with its
    // proportions kept (never enlarged); the bitmap replaces the picture.
    void FitToRect(const TRect& r);
    // The picture redrawn into a new screen-compatible bitmap that fits r as FitToRect does;
    // the picture itself is left alone.
    static std::unique_ptr<TBitmap> FittedBitmap(const TPicture& picture, const TRect& r);
    // Writes the picture as a bitmap file (a JPEG picture is decoded first).
    void SaveAsBitmap(const std::string& path);
    // Replaces the picture by a copy of its bitmap form.
    void PrepareBitmapSave();

    // The largest rectangle of the picture's proportions that fits w x h (never enlarged),
    // at (0, 0).
    static TRect FitRect(int w, int h, int pw, int ph);
    // inner moved so that its centre lies at outer's centre.
    static TRect CenterRect(const TRect& outer, const TRect& inner);

protected:
    void paintEvent(QPaintEvent* event) override;
    // The paint operation: draws frame, picture or empty label, and the surround.
    virtual void Paint();

private:
    enum class PaintKind { Full, SurroundOnly };
    void paintNow(PaintKind kind);
    void paintSurround();
    void invalidate() { update(); }

    std::unique_ptr<TPicture> picture_;
    TCanvas canvas_;
    PaintKind paintKind_ = PaintKind::Full;
    bool painting_ = false;
    std::string imageName_;
    int bevelWidth_ = 1;
    bool gifAnimate_ = false;
    bool showFrame3D_ = false;
    bool stretchRatio_ = false;
    bool centerView_ = false;
    bool showEmptyLabel_ = false;
    TJPEGPixelFormat jpegPixelFormat_ = jf24Bit;
    TJPEGScale jpegScale_ = jsFullSize;
    bool jpegGrayscale_ = false;
    TJPEGPerformance jpegPerformance_ = jpBestQuality;
    bool jpegSmoothing_ = false;
    bool jpegProgressiveEncoding_ = false;
    std::string caption_;
    bool checked_ = false;
    TColor checkColor_ = clRed;
    int gifAnimateSpeed_ = 10;
    std::string emptyLabel_ = "Empty";
    TColor color_ = clBtnFace;
    std::int64_t fileSize_ = 0;
    TRect imageRect_;
};
