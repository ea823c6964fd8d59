#include "imaging/TGraphic.h"

#include "core/Exceptions.h"
#include "core/Format.h"
#include "imaging/TStream.h"
#include "platform/AtomicFile.h"
#include "platform/WinPath.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path hostPathOf(const std::string& fileName)
{
    if (auto host = platform::WinPath::toHost(fileName))
        return *host;
    return fs::path(fileName);
}

} // namespace

std::filesystem::path TGraphic::HostPath(const std::string& fileName)
{
    return hostPathOf(fileName);
}

void TGraphic::Assign(const TGraphic* source)
{
    if (source != nullptr && source->AssignTo(*this))
        return;
    throw EConvertError(core::Format("Cannot assign a %s to a %s",
                                     {source ? source->ClassName() : "nil", ClassName()}));
}

bool TGraphic::AssignTo(TGraphic&) const
{
    return false;
}

bool TGraphic::Equals(const TGraphic& other) const
{
    return this == &other;
}

void TGraphic::LoadFromFile(const std::string& fileName)
{
    std::unique_ptr<TFileStream> stream = TFileStream::OpenRead(HostPath(fileName));
    if (!stream)
        throw EFOpenError(core::Format("Cannot open file %s", {fileName}));
    LoadFromStream(*stream);
}

void TGraphic::SaveToFile(const std::string& fileName)
{
    // The whole file is made in memory first, so that an error while saving (an undecodable
    // picture, say) never touches the file on disk.
    TMemoryStream stream;
    SaveToStream(stream);
    WriteFile(fileName, stream.bytes());
}

void TGraphic::WriteFile(const std::string& fileName, std::string_view bytes)
{
    const auto host = platform::WinPath::toHost(fileName);
    if (!host || !platform::writeFileAtomically(*host, bytes)) {
        EFCreateError error(core::Format("Cannot create file %s", {fileName}));
        if (host && errno != 0)
            error.SystemReason = std::strerror(errno);
        throw error;
    }
}

void TGraphic::PartFailed(const std::exception& error)
{
    if (OnPartError)
        OnPartError(this, error);
}

void TGraphic::SetModified(bool modified)
{
    if (modified)
        Changed(this);
    else
        modified_ = false;
}

void TGraphic::Changed(TPersistent*)
{
    modified_ = true;
    if (OnChange)
        OnChange(this);
}

void TGraphic::Progress(TPersistent* sender, TProgressStage stage, std::uint8_t percentDone,
                        bool redrawNow, const TRect& r, const std::string& msg)
{
    if (OnProgress)
        OnProgress(sender, stage, percentDone, redrawNow, r, msg);
}
