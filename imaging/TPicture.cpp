#include "imaging/TPicture.h"

#include "core/AsciiCase.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "imaging/TBitmap.h"
#include "imaging/TStream.h"
#include "imaging/jpeg.h"
#include "platform/WinPath.h"

#include <algorithm>

namespace {

// Stands in for the framework's metafile and icon classes, which keep their places in the
// registered list but are not used by this program: every file is rejected as not valid.
class TRejectingGraphic : public TGraphic {
public:
    TRejectingGraphic(const char* className, const char* invalidMessage)
        : className_(className), invalidMessage_(invalidMessage)
    {
    }
    const char* ClassName() const override { return className_; }
    std::unique_ptr<TGraphic> NewInstance() const override
    {
        return std::make_unique<TRejectingGraphic>(className_, invalidMessage_);
    }
    int Width() const override { return 0; }
    int Height() const override { return 0; }
    void SetWidth(int) override {}
    void SetHeight(int) override {}
    bool Empty() const override { return true; }
    void Draw(DrawTarget&, const TRect&) override {}
    void Assign(const TGraphic* source) override
    {
        if (source == nullptr || std::string(source->ClassName()) == className_)
            return;
        TGraphic::Assign(source);
    }
    void LoadFromStream(TStream&) override { throw EInvalidGraphic(invalidMessage_); }
    void SaveToStream(TStream&) override {}

private:
    const char* className_;
    const char* invalidMessage_;
};

TGraphicClass metafileClass()
{
    return {"TMetafile", [] {
                return std::make_unique<TRejectingGraphic>("TMetafile", "Metafile is not valid");
            }};
}

TGraphicClass iconClass()
{
    return {"TIcon",
            [] { return std::make_unique<TRejectingGraphic>("TIcon", "Icon image is not valid"); }};
}

std::vector<TFileFormat> builtInFormats()
{
    std::vector<TFileFormat> formats;
    formats.push_back({metafileClass(), "wmf", "Metafiles", 0});
    formats.push_back({metafileClass(), "emf", "Enhanced Metafiles", 0});
    formats.push_back({iconClass(), "ico", "Icons", 0});
    formats.push_back({TGraphicClass::of<TBitmap>("TBitmap"), "bmp", "Bitmaps", 0});
    // The JPEG picture class settles its default pixel format for the screen before it adds
    // its extensions.
    (void)DefaultJPEGSettings();
    formats.push_back({TGraphicClass::of<TJPEGImage>("TJPEGImage"), "jpeg", "JPEG Image File", 0});
    formats.push_back({TGraphicClass::of<TJPEGImage>("TJPEGImage"), "jpg", "JPEG Image File", 0});
    return formats;
}

// The extension whose registered class reads files that begin with head, or nullptr.
const char* extensionOfContent(std::string_view head)
{
    if (head.starts_with("BM"))
        return "bmp";
    if (head.starts_with("\xFF\xD8\xFF"))
        return "jpg";
    if (head.starts_with("GIF87a") || head.starts_with("GIF89a"))
        return "gif";
    return nullptr;
}

// The registered file formats, made on first use.
std::vector<TFileFormat>& fileFormats()
{
    static std::vector<TFileFormat> formats = builtInFormats();
    return formats;
}

} // namespace

TPicture::TPicture() = default;

TPicture::~TPicture()
{
    if (graphic_) {
        graphic_->OnChange = nullptr;
        graphic_->OnProgress = nullptr;
        graphic_->OnPartError = nullptr;
    }
}

const std::vector<TFileFormat>& TPicture::FileFormats()
{
    return fileFormats();
}

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  const TGraphicClass& graphicClass)
{
    fileFormats().push_back({graphicClass, core::AsciiLowerCase(extension), description, 0});
}

void TPicture::UnregisterGraphicClass(const std::string& className)
{
    auto& formats = fileFormats();
    formats.erase(
        std::remove_if(formats.begin(), formats.end(),
                       [&](const TFileFormat& f) { return f.GraphicClass.ClassName == className; }),
        formats.end());
}

std::string TPicture::FileExtension(const std::string& fileName)
{
    const auto last = fileName.find_last_of(".\\/:");
    if (last == std::string::npos || fileName[last] != '.')
        return {};
    return fileName.substr(last + 1);
}

const TFileFormat* TPicture::FindFileFormat(const std::string& fileName)
{
    const std::string extension = core::AsciiLowerCase(FileExtension(fileName));
    const auto& formats = fileFormats();
    for (auto it = formats.rbegin(); it != formats.rend(); ++it)
        if (it->Extension == extension)
            return &*it;
    return nullptr;
}

void TPicture::LoadFromFile(const std::string& fileName)
{
    const TFileFormat* format = FindFileFormat(fileName);
    if (format == nullptr)
        throw EInvalidGraphic(core::Format("Unknown picture file extension (.%s)",
                                           {core::AsciiLowerCase(FileExtension(fileName))}));
    load(*format, fileName);
}

void TPicture::LoadFromFileByContent(const std::string& fileName)
{
    char head[6] = {};
    std::int64_t count = 0;
    const auto host = platform::WinPath::toHost(fileName);
    if (auto stream = TFileStream::OpenRead(host ? *host : std::filesystem::path(fileName)))
        count = std::max<std::int64_t>(stream->Read(head, sizeof head), 0);
    const char* extension = extensionOfContent({head, std::size_t(count)});
    const TFileFormat* format =
        extension ? FindFileFormat(std::string("picture.") + extension) : nullptr;
    if (format == nullptr) {
        LoadFromFile(fileName);
        return;
    }
    load(*format, fileName);
}

void TPicture::load(const TFileFormat& format, const std::string& fileName)
{
    std::unique_ptr<TGraphic> graphic = format.GraphicClass.Create();
    graphic->OnProgress = [this](TPersistent* sender, TProgressStage stage, std::uint8_t percent,
                                 bool redrawNow, const TRect& r, const std::string& msg) {
        Progress(sender, stage, percent, redrawNow, r, msg);
    };
    graphic->OnPartError = [this](TPersistent* sender, const std::exception& error) {
        PartFailed(sender, error);
    };
    graphic->LoadFromFile(fileName);
    install(std::move(graphic));
    Changed(this);
}

void TPicture::SaveToFile(const std::string& fileName)
{
    if (graphic_)
        graphic_->SaveToFile(fileName);
}

void TPicture::install(std::unique_ptr<TGraphic> graphic)
{
    if (graphic_) {
        graphic_->OnChange = nullptr;
        graphic_->OnProgress = nullptr;
        graphic_->OnPartError = nullptr;
    }
    graphic_ = std::move(graphic);
    if (graphic_) {
        graphic_->OnChange = [this](TPersistent* sender) { Changed(sender); };
        graphic_->OnProgress = [this](TPersistent* sender, TProgressStage stage,
                                      std::uint8_t percent, bool redrawNow, const TRect& r,
                                      const std::string& msg) {
            Progress(sender, stage, percent, redrawNow, r, msg);
        };
        graphic_->OnPartError = [this](TPersistent* sender, const std::exception& error) {
            PartFailed(sender, error);
        };
    }
}

void TPicture::SetGraphic(const TGraphic* graphic)
{
    std::unique_ptr<TGraphic> copy;
    if (graphic != nullptr) {
        copy = graphic->NewInstance();
        copy->Assign(graphic);
    }
    install(std::move(copy));
    Changed(this);
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic)
{
    install(std::move(graphic));
    Changed(this);
}

TBitmap& TPicture::Bitmap()
{
    if (dynamic_cast<TBitmap*>(graphic_.get()) == nullptr) {
        install(std::make_unique<TBitmap>());
        Changed(this);
    }
    return static_cast<TBitmap&>(*graphic_);
}

int TPicture::Width() const
{
    return graphic_ ? graphic_->Width() : 0;
}
int TPicture::Height() const
{
    return graphic_ ? graphic_->Height() : 0;
}

void TPicture::Assign(const TPicture* source)
{
    SetGraphic(source ? source->Graphic() : nullptr);
}

void TPicture::Assign(const TGraphic* source)
{
    SetGraphic(source);
}

void TPicture::Changed(TPersistent*)
{
    if (OnChange)
        OnChange(this);
}

void TPicture::Progress(TPersistent* sender, TProgressStage stage, std::uint8_t percentDone,
                        bool redrawNow, const TRect& r, const std::string& msg)
{
    if (OnProgress)
        OnProgress(sender, stage, percentDone, redrawNow, r, msg);
}

void TPicture::PartFailed(TPersistent* sender, const std::exception& error)
{
    if (OnPartError)
        OnPartError(sender, error);
}
