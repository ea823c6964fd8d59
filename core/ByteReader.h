#pragma once

#include "core/Exceptions.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace core {

// Reads little-endian numbers and byte runs from a span of bytes that it does not own. Every
// read is checked against what remains: reading past the end raises the stream read error and
// consumes nothing. A length taken from the data itself goes through need() before anything
// is allocated for it.
class ByteReader {
public:
    explicit ByteReader(std::string_view data) : data_(data) {}
    ByteReader(const void* data, std::size_t size) : data_(static_cast<const char*>(data), size) {}

    std::size_t size() const { return data_.size(); }
    std::size_t position() const { return position_; }
    std::size_t remaining() const { return data_.size() - position_; }

    // Moves to position, or to the end when the data is shorter.
    void seek(std::size_t position) { position_ = std::min(position, data_.size()); }
    // Moves back count bytes, or to the start.
    void stepBack(std::size_t count = 1) { position_ -= std::min(count, position_); }
    void skip(std::size_t count)
    {
        need(count);
        position_ += count;
    }

    std::uint8_t u8()
    {
        need(1);
        return byteAt(position_++);
    }
    std::uint16_t u16()
    {
        need(2);
        const auto value = std::uint16_t(byteAt(position_) | byteAt(position_ + 1) << 8);
        position_ += 2;
        return value;
    }
    std::uint32_t u32()
    {
        need(4);
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i)
            value |= std::uint32_t(byteAt(position_ + i)) << (8 * i);
        position_ += 4;
        return value;
    }
    std::int32_t i32() { return std::int32_t(u32()); }

    // The next count bytes.
    std::string_view bytes(std::size_t count)
    {
        need(count);
        const std::string_view out = data_.substr(position_, count);
        position_ += count;
        return out;
    }
    // Up to count bytes, fewer when the data ends first.
    std::string_view upTo(std::size_t count) { return bytes(std::min(count, remaining())); }

    // Raises the stream read error unless count more bytes are there.
    void need(std::size_t count) const
    {
        if (count > remaining())
            throw EReadError("Stream read error");
    }

private:
    std::uint8_t byteAt(std::size_t at) const { return std::uint8_t(data_[at]); }

    std::string_view data_;
    std::size_t position_ = 0;
};

// The little-endian 32-bit number at the start of data, which holds at least four bytes.
inline std::uint32_t littleEndian32(const void* data)
{
    return ByteReader(data, 4).u32();
}

} // namespace core
