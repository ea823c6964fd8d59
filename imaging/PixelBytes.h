#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

// Pixel memory with room for a file's headers in front of it, so that a bitmap file can be
// written from one piece of memory without copying the pixels. Large buffers ask for huge
// pages, which makes filling them markedly cheaper.
class PixelBytes {
public:
    // The largest headers a save writes: file header, 40-byte header, masks, 256 colours.
    static constexpr std::size_t kHeadroom = 2048;

    PixelBytes() = default;
    PixelBytes(const PixelBytes& other) : PixelBytes()
    {
        allocate(other.size_);
        if (size_ > 0)
            std::memcpy(data(), other.data(), size_);
    }
    PixelBytes& operator=(const PixelBytes& other)
    {
        if (this != &other) {
            PixelBytes copy(other);
            std::swap(memory_, copy.memory_);
            std::swap(size_, copy.size_);
        }
        return *this;
    }
    PixelBytes(PixelBytes&&) noexcept = default;
    PixelBytes& operator=(PixelBytes&&) noexcept = default;

    // New content of size bytes, not initialised.
    void allocate(std::size_t size);
    void assign(std::size_t size, std::uint8_t value)
    {
        allocate(size);
        std::memset(data(), value, size);
    }
    std::uint8_t* data() { return memory_ ? memory_.get() + kHeadroom : nullptr; }
    const std::uint8_t* data() const { return memory_ ? memory_.get() + kHeadroom : nullptr; }
    std::size_t size() const { return size_; }
    // The bytes just before the pixels, for headers.
    std::uint8_t* front(std::size_t n) const { return memory_.get() + kHeadroom - n; }

private:
    struct Free {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t, Free> memory_;
    std::size_t size_ = 0;
};
