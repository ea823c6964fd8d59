#include "controls/AdvImage.h"

#include "core/Exceptions.h"
#include "core/Format.h"
#include "desktop/BitmapCanvas.h"
#include "desktop/TApplication.h"
#include "imaging/TAnimatedGraphic.h"
#include "imaging/TBitmap.h"
#include "platform/FileAttributes.h"
#include "platform/FileSearch.h"
#include "platform/OpenRegularFile.h"
#include "platform/WinPath.h"

#include <QCoreApplication>
#include <QPainter>

#include <cerrno>
#include <exception>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The existence test: a directory search finds an entry of that name that is not a directory.
bool fileExists(const std::string& fileName)
{
    platform::FileSearch search;
    return search.findFirst(fileName) && !search.isDirectory();
}

std::filesystem::path hostPath(const std::string& fileName)
{
    if (auto host = platform::WinPath::toHost(fileName))
        return *host;
    return std::filesystem::path(fileName);
}

// The runtime's input/output error for an errno value, with the platform's error code.
[[noreturn]] void raiseInOutError(int error)
{
    switch (error) {
    case ENOENT:
        throw EInOutError("File not found", 2);
    case ENOTDIR:
        throw EInOutError("Path not found", 3);
    case EMFILE:
    case ENFILE:
        throw EInOutError("Too many open files", 4);
    case EACCES:
    case EPERM:
    case EROFS:
        throw EInOutError("File access denied", 5);
    default:
        throw EInOutError(core::Format("I/O error %d", {error}), error);
    }
}

// Shows the error box for an exception caught in a paint event once the paint is over, since
// a modal box cannot open while the control is being painted.
void reportLater(std::exception_ptr error)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [error] {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                Application().HandleException(e);
            } catch (...) {
                Application().HandleUnknownException();
            }
        },
        Qt::QueuedConnection);
}

} // namespace

TAdvImage::TAdvImage(QWidget* owner) : QWidget(owner), picture_(std::make_unique<TPicture>())
{
    SetCaption("");
    picture_->OnChange = [this](TPersistent* sender) { PictureChanged(sender); };
    // A picture with a spoiled part (the text of a GIF frame) is shown without it, and the
    // error goes to the error box.
    picture_->OnPartError = [](TPersistent*, const std::exception& error) {
        Application().HandleException(error);
    };
}

TAdvImage::~TAdvImage()
{
    picture_->OnChange = nullptr;
    picture_->OnPartError = nullptr;
    picture_.reset();
}

TImageType TAdvImage::ImageType() const
{
    TGraphic* graphic = picture_->Graphic();
    if (dynamic_cast<TAnimatedGraphic*>(graphic) != nullptr)
        return itGif;
    if (dynamic_cast<TJPEGImage*>(graphic) != nullptr)
        return itJpeg;
    if (dynamic_cast<TBitmap*>(graphic) != nullptr)
        return itBmp;
    return itUnknown;
}

void TAdvImage::SetImageName(const std::string& value)
{
    if (value == imageName_)
        return;
    imageName_ = value;
    if (!value.empty() && fileExists(value))
        LoadImage(value);
    else
        ClearImage();
}

void TAdvImage::SetBevelWidth(int value)
{
    if (value == bevelWidth_)
        return;
    bevelWidth_ = value;
    invalidate();
}

void TAdvImage::SetGIFAnimate(bool value)
{
    if (value == gifAnimate_)
        return;
    if (auto* animated = dynamic_cast<TAnimatedGraphic*>(picture_->Graphic()))
        animated->SetAnimated(value);
    gifAnimate_ = value;
}

void TAdvImage::SetGifAnimateSpeed(int value)
{
    if (value == gifAnimateSpeed_)
        return;
    if (auto* animated = dynamic_cast<TAnimatedGraphic*>(picture_->Graphic()))
        animated->SetAllFrameDelays(value);
    gifAnimateSpeed_ = value;
}

#define CRESTWICK_STORE_INVALIDATE(Setter, Type, field)                                            \
    void TAdvImage::Setter(Type value)                                                             \
    {                                                                                              \
        if (value == field)                                                                        \
            return;                                                                                \
        field = value;                                                                             \
        invalidate();                                                                              \
    }

CRESTWICK_STORE_INVALIDATE(SetShowFrame3D, bool, showFrame3D_)
CRESTWICK_STORE_INVALIDATE(SetStretchRatio, bool, stretchRatio_)
CRESTWICK_STORE_INVALIDATE(SetCenterView, bool, centerView_)
CRESTWICK_STORE_INVALIDATE(SetShowEmptyLabel, bool, showEmptyLabel_)
CRESTWICK_STORE_INVALIDATE(SetJPEGPixelFormat, TJPEGPixelFormat, jpegPixelFormat_)
CRESTWICK_STORE_INVALIDATE(SetJPEGScale, TJPEGScale, jpegScale_)
CRESTWICK_STORE_INVALIDATE(SetJPEGGrayscale, bool, jpegGrayscale_)
CRESTWICK_STORE_INVALIDATE(SetJPEGPerformance, TJPEGPerformance, jpegPerformance_)
CRESTWICK_STORE_INVALIDATE(SetJPEGSmoothing, bool, jpegSmoothing_)
CRESTWICK_STORE_INVALIDATE(SetJPEGProgressiveEncoding, bool, jpegProgressiveEncoding_)
CRESTWICK_STORE_INVALIDATE(SetCheckColor, TColor, checkColor_)
CRESTWICK_STORE_INVALIDATE(SetColor, TColor, color_)
CRESTWICK_STORE_INVALIDATE(SetEmptyLabel, const std::string&, emptyLabel_)

#undef CRESTWICK_STORE_INVALIDATE

void TAdvImage::SetCaption(const std::string& value)
{
    if (value == caption_)
        return;
    const bool hadCaption = !caption_.empty();
    caption_ = value;
    if (hadCaption && !value.empty())
        DrawSurround();
    else
        invalidate();
}

void TAdvImage::SetChecked(bool value)
{
    if (value == checked_)
        return;
    checked_ = value;
    DrawSurround();
}

void TAdvImage::LoadImage(const std::string& fileName)
{
    const bool present =
        fileExists(fileName) && platform::FileAttributes::get(hostPath(fileName)).has_value();
    if (present) {
        try {
            picture_->LoadFromFile(fileName);
        } catch (const EInvalidGraphic&) {
            // Not a picture this program can read: the viewer shows its empty label.
            picture_->SetGraphic(static_cast<const TGraphic*>(nullptr));
        }
        if (auto* jpeg = dynamic_cast<TJPEGImage*>(picture_->Graphic())) {
            jpeg->SetPixelFormat(jpegPixelFormat_);
            jpeg->SetScale(jpegScale_);
            jpeg->SetGrayscale(jpegGrayscale_);
            jpeg->SetPerformance(jpegPerformance_);
            jpeg->ProgressiveDisplay = JPEGProgressiveDisplay;
        }
        if (auto* animated = dynamic_cast<TAnimatedGraphic*>(picture_->Graphic())) {
            animated->SetAnimated(gifAnimate_);
            animated->SetAllFrameDelays(gifAnimateSpeed_);
        }
    } else {
        picture_->Assign(static_cast<const TPicture*>(nullptr));
    }
    fileSize_ = ReadFileSize(fileName);
    paintNow(PaintKind::Full);
}

std::int64_t TAdvImage::ReadFileSize(const std::string& fileName)
{
    if (!fileExists(fileName))
        return 0;
    // Opened for reading only, so that a read-only file is measured like any other.
    // A FIFO or device put in the file's place is refused without waiting on it.
    struct stat st {};
    const int fd =
        platform::openRegularFile(hostPath(fileName), platform::FileAccess::ReadOnly, &st);
    if (fd < 0)
        raiseInOutError(errno);
    if (::close(fd) != 0)
        raiseInOutError(errno);
    return std::int64_t(st.st_size);
}

void TAdvImage::ClearImage()
{
    picture_->SetGraphic(static_cast<const TGraphic*>(nullptr));
    imageRect_ = TRect{};
    imageName_.clear();
    DrawSurround();
}

void TAdvImage::PictureChanged(TPersistent*)
{
    if (painting_ || picture_->Width() <= 0 || picture_->Height() <= 0)
        return;
    TGraphic* graphic = picture_->Graphic();
    const bool animating = dynamic_cast<TAnimatedGraphic*>(graphic) != nullptr && gifAnimate_;
    const bool progressive =
        dynamic_cast<TJPEGImage*>(graphic) != nullptr && JPEGProgressiveDisplay;
    if (animating || progressive)
        paintNow(PaintKind::Full);
}

void TAdvImage::DrawSurround()
{
    paintNow(PaintKind::SurroundOnly);
}

void TAdvImage::paintNow(PaintKind kind)
{
    if (painting_)
        return;
    // A JPEG picture decodes when it is first drawn; doing that here lets a decoding error
    // reach the caller, as it would from a direct paint.
    if (kind == PaintKind::Full && picture_->Width() > 0)
        if (auto* jpeg = dynamic_cast<TJPEGImage*>(picture_->Graphic()))
            jpeg->DecodedBitmap();
    paintKind_ = kind;
    repaint();
    paintKind_ = PaintKind::Full;
}

void TAdvImage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    canvas_.setPainter(&painter);
    painting_ = true;
    std::exception_ptr error;
    try {
        // A widget's surface is drawn afresh each time, so redrawing only the surround of a
        // picture draws the rest again too; without a picture the inner area is filled as
        // the surround alone fills it (the empty label waits for the next full paint).
        if (paintKind_ == PaintKind::SurroundOnly && picture_->Width() == 0) {
            if (showFrame3D_) {
                TRect frame = ClientRect();
                Frame3D(canvas_, frame, clBtnHighlight, clBtnShadow, bevelWidth_);
            }
            paintSurround();
        } else {
            Paint();
        }
    } catch (...) {
        error = std::current_exception();
    }
    painting_ = false;
    canvas_.setPainter(nullptr);
    if (error)
        reportLater(error);
}

TRect TAdvImage::FitRect(int w, int h, int pw, int ph)
{
    return ::FitRect(w, h, pw, ph);
}

TRect TAdvImage::CenterRect(const TRect& outer, const TRect& inner)
{
    const int w = inner.Width(), h = inner.Height();
    TRect r;
    r.Left = outer.Left + outer.Width() / 2 - w / 2;
    r.Top = outer.Top + outer.Height() / 2 - h / 2;
    r.Right = r.Left + w;
    r.Bottom = r.Top + h;
    return r;
}

void TAdvImage::Paint()
{
    const TRect client = ClientRect();
    imageRect_ = client;
    TRect avail = client;
    if (showFrame3D_) {
        TRect frame = client;
        Frame3D(canvas_, frame, clBtnHighlight, clBtnShadow, bevelWidth_);
        avail = {bevelWidth_, bevelWidth_, width() - bevelWidth_, height() - bevelWidth_};
    }
    if (!caption_.empty())
        avail.Bottom -= canvas_.TextHeight(caption_);

    const int pw = picture_->Width(), ph = picture_->Height();
    if (pw == 0) {
        if (showEmptyLabel_)
            canvas_.TextOut((width() - canvas_.TextWidth(emptyLabel_)) / 2,
                            (height() - canvas_.TextHeight(emptyLabel_)) / 2, emptyLabel_);
        return;
    }
    TRect r = stretchRatio_ ? FitRect(avail.Width(), avail.Height(), pw, ph) : TRect{0, 0, pw, ph};
    if (showFrame3D_)
        r = {r.Left + bevelWidth_, r.Top + bevelWidth_, r.Right + bevelWidth_,
             r.Bottom + bevelWidth_};
    if (centerView_)
        r = CenterRect(avail, r);
    imageRect_ = r;
    TGraphic& graphic = *picture_->Graphic();
    if (stretchRatio_)
        canvas_.StretchDraw(r, graphic);
    else
        canvas_.Draw(r.Left, r.Top, graphic);
    paintSurround();
}

void TAdvImage::paintSurround()
{
    const int w = width(), h = height();
    canvas_.Brush.Color = checked_ ? checkColor_ : color_;
    const int b = showFrame3D_ ? bevelWidth_ : 0;
    if (picture_->Width() > 0) {
        // Rectangles that come out inverted (a picture reaching past the inner area) are
        // skipped.
        const TRect& r = imageRect_;
        canvas_.FillRect({b, b, r.Right, r.Top});
        canvas_.FillRect({r.Right, b, w - b, r.Bottom});
        canvas_.FillRect({r.Left, r.Bottom, w - b, h - b});
        canvas_.FillRect({b, r.Top, r.Left, h - b});
    } else {
        canvas_.FillRect({b, b, w - b, h - b});
    }
    if (caption_.empty())
        return;
    std::string text = caption_;
    if (canvas_.TextWidth(caption_) > w - 2 * b) {
        // The shortest beginning of the caption (of at most 255 characters) that is at least
        // as wide as the space; a character's UTF-8 bytes stay together.
        text.clear();
        std::size_t i = 0, characters = 0;
        while (i < caption_.size() && characters < 255) {
            std::size_t next = i + 1;
            while (next < caption_.size() && (std::uint8_t(caption_[next]) & 0xC0) == 0x80)
                ++next;
            text.append(caption_, i, next - i);
            i = next;
            ++characters;
            if (canvas_.TextWidth(text) >= w - 2 * b)
                break;
        }
    }
    canvas_.TextOut((w - canvas_.TextWidth(text)) / 2, h - canvas_.TextHeight(text) - bevelWidth_,
                    text);
}

std::unique_ptr<TBitmap> TAdvImage::FittedBitmap(const TPicture& picture, const TRect& r)
{
    const TRect fitted =
        FitRect(r.Right - r.Left, r.Bottom - r.Top, picture.Width(), picture.Height());
    // The picture is redrawn into a new screen-compatible bitmap of the fitted size.
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetSize(fitted.Width(), fitted.Height());
    if (TGraphic* graphic = picture.Graphic(); graphic != nullptr && !bitmap->Empty())
        BitmapCanvas(*bitmap).StretchDraw(fitted, *graphic);
    return bitmap;
}

void TAdvImage::FitToRect(const TRect& r)
{
    auto bitmap = FittedBitmap(*picture_, r);
    ClearImage();
    picture_->SetGraphic(bitmap.get());
    invalidate();
}

void TAdvImage::SaveAsBitmap(const std::string& path)
{
    TBitmap bitmap;
    bitmap.Assign(picture_->Graphic());
    bitmap.SaveToFile(path);
}

void TAdvImage::PrepareBitmapSave()
{
    TBitmap bitmap;
    bitmap.Assign(&picture_->Bitmap());
    picture_->SetGraphic(&bitmap);
}
