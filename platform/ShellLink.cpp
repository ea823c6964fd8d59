#include "platform/ShellLink.h"

#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/WinPath.h"

#include <QString>

#include <limits>
#include <sys/stat.h>

namespace platform {

namespace {

// LinkFlags of the header.
constexpr std::uint32_t kHasLinkInfo = 0x00000002;
constexpr std::uint32_t kHasRelativePath = 0x00000008;
constexpr std::uint32_t kHasWorkingDir = 0x00000010;
constexpr std::uint32_t kHasIconLocation = 0x00000040;
constexpr std::uint32_t kIsUnicode = 0x00000080;

// LinkInfoFlags: the target lies on a local volume.
constexpr std::uint32_t kVolumeIDAndLocalBasePath = 0x00000001;

constexpr std::uint32_t kShellLinkHeaderSize = 0x4C;
constexpr std::uint32_t kLinkInfoHeaderSize = 0x24; // with the Unicode path offsets
constexpr std::uint32_t kVolumeIDHeaderSize = 0x10;
constexpr std::uint32_t kDriveFixed = 3;
constexpr std::uint32_t kShowNormal = 1;
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeArchive = 0x20;

// CLSID_ShellLink {00021401-0000-0000-C000-000000000046} in its stored byte order.
constexpr unsigned char kShellLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                               0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// Seconds from 1601-01-01 (the start of the platform's file times) to 1970-01-01.
constexpr std::uint64_t kEpochDifference = 11644473600ULL;

class Writer {
public:
    void u16(std::uint16_t v)
    {
        for (int i = 0; i < 2; ++i)
            out_ += char((v >> (8 * i)) & 0xFF);
    }
    void u32(std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            out_ += char((v >> (8 * i)) & 0xFF);
    }
    void u64(std::uint64_t v)
    {
        for (int i = 0; i < 8; ++i)
            out_ += char((v >> (8 * i)) & 0xFF);
    }
    void bytes(const void* data, std::size_t size)
    {
        out_.append(static_cast<const char*>(data), size);
    }
    void raw(const std::string& s) { out_ += s; }
    std::string& str() { return out_; }

private:
    std::string out_;
};

std::u16string toUtf16(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())).toStdU16String();
}

// The text in the system's ANSI code page, which is where the shell looks first; a character
// the code page cannot hold becomes "?", and the Unicode form beside it keeps the character.
std::string ansiZ(const CodePage& ansi, const std::string& utf8)
{
    return ansi.encode(utf8) + '\0';
}

std::string unicodeZ(const std::string& utf8)
{
    Writer w;
    for (char16_t c : toUtf16(utf8))
        w.u16(c);
    w.u16(0);
    return w.str();
}

// A StringData entry: the number of UTF-16 characters, then the characters, no terminator.
void countedString(Writer& w, const std::string& utf8)
{
    std::u16string text = toUtf16(utf8);
    if (text.size() > std::numeric_limits<std::uint16_t>::max())
        text.resize(std::numeric_limits<std::uint16_t>::max());
    w.u16(std::uint16_t(text.size()));
    for (char16_t c : text)
        w.u16(c);
}

bool isDrivePath(const std::string& path)
{
    return path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/') &&
           ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'));
}

// LinkInfo for a target on a local drive: a volume description and the full path.
std::string linkInfo(const std::string& path, const CodePage& ansi)
{
    Writer volume;
    volume.u32(kVolumeIDHeaderSize + 1); // VolumeIDSize: header and the empty label
    volume.u32(kDriveFixed);             // DriveType
    volume.u32(0);                       // DriveSerialNumber
    volume.u32(kVolumeIDHeaderSize);     // VolumeLabelOffset: the 8-bit label follows
    volume.raw(std::string(1, '\0'));    // VolumeLabel: empty

    const std::string basePath = ansiZ(ansi, path);
    const std::string suffix(1, '\0');
    const std::string basePathUnicode = unicodeZ(path);
    const std::string suffixUnicode = unicodeZ("");

    const std::uint32_t volumeOffset = kLinkInfoHeaderSize;
    const std::uint32_t basePathOffset = volumeOffset + std::uint32_t(volume.str().size());
    const std::uint32_t suffixOffset = basePathOffset + std::uint32_t(basePath.size());
    const std::uint32_t basePathUnicodeOffset = suffixOffset + std::uint32_t(suffix.size());
    const std::uint32_t suffixUnicodeOffset =
        basePathUnicodeOffset + std::uint32_t(basePathUnicode.size());
    const std::uint32_t size = suffixUnicodeOffset + std::uint32_t(suffixUnicode.size());

    Writer w;
    w.u32(size);                      // LinkInfoSize
    w.u32(kLinkInfoHeaderSize);       // LinkInfoHeaderSize
    w.u32(kVolumeIDAndLocalBasePath); // LinkInfoFlags
    w.u32(volumeOffset);              // VolumeIDOffset
    w.u32(basePathOffset);            // LocalBasePathOffset
    w.u32(0);                         // CommonNetworkRelativeLinkOffset: none
    w.u32(suffixOffset);              // CommonPathSuffixOffset
    w.u32(basePathUnicodeOffset);     // LocalBasePathOffsetUnicode
    w.u32(suffixUnicodeOffset);       // CommonPathSuffixOffsetUnicode
    w.raw(volume.str());
    w.raw(basePath);
    w.raw(suffix);
    w.raw(basePathUnicode);
    w.raw(suffixUnicode);
    return w.str();
}

std::uint64_t fileTime(const struct timespec& t)
{
    if (t.tv_sec < -std::int64_t(kEpochDifference))
        return 0;
    return (std::uint64_t(t.tv_sec + std::int64_t(kEpochDifference)) * 10000000ULL) +
           std::uint64_t(t.tv_nsec / 100);
}

} // namespace

void ShellLink::SetPath(std::string path)
{
    path_ = std::move(path);
    targetAttributes_ = 0;
    targetSize_ = 0;
    targetCreationTime_ = targetAccessTime_ = targetWriteTime_ = 0;
    const auto host = WinPath::toHost(path_);
    struct stat st {};
    if (!host || ::stat(host->c_str(), &st) != 0)
        return;
    targetAttributes_ = S_ISDIR(st.st_mode) ? kAttributeDirectory : kAttributeArchive;
    // The format keeps the low 32 bits of the size.
    targetSize_ = S_ISDIR(st.st_mode) ? 0 : std::uint32_t(std::uint64_t(st.st_size));
    targetWriteTime_ = fileTime(st.st_mtim);
    targetAccessTime_ = fileTime(st.st_atim);
    targetCreationTime_ = fileTime(st.st_ctim);
}

void ShellLink::SetIconLocation(std::string iconPath, int iconIndex)
{
    iconLocation_ = std::move(iconPath);
    iconIndex_ = iconIndex;
}

std::string ShellLink::bytes() const
{
    const bool local = isDrivePath(path_);
    std::uint32_t flags = kIsUnicode;
    if (local)
        flags |= kHasLinkInfo;
    else if (!path_.empty())
        flags |= kHasRelativePath;
    if (!workingDirectory_.empty())
        flags |= kHasWorkingDir;
    if (!iconLocation_.empty())
        flags |= kHasIconLocation;

    Writer w;
    // ShellLinkHeader
    w.u32(kShellLinkHeaderSize);                    // HeaderSize
    w.bytes(kShellLinkClsid, sizeof kShellLinkClsid); // LinkCLSID
    w.u32(flags);                                   // LinkFlags
    w.u32(targetAttributes_);                       // FileAttributes
    w.u64(targetCreationTime_);                     // CreationTime
    w.u64(targetAccessTime_);                       // AccessTime
    w.u64(targetWriteTime_);                        // WriteTime
    w.u32(targetSize_);                             // FileSize
    w.u32(std::uint32_t(iconIndex_));               // IconIndex
    w.u32(kShowNormal);                             // ShowCommand
    w.u16(0);                                       // HotKey: none
    w.u16(0);                                       // Reserved1
    w.u32(0);                                       // Reserved2
    w.u32(0);                                       // Reserved3

    // The paths as text: a name that is not UTF-8 reads in the system's ANSI code page, so that
    // the 8-bit path gets back the very bytes of the name and the Unicode strings its letters.
    const CodePage ansi = CodePage::systemAnsi();
    if (local)
        w.raw(linkInfo(ansi.decodeUtf8OrPage(path_), ansi));

    // StringData, in the format's fixed order.
    if (flags & kHasRelativePath)
        countedString(w, ansi.decodeUtf8OrPage(path_));
    if (flags & kHasWorkingDir)
        countedString(w, ansi.decodeUtf8OrPage(workingDirectory_));
    if (flags & kHasIconLocation)
        countedString(w, ansi.decodeUtf8OrPage(iconLocation_));

    w.u32(0); // ExtraData: the terminal block
    return w.str();
}

bool ShellLink::Save(const std::filesystem::path& hostPath) const
{
    return writeFileAtomically(hostPath, bytes());
}

} // namespace platform
