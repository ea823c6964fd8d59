#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

// A sequence of bytes with a position, read and written by the picture classes. Reading past
// the end with ReadBuffer raises EReadError "Stream read error"; a short write with
// WriteBuffer raises EWriteError "Stream write error".
class TStream {
public:
    enum TSeekOrigin { soBeginning, soCurrent, soEnd };

    virtual ~TStream() = default;

    // Reads at most count bytes; returns how many were read.
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    // Writes at most count bytes; returns how many were written.
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

    std::int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(std::int64_t position) { Seek(position, soBeginning); }
    std::int64_t Size();

    void ReadBuffer(void* buffer, std::int64_t count);
    void WriteBuffer(const void* buffer, std::int64_t count);
    // Copies count bytes from source (all of it from its start when count is 0).
    std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// A stream held in memory.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string bytes) : data_(std::move(bytes)) {}

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

    void SetSize(std::int64_t size);
    // Makes room for size bytes without changing the content.
    void Reserve(std::int64_t size) { data_.reserve(std::size_t(size)); }
    void Clear();
    const char* Memory() const { return data_.data(); }
    std::string_view bytes() const { return data_; }
    std::string& buffer() { return data_; }

private:
    std::string data_;
    std::int64_t position_ = 0;
};

// A read-only stream over bytes owned by someone else.
class TBytesStream : public TStream {
public:
    explicit TBytesStream(std::string_view bytes) : data_(bytes) {}

    std::string_view bytes() const { return data_; }
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

private:
    std::string_view data_;
    std::int64_t position_ = 0;
};

// A file opened for reading.
class TFileStream : public TStream {
public:
    // Opens a regular file for reading; nullptr when that fails or the name stands for a FIFO,
    // a socket or a device, which are never opened for reading.
    static std::unique_ptr<TFileStream> OpenRead(const std::filesystem::path& path);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

private:
    explicit TFileStream(int fd) : fd_(fd) {}
    int fd_ = -1;
};
