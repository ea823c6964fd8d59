#include "imaging/TStream.h"

#include "core/Exceptions.h"
#include "platform/OpenRegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

std::int64_t TStream::Size()
{
    const std::int64_t position = Seek(0, soCurrent);
    const std::int64_t size = Seek(0, soEnd);
    Seek(position, soBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count)
{
    if (count != 0 && Read(buffer, count) != count)
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count)
{
    if (count != 0 && Write(buffer, count) != count)
        throw EWriteError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    const std::int64_t total = count;
    char chunk[65536];
    while (count > 0) {
        const std::int64_t n = std::min<std::int64_t>(count, sizeof chunk);
        source.ReadBuffer(chunk, n);
        WriteBuffer(chunk, n);
        count -= n;
    }
    return total;
}

namespace {

std::int64_t seekIn(std::int64_t size, std::int64_t& position, std::int64_t offset,
                    TStream::TSeekOrigin origin)
{
    switch (origin) {
    case TStream::soBeginning:
        position = offset;
        break;
    case TStream::soCurrent:
        position += offset;
        break;
    case TStream::soEnd:
        position = size + offset;
        break;
    }
    if (position < 0)
        position = 0;
    return position;
}

std::int64_t readFrom(std::string_view data, std::int64_t& position, void* buffer,
                      std::int64_t count)
{
    const std::int64_t size = std::int64_t(data.size());
    if (count <= 0 || position >= size)
        return 0;
    const std::int64_t n = std::min(count, size - position);
    std::memcpy(buffer, data.data() + position, std::size_t(n));
    position += n;
    return n;
}

} // namespace

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count)
{
    return readFrom(data_, position_, buffer, count);
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count)
{
    if (count <= 0)
        return 0;
    if (std::size_t(position_) == data_.size()) {
        data_.append(static_cast<const char*>(buffer), std::size_t(count));
        position_ += count;
        return count;
    }
    const auto end = std::size_t(position_ + count);
    if (end > data_.size())
        data_.resize(end);
    std::memcpy(data_.data() + position_, buffer, std::size_t(count));
    position_ += count;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    return seekIn(std::int64_t(data_.size()), position_, offset, origin);
}

void TMemoryStream::SetSize(std::int64_t size)
{
    data_.resize(std::size_t(std::max<std::int64_t>(size, 0)));
    if (position_ > size)
        position_ = size;
}

void TMemoryStream::Clear()
{
    data_.clear();
    position_ = 0;
}

std::int64_t TBytesStream::Read(void* buffer, std::int64_t count)
{
    return readFrom(data_, position_, buffer, count);
}

std::int64_t TBytesStream::Write(const void*, std::int64_t)
{
    return 0;
}

std::int64_t TBytesStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    return seekIn(std::int64_t(data_.size()), position_, offset, origin);
}

std::unique_ptr<TFileStream> TFileStream::OpenRead(const std::filesystem::path& path)
{
    const int fd = platform::openRegularFile(path, platform::FileAccess::ReadOnly);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<TFileStream>(new TFileStream(fd));
}

TFileStream::~TFileStream()
{
    ::close(fd_);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count)
{
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd_, static_cast<char*>(buffer) + done, std::size_t(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

std::int64_t TFileStream::Write(const void*, std::int64_t)
{
    return 0;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    const off_t position = ::lseek(fd_, off_t(offset), whence);
    return position < 0 ? 0 : std::int64_t(position);
}
